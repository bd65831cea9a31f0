// Entry points ConnectToken, DisconnectToken, Login, Logout and VerifySoPin.
#include "native/java_data.h"
#include "native/token_call.h"

#include <jni.h>

using namespace kavro;

extern "C" {

// The session handle, or 0 for every failure, the preamble's included.
JNIEXPORT jint JNICALL Java_Brelmont_Kavro_ConnectToken(JNIEnv *env, jclass, jint moduleKind, jint slotId) {
    return SlotEntry(
        env, moduleKind, slotId, ModuleTables::kStandard, static_cast<jint>(0), [](int) -> jint { return 0; },
        [](TokenCall &call) -> jint { return ToJavaSession(call.slot->OpenSession(call.functions)); });
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_DisconnectToken(JNIEnv *env, jclass, jint moduleKind, jint slotId) {
    return SlotEntry(env, moduleKind, slotId, ModuleTables::kStandard, [](TokenCall &call) -> jint {
        return static_cast<jint>(call.slot->CloseSession(call.functions));
    });
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_Logout(JNIEnv *env, jclass, jint moduleKind, jint slotId) {
    return SlotEntry(env, moduleKind, slotId, ModuleTables::kStandard, [](TokenCall &call) -> jint {
        return static_cast<jint>(call.slot->LogoutSession(call.functions));
    });
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_Login(JNIEnv *env, jclass, jint moduleKind, jint slotId, jbyteArray jPin) {
    return SlotEntry(env, moduleKind, slotId, ModuleTables::kWithAux, [&](TokenCall &call) -> jint {
        if (jPin == nullptr) {
            return kBadArgument;
        }
        JavaBytes &pin = call.Bytes(jPin, GiveBack::kWipeAndDiscard);
        if (pin.Unavailable()) {
            return kBadArgument;
        }
        return call.slot->LoginWithPin(call.functions, call.aux, 0, Octets(pin), static_cast<CK_ULONG>(pin.Length()));
    });
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_VerifySoPin(JNIEnv *env, jclass, jint moduleKind, jint slotId,
                                                       jbyteArray jSoPin) {
    return SlotEntry(env, moduleKind, slotId, ModuleTables::kWithAux, [&](TokenCall &call) -> jint {
        if (jSoPin == nullptr) {
            return kBadArgument;
        }
        JavaBytes &soPin = call.Bytes(jSoPin, GiveBack::kWipeAndDiscard);
        if (soPin.Unavailable()) {
            return kBadArgument;
        }
        // Whatever login was in force before, none is after.
        call.slot->LogoutSession(call.functions);
        int login = call.slot->LoginWithPin(call.functions, call.aux, 1, Octets(soPin),
                                            static_cast<CK_ULONG>(soPin.Length()));
        call.slot->LogoutSession(call.functions);
        return login;
    });
}

}  // extern "C"

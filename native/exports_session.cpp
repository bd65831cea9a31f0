// Entry points ConnectToken, DisconnectToken, Login, Logout and VerifySoPin.
#include "native/java_data.h"
#include "native/token_call.h"

#include <jni.h>

using namespace kavro;

extern "C" {

// The session handle, or 0 for every failure, the preamble's included.
JNIEXPORT jint JNICALL Java_Brelmont_Kavro_ConnectToken(JNIEnv *env, jclass, jint moduleKind, jint slotId) {
    return SlotEntry(
        env, moduleKind, slotId, ModuleTables::kStandard, SlotUse::kAlone, static_cast<jint>(0), [](int) -> jint { return 0; },
        [](TokenCall &call) -> jint { return ToJavaSession(call.Slot().OpenSession(call.Functions())); });
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_DisconnectToken(JNIEnv *env, jclass, jint moduleKind, jint slotId) {
    return SlotEntry(env, moduleKind, slotId, ModuleTables::kStandard, SlotUse::kAlone, [](TokenCall &call) -> jint {
        return static_cast<jint>(call.Slot().CloseSession(call.Functions()));
    });
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_Logout(JNIEnv *env, jclass, jint moduleKind, jint slotId) {
    return SlotEntry(env, moduleKind, slotId, ModuleTables::kStandard, SlotUse::kAlone, [](TokenCall &call) -> jint {
        return static_cast<jint>(call.Slot().LogoutSession(call.Functions()));
    });
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_Login(JNIEnv *env, jclass, jint moduleKind, jint slotId, jbyteArray jPin) {
    return SlotEntry(env, moduleKind, slotId, ModuleTables::kWithAux, SlotUse::kAlone, [&](TokenCall &call) -> jint {
        if (jPin == nullptr) {
            return kBadArgument;
        }
        JavaBytes &pin = call.Bytes(jPin, GiveBack::kWipeAndDiscard);
        if (pin.Unavailable()) {
            return kBadArgument;
        }
        return call.Slot().LoginWithPin(call.Functions(), call.Aux(), 0, Octets(pin), static_cast<CK_ULONG>(pin.Length()));
    });
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_VerifySoPin(JNIEnv *env, jclass, jint moduleKind, jint slotId,
                                                       jbyteArray jSoPin) {
    return SlotEntry(env, moduleKind, slotId, ModuleTables::kWithAux, SlotUse::kAlone, [&](TokenCall &call) -> jint {
        if (jSoPin == nullptr) {
            return kBadArgument;
        }
        JavaBytes &soPin = call.Bytes(jSoPin, GiveBack::kWipeAndDiscard);
        if (soPin.Unavailable()) {
            return kBadArgument;
        }
        // Whatever login was in force before, none is after.
        call.Slot().LogoutSession(call.Functions());
        int login = call.Slot().LoginWithPin(call.Functions(), call.Aux(), 1, Octets(soPin),
                                            static_cast<CK_ULONG>(soPin.Length()));
        call.Slot().LogoutSession(call.Functions());
        return login;
    });
}

}  // extern "C"

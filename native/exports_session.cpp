// Entry points ConnectToken, DisconnectToken, Login, Logout and VerifySoPin.
#include "native/java_data.h"
#include "kavro/result_code.h"
#include "native/token_call.h"
#include "token/slot_registry.h"
#include "token/token_module.h"

#include <jni.h>

using namespace kavro;

namespace {

// Session handles cross to Java as 32-bit ints; a wider handle cannot.
jint ToJavaHandle(CK_SESSION_HANDLE handle) { return handle > 0xFFFFFFFFu ? 0 : static_cast<jint>(handle); }

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_ConnectToken(JNIEnv *, jclass, jint moduleKind, jint slotId) {
    return Shielded(
        [&]() -> jint {
            TokenCall call;
            if (BeginTokenCall(moduleKind, slotId, ModuleTables::kStandard, call) != kOk) {
                return 0;
            }
            return ToJavaHandle(call.slot->OpenSession(call.functions));
        },
        0);
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_DisconnectToken(JNIEnv *, jclass, jint moduleKind, jint slotId) {
    return Shielded(
        [&]() -> jint {
            TokenCall call;
            int result = BeginTokenCall(moduleKind, slotId, ModuleTables::kStandard, call);
            if (result != kOk) {
                return result;
            }
            return static_cast<jint>(call.slot->CloseSession(call.functions));
        },
        kNoMemory);
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_Logout(JNIEnv *, jclass, jint moduleKind, jint slotId) {
    return Shielded(
        [&]() -> jint {
            TokenCall call;
            int result = BeginTokenCall(moduleKind, slotId, ModuleTables::kStandard, call);
            if (result != kOk) {
                return result;
            }
            return static_cast<jint>(call.slot->LogoutSession(call.functions));
        },
        kNoMemory);
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_Login(JNIEnv *env, jclass, jint moduleKind, jint slotId, jbyteArray jPin) {
    return Shielded(
        [&]() -> jint {
            TokenCall call;
            int result = BeginTokenCall(moduleKind, slotId, ModuleTables::kWithAux, call);
            if (result != kOk) {
                return result;
            }
            if (jPin == nullptr) {
                return kBadArgument;
            }
            JavaBytes pin(env, jPin, GiveBack::kWipeAndDiscard);
            if (pin.Unavailable()) {
                return kBadArgument;
            }
            return call.slot->LoginWithPin(call.functions, call.aux, 0,
                                           reinterpret_cast<const unsigned char *>(pin.Elements()),
                                           static_cast<CK_ULONG>(pin.Length()));
        },
        kNoMemory);
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_VerifySoPin(JNIEnv *env, jclass, jint moduleKind, jint slotId,
                                                       jbyteArray jSoPin) {
    return Shielded(
        [&]() -> jint {
            TokenCall call;
            int result = BeginTokenCall(moduleKind, slotId, ModuleTables::kWithAux, call);
            if (result != kOk) {
                return result;
            }
            if (jSoPin == nullptr) {
                return kBadArgument;
            }
            JavaBytes soPin(env, jSoPin, GiveBack::kWipeAndDiscard);
            if (soPin.Unavailable()) {
                return kBadArgument;
            }
            // Whatever login was in force before, none is after.
            call.slot->LogoutSession(call.functions);
            int login = call.slot->LoginWithPin(call.functions, call.aux, 1,
                                                reinterpret_cast<const unsigned char *>(soPin.Elements()),
                                                static_cast<CK_ULONG>(soPin.Length()));
            call.slot->LogoutSession(call.functions);
            return login;
        },
        kNoMemory);
}

}  // extern "C"

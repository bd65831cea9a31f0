// Entry points EnumPrivateKey, EnumPublicKey, EnumPrivateKeyByCertSerial and
// EnumPublicKeyByCertSerial: key handles by position or by certificate.
#include "native/java_data.h"
#include "kavro/result_code.h"
#include "native/token_call.h"

#include <jni.h>

using namespace kavro;

namespace {

using ByOrdinal = CK_RV (TokenSlot::*)(CK_FUNCTION_LIST *, CK_OBJECT_HANDLE &, std::int32_t);
using BySerial = CK_RV (TokenSlot::*)(CK_FUNCTION_LIST *, const unsigned char *, std::int32_t, CK_OBJECT_HANDLE &);

// handle[0] goes in as the handle place and comes back whatever the lookup
// left there: unchanged, 0, or the key found.
jint EnumKey(JNIEnv *env, jint moduleKind, jint slotId, jint ordinal, jintArray jHandle, ByOrdinal find) {
    TokenCall call;
    int result = BeginTokenCall(moduleKind, slotId, ModuleTables::kStandard, call);
    if (result != kOk) {
        return result;
    }
    JavaInts handle(env, jHandle, GiveBack::kCopyBack);
    if (!handle.HasFirst()) {
        return kBadArgument;
    }
    CK_OBJECT_HANDLE place = FromJavaId(handle.Elements()[0]);
    CK_RV rv = (call.slot->*find)(call.functions, place, ordinal);
    handle.Elements()[0] = ToJavaId(place);
    return static_cast<jint>(rv);
}

jint EnumKeyBySerial(JNIEnv *env, jint moduleKind, jint slotId, jbyteArray jSerial, jint serialLength,
                     jintArray jHandle, BySerial find) {
    TokenCall call;
    int result = BeginTokenCall(moduleKind, slotId, ModuleTables::kStandard, call);
    if (result != kOk) {
        return result;
    }
    JavaInts handle(env, jHandle, GiveBack::kCopyBack);
    JavaBytes serial(env, jSerial, GiveBack::kDiscard);
    if (!handle.HasFirst() || !serial.Fits(serialLength)) {
        return kBadArgument;
    }
    CK_OBJECT_HANDLE place = FromJavaId(handle.Elements()[0]);
    CK_RV rv = (call.slot->*find)(call.functions, reinterpret_cast<const unsigned char *>(serial.Elements()),
                                  serialLength, place);
    handle.Elements()[0] = ToJavaId(place);
    handle.Release();
    serial.Release();
    return static_cast<jint>(rv);
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_EnumPrivateKey(JNIEnv *env, jclass, jint moduleKind, jint slotId,
                                                          jint ordinal, jintArray jHandle) {
    return Shielded([&]() -> jint { return EnumKey(env, moduleKind, slotId, ordinal, jHandle,
                                                   &TokenSlot::FindPrivateKeyByOrdinal); },
                    kNoMemory);
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_EnumPublicKey(JNIEnv *env, jclass, jint moduleKind, jint slotId,
                                                         jint ordinal, jintArray jHandle) {
    return Shielded([&]() -> jint { return EnumKey(env, moduleKind, slotId, ordinal, jHandle,
                                                   &TokenSlot::FindPublicKeyByOrdinal); },
                    kNoMemory);
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_EnumPrivateKeyByCertSerial(JNIEnv *env, jclass, jint moduleKind,
                                                                      jint slotId, jbyteArray jSerial,
                                                                      jint serialLength, jintArray jHandle) {
    return Shielded([&]() -> jint { return EnumKeyBySerial(env, moduleKind, slotId, jSerial, serialLength, jHandle,
                                                           &TokenSlot::FindPrivateKeyByCertSerial); },
                    kNoMemory);
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_EnumPublicKeyByCertSerial(JNIEnv *env, jclass, jint moduleKind,
                                                                     jint slotId, jbyteArray jSerial,
                                                                     jint serialLength, jintArray jHandle) {
    return Shielded([&]() -> jint { return EnumKeyBySerial(env, moduleKind, slotId, jSerial, serialLength, jHandle,
                                                           &TokenSlot::FindPublicKeyByCertSerial); },
                    kNoMemory);
}

}  // extern "C"

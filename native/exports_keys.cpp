// Entry points EnumPrivateKey, EnumPublicKey, EnumPrivateKeyByCertSerial and
// EnumPublicKeyByCertSerial: key handles by position or by certificate.
#include "native/java_data.h"
#include "native/token_call.h"

#include <jni.h>

using namespace kavro;

namespace {

using ByOrdinal = CK_RV (*)(CK_FUNCTION_LIST *, CK_SESSION_HANDLE, CK_OBJECT_HANDLE &, std::int32_t);
using BySerial = CK_RV (*)(CK_FUNCTION_LIST *, CK_SESSION_HANDLE, const unsigned char *, std::int32_t,
                           CK_OBJECT_HANDLE &);

// handle[0] goes in as the handle place and comes back whatever the lookup
// left there: unchanged, 0, or the key found.
jint EnumKey(TokenCall &call, jint ordinal, jintArray jHandle, ByOrdinal find) {
    JavaInts &handle = call.Ints(jHandle, GiveBack::kCopyBack);
    if (!handle.HasFirst()) {
        return kBadArgument;
    }
    CK_OBJECT_HANDLE place = FromJavaId(handle.Elements()[0]);
    CK_RV rv = find(call.Functions(), call.Session().handle, place, ordinal);
    handle.Elements()[0] = ToJavaId(place);
    return static_cast<jint>(rv);
}

jint EnumKeyBySerial(TokenCall &call, jbyteArray jSerial, jint serialLength, jintArray jHandle, BySerial find) {
    JavaInts &handle = call.Ints(jHandle, GiveBack::kCopyBack);
    JavaBytes &serial = call.Bytes(jSerial, GiveBack::kDiscard);
    if (!handle.HasFirst() || !serial.Fits(serialLength)) {
        return kBadArgument;
    }
    CK_OBJECT_HANDLE place = FromJavaId(handle.Elements()[0]);
    CK_RV rv = find(call.Functions(), call.Session().handle, Octets(serial), serialLength, place);
    handle.Elements()[0] = ToJavaId(place);
    return static_cast<jint>(rv);
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_EnumPrivateKey(JNIEnv *env, jclass, jint moduleKind, jint slotId,
                                                          jint ordinal, jintArray jHandle) {
    return SlotEntry(env, moduleKind, slotId, ModuleTables::kStandard, SlotUse::kSession, [&](TokenCall &call) {
        return EnumKey(call, ordinal, jHandle, &TokenSlot::FindPrivateKeyByOrdinal);
    });
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_EnumPublicKey(JNIEnv *env, jclass, jint moduleKind, jint slotId,
                                                         jint ordinal, jintArray jHandle) {
    return SlotEntry(env, moduleKind, slotId, ModuleTables::kStandard, SlotUse::kSession, [&](TokenCall &call) {
        return EnumKey(call, ordinal, jHandle, &TokenSlot::FindPublicKeyByOrdinal);
    });
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_EnumPrivateKeyByCertSerial(JNIEnv *env, jclass, jint moduleKind,
                                                                      jint slotId, jbyteArray jSerial,
                                                                      jint serialLength, jintArray jHandle) {
    return SlotEntry(env, moduleKind, slotId, ModuleTables::kStandard, SlotUse::kSession, [&](TokenCall &call) {
        return EnumKeyBySerial(call, jSerial, serialLength, jHandle, &TokenSlot::FindPrivateKeyByCertSerial);
    });
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_EnumPublicKeyByCertSerial(JNIEnv *env, jclass, jint moduleKind,
                                                                     jint slotId, jbyteArray jSerial,
                                                                     jint serialLength, jintArray jHandle) {
    return SlotEntry(env, moduleKind, slotId, ModuleTables::kStandard, SlotUse::kSession, [&](TokenCall &call) {
        return EnumKeyBySerial(call, jSerial, serialLength, jHandle, &TokenSlot::FindPublicKeyByCertSerial);
    });
}

}  // extern "C"

// Entry points Sign, SignByCertSerial, Verify and VerifyByCertSerial.
#include "native/java_data.h"
#include "kavro/result_code.h"
#include "native/token_call.h"

#include <jni.h>

using namespace kavro;

namespace {

const unsigned char *Octets(const JavaBytes &bytes) { return reinterpret_cast<const unsigned char *>(bytes.Elements()); }
unsigned char *WritableOctets(const JavaBytes &bytes) { return reinterpret_cast<unsigned char *>(bytes.Elements()); }

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_Sign(JNIEnv *env, jclass, jint moduleKind, jint slotId, jint keyHandle,
                                                jint signMechanism, jbyteArray jData, jint dataLength,
                                                jbyteArray jSignature, jintArray jSignatureLength) {
    return Shielded(
        [&]() -> jint {
            TokenCall call;
            int result = BeginTokenCall(moduleKind, slotId, ModuleTables::kStandard, call);
            if (result != kOk) {
                return result;
            }
            JavaBytes data(env, jData, GiveBack::kDiscard);
            JavaBytes signature(env, jSignature, GiveBack::kCopyBack);
            JavaIntResult signatureLength(env, jSignatureLength);
            if (dataLength <= 0 || !data.Fits(dataLength) || !signature.Held() || !signatureLength.HasFirst()) {
                return kBadArgument;
            }
            CK_ULONG length = static_cast<CK_ULONG>(signature.Length());
            CK_RV rv = call.slot->SignData(call.functions, FromJavaId(keyHandle), signMechanism, Octets(data),
                                           static_cast<CK_ULONG>(dataLength), WritableOctets(signature), length);
            // A failed signing leaves the Java length as it was.
            if (rv == CKR_OK) {
                signatureLength.Set(ToJavaLength(length));
            }
            data.Release();
            signature.Release();
            signatureLength.Release();
            return static_cast<jint>(rv);
        },
        kNoMemory);
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_SignByCertSerial(JNIEnv *env, jclass, jint moduleKind, jint slotId,
                                                            jbyteArray jSerial, jint serialLength,
                                                            jint signMechanism, jbyteArray jData, jint dataLength,
                                                            jbyteArray jSignature, jintArray jSignatureLength) {
    return Shielded(
        [&]() -> jint {
            TokenCall call;
            int result = BeginTokenCall(moduleKind, slotId, ModuleTables::kStandard, call);
            if (result != kOk) {
                return result;
            }
            JavaBytes serial(env, jSerial, GiveBack::kDiscard);
            JavaBytes data(env, jData, GiveBack::kDiscard);
            JavaBytes signature(env, jSignature, GiveBack::kCopyBack);
            JavaIntResult signatureLength(env, jSignatureLength);
            // Empty data is signed as given.
            if (!data.Fits(dataLength) || !signature.Held() || !signatureLength.HasFirst() ||
                !serial.Fits(serialLength)) {
                return kBadArgument;
            }
            CK_ULONG length = static_cast<CK_ULONG>(signature.Length());
            CK_RV rv = call.slot->SignWithCertKey(call.functions, Octets(serial), serialLength, signMechanism,
                                                  Octets(data), static_cast<CK_ULONG>(dataLength),
                                                  WritableOctets(signature), length);
            // Whatever the result: the signature's length, the room offered
            // when nothing was signed, or the length the module asks for.
            signatureLength.Set(ToJavaLength(length));
            serial.Release();
            data.Release();
            signature.Release();
            signatureLength.Release();
            return static_cast<jint>(rv);
        },
        kNoMemory);
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_Verify(JNIEnv *env, jclass, jint moduleKind, jint slotId,
                                                  jint keyHandle, jint signMechanism, jbyteArray jData,
                                                  jint dataLength, jbyteArray jSignature, jint signatureLength) {
    return Shielded(
        [&]() -> jint {
            TokenCall call;
            int result = BeginTokenCall(moduleKind, slotId, ModuleTables::kStandard, call);
            if (result != kOk) {
                return result;
            }
            JavaBytes data(env, jData, GiveBack::kDiscard);
            JavaBytes signature(env, jSignature, GiveBack::kDiscard);
            if (dataLength <= 0 || !data.Fits(dataLength) || !signature.Fits(signatureLength)) {
                return kBadArgument;
            }
            return static_cast<jint>(call.slot->VerifyData(call.functions, FromJavaId(keyHandle), signMechanism,
                                                           Octets(data), static_cast<CK_ULONG>(dataLength),
                                                           Octets(signature),
                                                           static_cast<CK_ULONG>(signatureLength)));
        },
        kNoMemory);
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_VerifyByCertSerial(JNIEnv *env, jclass, jint moduleKind, jint slotId,
                                                              jbyteArray jSerial, jint serialLength,
                                                              jint signMechanism, jbyteArray jData,
                                                              jint dataLength, jbyteArray jSignature,
                                                              jint signatureLength) {
    return Shielded(
        [&]() -> jint {
            TokenCall call;
            int result = BeginTokenCall(moduleKind, slotId, ModuleTables::kStandard, call);
            if (result != kOk) {
                return result;
            }
            JavaBytes serial(env, jSerial, GiveBack::kDiscard);
            JavaBytes data(env, jData, GiveBack::kDiscard);
            JavaBytes signature(env, jSignature, GiveBack::kDiscard);
            if (!data.Fits(dataLength) || !signature.Fits(signatureLength) || !serial.Fits(serialLength)) {
                return kBadArgument;
            }
            return static_cast<jint>(call.slot->VerifyWithCertKey(
                call.functions, Octets(serial), serialLength, signMechanism, Octets(data),
                static_cast<CK_ULONG>(dataLength), Octets(signature), static_cast<CK_ULONG>(signatureLength)));
        },
        kNoMemory);
}

}  // extern "C"

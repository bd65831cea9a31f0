// Entry points Sign, SignByCertSerial, Verify and VerifyByCertSerial.
#include "native/java_data.h"
#include "native/token_call.h"

#include <jni.h>

using namespace kavro;

extern "C" {

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_Sign(JNIEnv *env, jclass, jint moduleKind, jint slotId, jint keyHandle,
                                                jint signMechanism, jbyteArray jData, jint dataLength,
                                                jbyteArray jSignature, jintArray jSignatureLength) {
    return SlotEntry(env, moduleKind, slotId, ModuleTables::kStandard, SlotUse::kSession, [&](TokenCall &call) -> jint {
        JavaBytes &data = call.Bytes(jData, GiveBack::kDiscard);
        JavaBytes &signature = call.Bytes(jSignature, GiveBack::kCopyBack);
        JavaIntResult &signatureLength = call.IntResult(jSignatureLength);
        if (dataLength <= 0 || !data.Fits(dataLength) || !signature.Held() || !signatureLength.HasFirst()) {
            return kBadArgument;
        }
        CK_ULONG length = static_cast<CK_ULONG>(signature.Length());
        CK_RV rv = TokenSlot::SignData(call.Functions(), call.Session(), FromJavaId(keyHandle), signMechanism, Octets(data),
                                       static_cast<CK_ULONG>(dataLength), WritableOctets(signature), length);
        // A failed signing leaves the Java length as it was.
        if (rv == CKR_OK) {
            signatureLength.Set(ToJavaLength(length));
        }
        return static_cast<jint>(rv);
    });
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_SignByCertSerial(JNIEnv *env, jclass, jint moduleKind, jint slotId,
                                                            jbyteArray jSerial, jint serialLength,
                                                            jint signMechanism, jbyteArray jData, jint dataLength,
                                                            jbyteArray jSignature, jintArray jSignatureLength) {
    return SlotEntry(env, moduleKind, slotId, ModuleTables::kStandard, SlotUse::kSession, [&](TokenCall &call) -> jint {
        JavaBytes &serial = call.Bytes(jSerial, GiveBack::kDiscard);
        JavaBytes &data = call.Bytes(jData, GiveBack::kDiscard);
        JavaBytes &signature = call.Bytes(jSignature, GiveBack::kCopyBack);
        JavaIntResult &signatureLength = call.IntResult(jSignatureLength);
        // Empty data is signed as given.
        if (!data.Fits(dataLength) || !signature.Held() || !signatureLength.HasFirst() || !serial.Fits(serialLength)) {
            return kBadArgument;
        }
        CK_ULONG length = static_cast<CK_ULONG>(signature.Length());
        CK_RV rv = TokenSlot::SignWithCertKey(call.Functions(), call.Session(), Octets(serial), serialLength, signMechanism,
                                              Octets(data), static_cast<CK_ULONG>(dataLength),
                                              WritableOctets(signature), length);
        // Whatever the result: the signature's length, the room offered
        // when nothing was signed, or the length the module asks for.
        signatureLength.Set(ToJavaLength(length));
        return static_cast<jint>(rv);
    });
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_Verify(JNIEnv *env, jclass, jint moduleKind, jint slotId,
                                                  jint keyHandle, jint signMechanism, jbyteArray jData,
                                                  jint dataLength, jbyteArray jSignature, jint signatureLength) {
    return SlotEntry(env, moduleKind, slotId, ModuleTables::kStandard, SlotUse::kSession, [&](TokenCall &call) -> jint {
        JavaBytes &data = call.Bytes(jData, GiveBack::kDiscard);
        JavaBytes &signature = call.Bytes(jSignature, GiveBack::kDiscard);
        if (dataLength <= 0 || !data.Fits(dataLength) || !signature.Fits(signatureLength)) {
            return kBadArgument;
        }
        return static_cast<jint>(TokenSlot::VerifyData(call.Functions(), call.Session().handle, FromJavaId(keyHandle), signMechanism,
                                                       Octets(data), static_cast<CK_ULONG>(dataLength),
                                                       Octets(signature), static_cast<CK_ULONG>(signatureLength)));
    });
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_VerifyByCertSerial(JNIEnv *env, jclass, jint moduleKind, jint slotId,
                                                              jbyteArray jSerial, jint serialLength,
                                                              jint signMechanism, jbyteArray jData,
                                                              jint dataLength, jbyteArray jSignature,
                                                              jint signatureLength) {
    return SlotEntry(env, moduleKind, slotId, ModuleTables::kStandard, SlotUse::kSession, [&](TokenCall &call) -> jint {
        JavaBytes &serial = call.Bytes(jSerial, GiveBack::kDiscard);
        JavaBytes &data = call.Bytes(jData, GiveBack::kDiscard);
        JavaBytes &signature = call.Bytes(jSignature, GiveBack::kDiscard);
        if (!data.Fits(dataLength) || !signature.Fits(signatureLength) || !serial.Fits(serialLength)) {
            return kBadArgument;
        }
        return static_cast<jint>(TokenSlot::VerifyWithCertKey(
            call.Functions(), call.Session().handle, Octets(serial), serialLength, signMechanism, Octets(data),
            static_cast<CK_ULONG>(dataLength), Octets(signature), static_cast<CK_ULONG>(signatureLength)));
    });
}

}  // extern "C"

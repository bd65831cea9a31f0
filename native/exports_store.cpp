// Entry points ListCertByCSP, SignByCSP and VerifyByCSP: the user's personal
// certificate store. Lengths are checked against their arrays before the
// store is touched; the arrays are taken here and the operation runs in
// sysstore/.
#include "native/java_data.h"
#include "kavro/result_code.h"
#include "native/token_call.h"
#include "sysstore/store_operations.h"

#include <jni.h>

#include <cstdint>
#include <vector>

using namespace kavro;

namespace {

const unsigned char *Bytes(const JavaBytes &bytes) { return reinterpret_cast<const unsigned char *>(bytes.Elements()); }

// A length that goes with an array is refused when the array is given and
// the length does not fit it; a null array is the operation's to judge.
bool FitsIfGiven(JNIEnv *env, jarray array, jint length) { return array == nullptr || LengthFits(env, array, length); }

}  // namespace

extern "C" {

JNIEXPORT jbyteArray JNICALL Java_Brelmont_Kavro_ListCertByCSP(JNIEnv *env, jclass) {
    return Shielded(
        [&]() -> jbyteArray {
            std::vector<unsigned char> serial;
            if (!ListCertByCSP(PlatformStore(), serial)) {
                return nullptr;
            }
            return NewJavaBytes(env, serial);
        },
        static_cast<jbyteArray>(nullptr));
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_SignByCSP(JNIEnv *env, jclass, jint certSource, jbyteArray jSerial,
                                                     jint serialLength, jint, jbyteArray jData, jint dataLength,
                                                     jbyteArray jSignature, jintArray jSignatureLength) {
    return Shielded(
        [&]() -> jint {
            if (certSource != kSelectInDialog && certSource != kMatchSerial) {
                return kBadArgument;
            }
            // The dialog ignores serial.
            jbyteArray jUsedSerial = certSource == kMatchSerial ? jSerial : nullptr;
            if (!FitsIfGiven(env, jUsedSerial, serialLength) || !FitsIfGiven(env, jData, dataLength)) {
                return kBadArgument;
            }
            // Given back in the order data, signature, signatureLength.
            JavaIntResult signatureLength(env, jSignatureLength);
            JavaBytes signature(env, jSignature, GiveBack::kCopyBack);
            JavaBytes data(env, jData, GiveBack::kDiscard);
            JavaBytes serial(env, jUsedSerial, GiveBack::kDiscard);
            if (signature.Unavailable() || data.Unavailable() || serial.Unavailable()) {
                return kBadArgument;
            }
            // A null or empty signatureLength array has no element 0 to
            // receive the length. The length passes through a 32-bit value of
            // our own: jint is long on Windows.
            std::int32_t producedLength = 0;
            SignatureOutput output = {reinterpret_cast<unsigned char *>(signature.Elements()),
                                      static_cast<std::size_t>(signature.Length()),
                                      signatureLength.HasFirst() ? &producedLength : nullptr};
            int result = SignByCSP(PlatformStore(), certSource, Bytes(serial), serialLength, Bytes(data),
                                   dataLength, output);
            if (result == kOk) {
                signatureLength.Set(producedLength);
            }
            return result;
        },
        kNoMemory);
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_VerifyByCSP(JNIEnv *env, jclass, jint certSource,
                                                       jbyteArray jCertificate, jint certificateLength, jint,
                                                       jbyteArray jData, jint dataLength, jbyteArray jSignature,
                                                       jint signatureLength) {
    return Shielded(
        [&]() -> jint {
            if (certSource < kSelectInDialog || certSource > kCertificateFile) {
                return kBadArgument;
            }
            jbyteArray jUsedCertificate = certSource == kSelectInDialog ? nullptr : jCertificate;
            if (!FitsIfGiven(env, jUsedCertificate, certificateLength) || !FitsIfGiven(env, jData, dataLength) ||
                !FitsIfGiven(env, jSignature, signatureLength)) {
                return kBadArgument;
            }
            // The certificate goes back first, then data, then signature.
            JavaBytes signature(env, jSignature, GiveBack::kDiscard);
            JavaBytes data(env, jData, GiveBack::kDiscard);
            JavaBytes certificate(env, jUsedCertificate, GiveBack::kDiscard);
            if (signature.Unavailable() || data.Unavailable() || certificate.Unavailable()) {
                return kBadArgument;
            }
            return VerifyByCSP(PlatformStore(), certSource, Bytes(certificate), certificateLength, Bytes(data),
                               dataLength, Bytes(signature), signatureLength);
        },
        kNoMemory);
}

}  // extern "C"

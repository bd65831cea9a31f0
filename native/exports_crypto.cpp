// Entry points Hash, Encrypt and Decrypt: single-part digest and RSA cipher
// on the token.
#include "native/java_data.h"
#include "native/token_call.h"

#include <jni.h>

using namespace kavro;

namespace {

using Operation = CK_RV (*)(CK_FUNCTION_LIST *, LeasedSession &, CK_OBJECT_HANDLE, const unsigned char *, CK_ULONG,
                            unsigned char *, CK_ULONG &);

// The shape shared by the three entry points: input and its length in, output
// and its length out. run gets the call, the input, its length, the output and
// the in/out output length; the output length reaches Java whatever the result.
template <typename Run>
jint RunWithOutput(JNIEnv *env, jint moduleKind, jint slotId, jbyteArray jInput, jint inputLength,
                   jbyteArray jOutput, jintArray jOutputLength, Run run) {
    return SlotEntry(env, moduleKind, slotId, ModuleTables::kStandard, SlotUse::kSession, [&](TokenCall &call) -> jint {
        JavaBytes &input = call.Bytes(jInput, GiveBack::kDiscard);
        JavaBytes &output = call.Bytes(jOutput, GiveBack::kCopyBack);
        JavaIntResult &outputLength = call.IntResult(jOutputLength);
        // An empty input is handed to the module as it is.
        if (!input.Fits(inputLength) || !output.Held() || !outputLength.HasFirst()) {
            return kBadArgument;
        }
        CK_ULONG length = static_cast<CK_ULONG>(output.Length());
        CK_RV rv = run(call, Octets(input), static_cast<CK_ULONG>(inputLength), WritableOctets(output), length);
        outputLength.Set(ToJavaLength(length));
        return static_cast<jint>(rv);
    });
}

jint Cipher(JNIEnv *env, jint moduleKind, jint slotId, jint keyHandle, jbyteArray jInput, jint inputLength,
            jbyteArray jOutput, jintArray jOutputLength, Operation operation) {
    return RunWithOutput(env, moduleKind, slotId, jInput, inputLength, jOutput, jOutputLength,
                         [&](TokenCall &call, const unsigned char *input, CK_ULONG length, unsigned char *output,
                             CK_ULONG &outputLength) {
                             return operation(call.Functions(), call.Session(), FromJavaId(keyHandle), input, length,
                                             output, outputLength);
                         });
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_Hash(JNIEnv *env, jclass, jint moduleKind, jint slotId, jint hashType,
                                                jbyteArray jData, jint dataLength, jbyteArray jDigest,
                                                jintArray jDigestLength) {
    return RunWithOutput(env, moduleKind, slotId, jData, dataLength, jDigest, jDigestLength,
                         [&](TokenCall &call, const unsigned char *data, CK_ULONG length, unsigned char *digest,
                             CK_ULONG &digestLength) {
                             return TokenSlot::DigestData(call.Functions(), call.Session(), hashType, data, length,
                                                          digest, digestLength);
                         });
}

// reserved is not read: any value behaves the same.
JNIEXPORT jint JNICALL Java_Brelmont_Kavro_Encrypt(JNIEnv *env, jclass, jint moduleKind, jint slotId,
                                                   jint keyHandle, jint, jbyteArray jInput, jint inputLength,
                                                   jbyteArray jOutput, jintArray jOutputLength) {
    return Cipher(env, moduleKind, slotId, keyHandle, jInput, inputLength, jOutput, jOutputLength,
                  &TokenSlot::EncryptData);
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_Decrypt(JNIEnv *env, jclass, jint moduleKind, jint slotId,
                                                   jint keyHandle, jint, jbyteArray jInput, jint inputLength,
                                                   jbyteArray jOutput, jintArray jOutputLength) {
    return Cipher(env, moduleKind, slotId, keyHandle, jInput, inputLength, jOutput, jOutputLength,
                  &TokenSlot::DecryptData);
}

}  // extern "C"

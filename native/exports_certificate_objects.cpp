// Entry point of Brelmont.KavroCertificates: a token certificate's DER value,
// label, CKA_ID and serial content, for the JCA provider.
#include "native/java_data.h"
#include "native/token_call.h"

#include <jni.h>

#include <cstddef>
#include <vector>

using namespace kavro;

namespace {

constexpr jsize kFieldCount = 4;

// A new byte[] holding bytes, put at index of fields. False when the JVM
// cannot make it (the exception is cleared: results reach Java as values).
bool PutBytes(JNIEnv *env, jobjectArray fields, jsize index, const std::vector<unsigned char> &bytes) {
    if (!FitsJavaLength(bytes.size())) {
        return false;
    }
    const auto length = static_cast<jsize>(bytes.size());
    jbyteArray array = env->NewByteArray(length);
    if (array == nullptr) {
        env->ExceptionClear();
        return false;
    }
    if (length != 0) {
        env->SetByteArrayRegion(array, 0, length, reinterpret_cast<const jbyte *>(bytes.data()));
    }
    env->SetObjectArrayElement(fields, index, array);
    env->DeleteLocalRef(array);
    if (env->ExceptionCheck()) {
        env->ExceptionClear();
        return false;
    }
    return true;
}

}  // namespace

extern "C" {

// fields must have room for four byte[]s; they receive new arrays only when
// the certificate was read whole.
JNIEXPORT jint JNICALL Java_Brelmont_KavroCertificates_ReadCertificate(JNIEnv *env, jclass, jint moduleKind,
                                                                       jint slotId, jint ordinal,
                                                                       jobjectArray jFields) {
    return SlotEntry(env, moduleKind, slotId, ModuleTables::kStandard, SlotUse::kSession, [&](TokenCall &call) -> jint {
        if (jFields == nullptr || env->GetArrayLength(jFields) < kFieldCount) {
            return kBadArgument;
        }
        CertificateObject certificate;
        CK_RV rv = TokenSlot::ReadCertificate(call.Functions(), call.Session().handle, ordinal, certificate);
        if (rv != kOk) {
            return static_cast<jint>(rv);
        }
        const std::vector<unsigned char> *parts[kFieldCount] = {&certificate.value, &certificate.label,
                                                                &certificate.id, &certificate.serial};
        for (jsize i = 0; i < kFieldCount; ++i) {
            if (!PutBytes(env, jFields, i, *parts[i])) {
                return kNoMemory;
            }
        }
        return kOk;
    });
}

}  // extern "C"

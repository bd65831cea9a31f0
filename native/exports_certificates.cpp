// Entry point ListCertSerial: the serial contents of the token's
// certificates, counted or handed over.
#include "native/java_data.h"
#include "native/token_call.h"

#include <jni.h>

#include <cstring>
#include <vector>

using namespace kavro;

namespace {

using Serials = std::vector<std::vector<unsigned char>>;

// True when element i of jSerials is a byte[] with room for staged serial i.
bool HasRoom(JNIEnv *env, jbyteArray element, const std::vector<unsigned char> &serial) {
    return element != nullptr && static_cast<std::size_t>(env->GetArrayLength(element)) >= serial.size();
}

// Copies the staged serials into jSerials and their lengths into
// jSerialLengths. Every element is checked before the first is written, so
// a refusal leaves both arrays as they were.
int HandOverSerials(JNIEnv *env, const Serials &staged, jobjectArray jSerials, jintArray jSerialLengths) {
    const jsize count = static_cast<jsize>(staged.size());
    if (env->GetArrayLength(jSerials) < count || env->GetArrayLength(jSerialLengths) < count) {
        return kBadArgument;
    }
    for (jsize i = 0; i < count; ++i) {
        JavaArrayElement element(env, jSerials, i);
        if (!HasRoom(env, element.Get(), staged[i])) {
            return kBadArgument;
        }
    }
    JavaInts serialLengths(env, jSerialLengths, GiveBack::kCopyBack);
    if (serialLengths.Unavailable()) {
        return kBadArgument;
    }
    for (jsize i = 0; i < count; ++i) {
        JavaArrayElement element(env, jSerials, i);
        // Checked again: nothing is written past an element, whatever the
        // Java side did to the array meanwhile.
        if (!HasRoom(env, element.Get(), staged[i])) {
            return kBadArgument;
        }
        JavaBytes serial(env, element.Get(), GiveBack::kCopyBack);
        if (!serial.Held()) {
            return kBadArgument;
        }
        if (!staged[i].empty()) {
            std::memcpy(serial.Elements(), staged[i].data(), staged[i].size());
        }
        serialLengths.Elements()[i] = static_cast<jint>(staged[i].size());
    }
    return kOk;
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_ListCertSerial(JNIEnv *env, jclass, jint moduleKind, jint slotId,
                                                          jobjectArray jSerials, jintArray jSerialLengths,
                                                          jintArray jCount) {
    return SlotEntry(env, moduleKind, slotId, ModuleTables::kStandard, SlotUse::kSession, [&](TokenCall &call) -> jint {
        JavaIntResult &count = call.IntResult(jCount);
        if (!count.HasFirst()) {
            return kBadArgument;
        }
        // Without either result array the certificates are only counted.
        const bool filling = jSerials != nullptr && jSerialLengths != nullptr;
        Serials staged;
        CK_ULONG found = 0;
        CK_RV rv = TokenSlot::ListCertificateSerials(call.Functions(), call.Session().handle, filling ? &staged : nullptr, found);
        count.Set(ToJavaLength(found));
        if (!filling || rv != CKR_OK) {
            return static_cast<jint>(rv);
        }
        return HandOverSerials(env, staged, jSerials, jSerialLengths);
    });
}

}  // extern "C"

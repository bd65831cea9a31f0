// Entry point RetrieveSerial: the token serial, or a result code, as a String.
#include "kavro/result_code.h"
#include "native/token_call.h"

#include <jni.h>

#include <cstdio>
#include <cstring>

using namespace kavro;

namespace {

// Builds the String from bytes taken as ISO-8859-1: each octet becomes the
// character of the same value, so an ASCII serial comes out unchanged and
// no octet sequence (invalid modified UTF-8 included) can upset the JVM.
// Null only when the JVM cannot make the String.
jstring Latin1String(JNIEnv *env, const char *bytes, std::size_t length) {
    jchar units[kTokenSerialSize];
    if (length > kTokenSerialSize) {
        length = kTokenSerialSize;
    }
    for (std::size_t i = 0; i < length; ++i) {
        units[i] = static_cast<unsigned char>(bytes[i]);
    }
    jstring text = env->NewString(units, static_cast<jsize>(length));
    if (text == nullptr && env->ExceptionCheck()) {
        // Results reach Java as values only.
        env->ExceptionClear();
    }
    return text;
}

jstring CodeText(JNIEnv *env, int code) {
    char text[12];
    int length = std::snprintf(text, sizeof text, "%d", code);
    return Latin1String(env, text, static_cast<std::size_t>(length));
}

}  // namespace

extern "C" {

// The serial, or the preamble's result code as text.
JNIEXPORT jstring JNICALL Java_Brelmont_Kavro_RetrieveSerial(JNIEnv *env, jclass, jint moduleKind, jint slotId) {
    return SlotEntry(
        env, moduleKind, slotId, ModuleTables::kStandard, SlotUse::kTokenInfo, static_cast<jstring>(nullptr),
        [env](int code) { return CodeText(env, code); },
        [env](TokenCall &call) {
            // The serial ends at its first zero byte, if any.
            const TokenSerial serial = call.Slot().ReadTokenSerial(call.Functions());
            return Latin1String(env, serial.text, serial.Length());
        });
}

}  // extern "C"

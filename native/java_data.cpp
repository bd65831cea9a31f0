// Helpers shared by the Java data guards and the argument checks.
#include "native/java_data.h"

#include <cstring>

namespace kavro {

void Wipe(void *buffer, std::size_t size) noexcept {
    // A volatile pointer keeps the stores from being optimised away.
    volatile unsigned char *bytes = static_cast<volatile unsigned char *>(buffer);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = 0;
    }
}

bool LengthFits(JNIEnv *env, jarray array, jint length) {
    return array != nullptr && length >= 0 && length <= env->GetArrayLength(array);
}

bool HasFirstElement(JNIEnv *env, jintArray array) {
    return array != nullptr && env->GetArrayLength(array) >= 1;
}

}  // namespace kavro

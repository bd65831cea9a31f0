// Helpers shared by the Java data guards and the argument checks.
#include "native/java_data.h"

#include "kavro/java_range.h"

namespace kavro {

bool LengthFits(JNIEnv *env, jarray array, jint length) {
    return array != nullptr && length >= 0 && length <= env->GetArrayLength(array);
}

jbyteArray NewJavaBytes(JNIEnv *env, const std::vector<unsigned char> &bytes) {
    if (!FitsJavaLength(bytes.size())) {
        return nullptr;
    }
    const auto length = static_cast<jsize>(bytes.size());
    jbyteArray array = env->NewByteArray(length);
    if (array == nullptr) {
        env->ExceptionClear();
        return nullptr;
    }
    if (length != 0) {
        env->SetByteArrayRegion(array, 0, length, reinterpret_cast<const jbyte *>(bytes.data()));
    }
    return array;
}

}  // namespace kavro

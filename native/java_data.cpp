// Helpers shared by the Java data guards and the argument checks.
#include "native/java_data.h"

namespace kavro {

bool LengthFits(JNIEnv *env, jarray array, jint length) {
    return array != nullptr && length >= 0 && length <= env->GetArrayLength(array);
}

}  // namespace kavro

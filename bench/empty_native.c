/* The empty native method the benchmark sets beside kavro's calls. */
#include <jni.h>

JNIEXPORT jint JNICALL Java_bench_EmptyNative_call(JNIEnv *env, jclass type, jint moduleKind, jint slotId) {
    (void)env;
    (void)type;
    return moduleKind + slotId;
}

/* The soak's view of the process heap: glibc's bytes in use over all arenas,
 * which counts what kavro and the mock module allocate (Native Memory
 * Tracking sees only the JVM's own allocations). */
#include <jni.h>
#include <malloc.h>

JNIEXPORT jlong JNICALL Java_soak_Soak_mallocInUse(JNIEnv *env, jclass type) {
    (void)env;
    (void)type;
    struct mallinfo2 info = mallinfo2();
    return (jlong)(info.uordblks + info.hblkhd);
}

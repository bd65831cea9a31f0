// JNI bridge for the Java tests: asks the NSS that kavro loaded whether any
// NSS context is still open. It never loads NSS itself.
#include <dlfcn.h>
#include <jni.h>

namespace {

void *LoadedNss() { return dlopen("libnss3.so", RTLD_LAZY | RTLD_NOLOAD); }

}  // namespace

extern "C" {

JNIEXPORT jboolean JNICALL Java_kavrotest_NssProbe_loaded(JNIEnv *, jclass) {
    void *nss = LoadedNss();
    if (nss == nullptr) {
        return JNI_FALSE;
    }
    dlclose(nss);
    return JNI_TRUE;
}

JNIEXPORT jboolean JNICALL Java_kavrotest_NssProbe_initialized(JNIEnv *, jclass) {
    void *nss = LoadedNss();
    if (nss == nullptr) {
        return JNI_FALSE;
    }
    using IsInitialized = int (*)();
    IsInitialized isInitialized = reinterpret_cast<IsInitialized>(dlsym(nss, "NSS_IsInitialized"));
    bool initialized = isInitialized != nullptr && isInitialized() != 0;
    dlclose(nss);
    return initialized ? JNI_TRUE : JNI_FALSE;
}

}  // extern "C"

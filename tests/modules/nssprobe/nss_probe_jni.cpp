// JNI bridge for the Java tests: asks the NSS that kavro loaded whether any
// NSS context is still open, and opens one of its own on a database, as
// another user of NSS in the process would. It never loads NSS itself.
#include <dlfcn.h>
#include <jni.h>

#include <string>

namespace {

void *LoadedNss() { return dlopen("libnss3.so", RTLD_LAZY | RTLD_NOLOAD); }

void *context = nullptr;  // the probe's own NSS context, if open

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

// Opens the database in directory read-only ("sql:" is put before it);
// false when NSS is not loaded or the database does not open.
JNIEXPORT jboolean JNICALL Java_kavrotest_NssProbe_openDatabase(JNIEnv *env, jclass, jstring jDirectory) {
    void *nss = LoadedNss();
    if (nss == nullptr || context != nullptr) {
        return JNI_FALSE;
    }
    using InitContext = void *(*)(const char *, const char *, const char *, const char *, void *, unsigned int);
    InitContext initContext = reinterpret_cast<InitContext>(dlsym(nss, "NSS_InitContext"));
    const char *directory = env->GetStringUTFChars(jDirectory, nullptr);
    if (initContext != nullptr && directory != nullptr) {
        const unsigned int readOnlyNoModuleList = 0x1 | 0x4;  // NSS_INIT_READONLY | NSS_INIT_NOMODDB
        context = initContext((std::string("sql:") + directory).c_str(), "", "", "", nullptr, readOnlyNoModuleList);
    }
    if (directory != nullptr) {
        env->ReleaseStringUTFChars(jDirectory, directory);
    }
    dlclose(nss);
    return context != nullptr ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT void JNICALL Java_kavrotest_NssProbe_closeDatabase(JNIEnv *, jclass) {
    void *nss = LoadedNss();
    if (nss == nullptr || context == nullptr) {
        return;
    }
    using ShutdownContext = int (*)(void *);
    ShutdownContext shutdownContext = reinterpret_cast<ShutdownContext>(dlsym(nss, "NSS_ShutdownContext"));
    if (shutdownContext != nullptr) {
        shutdownContext(context);
        context = nullptr;
    }
    dlclose(nss);
}

}  // extern "C"

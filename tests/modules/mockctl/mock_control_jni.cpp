// JNI bridge for the Java tests: opens a mock module by its bare file name,
// through the same loader search that kavro uses, so both reach the same
// loaded instance, and forwards text commands to its MockControl.
#include <dlfcn.h>
#include <jni.h>

#include <string>
#include <vector>

namespace {

using MockControlFunction = int (*)(const char *, char *, unsigned long);

void Throw(JNIEnv *env, const std::string &message) {
    jclass type = env->FindClass("java/lang/IllegalStateException");
    if (type != nullptr) env->ThrowNew(type, message.c_str());
}

}  // namespace

extern "C" {

JNIEXPORT jlong JNICALL Java_kavrotest_MockModule_open(JNIEnv *env, jclass, jstring jName) {
    const char *name = env->GetStringUTFChars(jName, nullptr);
    if (name == nullptr) return 0;
    void *library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    std::string error = library == nullptr ? std::string(dlerror()) : std::string();
    env->ReleaseStringUTFChars(jName, name);
    if (library == nullptr) {
        Throw(env, "cannot open mock module: " + error);
        return 0;
    }
    void *control = dlsym(library, "MockControl");
    if (control == nullptr) {
        Throw(env, "not a mock module (no MockControl)");
        return 0;
    }
    return reinterpret_cast<jlong>(control);
}

JNIEXPORT jstring JNICALL Java_kavrotest_MockModule_control(JNIEnv *env, jclass, jlong handle, jstring jCommands) {
    auto control = reinterpret_cast<MockControlFunction>(handle);
    const char *commands = env->GetStringUTFChars(jCommands, nullptr);
    if (commands == nullptr) return nullptr;
    // Commands run once only: the reply buffer is sized for any journal a test makes.
    std::vector<char> reply(16 << 20);
    int result = control(commands, reply.data(), reply.size());
    env->ReleaseStringUTFChars(jCommands, commands);
    if (result == 1) {
        Throw(env, "mock reply too long");
        return nullptr;
    }
    if (result != 0) {
        Throw(env, std::string("mock command failed: ") + reply.data());
        return nullptr;
    }
    return env->NewStringUTF(reply.data());
}

}  // extern "C"

/* The raw module measurement run inside the benchmark's JVM, beside kavro,
 * one round at a time so that its rounds alternate with kavro's. */
#include "raw_bench.h"

#include <jni.h>

JNIEXPORT jboolean JNICALL Java_bench_RawInJvm_setUp(JNIEnv *env, jclass type, jstring jModule, jint slot,
                                                     jstring jPin, jstring jOperation, jstring jSerial) {
    (void)type;
    const char *module = (*env)->GetStringUTFChars(env, jModule, NULL);
    const char *pin = (*env)->GetStringUTFChars(env, jPin, NULL);
    const char *operation = (*env)->GetStringUTFChars(env, jOperation, NULL);
    const char *serial = (*env)->GetStringUTFChars(env, jSerial, NULL);
    int ok = module != NULL && pin != NULL && operation != NULL && serial != NULL &&
             RawSetUp(module, (unsigned long)(unsigned int)slot, pin, operation, serial) == 0;
    if (serial != NULL) (*env)->ReleaseStringUTFChars(env, jSerial, serial);
    if (operation != NULL) (*env)->ReleaseStringUTFChars(env, jOperation, operation);
    if (pin != NULL) (*env)->ReleaseStringUTFChars(env, jPin, pin);
    if (module != NULL) (*env)->ReleaseStringUTFChars(env, jModule, module);
    return ok ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jdouble JNICALL Java_bench_RawInJvm_round(JNIEnv *env, jclass type, jlong roundMillis) {
    (void)env;
    (void)type;
    return RawRound((double)roundMillis);
}

JNIEXPORT void JNICALL Java_bench_RawInJvm_tearDown(JNIEnv *env, jclass type) {
    (void)env;
    (void)type;
    RawTearDown();
}

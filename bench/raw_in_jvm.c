/* The raw module measurement run inside the benchmark's JVM, beside kavro:
 * RawInJvm.measure(...) returns the median ns per operation, or -1. */
#include "raw_bench.h"

#include <jni.h>
#include <stdlib.h>

JNIEXPORT jdouble JNICALL Java_bench_RawInJvm_measure(JNIEnv *env, jclass type, jstring jModule, jint slot,
                                                      jstring jPin, jstring jOperation, jstring jSerial,
                                                      jlong warmupMillis, jlong roundMillis, jint rounds) {
    (void)type;
    const char *module = (*env)->GetStringUTFChars(env, jModule, NULL);
    const char *pin = (*env)->GetStringUTFChars(env, jPin, NULL);
    const char *operation = (*env)->GetStringUTFChars(env, jOperation, NULL);
    const char *serial = (*env)->GetStringUTFChars(env, jSerial, NULL);
    double *results = rounds > 0 ? calloc((size_t)rounds, sizeof *results) : NULL;
    double median = -1;
    if (module != NULL && pin != NULL && operation != NULL && serial != NULL && results != NULL &&
        RawMeasure(module, (unsigned long)(unsigned int)slot, pin, operation, serial, (double)warmupMillis,
                   (double)roundMillis, rounds, results) == 0) {
        median = RawMedian(results, rounds);
    }
    free(results);
    if (serial != NULL) (*env)->ReleaseStringUTFChars(env, jSerial, serial);
    if (operation != NULL) (*env)->ReleaseStringUTFChars(env, jOperation, operation);
    if (pin != NULL) (*env)->ReleaseStringUTFChars(env, jPin, pin);
    if (module != NULL) (*env)->ReleaseStringUTFChars(env, jModule, module);
    return median;
}

// The 27 native methods of Brelmont.Kavro with their JNI signatures (after
// JNIEnv* and jclass), as the harness calls them: X(name, function type).
#ifndef KAVRO_HARNESS_KAVRO_METHODS_H
#define KAVRO_HARNESS_KAVRO_METHODS_H

#include <jni.h>

// clang-format off
#define KAVRO_METHODS(X) \
    X(Initialize, jint(jint)) \
    X(GetSlotList, jint(jint, jintArray, jintArray)) \
    X(ConnectToken, jint(jint, jint)) \
    X(DisconnectToken, jint(jint, jint)) \
    X(Login, jint(jint, jint, jbyteArray)) \
    X(Logout, jint(jint, jint)) \
    X(VerifySoPin, jint(jint, jint, jbyteArray)) \
    X(RetrieveSerial, jstring(jint, jint)) \
    X(SetSoPin, jint(jint, jint, jbyteArray, jbyteArray)) \
    X(UnlockUserPin, jint(jint, jint, jbyteArray, jbyteArray)) \
    X(SetUserPin, jint(jint, jint, jbyteArray, jbyteArray)) \
    X(InitToken, jint(jint, jint, jbyteArray, jbyteArray, jstring)) \
    X(ListCertSerial, jint(jint, jint, jobjectArray, jintArray, jintArray)) \
    X(EnumPrivateKey, jint(jint, jint, jint, jintArray)) \
    X(EnumPrivateKeyByCertSerial, jint(jint, jint, jbyteArray, jint, jintArray)) \
    X(EnumPublicKey, jint(jint, jint, jint, jintArray)) \
    X(EnumPublicKeyByCertSerial, jint(jint, jint, jbyteArray, jint, jintArray)) \
    X(Sign, jint(jint, jint, jint, jint, jbyteArray, jint, jbyteArray, jintArray)) \
    X(SignByCertSerial, jint(jint, jint, jbyteArray, jint, jint, jbyteArray, jint, jbyteArray, jintArray)) \
    X(Verify, jint(jint, jint, jint, jint, jbyteArray, jint, jbyteArray, jint)) \
    X(VerifyByCertSerial, jint(jint, jint, jbyteArray, jint, jint, jbyteArray, jint, jbyteArray, jint)) \
    X(Hash, jint(jint, jint, jint, jbyteArray, jint, jbyteArray, jintArray)) \
    X(Encrypt, jint(jint, jint, jint, jint, jbyteArray, jint, jbyteArray, jintArray)) \
    X(Decrypt, jint(jint, jint, jint, jint, jbyteArray, jint, jbyteArray, jintArray)) \
    X(ListCertByCSP, jbyteArray()) \
    X(SignByCSP, jint(jint, jbyteArray, jint, jint, jbyteArray, jint, jbyteArray, jintArray)) \
    X(VerifyByCSP, jint(jint, jbyteArray, jint, jint, jbyteArray, jint, jbyteArray, jint))
// clang-format on

#endif  // KAVRO_HARNESS_KAVRO_METHODS_H

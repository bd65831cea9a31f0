/* The floor for any wrapper: the token module called straight from C, with
 * the same calls per operation that kavro makes, timed the same way as the
 * Java columns (warm-up, rounds of fixed duration, median ns per operation).
 *
 *   raw_bench MODULE SLOT PIN OPERATION SERIAL_HEX WARMUP_MS ROUND_MS ROUNDS
 *
 * OPERATION: serial digest64 digest1m sign verify findkey encrypt decrypt.
 * Prints "median <ns>" and "rounds <ns> <ns> ...". Every call's result is
 * checked; a failure ends the program with status 1.
 */
#include "kavro/cryptoki.h"

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static CK_FUNCTION_LIST *p11;
static CK_SLOT_ID slot;
static CK_SESSION_HANDLE session;
static unsigned char serial[64];
static CK_ULONG serialLength;
static CK_OBJECT_HANDLE privateKey, publicKey;
static unsigned char data64[64], data32[32], *data1m;
static unsigned char signature[512], ciphertext[512];
static CK_ULONG signatureLength, ciphertextLength;

static void Check(CK_RV rv, const char *what) {
    if (rv != CKR_OK) {
        fprintf(stderr, "%s failed: 0x%lx\n", what, (unsigned long)rv);
        exit(1);
    }
}

static double Now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e9 + t.tv_nsec;
}

static void Serial(void) {
    CK_TOKEN_INFO info;
    Check(p11->C_GetTokenInfo(slot, &info), "C_GetTokenInfo");
}

static void Digest(unsigned char *data, CK_ULONG length) {
    CK_MECHANISM mechanism = {CKM_SHA_1, NULL, 0};
    unsigned char digest[20];
    CK_ULONG digestLength = sizeof digest;
    Check(p11->C_DigestInit(session, &mechanism), "C_DigestInit");
    Check(p11->C_Digest(session, data, length, digest, &digestLength), "C_Digest");
}
static void Digest64(void) { Digest(data64, sizeof data64); }
static void Digest1m(void) { Digest(data1m, 1 << 20); }

static void Sign(void) {
    CK_MECHANISM mechanism = {CKM_SHA1_RSA_PKCS, NULL, 0};
    signatureLength = sizeof signature;
    Check(p11->C_SignInit(session, &mechanism, privateKey), "C_SignInit");
    Check(p11->C_Sign(session, data64, sizeof data64, signature, &signatureLength), "C_Sign");
}

static void Verify(void) {
    CK_MECHANISM mechanism = {CKM_SHA1_RSA_PKCS, NULL, 0};
    Check(p11->C_VerifyInit(session, &mechanism, publicKey), "C_VerifyInit");
    Check(p11->C_Verify(session, data64, sizeof data64, signature, signatureLength), "C_Verify");
}

/* The certificate whose serial content matches, then the private key with its CKA_ID. */
static void FindKey(void) {
    CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE, keyClass = CKO_PRIVATE_KEY;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE certificates[] = {{CKA_CLASS, &certificateClass, sizeof certificateClass},
                                   {CKA_TOKEN, &yes, sizeof yes}};
    CK_OBJECT_HANDLE object;
    CK_ULONG found;
    unsigned char id[256];
    CK_ULONG idLength = 0;
    int matched = 0;
    Check(p11->C_FindObjectsInit(session, certificates, 2), "C_FindObjectsInit");
    while (!matched && p11->C_FindObjects(session, &object, 1, &found) == CKR_OK && found == 1) {
        CK_ATTRIBUTE sizes[] = {{CKA_ID, NULL, 0}, {CKA_SERIAL_NUMBER, NULL, 0}};
        Check(p11->C_GetAttributeValue(session, object, sizes, 2), "C_GetAttributeValue");
        unsigned char *idValue = malloc(sizes[0].ulValueLen), *serialValue = malloc(sizes[1].ulValueLen);
        CK_ATTRIBUTE values[] = {{CKA_ID, idValue, sizes[0].ulValueLen},
                                 {CKA_SERIAL_NUMBER, serialValue, sizes[1].ulValueLen}};
        Check(p11->C_GetAttributeValue(session, object, values, 2), "C_GetAttributeValue");
        if (values[1].ulValueLen >= 2 && values[1].ulValueLen - 2 == serialLength &&
            memcmp(serialValue + 2, serial, serialLength) == 0 && values[0].ulValueLen <= sizeof id) {
            memcpy(id, idValue, values[0].ulValueLen);
            idLength = values[0].ulValueLen;
            matched = 1;
        }
        free(idValue);
        free(serialValue);
    }
    p11->C_FindObjectsFinal(session);
    if (!matched) {
        fprintf(stderr, "no certificate with the serial\n");
        exit(1);
    }
    CK_ATTRIBUTE keys[] = {{CKA_CLASS, &keyClass, sizeof keyClass}, {CKA_TOKEN, &yes, sizeof yes},
                           {CKA_ID, id, idLength}};
    Check(p11->C_FindObjectsInit(session, keys, 3), "C_FindObjectsInit");
    Check(p11->C_FindObjects(session, &object, 1, &found), "C_FindObjects");
    p11->C_FindObjectsFinal(session);
    if (found != 1 || object != privateKey) {
        fprintf(stderr, "wrong key found\n");
        exit(1);
    }
}

static void Encrypt(void) {
    CK_MECHANISM mechanism = {CKM_RSA_PKCS, NULL, 0};
    ciphertextLength = sizeof ciphertext;
    Check(p11->C_EncryptInit(session, &mechanism, publicKey), "C_EncryptInit");
    Check(p11->C_Encrypt(session, data32, sizeof data32, ciphertext, &ciphertextLength), "C_Encrypt");
}

static void Decrypt(void) {
    CK_MECHANISM mechanism = {CKM_RSA_PKCS, NULL, 0};
    unsigned char plain[512];
    CK_ULONG plainLength = sizeof plain;
    Check(p11->C_DecryptInit(session, &mechanism, privateKey), "C_DecryptInit");
    Check(p11->C_Decrypt(session, ciphertext, ciphertextLength, plain, &plainLength), "C_Decrypt");
    if (plainLength != sizeof data32 || memcmp(plain, data32, sizeof data32) != 0) {
        fprintf(stderr, "decryption differs from the input\n");
        exit(1);
    }
}

static CK_OBJECT_HANDLE KeyWithId(CK_OBJECT_CLASS keyClass, const unsigned char *id, CK_ULONG idLength) {
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE keys[] = {{CKA_CLASS, &keyClass, sizeof keyClass}, {CKA_TOKEN, &yes, sizeof yes},
                           {CKA_ID, (void *)id, idLength}};
    CK_OBJECT_HANDLE object = 0;
    CK_ULONG found = 0;
    Check(p11->C_FindObjectsInit(session, keys, 3), "C_FindObjectsInit");
    Check(p11->C_FindObjects(session, &object, 1, &found), "C_FindObjects");
    p11->C_FindObjectsFinal(session);
    if (found != 1) {
        fprintf(stderr, "key not found\n");
        exit(1);
    }
    return object;
}

static int Compare(const void *a, const void *b) {
    double x = *(const double *)a, y = *(const double *)b;
    return x < y ? -1 : x > y;
}

int main(int argc, char **argv) {
    if (argc != 9) {
        fprintf(stderr, "usage: raw_bench MODULE SLOT PIN OPERATION SERIAL_HEX WARMUP_MS ROUND_MS ROUNDS\n");
        return 2;
    }
    void *module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (module == NULL) {
        fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    CK_C_GetFunctionList get = (CK_C_GetFunctionList)dlsym(module, "C_GetFunctionList");
    Check(get(&p11), "C_GetFunctionList");
    Check(p11->C_Initialize(NULL), "C_Initialize");
    slot = strtoul(argv[2], NULL, 0);
    Check(p11->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, NULL, NULL, &session), "C_OpenSession");
    Check(p11->C_Login(session, CKU_USER, (unsigned char *)argv[3], strlen(argv[3])), "C_Login");
    const char *hex = argv[5];
    for (serialLength = 0; hex[2 * serialLength] && hex[2 * serialLength + 1]; ++serialLength) {
        unsigned int byte;
        sscanf(hex + 2 * serialLength, "%2x", &byte);
        serial[serialLength] = (unsigned char)byte;
    }
    data1m = malloc(1 << 20);
    for (int i = 0; i < (1 << 20); ++i) data1m[i] = (unsigned char)(i * 31);
    memcpy(data64, data1m, sizeof data64);
    memcpy(data32, data1m + 64, sizeof data32);

    /* The key pair behind the certificate, found once outside the timing. */
    const unsigned char id01[] = {0x01};
    privateKey = KeyWithId(CKO_PRIVATE_KEY, id01, 1);
    publicKey = KeyWithId(CKO_PUBLIC_KEY, id01, 1);
    Sign();
    Encrypt();

    const char *name = argv[4];
    void (*operation)(void) = strcmp(name, "serial") == 0     ? Serial
                              : strcmp(name, "digest64") == 0 ? Digest64
                              : strcmp(name, "digest1m") == 0 ? Digest1m
                              : strcmp(name, "sign") == 0     ? Sign
                              : strcmp(name, "verify") == 0   ? Verify
                              : strcmp(name, "findkey") == 0  ? FindKey
                              : strcmp(name, "encrypt") == 0  ? Encrypt
                              : strcmp(name, "decrypt") == 0  ? Decrypt
                                                              : NULL;
    if (operation == NULL) {
        fprintf(stderr, "unknown operation %s\n", name);
        return 2;
    }
    double warmup = atof(argv[6]) * 1e6, round = atof(argv[7]) * 1e6;
    int rounds = atoi(argv[8]);
    double start = Now();
    while (Now() - start < warmup) operation();
    double *results = calloc(rounds, sizeof *results);
    for (int r = 0; r < rounds; ++r) {
        long count = 0;
        double begin = Now(), elapsed;
        do {
            operation();
            ++count;
        } while ((elapsed = Now() - begin) < round);
        results[r] = elapsed / count;
    }
    printf("rounds");
    for (int r = 0; r < rounds; ++r) printf(" %.0f", results[r]);
    printf("\n");
    qsort(results, rounds, sizeof *results, Compare);
    printf("median %.0f\n", results[rounds / 2]);
    p11->C_Logout(session);
    p11->C_CloseSession(session);
    p11->C_Finalize(NULL);
    return 0;
}

/* The floor for any wrapper: the token module called straight from C, with
 * the same calls per operation that kavro makes, timed the same way as the
 * Java columns (warm-up, rounds of fixed duration, median ns per operation).
 *
 *   raw_bench MODULE SLOT PIN OPERATION SERIAL_HEX WARMUP_MS ROUND_MS ROUNDS
 *
 * OPERATION: serial digest64 digest1m sign verify findkey encrypt decrypt.
 * Prints "median <ns>" and "rounds <ns> <ns> ...". Every call's result is
 * checked; a failure ends the program with status 1.
 *
 * Built with RAW_BENCH_IN_JVM, the same measurement runs inside the
 * benchmark's JVM (raw_in_jvm.c), on the module instance kavro has loaded:
 * the module's cost in the very process where kavro runs.
 */
#include "kavro/cryptoki.h"

#include "raw_bench.h"

#include <dlfcn.h>
#include <setjmp.h>
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

static jmp_buf failed;

static void Fail(const char *what) {
    fprintf(stderr, "raw_bench: %s\n", what);
    longjmp(failed, 1);
}

static void Check(CK_RV rv, const char *what) {
    if (rv != CKR_OK) {
        fprintf(stderr, "raw_bench: %s failed: 0x%lx\n", what, (unsigned long)rv);
        longjmp(failed, 1);
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
        Fail("no certificate with the serial");
    }
    CK_ATTRIBUTE keys[] = {{CKA_CLASS, &keyClass, sizeof keyClass}, {CKA_TOKEN, &yes, sizeof yes},
                           {CKA_ID, id, idLength}};
    Check(p11->C_FindObjectsInit(session, keys, 3), "C_FindObjectsInit");
    Check(p11->C_FindObjects(session, &object, 1, &found), "C_FindObjects");
    p11->C_FindObjectsFinal(session);
    if (found != 1 || object != privateKey) {
        Fail("wrong key found");
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
        Fail("decryption differs from the input");
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
        Fail("key not found");
    }
    return object;
}

static int Compare(const void *a, const void *b) {
    double x = *(const double *)a, y = *(const double *)b;
    return x < y ? -1 : x > y;
}

static int initialised;
static void (*operation)(void);

int RawSetUp(const char *modulePath, unsigned long slotId, const char *pin, const char *name, const char *serialHex) {
    initialised = 0;
    session = CK_INVALID_HANDLE;
    if (setjmp(failed) != 0) {
        RawTearDown();
        return 1;
    }
    void *module = dlopen(modulePath, RTLD_NOW | RTLD_LOCAL);
    if (module == NULL) {
        Fail(dlerror());
    }
    CK_C_GetFunctionList get = (CK_C_GetFunctionList)dlsym(module, "C_GetFunctionList");
    if (get == NULL) {
        Fail("no C_GetFunctionList");
    }
    Check(get(&p11), "C_GetFunctionList");
    /* Initialised as kavro initialises it, for callers on several threads;
     * inside the JVM it is already initialised, and its user logged in, by kavro. */
    CK_C_INITIALIZE_ARGS threads;
    memset(&threads, 0, sizeof threads);
    threads.flags = CKF_OS_LOCKING_OK;
    CK_RV rv = p11->C_Initialize(&threads);
    if (rv != CKR_CRYPTOKI_ALREADY_INITIALIZED) {
        Check(rv, "C_Initialize");
        initialised = 1;
    }
    slot = slotId;
    Check(p11->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, NULL, NULL, &session), "C_OpenSession");
    rv = p11->C_Login(session, CKU_USER, (unsigned char *)pin, strlen(pin));
    if (rv != CKR_USER_ALREADY_LOGGED_IN) {
        Check(rv, "C_Login");
    }
    for (serialLength = 0; serialHex[2 * serialLength] && serialHex[2 * serialLength + 1] &&
                           serialLength < sizeof serial;
         ++serialLength) {
        unsigned int byte;
        sscanf(serialHex + 2 * serialLength, "%2x", &byte);
        serial[serialLength] = (unsigned char)byte;
    }
    if (data1m == NULL) {
        data1m = malloc(1 << 20);
        if (data1m == NULL) {
            Fail("no memory");
        }
    }
    for (int i = 0; i < (1 << 20); ++i) data1m[i] = (unsigned char)(i * 31);
    memcpy(data64, data1m, sizeof data64);
    memcpy(data32, data1m + 64, sizeof data32);

    /* The key pair behind the certificate, found once outside the timing. */
    const unsigned char id01[] = {0x01};
    privateKey = KeyWithId(CKO_PRIVATE_KEY, id01, 1);
    publicKey = KeyWithId(CKO_PUBLIC_KEY, id01, 1);
    Sign();
    Encrypt();

    operation = strcmp(name, "serial") == 0     ? Serial
                : strcmp(name, "digest64") == 0 ? Digest64
                : strcmp(name, "digest1m") == 0 ? Digest1m
                : strcmp(name, "sign") == 0     ? Sign
                : strcmp(name, "verify") == 0   ? Verify
                : strcmp(name, "findkey") == 0  ? FindKey
                : strcmp(name, "encrypt") == 0  ? Encrypt
                : strcmp(name, "decrypt") == 0  ? Decrypt
                                                : NULL;
    if (operation == NULL) {
        Fail("unknown operation");
    }
    return 0;
}

double RawRound(double roundMillis) {
    if (setjmp(failed) != 0) {
        return -1;
    }
    double round = roundMillis * 1e6;
    long count = 0;
    double begin = Now(), elapsed;
    do {
        operation();
        ++count;
    } while ((elapsed = Now() - begin) < round);
    return elapsed / count;
}

void RawTearDown(void) {
    /* The session is closed without a logout: a logout would end kavro's login too. */
    if (session != CK_INVALID_HANDLE) {
        p11->C_CloseSession(session);
        session = CK_INVALID_HANDLE;
    }
    if (initialised) {
        p11->C_Finalize(NULL);
        initialised = 0;
    }
}

int RawMeasure(const char *modulePath, unsigned long slotId, const char *pin, const char *name,
               const char *serialHex, double warmupMillis, double roundMillis, int rounds, double *results) {
    if (RawSetUp(modulePath, slotId, pin, name, serialHex) != 0) {
        return 1;
    }
    int failure = RawRound(warmupMillis) < 0;
    for (int r = 0; r < rounds && !failure; ++r) {
        results[r] = RawRound(roundMillis);
        failure = results[r] < 0;
    }
    RawTearDown();
    return failure;
}

double RawMedian(double *results, int rounds) {
    qsort(results, rounds, sizeof *results, Compare);
    return results[rounds / 2];
}

#if !defined(RAW_BENCH_IN_JVM)
int main(int argc, char **argv) {
    if (argc != 9) {
        fprintf(stderr, "usage: raw_bench MODULE SLOT PIN OPERATION SERIAL_HEX WARMUP_MS ROUND_MS ROUNDS\n");
        return 2;
    }
    int rounds = atoi(argv[8]);
    double *results = calloc(rounds > 0 ? rounds : 1, sizeof *results);
    if (results == NULL || rounds <= 0 ||
        RawMeasure(argv[1], strtoul(argv[2], NULL, 0), argv[3], argv[4], argv[5], atof(argv[6]), atof(argv[7]),
                   rounds, results) != 0) {
        return 1;
    }
    printf("rounds");
    for (int r = 0; r < rounds; ++r) printf(" %.0f", results[r]);
    printf("\n");
    printf("median %.0f\n", RawMedian(results, rounds));
    return 0;
}
#endif

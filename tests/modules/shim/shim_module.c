/* A module named like a vendor module that forwards to a real PKCS #11
 * module (SoftHSM2 by default) and adds what the vendor modules offer:
 * E_GetAuxFunctionList with GetPinStatus, and a security-officer PIN retry
 * counter (kept in this process only), since the real module keeps none.
 *
 * Environment:
 *   KAVRO_SHIM_TARGET     path of the real module (default: SoftHSM2)
 *   KAVRO_SHIM_SLOT_MASK  slot ids are XORed with this mask in both directions
 *   KAVRO_SHIM_SO_TRIES   security-officer attempts before the PIN locks (default 3)
 */
#include "kavro/cryptoki.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

#define SHIM_EXPORT __attribute__((visibility("default")))
#define MAX_COUNTED_SLOTS 64

static CK_FUNCTION_LIST *target;
static CK_FUNCTION_LIST shim;
static CK_SLOT_ID slotMask;
static int soTries = 3;

static struct {
    CK_SLOT_ID slot; /* as the real module numbers it */
    int triesLeft;
} counters[MAX_COUNTED_SLOTS];
static int counterCount;

static int *TriesLeftFor(CK_SLOT_ID realSlot) {
    for (int i = 0; i < counterCount; ++i) {
        if (counters[i].slot == realSlot) return &counters[i].triesLeft;
    }
    if (counterCount == MAX_COUNTED_SLOTS) return NULL;
    counters[counterCount].slot = realSlot;
    counters[counterCount].triesLeft = soTries;
    return &counters[counterCount++].triesLeft;
}

static CK_RV LoadTarget(void) {
    if (target != NULL) return CKR_OK;
    const char *path = getenv("KAVRO_SHIM_TARGET");
    if (path == NULL || *path == '\0') path = "/usr/lib/softhsm/libsofthsm2.so";
    const char *mask = getenv("KAVRO_SHIM_SLOT_MASK");
    slotMask = mask != NULL ? (CK_SLOT_ID)strtoull(mask, NULL, 0) : 0;
    const char *tries = getenv("KAVRO_SHIM_SO_TRIES");
    soTries = tries != NULL ? atoi(tries) : 3;
    void *library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) return CKR_GENERAL_ERROR;
    CK_C_GetFunctionList get = (CK_C_GetFunctionList)dlsym(library, "C_GetFunctionList");
    if (get == NULL || get(&target) != CKR_OK) return CKR_GENERAL_ERROR;
    return CKR_OK;
}

static CK_SLOT_ID Real(CK_SLOT_ID id) { return id ^ slotMask; }

static CK_RV ShimGetSlotList(CK_BBOOL present, CK_SLOT_ID_PTR list, CK_ULONG_PTR count) {
    CK_RV rv = target->C_GetSlotList(present, list, count);
    if (rv == CKR_OK && list != NULL) {
        for (CK_ULONG i = 0; i < *count; ++i) list[i] ^= slotMask;
    }
    return rv;
}
static CK_RV ShimGetSlotInfo(CK_SLOT_ID id, CK_SLOT_INFO_PTR info) { return target->C_GetSlotInfo(Real(id), info); }
static CK_RV ShimGetTokenInfo(CK_SLOT_ID id, CK_TOKEN_INFO_PTR info) {
    return target->C_GetTokenInfo(Real(id), info);
}
static CK_RV ShimGetMechanismList(CK_SLOT_ID id, CK_MECHANISM_TYPE_PTR list, CK_ULONG_PTR count) {
    return target->C_GetMechanismList(Real(id), list, count);
}
static CK_RV ShimGetMechanismInfo(CK_SLOT_ID id, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR info) {
    return target->C_GetMechanismInfo(Real(id), type, info);
}
static CK_RV ShimInitToken(CK_SLOT_ID id, CK_UTF8CHAR_PTR pin, CK_ULONG length, CK_UTF8CHAR_PTR label) {
    return target->C_InitToken(Real(id), pin, length, label);
}
static CK_RV ShimOpenSession(CK_SLOT_ID id, CK_FLAGS flags, void *app, CK_NOTIFY notify,
                             CK_SESSION_HANDLE_PTR session) {
    return target->C_OpenSession(Real(id), flags, app, notify, session);
}
static CK_RV ShimCloseAllSessions(CK_SLOT_ID id) { return target->C_CloseAllSessions(Real(id)); }
static CK_RV ShimGetSessionInfo(CK_SESSION_HANDLE session, CK_SESSION_INFO_PTR info) {
    CK_RV rv = target->C_GetSessionInfo(session, info);
    if (rv == CKR_OK && info != NULL) info->slotID ^= slotMask;
    return rv;
}
static CK_RV ShimWaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR slot, void *reserved) {
    CK_RV rv = target->C_WaitForSlotEvent(flags, slot, reserved);
    if (rv == CKR_OK && slot != NULL) *slot ^= slotMask;
    return rv;
}

/* Security-officer logins are counted per slot: a wrong PIN uses up an
 * attempt, the last one locks the PIN, a right one restores them all. */
static CK_RV ShimLogin(CK_SESSION_HANDLE session, CK_USER_TYPE user, CK_UTF8CHAR_PTR pin, CK_ULONG length) {
    if (user != CKU_SO) return target->C_Login(session, user, pin, length);
    CK_SESSION_INFO info;
    if (target->C_GetSessionInfo(session, &info) != CKR_OK) return target->C_Login(session, user, pin, length);
    int *triesLeft = TriesLeftFor(info.slotID);
    if (triesLeft != NULL && *triesLeft <= 0) return CKR_PIN_LOCKED;
    CK_RV rv = target->C_Login(session, user, pin, length);
    if (triesLeft != NULL) {
        if (rv == CKR_OK || rv == CKR_USER_ALREADY_LOGGED_IN) {
            *triesLeft = soTries;
        } else if (rv == CKR_PIN_INCORRECT && --*triesLeft <= 0) {
            rv = CKR_PIN_LOCKED;
        }
    }
    return rv;
}

static CK_RV ShimGetPinStatus(CK_SLOT_ID id, PinStatus *status) {
    int *triesLeft = TriesLeftFor(Real(id));
    memset(status, 0, sizeof *status);
    status->soTriesLeft = (CK_BYTE)(triesLeft != NULL && *triesLeft > 0 ? *triesLeft : 0);
    return CKR_OK;
}

static AuxFunctionList aux = {{1, 0}, NULL, NULL, ShimGetPinStatus};

SHIM_EXPORT CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
    CK_RV rv = LoadTarget();
    if (rv != CKR_OK) return rv;
    shim = *target;
    shim.C_GetFunctionList = C_GetFunctionList;
    shim.C_GetSlotList = ShimGetSlotList;
    shim.C_GetSlotInfo = ShimGetSlotInfo;
    shim.C_GetTokenInfo = ShimGetTokenInfo;
    shim.C_GetMechanismList = ShimGetMechanismList;
    shim.C_GetMechanismInfo = ShimGetMechanismInfo;
    shim.C_InitToken = ShimInitToken;
    shim.C_OpenSession = ShimOpenSession;
    shim.C_CloseAllSessions = ShimCloseAllSessions;
    shim.C_GetSessionInfo = ShimGetSessionInfo;
    shim.C_WaitForSlotEvent = ShimWaitForSlotEvent;
    shim.C_Login = ShimLogin;
    *list = &shim;
    return CKR_OK;
}

SHIM_EXPORT CK_RV E_GetAuxFunctionList(AuxFunctionList **list) {
    *list = &aux;
    return CKR_OK;
}

// PKCS #11 declarations used by kavro and its test modules: the standard
// cryptoki header (1-byte packing under _WIN32, natural alignment elsewhere)
// plus the vendor extension table that the token modules export.
#ifndef KAVRO_CRYPTOKI_H
#define KAVRO_CRYPTOKI_H

#include <p11-kit/pkcs11.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#pragma pack(push, kavro_cryptoki, 1)
#endif

// Filled by the module's GetPinStatus. Only byte 1 is read by the library.
typedef struct PinStatus {
    CK_BYTE reserved0;
    CK_BYTE soTriesLeft;  // security-officer PIN attempts left; 0 = locked
    CK_BYTE reserved[6];
} PinStatus;

typedef CK_RV (*GetPinStatusFunction)(CK_SLOT_ID slotId, PinStatus *status);

// The vendor's extension table. Only GetPinStatus is used; under the
// cryptoki packing of Win32 it sits 10 bytes from the start.
typedef struct AuxFunctionList {
    CK_VERSION version;
    void (*reserved1)(void);
    void (*reserved2)(void);
    GetPinStatusFunction GetPinStatus;
} AuxFunctionList;

typedef CK_RV (*E_GetAuxFunctionListFunction)(AuxFunctionList **auxFunctionList);

#if defined(_WIN32)
#pragma pack(pop, kavro_cryptoki)
#endif

#ifdef __cplusplus
}
#endif

#if defined(_WIN32) && defined(__cplusplus)
#include <cstddef>
static_assert(sizeof(PinStatus) == 8, "PinStatus is 8 bytes");
static_assert(sizeof(CK_ULONG) == 4, "CK_ULONG is 32-bit on Windows");
static_assert(sizeof(CK_TOKEN_INFO) == 160, "CK_TOKEN_INFO is 160 bytes under 1-byte packing");
static_assert(offsetof(CK_TOKEN_INFO, serialNumber) == 80, "token serial at offset 80");
static_assert(offsetof(CK_FUNCTION_LIST, C_Initialize) == 2, "function pointers right after the 2-byte version");
#if !defined(_WIN64)
static_assert(offsetof(AuxFunctionList, GetPinStatus) == 10, "GetPinStatus 10 bytes into the table");
#endif
#endif

#endif  // KAVRO_CRYPTOKI_H

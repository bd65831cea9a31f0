// PIN administration on a slot: changing the SO and user PINs, a new user
// PIN on the SO's authority, and initialising the token. Nothing is retried
// or undone: after a failing C_SetPIN or C_InitPIN the earlier steps stand.
#include "kavro/result_code.h"
#include "token/module_call.h"
#include "token/token_slot.h"

#include <cstring>

namespace kavro {
namespace {

// cryptoki's PIN and label pointers are non-const; modules only read them.
CK_UTF8CHAR *Pin(const unsigned char *pin) { return const_cast<CK_UTF8CHAR *>(pin); }

constexpr unsigned char kSecurityOfficer = 1;
constexpr unsigned char kUser = 0;

}  // namespace

int TokenSlot::SetSoPin(CK_FUNCTION_LIST *functions, AuxFunctionList *aux, const unsigned char *oldPin,
                        CK_ULONG oldPinLength, const unsigned char *newPin, CK_ULONG newPinLength) {
    // Logouts' results are not examined: nobody may have been logged in.
    LogoutSession(functions);
    int login = LoginWithPin(functions, aux, kSecurityOfficer, oldPin, oldPinLength);
    if (login != kOk) {
        return login;
    }
    CK_RV rv = ModuleCall(functions->C_SetPIN, session_, Pin(oldPin), oldPinLength, Pin(newPin), newPinLength);
    LogoutSession(functions);
    return static_cast<int>(rv);
}

int TokenSlot::UnlockUserPin(CK_FUNCTION_LIST *functions, AuxFunctionList *aux, const unsigned char *soPin,
                             CK_ULONG soPinLength, const unsigned char *newUserPin, CK_ULONG newUserPinLength) {
    LogoutSession(functions);
    int login = LoginWithPin(functions, aux, kSecurityOfficer, soPin, soPinLength);
    if (login != kOk) {
        return login;
    }
    CK_RV rv = ModuleCall(functions->C_InitPIN, session_, Pin(newUserPin), newUserPinLength);
    LogoutSession(functions);
    return static_cast<int>(rv);
}

int TokenSlot::SetUserPin(CK_FUNCTION_LIST *functions, AuxFunctionList *aux, const unsigned char *oldPin,
                          CK_ULONG oldPinLength, const unsigned char *newPin, CK_ULONG newPinLength) {
    LogoutSession(functions);
    int login = LoginWithPin(functions, aux, kUser, oldPin, oldPinLength);
    if (login != kOk) {
        return login;
    }
    // No logout afterwards: the session stays logged in as the user, also
    // when C_SetPIN fails.
    return static_cast<int>(
        ModuleCall(functions->C_SetPIN, session_, Pin(oldPin), oldPinLength, Pin(newPin), newPinLength));
}

int TokenSlot::InitToken(CK_FUNCTION_LIST *functions, AuxFunctionList *aux, const unsigned char *soPin,
                         CK_ULONG soPinLength, const unsigned char *userPin, CK_ULONG userPinLength,
                         const char *label, std::size_t labelLength) {
    if (labelLength > kTokenLabelSize) {
        return kBadArgument;
    }
    // PKCS #11 takes exactly 32 octets, blank-padded; the zero after them
    // serves modules that read the label as a C string.
    CK_UTF8CHAR paddedLabel[kTokenLabelSize + 1];
    std::memset(paddedLabel, ' ', kTokenLabelSize);
    if (labelLength != 0) {
        std::memcpy(paddedLabel, label, labelLength);
    }
    paddedLabel[kTokenLabelSize] = 0;

    // The slot's session is among those closed; its handle is kept until
    // OpenSession replaces it. The extra sessions are closed with it.
    ModuleCall(functions->C_CloseAllSessions, slotId_);
    TakeExtraSessions();
    CK_RV rv = ModuleCall(functions->C_InitToken, slotId_, Pin(soPin), soPinLength, paddedLabel);
    if (rv != CKR_OK) {
        return static_cast<int>(rv);
    }
    // A failure to open shows in the login that follows.
    OpenSession(functions);
    LogoutSession(functions);
    int login = LoginWithPin(functions, aux, kSecurityOfficer, soPin, soPinLength);
    if (login != kOk) {
        return login;
    }
    rv = ModuleCall(functions->C_InitPIN, session_, Pin(userPin), userPinLength);
    LogoutSession(functions);
    CloseSession(functions);
    return static_cast<int>(rv);
}

}  // namespace kavro

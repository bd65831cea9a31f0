// TokenSlot: what the library remembers about one PKCS #11 slot between
// calls (its id, its one session, whether a token answered, the serial
// text), and the operations that run PKCS #11 sequences on it. Every
// operation takes the module's function list first; the operations are
// defined in one source file per area.
#ifndef KAVRO_TOKEN_TOKEN_SLOT_H
#define KAVRO_TOKEN_TOKEN_SLOT_H

#include "kavro/cryptoki.h"

#include <cstddef>
#include <cstdint>

namespace kavro {

// CK_TOKEN_INFO's serial number and C_InitToken's label, in octets.
constexpr std::size_t kTokenSerialSize = 16;
constexpr std::size_t kTokenLabelSize = 32;

class TokenSlot {
public:
    explicit TokenSlot(CK_SLOT_ID id) : slotId(id) {}
    TokenSlot(const TokenSlot &) = delete;
    TokenSlot &operator=(const TokenSlot &) = delete;
    virtual ~TokenSlot() = default;

    // Sessions and login (session.cpp).
    CK_SESSION_HANDLE OpenSession(CK_FUNCTION_LIST *functions);
    CK_RV CloseSession(CK_FUNCTION_LIST *functions);
    CK_RV LogoutSession(CK_FUNCTION_LIST *functions);
    // userKind 0 logs in the user, any other value the security officer.
    int LoginWithPin(CK_FUNCTION_LIST *functions, AuxFunctionList *aux, unsigned char userKind,
                     const unsigned char *pin, CK_ULONG pinLength);

    // Token information (token_info.cpp). Reads the serial afresh into
    // serialNumber and returns it: the 16 bytes as the token gives them,
    // zero-terminated, or "1004" when C_GetTokenInfo fails. The text is
    // overwritten by the next read.
    const char *ReadTokenSerial(CK_FUNCTION_LIST *functions);

    // PIN administration (pin_admin.cpp). Each returns a login result of
    // LoginWithPin, or the CK_RV of the call that changes the token.
    int SetSoPin(CK_FUNCTION_LIST *functions, AuxFunctionList *aux, const unsigned char *oldPin,
                 CK_ULONG oldPinLength, const unsigned char *newPin, CK_ULONG newPinLength);
    int UnlockUserPin(CK_FUNCTION_LIST *functions, AuxFunctionList *aux, const unsigned char *soPin,
                      CK_ULONG soPinLength, const unsigned char *newUserPin, CK_ULONG newUserPinLength);
    int SetUserPin(CK_FUNCTION_LIST *functions, AuxFunctionList *aux, const unsigned char *oldPin,
                   CK_ULONG oldPinLength, const unsigned char *newPin, CK_ULONG newPinLength);
    // label: at most kTokenLabelSize octets, sent blank-padded to that size;
    // a longer label is refused with kBadArgument before any module call.
    int InitToken(CK_FUNCTION_LIST *functions, AuxFunctionList *aux, const unsigned char *soPin,
                  CK_ULONG soPinLength, const unsigned char *userPin, CK_ULONG userPinLength, const char *label,
                  std::size_t labelLength);

    CK_SLOT_ID slotId;
    CK_SESSION_HANDLE session = 0;  // 0: no session
    unsigned char tokenPresent = 0;  // written by discovery only
    char serialNumber[20] = {};
};

}  // namespace kavro

#endif  // KAVRO_TOKEN_TOKEN_SLOT_H

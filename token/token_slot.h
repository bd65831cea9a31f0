// TokenSlot: what the library remembers about one PKCS #11 slot between
// calls (its id, its one session, whether a token answered, the serial
// text), and the operations that run PKCS #11 sequences on it. Every
// operation takes the module's function list first; the operations are
// defined in one source file per area.
#ifndef KAVRO_TOKEN_TOKEN_SLOT_H
#define KAVRO_TOKEN_TOKEN_SLOT_H

#include "kavro/cryptoki.h"

#include <cstdint>

namespace kavro {

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

    CK_SLOT_ID slotId;
    CK_SESSION_HANDLE session = 0;  // 0: no session
    unsigned char tokenPresent = 0;  // written by discovery only
    char serialNumber[20] = {};
};

}  // namespace kavro

#endif  // KAVRO_TOKEN_TOKEN_SLOT_H

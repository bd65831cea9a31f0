// The security officer's attempts left, as the bridge's GetPinStatus tells
// them: the real module's own GetPinStatus when it has one, else the
// token's PIN flags, else a count the bridge keeps from the SO logins it
// forwards.
#ifndef KAVRO_BRIDGE_SO_PIN_STATUS_H
#define KAVRO_BRIDGE_SO_PIN_STATUS_H

#include "kavro/cryptoki.h"

#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace kavro::bridge {

class SoPinStatus {
public:
    // The attempts a token's count starts from, and returns to after a right SO PIN.
    void SetMaximum(int maximum);

    // Called after every SO C_Login the bridge forwards: a wrong PIN takes
    // one attempt off the token's count, a locked PIN leaves none, a right
    // PIN restores them all. Other results leave it alone.
    void LoginSeen(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session, CK_RV loginResult);

    // Fills status (all 8 bytes; attempts in byte 1) for the token in slot
    // and names the source of the number. Returns CKR_OK, or the result of
    // the module call that failed.
    CK_RV Fill(CK_FUNCTION_LIST *functions, AuxFunctionList *moduleAux, CK_SLOT_ID slot, PinStatus &status,
               const char *&source);

private:
    // A token: the slot it is in and its serial number, so that another
    // token put in the same slot starts a count of its own.
    using TokenKey = std::pair<CK_SLOT_ID, std::string>;
    static CK_RV ReadToken(CK_FUNCTION_LIST *functions, CK_SLOT_ID slot, TokenKey &key, CK_FLAGS &flags);

    std::mutex mutex_;
    int maximum_ = 3;
    std::map<TokenKey, int> left_;
};

}  // namespace kavro::bridge

#endif  // KAVRO_BRIDGE_SO_PIN_STATUS_H

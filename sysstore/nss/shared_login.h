// Logins to a password-protected NSS database, shared by the signing keys of
// all store calls in the process. Contexts on one database share its token
// (one PK11SlotInfo), so a logout ends the login for every thread signing
// with it.
#ifndef KAVRO_SYSSTORE_NSS_SHARED_LOGIN_H
#define KAVRO_SYSSTORE_NSS_SHARED_LOGIN_H

#include <pk11pub.h>

namespace kavro {

// A key's share in the login to its token. The token stays logged in while
// any share in a login this module made is alive; the last one to go logs
// out. A login that someone else in the process made is used as it is and
// never ended here.
class LoginShare {
public:
    LoginShare() = default;
    LoginShare(const LoginShare &) = delete;
    LoginShare &operator=(const LoginShare &) = delete;
    ~LoginShare() noexcept;

    // Makes sure slot is logged in for this share's life, asking the user
    // for the password when it is not (in the question turn: a thread that
    // waited for another's question finds the login made). False when no
    // password or a wrong one was given. slot must outlive the share.
    bool Join(PK11SlotInfo *slot);

private:
    PK11SlotInfo *counted_ = nullptr;  // the slot whose login of ours counts this share
};

}  // namespace kavro

#endif  // KAVRO_SYSSTORE_NSS_SHARED_LOGIN_H

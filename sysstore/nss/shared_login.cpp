// LoginShare: a count of live shares per token that this module logged in,
// kept under one lock together with the check whether a login is needed, so
// that one thread's last share cannot log out between another thread's check
// and its count.
#include "sysstore/nss/shared_login.h"

#include "sysstore/nss/store_dialog.h"

#include <cstddef>
#include <map>
#include <mutex>

namespace kavro {
namespace {

// Lock order: a QuestionTurn before this lock, never the other way round.
// Under it only NSS calls are made, nothing that waits for the user. Never
// destroyed: keys may still go on other threads at exit.
struct OurLogins {
    std::mutex mutex;
    std::map<PK11SlotInfo *, std::size_t> shares;
};

OurLogins &Logins() {
    static OurLogins *const logins = new OurLogins;
    return *logins;
}

// Under the lock: true when slot needs no login now; when the login in
// effect is ours, the caller's share is counted in it.
bool NoLoginNeeded(OurLogins &logins, PK11SlotInfo *slot, PK11SlotInfo *&counted) {
    if (PK11_NeedLogin(slot) && !PK11_IsLoggedIn(slot, nullptr)) {
        return false;
    }
    auto ours = logins.shares.find(slot);
    if (ours != logins.shares.end()) {
        ++ours->second;
        counted = slot;
    }
    return true;
}

}  // namespace

bool LoginShare::Join(PK11SlotInfo *slot) {
    OurLogins &logins = Logins();
    {
        std::lock_guard<std::mutex> lock(logins.mutex);
        if (NoLoginNeeded(logins, slot, counted_)) {
            return true;
        }
    }
    QuestionTurn turn;
    {
        std::lock_guard<std::mutex> lock(logins.mutex);
        if (NoLoginNeeded(logins, slot, counted_)) {
            return true;
        }
    }
    SecretText password;
    if (!AskStorePassword(turn, PK11_GetTokenName(slot), password)) {
        return false;
    }
    std::lock_guard<std::mutex> lock(logins.mutex);
    // Someone else in the process may have logged in during the question.
    if (NoLoginNeeded(logins, slot, counted_)) {
        return true;
    }
    // The entry first: a failed allocation then leaves no login behind.
    auto ours = logins.shares.emplace(slot, 0).first;
    if (PK11_CheckUserPassword(slot, password.Text()) != SECSuccess) {
        if (ours->second == 0) {
            logins.shares.erase(ours);
        }
        return false;
    }
    ++ours->second;
    counted_ = slot;
    return true;
}

LoginShare::~LoginShare() noexcept {
    if (counted_ == nullptr) {
        return;
    }
    OurLogins &logins = Logins();
    std::lock_guard<std::mutex> lock(logins.mutex);
    auto ours = logins.shares.find(counted_);
    if (ours != logins.shares.end() && --ours->second == 0) {
        logins.shares.erase(ours);
        PK11_Logout(counted_);
    }
}

}  // namespace kavro

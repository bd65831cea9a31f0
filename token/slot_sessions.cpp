// Who uses a slot: calls that take it alone, calls that share it with a
// session each, and token-information calls. The common case (the own
// session free, nobody waiting) costs one atomic operation to take and one
// to give back; everything else is decided under the slot's mutex.
#include "token/module_call.h"
#include "token/token_slot.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace kavro {
namespace {

constexpr unsigned kDefaultSessionsPerSlot = 4;
constexpr unsigned kMostSessionsPerSlot = 64;

unsigned ReadSessionsPerSlot() {
    const char *text = std::getenv("KAVRO_SESSIONS_PER_SLOT");
    if (text == nullptr || *text == '\0') {
        return kDefaultSessionsPerSlot;
    }
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < 1 || value > static_cast<long>(kMostSessionsPerSlot)) {
        return kDefaultSessionsPerSlot;
    }
    return static_cast<unsigned>(value);
}

}  // namespace

unsigned SessionsPerSlot() {
    static const unsigned sessions = ReadSessionsPerSlot();
    return sessions;
}

bool TokenSlot::OwnFree() const { return !ownBusy_ && (state_.load(std::memory_order_acquire) & kOwnTaken) == 0; }

bool TokenSlot::Quiet() const {
    return !alone_ && aloneWaiting_ == 0 && sharedWaiting_ == 0 && !ownBusy_ && readers_ == 0 && extrasBusy_ == 0 &&
           opening_ == 0 && operationLeftBy_ == std::thread::id();
}

void TokenSlot::LeaveSlowModeIfQuiet() {
    if (Quiet()) {
        state_.fetch_and(~kSlow, std::memory_order_release);
    }
}

void TokenSlot::BeginAlone() {
    std::unique_lock<std::mutex> lock(mutex_);
    state_.fetch_or(kSlow, std::memory_order_acq_rel);
    ++aloneWaiting_;
    changed_.wait(lock, [this] {
        return !alone_ && OwnFree() && readers_ == 0 && (state_.load(std::memory_order_acquire) >> 2) == 0 &&
               extrasBusy_ == 0 && opening_ == 0;
    });
    --aloneWaiting_;
    alone_ = true;
}

void TokenSlot::EndAlone() {
    std::lock_guard<std::mutex> lock(mutex_);
    alone_ = false;
    LeaveSlowModeIfQuiet();
    changed_.notify_all();
}

void TokenSlot::BeginShared(CK_FUNCTION_LIST *functions, bool oneCallAtATime, LeasedSession &leased) {
    std::uint32_t seen = state_.load(std::memory_order_relaxed);
    while ((seen & (kOwnTaken | kSlow)) == 0) {
        if (state_.compare_exchange_weak(seen, seen | kOwnTaken, std::memory_order_acquire,
                                         std::memory_order_relaxed)) {
            leased = LeasedSession{session_, LeasedSession::Source::kOwn, true, false};
            return;
        }
    }

    std::unique_lock<std::mutex> lock(mutex_);
    state_.fetch_or(kSlow, std::memory_order_acq_rel);
    ++sharedWaiting_;
    const std::thread::id me = std::this_thread::get_id();
    unsigned sessionCap = oneCallAtATime ? 1 : SessionsPerSlot();
    if (maxSessions_ != 0 && maxSessions_ < sessionCap) {
        sessionCap = static_cast<unsigned>(maxSessions_);
    }
    for (;;) {
        // Calls waiting to take the slot alone go first.
        if (!alone_ && aloneWaiting_ == 0) {
            const bool ownFree = OwnFree();
            if (ownFree && (operationLeftBy_ == std::thread::id() || operationLeftBy_ == me)) {
                ownBusy_ = true;
                leased = LeasedSession{session_, LeasedSession::Source::kOwn, false, false};
                break;
            }
            if (!idleExtras_.empty()) {
                leased = LeasedSession{idleExtras_.back(), LeasedSession::Source::kExtra, false, false};
                idleExtras_.pop_back();
                ++extrasBusy_;
                break;
            }
            const std::size_t open = 1 + idleExtras_.size() + extrasBusy_ + opening_;
            if (session_ != 0 && !openRefused_ && open < sessionCap) {
                // A session of the same kind as the slot's own; the token's
                // login holds for it as for every session of the token.
                const CK_FLAGS flags = readOnly_ ? CKF_SERIAL_SESSION : CKF_RW_SESSION | CKF_SERIAL_SESSION;
                ++opening_;
                lock.unlock();
                CK_SESSION_HANDLE extra = 0;
                const CK_RV rv = ModuleCall(functions->C_OpenSession, slotId_, flags, nullptr, nullptr, &extra);
                lock.lock();
                --opening_;
                if (rv == CKR_OK && extra != 0) {
                    ++extrasBusy_;
                    leased = LeasedSession{extra, LeasedSession::Source::kExtra, false, false};
                    break;
                }
                // Out of sessions (CKR_SESSION_COUNT) or any other refusal:
                // the calls wait for the sessions there are.
                openRefused_ = true;
                continue;
            }
            if (ownFree && idleExtras_.empty() && extrasBusy_ == 0 && opening_ == 0) {
                // No other session will come: the own session as it stands,
                // with the operation another thread left in it.
                ownBusy_ = true;
                leased = LeasedSession{session_, LeasedSession::Source::kOwn, false, false};
                break;
            }
        }
        changed_.wait(lock);
    }
    --sharedWaiting_;
}

void TokenSlot::EndShared(CK_FUNCTION_LIST *functions, LeasedSession &leased) {
    if (leased.fast && !leased.operationLeftActive) {
        if ((state_.fetch_and(~kOwnTaken, std::memory_order_release) & kSlow) == 0) {
            return;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        LeaveSlowModeIfQuiet();
        changed_.notify_all();
        return;
    }
    CK_SESSION_HANDLE toClose = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (leased.source == LeasedSession::Source::kOwn) {
            if (leased.operationLeftActive) {
                operationLeftBy_ = std::this_thread::get_id();
            }
            if (leased.fast) {
                // kSlow first: no call may take the session on the fast path
                // before the mark is seen.
                state_.fetch_or(kSlow, std::memory_order_acq_rel);
                state_.fetch_and(~kOwnTaken, std::memory_order_release);
            } else {
                ownBusy_ = false;
            }
        } else {
            --extrasBusy_;
            if (leased.operationLeftActive) {
                toClose = leased.handle;
            } else {
                idleExtras_.push_back(leased.handle);
            }
        }
        LeaveSlowModeIfQuiet();
        changed_.notify_all();
    }
    if (toClose != 0) {
        // Closing is the one way to end the operation; the result changes nothing.
        ModuleCall(functions->C_CloseSession, toClose);
    }
}

void TokenSlot::BeginTokenInfo(LeasedSession &leased) {
    leased = LeasedSession{};
    std::uint32_t seen = state_.load(std::memory_order_relaxed);
    while ((seen & kSlow) == 0) {
        if (state_.compare_exchange_weak(seen, seen + kOneReader, std::memory_order_acquire,
                                         std::memory_order_relaxed)) {
            leased.fast = true;
            return;
        }
    }
    std::unique_lock<std::mutex> lock(mutex_);
    state_.fetch_or(kSlow, std::memory_order_acq_rel);
    ++sharedWaiting_;
    changed_.wait(lock, [this] { return !alone_ && aloneWaiting_ == 0; });
    --sharedWaiting_;
    ++readers_;
}

void TokenSlot::EndTokenInfo(LeasedSession &leased) {
    if (leased.fast) {
        if ((state_.fetch_sub(kOneReader, std::memory_order_release) & kSlow) == 0) {
            return;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        LeaveSlowModeIfQuiet();
        changed_.notify_all();
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    --readers_;
    LeaveSlowModeIfQuiet();
    changed_.notify_all();
}

void TokenSlot::ClearSessionMarks() {
    openRefused_ = false;
    operationLeftBy_ = std::thread::id();
}

void TokenSlot::ResetSessionMarks() {
    std::lock_guard<std::mutex> lock(mutex_);
    ClearSessionMarks();
}

std::vector<CK_SESSION_HANDLE> TokenSlot::TakeExtraSessions() {
    std::lock_guard<std::mutex> lock(mutex_);
    ClearSessionMarks();
    std::vector<CK_SESSION_HANDLE> extras;
    extras.swap(idleExtras_);
    return extras;
}

std::vector<CK_SESSION_HANDLE> TokenSlot::DropSessions() {
    session_ = 0;
    readOnly_ = false;
    return TakeExtraSessions();
}

void TokenSlot::ForgetSessions() { DropSessions(); }

void TokenSlot::SetMaxSessions(CK_ULONG maxSessionCount) {
    std::lock_guard<std::mutex> lock(mutex_);
    maxSessions_ = maxSessionCount == CK_UNAVAILABLE_INFORMATION ? 0 : maxSessionCount;
}

}  // namespace kavro

// Slot registry and slot discovery.
#include "token/slot_registry.h"

#include "kavro/java_range.h"
#include "kavro/result_code.h"
#include "token/module_call.h"
#include "token/token_module.h"

#include <cstring>
#include <vector>

namespace kavro {
namespace {

// A module whose list grows between the size query and the fetch gets the
// standard second chance: fetch again with room for the new count.
constexpr int kFetchAttempts = 3;

// The slot taken alone for the guard's life.
class Alone {
public:
    explicit Alone(TokenSlot &slot) : slot_(slot) { slot_.BeginAlone(); }
    Alone(const Alone &) = delete;
    Alone &operator=(const Alone &) = delete;
    ~Alone() { slot_.EndAlone(); }

private:
    TokenSlot &slot_;
};

}  // namespace

thread_local SlotRegistry::LastFound SlotRegistry::lastFound_;

TokenSlot *SlotRegistry::Look(std::uint32_t slotId) const {
    std::shared_lock<std::shared_mutex> reading(slotsLock_);
    auto entry = slots_.lower_bound(slotId);
    if (entry == slots_.end() || entry->first != slotId) {
        return nullptr;
    }
    lastFound_ = LastFound{this, slotId, entry->second.get()};
    return lastFound_.slot;
}

void SlotRegistry::Add(std::uint32_t slotId) {
    std::unique_lock<std::shared_mutex> writing(slotsLock_);
    if (slots_.find(slotId) == slots_.end()) {
        slots_.emplace(slotId, std::make_unique<TokenSlot>(slotId));
    }
}

TokenSlot *SlotRegistry::AddNear(std::uint32_t slotId, Slots::iterator &next) {
    // Iterators of a map stay valid as others insert; nothing is ever erased.
    std::unique_lock<std::shared_mutex> writing(slotsLock_);
    Slots::iterator entry = next != slots_.end() && next->first == slotId ? next : slots_.lower_bound(slotId);
    if (entry == slots_.end() || entry->first != slotId) {
        entry = slots_.emplace_hint(entry, slotId, std::make_unique<TokenSlot>(slotId));
    }
    next = std::next(entry);
    return entry->second.get();
}

int SlotRegistry::DiscoverSlots(TokenModule &module, DiscoveredSlots &found) {
    std::lock_guard<std::mutex> discovery(discoveryLock_);
    CK_FUNCTION_LIST *functions = module.functionList;
    CK_ULONG count = 0;
    {
        // The size query's result is not examined: the count alone decides.
        ModuleCallGuard call(&module);
        ModuleCall(functions->C_GetSlotList, CK_FALSE, nullptr, &count);
    }
    if (count == 0) {
        return kNoTokenPresent;
    }

    found.counted = true;
    std::vector<CK_SLOT_ID> ids;
    CK_ULONG listed = 0;
    CK_RV rv = CKR_BUFFER_TOO_SMALL;
    for (int attempt = 0; attempt < kFetchAttempts && rv == CKR_BUFFER_TOO_SMALL; ++attempt) {
        ids.assign(count, 0);
        listed = count;
        ModuleCallGuard call(&module);
        rv = ModuleCall(functions->C_GetSlotList, CK_FALSE, ids.data(), &listed);
        count = listed > count ? listed : count;
    }
    // A list the module did not give holds no ids, whatever count it left;
    // never visit more ids than the array holds.
    if (rv != CKR_OK) {
        listed = 0;
    }
    if (listed > ids.size()) {
        listed = ids.size();
    }

    CK_TOKEN_INFO info;
    std::memset(&info, 0, sizeof info);
    Slots::iterator next;
    {
        std::shared_lock<std::shared_mutex> reading(slotsLock_);
        next = slots_.begin();
    }
    for (CK_ULONG i = 0; i < listed; ++i) {
        CK_SLOT_ID id = ids[i];
        // A slot id that Java cannot name is passed over.
        if (!FitsJavaId(id)) {
            continue;
        }
        auto slotId = static_cast<std::uint32_t>(id);
        TokenSlot *slot = AddNear(slotId, next);
        Alone alone(*slot);
        CK_RV tokenInfo;
        {
            ModuleCallGuard call(&module);
            tokenInfo = ModuleCall(functions->C_GetTokenInfo, id, &info);
        }
        if (tokenInfo != CKR_OK) {
            // The token has gone: its session handles are dropped, not closed.
            slot->ForgetSessions();
            continue;
        }
        slot->SetMaxSessions(info.ulMaxSessionCount);
        found.withToken.push_back(slotId);
    }
    return found.withToken.empty() ? kNoTokenPresent : kOk;
}

void SlotRegistry::ForgetSessions() {
    std::vector<TokenSlot *> all;
    {
        std::shared_lock<std::shared_mutex> reading(slotsLock_);
        all.reserve(slots_.size());
        for (const auto &entry : slots_) {
            all.push_back(entry.second.get());
        }
    }
    for (TokenSlot *slot : all) {
        Alone alone(*slot);
        slot->ForgetSessions();
    }
}

}  // namespace kavro

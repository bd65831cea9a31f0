// Slot registry and slot discovery.
#include "token/slot_registry.h"

#include "kavro/result_code.h"
#include "token/module_call.h"
#include "token/token_module.h"

#include <cstring>
#include <vector>

namespace kavro {
namespace {

// Slot ids cross to Java as 32-bit ints; a module id above that range
// cannot be named from Java, so discovery passes over it.
constexpr CK_ULONG kLargestJavaId = 0xFFFFFFFFu;

// A module whose list grows between the size query and the fetch gets the
// standard second chance: fetch again with room for the new count.
constexpr int kFetchAttempts = 3;

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

int SlotRegistry::DiscoverSlots(TokenModule &module, const DiscoveryOutput &output) {
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
    jint withToken = 0;
    Slots::iterator next;
    {
        std::shared_lock<std::shared_mutex> reading(slotsLock_);
        next = slots_.begin();
    }
    for (CK_ULONG i = 0; i < listed; ++i) {
        CK_SLOT_ID id = ids[i];
        if (id > kLargestJavaId) {
            continue;
        }
        auto slotId = static_cast<std::uint32_t>(id);
        TokenSlot *slot = AddNear(slotId, next);
        std::lock_guard<std::mutex> slotLock(slot->lock);
        CK_RV tokenInfo;
        {
            ModuleCallGuard call(&module);
            tokenInfo = ModuleCall(functions->C_GetTokenInfo, id, &info);
        }
        if (tokenInfo != CKR_OK) {
            // The token has gone: its session handle is dropped, not closed.
            slot->tokenPresent = 0;
            slot->ForgetSession();
            continue;
        }
        if (output.slotIds != nullptr && withToken < output.slotIdCapacity) {
            output.slotIds[withToken] = static_cast<jint>(slotId);
        }
        ++withToken;
        slot->tokenPresent = 1;
    }
    if (output.slotCount != nullptr) {
        *output.slotCount = withToken;
    }
    return withToken > 0 ? kOk : kNoTokenPresent;
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
        std::lock_guard<std::mutex> slotLock(slot->lock);
        slot->ForgetSession();
    }
}

}  // namespace kavro

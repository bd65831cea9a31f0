// The registry of the slots that one module's discoveries have seen, keyed
// by slot id, and slot discovery itself. Each module kind has its own:
// modules mostly number their slots alike from 0, and a slot belongs to the
// module that listed it. Discoveries run one at a time; lookups may run
// beside them. A slot, once registered, stays until the process ends, so a
// slot found is never lost.
#ifndef KAVRO_TOKEN_SLOT_REGISTRY_H
#define KAVRO_TOKEN_SLOT_REGISTRY_H

#include "kavro/cryptoki.h"
#include "token/token_slot.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <vector>

namespace kavro {

class TokenModule;

// What a discovery found.
struct DiscoveredSlots {
    std::vector<std::uint32_t> withToken;  // slots whose token answered, in the module's order
    bool counted = false;                  // the module listed slots: withToken's size is the count, 0 included
};

class SlotRegistry {
public:
    SlotRegistry() = default;
    SlotRegistry(const SlotRegistry &) = delete;
    SlotRegistry &operator=(const SlotRegistry &) = delete;
    // Makes no PKCS #11 call: sessions stay open and logins in force.
    virtual ~SlotRegistry() = default;

    // The registered slot, or null. A registered slot is never removed nor
    // replaced, so each thread keeps the last one it found and finds it
    // again without the lock.
    TokenSlot *Find(std::uint32_t slotId) const {
        const LastFound &last = lastFound_;
        if (last.registry == this && last.slotId == slotId) {
            return last.slot;
        }
        return Look(slotId);
    }
    void Add(std::uint32_t slotId);

    // Registers every slot the module lists and reports, in the module's
    // order, those whose token answers C_GetTokenInfo. Returns kOk when at
    // least one does, else kNoTokenPresent. A failed listing
    // registers and reports nothing. Each slot's token is asked with the
    // slot taken alone, so that a session opened beside the discovery is
    // wholly before or after it. module owns this registry.
    int DiscoverSlots(TokenModule &module, DiscoveredSlots &found);

    // Forgets every slot's sessions, each slot taken alone, without a
    // module call: for a module that lost its sessions. The caller has no
    // slot taken.
    void ForgetSessions();

private:
    using Slots = std::map<std::uint32_t, std::unique_ptr<TokenSlot>>;

    struct LastFound {
        const SlotRegistry *registry = nullptr;
        std::uint32_t slotId = 0;
        TokenSlot *slot = nullptr;
    };
    static thread_local LastFound lastFound_;

    // Find under the lock, remembering what was found.
    TokenSlot *Look(std::uint32_t slotId) const;

    // Add then Find in one step. next is where the previous slot's successor
    // stands: modules mostly list their slots in ascending order, so the
    // slot is usually found there without a search of the tree.
    TokenSlot *AddNear(std::uint32_t slotId, Slots::iterator &next);

    mutable std::shared_mutex slotsLock_;  // the map; held only while it is read or changed
    std::mutex discoveryLock_;             // one discovery at a time
    Slots slots_;
};

}  // namespace kavro

#endif  // KAVRO_TOKEN_SLOT_REGISTRY_H

// SlotLease: what one token call holds from start to end, taken in one
// order and given back in the reverse one: the kind's started module and
// its tables; the slot, alone or shared; the session the call may use; and,
// for a module called one call at a time, the module's call lock. A call
// that met a module finalised behind the library's back has it started
// again by its next call, once the lease has let go of everything.
#ifndef KAVRO_TOKEN_SLOT_LEASE_H
#define KAVRO_TOKEN_SLOT_LEASE_H

#include "kavro/cryptoki.h"
#include "token/token_module.h"
#include "token/token_slot.h"

#include <cstdint>

namespace kavro {

// Which module tables a call needs: the six that log in also take the
// extension table.
enum class ModuleTables { kStandard, kWithAux };

// How a call uses its slot.
enum class SlotUse {
    // Changes the token's login state or the slot's session: nothing else
    // runs on the slot meanwhile.
    kAlone,
    // Uses a session: beside other such calls, each in a session of its own.
    kSession,
    // Reads the token's information: beside the others, without a session.
    kTokenInfo,
};

class SlotLease {
public:
    SlotLease() = default;
    SlotLease(const SlotLease &) = delete;
    SlotLease &operator=(const SlotLease &) = delete;
    ~SlotLease() { End(); }

    // The kind's module, started, with the tables asked for: kNoModule or kOk.
    int BeginModule(int moduleKind, ModuleTables tables);
    // After BeginModule: the slot, as use says: kUnknownSlot or kOk.
    int BeginSlot(std::uint32_t slotId, SlotUse use);
    // Gives everything back; a second End does nothing.
    void End() noexcept;

    TokenModule &Module() const { return *module_; }
    CK_FUNCTION_LIST *Functions() const { return functions_; }
    AuxFunctionList *Aux() const { return aux_; }
    TokenSlot &Slot() const { return *slot_; }
    // The session of a kSession call.
    LeasedSession &Session() { return session_; }

private:
    TokenModule *module_ = nullptr;
    CK_FUNCTION_LIST *functions_ = nullptr;
    AuxFunctionList *aux_ = nullptr;
    unsigned startsSeen_ = 0;
    TokenSlot *slot_ = nullptr;
    SlotUse use_ = SlotUse::kAlone;
    LeasedSession session_;
    ModuleCallGuard call_;
};

}  // namespace kavro

#endif  // KAVRO_TOKEN_SLOT_LEASE_H

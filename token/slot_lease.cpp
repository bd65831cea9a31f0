// The lease of a token call: module, slot, session and call lock.
#include "token/slot_lease.h"

#include "kavro/result_code.h"
#include "token/module_call.h"

namespace kavro {

int SlotLease::BeginModule(int moduleKind, ModuleTables tables) {
    TokenModuleTable &table = TokenModuleTable::Instance();
    module_ = table.Started(moduleKind);
    functions_ = module_ != nullptr ? module_->functionList : nullptr;
    if (tables == ModuleTables::kWithAux) {
        // Both tables are asked for before either is tested: a start that
        // failed is tried once more for the second.
        TokenModule *withAux = module_ != nullptr ? module_ : table.Started(moduleKind);
        aux_ = withAux != nullptr ? withAux->auxFunctionList : nullptr;
        if (functions_ == nullptr || aux_ == nullptr) {
            return kNoModule;
        }
    } else if (functions_ == nullptr) {
        return kNoModule;
    }
    startsSeen_ = module_->starts.load(std::memory_order_relaxed);
    return kOk;
}

int SlotLease::BeginSlot(std::uint32_t slotId, SlotUse use) {
    TokenSlot *slot = module_->slots.Find(slotId);
    if (slot == nullptr) {
        return kUnknownSlot;
    }
    const bool oneCallAtATime = module_->oneCallAtATime.load(std::memory_order_relaxed);
    switch (use) {
    case SlotUse::kAlone:
        slot->BeginAlone();
        break;
    case SlotUse::kSession:
        slot->BeginShared(functions_, oneCallAtATime, session_);
        break;
    case SlotUse::kTokenInfo:
        slot->BeginTokenInfo(session_);
        break;
    }
    slot_ = slot;
    use_ = use;
    // Taken last, given back first: a call waiting for a session never
    // holds it.
    call_.Take(module_);
    return kOk;
}

void SlotLease::End() noexcept {
    call_.Release();
    if (slot_ != nullptr) {
        switch (use_) {
        case SlotUse::kAlone:
            slot_->EndAlone();
            break;
        case SlotUse::kSession:
            slot_->EndShared(functions_, session_);
            break;
        case SlotUse::kTokenInfo:
            slot_->EndTokenInfo(session_);
            break;
        }
        slot_ = nullptr;
    }
    if (NotInitialisedEverSeen().load(std::memory_order_relaxed) && NotInitialisedSeen()) {
        NotInitialisedSeen() = false;
        if (module_ != nullptr) {
            // Someone else finalised the module: the next call starts it again.
            TokenModuleTable::Instance().Stopped(*module_, startsSeen_);
        }
    }
    module_ = nullptr;
}

}  // namespace kavro

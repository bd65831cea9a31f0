// The common preamble of the token entry points.
#include "native/token_call.h"

#include "token/slot_registry.h"

namespace kavro {

int TokenCall::BeginModule(jint moduleKind, ModuleTables tables) {
    TokenModuleTable &table = TokenModuleTable::Instance();
    module = table.Started(moduleKind);
    functions = module != nullptr ? module->functionList : nullptr;
    if (tables == ModuleTables::kWithAux) {
        // Both tables are asked for before either is tested: a start that
        // failed is tried once more for the second.
        TokenModule *withAux = module != nullptr ? module : table.Started(moduleKind);
        aux = withAux != nullptr ? withAux->auxFunctionList : nullptr;
        if (functions == nullptr || aux == nullptr) {
            return kNoModule;
        }
    } else if (functions == nullptr) {
        return kNoModule;
    }
    return kOk;
}

int TokenCall::BeginSlot(jint moduleKind, jint slotId, ModuleTables tables) {
    int result = BeginModule(moduleKind, tables);
    if (result != kOk) {
        return result;
    }
    slot = SlotRegistry::Instance().Find(static_cast<std::uint32_t>(slotId));
    if (slot == nullptr) {
        return kUnknownSlot;
    }
    slotLock_ = std::unique_lock<std::mutex>(slot->lock);
    callGuard_.emplace(module);
    return kOk;
}

void TokenCall::GiveBack() noexcept {
    for (std::size_t i = 0; i < takenCount_; ++i) {
        taken_[i]->Release();
    }
    takenCount_ = 0;
}

}  // namespace kavro

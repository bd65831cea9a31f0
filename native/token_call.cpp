// The common preamble of the token entry points.
#include "native/token_call.h"


namespace kavro {

int TokenCall::BeginModule(jint moduleKind, ModuleTables tables) {
    TokenModuleTable &table = TokenModuleTable::Instance();
    module = table.Started(moduleKind);
    functions = module != nullptr ? module->functionList : nullptr;
    if (module != nullptr) {
        startsSeen_ = module->starts.load(std::memory_order_relaxed);
    }
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

void TokenCall::GiveBack() noexcept {
    for (std::size_t i = 0; i < takenCount_; ++i) {
        taken_[i].end(taken_[i].guard);
    }
    takenCount_ = 0;
}

}  // namespace kavro

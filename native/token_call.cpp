// The common preamble of the token entry points.
#include "native/token_call.h"

#include "token/slot_registry.h"
#include "token/token_module.h"

namespace kavro {

int BeginTokenCall(jint moduleKind, jint slotId, ModuleTables tables, TokenCall &call) {
    call.functions = ModuleFunctions(moduleKind);
    if (tables == ModuleTables::kWithAux) {
        // Both tables are asked for before either is tested.
        call.aux = ModuleAuxFunctions(moduleKind);
        if (call.functions == nullptr || call.aux == nullptr) {
            return kNoModule;
        }
    } else if (call.functions == nullptr) {
        return kNoModule;
    }
    call.slot = SlotRegistry::Instance().Find(static_cast<unsigned int>(slotId));
    if (call.slot == nullptr) {
        return kUnknownSlot;
    }
    return kOk;
}

}  // namespace kavro

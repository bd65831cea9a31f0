// Calls through a module's function list. Some modules leave the entry of a
// function they lack null instead of pointing it at a stub; such an entry
// answers CKR_FUNCTION_NOT_SUPPORTED here, as the stub would, and is never
// called.
#ifndef KAVRO_TOKEN_MODULE_CALL_H
#define KAVRO_TOKEN_MODULE_CALL_H

#include "kavro/cryptoki.h"

#include <utility>

namespace kavro {

template <typename Function, typename... Args>
CK_RV ModuleCall(Function function, Args &&...args) {
    if (function == nullptr) {
        return CKR_FUNCTION_NOT_SUPPORTED;
    }
    return function(std::forward<Args>(args)...);
}

}  // namespace kavro

#endif  // KAVRO_TOKEN_MODULE_CALL_H

// Calls through a module's function list. Some modules leave the entry of a
// function they lack null instead of pointing it at a stub; such an entry
// answers CKR_FUNCTION_NOT_SUPPORTED here, as the stub would, and is never
// called. A module that answers CKR_CRYPTOKI_NOT_INITIALIZED was finalised
// behind the library's back; the calling thread notes it for the entry
// layer, which has the module started again.
#ifndef KAVRO_TOKEN_MODULE_CALL_H
#define KAVRO_TOKEN_MODULE_CALL_H

#include "kavro/cryptoki.h"

#include <atomic>
#include <utility>

namespace kavro {

// Whether a module call on this thread answered CKR_CRYPTOKI_NOT_INITIALIZED
// since the entry layer last cleared it.
inline bool &NotInitialisedSeen() {
    static thread_local bool seen = false;
    return seen;
}

// Whether any thread ever saw that answer: until one has, the entry layer
// need not look at its thread's note (a thread-local read costs a call).
inline std::atomic<bool> &NotInitialisedEverSeen() {
    static std::atomic<bool> seen{false};
    return seen;
}

template <typename Function, typename... Args>
CK_RV ModuleCall(Function function, Args &&...args) {
    if (function == nullptr) {
        return CKR_FUNCTION_NOT_SUPPORTED;
    }
    CK_RV rv = function(std::forward<Args>(args)...);
    if (rv == CKR_CRYPTOKI_NOT_INITIALIZED) {
        NotInitialisedSeen() = true;
        NotInitialisedEverSeen().store(true, std::memory_order_relaxed);
    }
    return rv;
}

}  // namespace kavro

#endif  // KAVRO_TOKEN_MODULE_CALL_H

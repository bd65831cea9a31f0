// The judgement of an output length that a module reports after a
// single-part operation (C_Sign, C_Digest, C_Encrypt, C_Decrypt).
#ifndef KAVRO_TOKEN_MODULE_OUTPUT_H
#define KAVRO_TOKEN_MODULE_OUTPUT_H

#include "kavro/cryptoki.h"
#include "token/token_slot.h"

namespace kavro {

// A module that reports success with more output than the room it was
// given has written past the buffer or reports nonsense; either way its
// output cannot be handed on. The length goes back to the room offered and
// the call fails with CKR_FUNCTION_FAILED. Other results pass unchanged, the
// length the module needs after CKR_BUFFER_TOO_SMALL included; that result
// leaves the operation active in the session, which is noted on it.
inline CK_RV CheckedOutput(LeasedSession &session, CK_RV rv, CK_ULONG capacity, CK_ULONG &length) {
    if (rv == CKR_BUFFER_TOO_SMALL) {
        session.operationLeftActive = true;
    }
    if (rv == CKR_OK && length > capacity) {
        length = capacity;
        return CKR_FUNCTION_FAILED;
    }
    return rv;
}

}  // namespace kavro

#endif  // KAVRO_TOKEN_MODULE_OUTPUT_H

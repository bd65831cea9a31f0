// The common preamble of the token entry points: the module's function
// list(s) for the kind, then the slot, before any Java array is taken.
#ifndef KAVRO_NATIVE_TOKEN_CALL_H
#define KAVRO_NATIVE_TOKEN_CALL_H

#include "kavro/cryptoki.h"
#include "kavro/result_code.h"
#include "token/token_slot.h"

#include <jni.h>

#include <new>

namespace kavro {

// Which module tables an entry point needs: the six that log in also take
// the extension table.
enum class ModuleTables { kStandard, kWithAux };

struct TokenCall {
    CK_FUNCTION_LIST *functions = nullptr;
    AuxFunctionList *aux = nullptr;
    TokenSlot *slot = nullptr;
};

// Steps 1 and 2 of every token entry point: kNoModule or kUnknownSlot, or
// kOk with the call filled in.
int BeginTokenCall(jint moduleKind, jint slotId, ModuleTables tables, TokenCall &call);

// Java slot ids and handles are unsigned 32-bit values carried in an int.
inline CK_ULONG FromJavaId(jint value) { return static_cast<CK_ULONG>(static_cast<unsigned int>(value)); }

// The way back for a handle that fits 32 bits (the token operations write
// no other), and for a length a module reports: one beyond a Java int's
// range, which no Java array could offer, reads as the largest int.
inline jint ToJavaId(CK_ULONG value) { return static_cast<jint>(static_cast<unsigned int>(value)); }
inline jint ToJavaLength(CK_ULONG length) { return length > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<jint>(length); }

// Runs an entry point's body so that nothing is thrown into the JVM: a
// failed allocation anywhere becomes kNoMemory.
template <typename Body>
auto Shielded(Body &&body, decltype(body()) onNoMemory) noexcept -> decltype(body()) {
    try {
        return body();
    } catch (...) {
        return onNoMemory;
    }
}

}  // namespace kavro

#endif  // KAVRO_NATIVE_TOKEN_CALL_H

// The 24 token entry points all run in one template: the shield (nothing
// thrown into the JVM), the preamble (the module's tables, then the slot),
// the slot's lock, and the Java data the call takes, given back in the
// order it was taken.
//
// Locks, in the one order they are ever taken: the module table's start
// lock and the slot registry's locks are held only inside the preamble's
// lookups and discovery, never while the caller holds another; then a
// slot's lock, from the preamble to the entry point's return; then, for a
// module called one call at a time, that module's call lock. A restart of
// a module takes its slots' locks under the start lock, and a call that
// found its module finalised asks for the restart only after it has let go
// of its own locks.
#ifndef KAVRO_NATIVE_TOKEN_CALL_H
#define KAVRO_NATIVE_TOKEN_CALL_H

#include "kavro/cryptoki.h"
#include "kavro/result_code.h"
#include "native/java_data.h"
#include "token/module_call.h"
#include "token/slot_registry.h"
#include "token/token_module.h"
#include "token/token_slot.h"

#include <jni.h>

#include <cstddef>
#include <mutex>
#include <new>
#include <utility>

namespace kavro {

// Which module tables an entry point needs: the six that log in also take
// the extension table.
enum class ModuleTables { kStandard, kWithAux };

// Room for guards of Java data, each made when a call takes the data and
// ended by the call. The room is left as it is until then: guards stage up
// to 512 bytes of elements, and a call clears none of the room it does not
// use.
template <typename Guard, std::size_t N>
class GuardRoom {
public:
    GuardRoom() noexcept {}
    GuardRoom(const GuardRoom &) = delete;
    GuardRoom &operator=(const GuardRoom &) = delete;

    // Null when the room is full.
    template <typename... Args>
    Guard *Make(Args... args) {
        if (made_ == N) {
            return nullptr;
        }
        return new (static_cast<void *>(room_[made_++])) Guard(args...);
    }
    // Ends a guard made here, which gives its data back.
    static void End(void *guard) noexcept { static_cast<Guard *>(guard)->~Guard(); }

private:
    alignas(Guard) unsigned char room_[N][sizeof(Guard)];
    std::size_t made_ = 0;
};

// One token call: what the preamble found, the locks it holds, and the
// Java data taken since. Giving back happens in the order of taking, then
// the locks go.
class TokenCall {
public:
    explicit TokenCall(JNIEnv *env) : env_(env) {}
    TokenCall(const TokenCall &) = delete;
    TokenCall &operator=(const TokenCall &) = delete;
    ~TokenCall() noexcept {
        GiveBack();
        if (callLock_.owns_lock()) {
            callLock_.unlock();
        }
        if (slotLock_.owns_lock()) {
            slotLock_.unlock();
        }
        if (NotInitialisedSeen()) {
            NotInitialisedSeen() = false;
            if (module != nullptr) {
                // Someone else finalised the module: the next call starts it again.
                TokenModuleTable::Instance().Stopped(*module, startsSeen_);
            }
        }
    }

    // The preamble without a slot (Initialize, GetSlotList): kNoModule or kOk.
    int BeginModule(jint moduleKind, ModuleTables tables);
    // The preamble with a slot: kNoModule, kUnknownSlot, or kOk with the
    // slot locked for the rest of the call.
    int BeginSlot(jint moduleKind, jint slotId, ModuleTables tables) {
        int result = BeginModule(moduleKind, tables);
        if (result != kOk) {
            return result;
        }
        slot = module->slots.Find(static_cast<std::uint32_t>(slotId));
        if (slot == nullptr) {
            return kUnknownSlot;
        }
        slotLock_ = std::unique_lock<std::mutex>(slot->lock);
        if (module->oneCallAtATime.load(std::memory_order_relaxed)) {
            callLock_ = std::unique_lock<std::mutex>(module->callLock);
        }
        return kOk;
    }

    // Java data, taken now and given back at the end of the call (or at
    // GiveBack), in the order taken.
    JavaBytes &Bytes(jbyteArray array, GiveBack mode) { return Keep(bytes_, array, mode); }
    JavaInts &Ints(jintArray array, GiveBack mode) { return Keep(ints_, array, mode); }
    JavaIntResult &IntResult(jintArray array) { return Keep(intResults_, array); }
    JavaUtfChars &Utf(jstring text) { return Keep(utf_, text); }
    void GiveBack() noexcept;

    JNIEnv *Env() const { return env_; }

    CK_FUNCTION_LIST *functions = nullptr;
    AuxFunctionList *aux = nullptr;
    TokenModule *module = nullptr;
    TokenSlot *slot = nullptr;

private:
    template <typename Guard, std::size_t N, typename... Args>
    Guard &Keep(GuardRoom<Guard, N> &room, Args... args) {
        Guard *guard = room.Make(env_, args...);
        if (guard == nullptr) {
            // More Java data than any entry point takes: a fault of this library.
            throw std::bad_alloc();
        }
        taken_[takenCount_++] = Taken{guard, &GuardRoom<Guard, N>::End};
        return *guard;
    }

    JNIEnv *env_;
    // The module's start count when the call found it.
    unsigned startsSeen_ = 0;
    // Declared before the data: released after it.
    std::unique_lock<std::mutex> slotLock_;
    std::unique_lock<std::mutex> callLock_;
    GuardRoom<JavaBytes, 3> bytes_;
    GuardRoom<JavaInts, 2> ints_;
    GuardRoom<JavaIntResult, 1> intResults_;
    GuardRoom<JavaUtfChars, 1> utf_;
    // What was taken, in order: each guard and how to end it.
    struct Taken {
        void *guard;
        void (*end)(void *) noexcept;
    };
    Taken taken_[7];
    std::size_t takenCount_ = 0;
};

// Runs an entry point's body so that nothing is thrown into the JVM: a
// failed allocation anywhere becomes onNoMemory.
template <typename Body>
auto Shielded(Body &&body, decltype(body()) onNoMemory) noexcept -> decltype(body()) {
    try {
        return body();
    } catch (...) {
        return onNoMemory;
    }
}

// A token entry point with a slot. refused turns a preamble's result code
// into the method's result; body(TokenCall &) gives the rest.
template <typename Result, typename Refused, typename Body>
Result SlotEntry(JNIEnv *env, jint moduleKind, jint slotId, ModuleTables tables, Result onNoMemory, Refused refused,
                 Body &&body) noexcept {
    return Shielded(
        [&]() -> Result {
            TokenCall call(env);
            int result = call.BeginSlot(moduleKind, slotId, tables);
            if (result != kOk) {
                return refused(result);
            }
            return body(call);
        },
        onNoMemory);
}

// The same for the methods that answer with a result code.
template <typename Body>
jint SlotEntry(JNIEnv *env, jint moduleKind, jint slotId, ModuleTables tables, Body &&body) noexcept {
    return SlotEntry(env, moduleKind, slotId, tables, static_cast<jint>(kNoMemory), [](int code) -> jint { return code; },
                     std::forward<Body>(body));
}

// A token entry point without a slot (Initialize, GetSlotList).
template <typename Body>
jint ModuleEntry(JNIEnv *env, jint moduleKind, ModuleTables tables, Body &&body) noexcept {
    return Shielded(
        [&]() -> jint {
            TokenCall call(env);
            int result = call.BeginModule(moduleKind, tables);
            if (result != kOk) {
                return result;
            }
            return body(call);
        },
        kNoMemory);
}

// Java slot ids and handles are unsigned 32-bit values carried in an int;
// the token operations hand back only handles that fit (FitsJavaInt).
inline CK_ULONG FromJavaId(jint value) { return static_cast<CK_ULONG>(static_cast<unsigned int>(value)); }
inline jint ToJavaId(CK_ULONG value) { return static_cast<jint>(static_cast<unsigned int>(value)); }
// What ConnectToken answers for a session: the handle itself when it fits,
// else its low 32 bits, or 1 when those are 0. No Java method takes the
// handle back, and 0 must keep meaning that no session was opened.
inline jint ToJavaSession(CK_SESSION_HANDLE session) {
    if (session == 0) {
        return 0;
    }
    const jint standIn = ToJavaId(session);
    return standIn != 0 ? standIn : 1;
}
// A length a module reports: one beyond a Java int's range, which no Java
// array could offer, reads as the largest int.
inline jint ToJavaLength(CK_ULONG length) { return length > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<jint>(length); }

}  // namespace kavro

#endif  // KAVRO_NATIVE_TOKEN_CALL_H

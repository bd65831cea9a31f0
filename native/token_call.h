// The 24 token entry points all run in one template: the shield (nothing
// thrown into the JVM), the preamble (the module's tables, then the slot,
// taken through the call's SlotLease, which holds whatever the call needs
// of the slot and of the module), and the Java data the call takes, given
// back in the order it was taken, before the lease lets go.
#ifndef KAVRO_NATIVE_TOKEN_CALL_H
#define KAVRO_NATIVE_TOKEN_CALL_H

#include "kavro/cryptoki.h"
#include "kavro/java_range.h"
#include "kavro/result_code.h"
#include "native/java_data.h"
#include "token/slot_lease.h"
#include "token/token_slot.h"

#include <jni.h>

#include <cstddef>
#include <new>
#include <utility>

namespace kavro {

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

// One token call: its lease, and the Java data taken since. Giving back
// happens in the order of taking, then the lease ends.
class TokenCall {
public:
    explicit TokenCall(JNIEnv *env) : env_(env) {}
    TokenCall(const TokenCall &) = delete;
    TokenCall &operator=(const TokenCall &) = delete;
    ~TokenCall() noexcept {
        GiveBack();
        lease_.End();
    }

    // The preamble without a slot (Initialize, GetSlotList): kNoModule or kOk.
    int BeginModule(jint moduleKind, ModuleTables tables) { return lease_.BeginModule(moduleKind, tables); }
    // The preamble with a slot: kNoModule, kUnknownSlot, or kOk with the
    // slot held as use says for the rest of the call.
    int BeginSlot(jint moduleKind, jint slotId, ModuleTables tables, SlotUse use) {
        int result = BeginModule(moduleKind, tables);
        if (result != kOk) {
            return result;
        }
        return lease_.BeginSlot(static_cast<std::uint32_t>(slotId), use);
    }

    // Java data, taken now and given back at the end of the call (or at
    // GiveBack), in the order taken.
    JavaBytes &Bytes(jbyteArray array, GiveBack mode) { return Keep(bytes_, array, mode); }
    JavaInts &Ints(jintArray array, GiveBack mode) { return Keep(ints_, array, mode); }
    JavaIntResult &IntResult(jintArray array) { return Keep(intResults_, array); }
    JavaUtfChars &Utf(jstring text) { return Keep(utf_, text); }
    void GiveBack() noexcept;

    JNIEnv *Env() const { return env_; }
    TokenModule &Module() const { return lease_.Module(); }
    CK_FUNCTION_LIST *Functions() const { return lease_.Functions(); }
    AuxFunctionList *Aux() const { return lease_.Aux(); }
    TokenSlot &Slot() const { return lease_.Slot(); }
    LeasedSession &Session() { return lease_.Session(); }

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
    // Declared before the data: ended after it.
    SlotLease lease_;
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
Result SlotEntry(JNIEnv *env, jint moduleKind, jint slotId, ModuleTables tables, SlotUse use, Result onNoMemory,
                 Refused refused, Body &&body) noexcept {
    return Shielded(
        [&]() -> Result {
            TokenCall call(env);
            int result = call.BeginSlot(moduleKind, slotId, tables, use);
            if (result != kOk) {
                return refused(result);
            }
            return body(call);
        },
        onNoMemory);
}

// The same for the methods that answer with a result code.
template <typename Body>
jint SlotEntry(JNIEnv *env, jint moduleKind, jint slotId, ModuleTables tables, SlotUse use, Body &&body) noexcept {
    return SlotEntry(env, moduleKind, slotId, tables, use, static_cast<jint>(kNoMemory),
                     [](int code) -> jint { return code; }, std::forward<Body>(body));
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

}  // namespace kavro

#endif  // KAVRO_NATIVE_TOKEN_CALL_H

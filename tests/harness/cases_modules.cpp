// Module loading by bare file name, module kinds out of range, and slot
// discovery. Kind 3's mock is touched first by the loading case, so that its
// journal shows the library's own load of it.
#include "harness.h"

namespace {

using namespace harness;

const CaseTable table("modules", {
    Case{"a module loads by its bare file name and starts once", {
        Call("Initialize", {Int(3)}).Returns(0),
        JournalCalls(3, {"C_GetFunctionList", "E_GetAuxFunctionList", "C_Initialize"}),
        JournalHas(3, "C_Initialize flags=0x2"),
        Mock(3, "journal-clear"),
        Call("Initialize", {Int(3)}).Returns(0),
        Call("GetSlotList", {Int(3), Null(), Null()}).Returns(1012),
        JournalCalls(3, {"C_GetSlotList"}),
    }},
    Case{"kinds out of range and a missing module give 1001, 0 from ConnectToken", {
        Call("Initialize", {Int(4)}).Returns(1001),
        Call("Initialize", {Int(4)}).Returns(1001),
        Call("Initialize", {Int(5)}).Returns(1001),
        Call("Initialize", {Int(-1)}).Returns(1001),
        Call("Initialize", {Int(100)}).Returns(1001),
        Call("Initialize", {Int(0x80000000LL)}).Returns(1001),
        Call("GetSlotList", {Int(-1), Ints(2, -5).As("ids"), Ints(1, -5).As("count")}).Returns(1001),
        IntsAre("ids", {-5, -5}),
        IntsAre("count", {-5}),
        GivenBack("ids", Release::kNeverTaken),
        Call("GetSlotList", {Int(4), Null(), Null()}).Returns(1001),
        Call("ConnectToken", {Int(5), Int(0x3101)}).Returns(0),
        Call("ConnectToken", {Int(4), Int(0x3101)}).Returns(0),
        Call("DisconnectToken", {Int(100), Int(0x3101)}).Returns(1001),
        Call("Logout", {Int(-1), Int(0x3101)}).Returns(1001),
        // The kind is tested before the slot and the PIN.
        Call("Login", {Int(5), Int(0x3101), Null()}).Returns(1001),
        Call("VerifySoPin", {Int(4), Int(0x3101), Bytes("1").As("soPin")}).Returns(1001),
        GivenBack("soPin", Release::kNeverTaken),
    }},
    Case{"GetSlotList reports the slots with a token, ids with the top bit set included", {
        Mock(1, "reset; slot 0x1101; slot 0x80001102; slot 0x1103 token=0"),
        Call("GetSlotList", {Int(1), Ints(4, -5).As("ids"), Ints(1, -5).As("count")}).Returns(0),
        IntsAre("ids", {0x1101, Int(0x80001102LL).value, -5, -5}),
        IntsAre("count", {2}),
        GivenBack("ids", Release::kCopyBack),
        GivenBack("count", Release::kCopyBack),
        // The registered id widens as unsigned 32 bits on its way back to the module.
        Call("ConnectToken", {Int(1), Int(0x80001102LL)}).ReturnsNonZero().Save("session"),
        JournalHas(1, "C_OpenSession slot=2147488002 flags=6"),
        StateHas(1, 0x80001102LL, "sessions=1 handles=${session} "),
        Call("DisconnectToken", {Int(1), Int(0x80001102LL)}).Returns(0),
        // A slot without a token is registered all the same; an unlisted one is not.
        Call("DisconnectToken", {Int(1), Int(0x1103)}).Returns(0),
        Call("DisconnectToken", {Int(1), Int(0x1104)}).Returns(1002),
    }},
    Case{"GetSlotList writes no more ids than the array holds, and takes null arrays", {
        Mock(1, "reset; slot 0x1111; slot 0x1112; slot 0x1113"),
        Call("GetSlotList", {Int(1), Ints(1, -5).As("ids"), Ints(1, -5).As("count")}).Returns(0),
        IntsAre("ids", {0x1111}),
        IntsAre("count", {3}),
        Call("GetSlotList", {Int(1), Ints(0, 0).As("empty"), Ints(0, 0).As("noCount")}).Returns(0),
        Call("GetSlotList", {Int(1), Null(), Null()}).Returns(0),
        Mock(1, "reset; slot 0x1114 token=0"),
        Call("GetSlotList", {Int(1), Ints(2, -5).As("none"), Ints(1, -5).As("zero")}).Returns(1012),
        IntsAre("none", {-5, -5}),
        IntsAre("zero", {0}),
    }},
});

}  // namespace

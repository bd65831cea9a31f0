// How arrays go back to the JVM: out arrays copied back, PINs discarded and
// wiped, and nothing given back for elements the JVM could not provide.
// Arrays up to 512 bytes are copied through regions, larger ones taken as
// elements: each case uses both sizes.
// Every call of every case is also checked for leaks by the fake JVM.
#include "harness.h"

#include <string>

namespace {

using namespace harness;

const CaseTable table("arrays", {
    Case{"out arrays are copied back; PINs are discarded after wiping the copy", {
        Mock(2, "reset; slot 0x2101; slot 0x2102; slot 0x2103"),
        Call("GetSlotList", {Int(2), Ints(4, -5).As("ids"), Ints(1, -5).As("count")}).Returns(0),
        IntsAre("ids", {0x2101, 0x2102, 0x2103, -5}),
        IntsAre("count", {3}),
        GivenBack("ids", Release::kCopyBack),
        GivenBack("count", Release::kCopyBack),
        Call("ConnectToken", {Int(2), Int(0x2101)}).ReturnsNonZero(),
        Call("Login", {Int(2), Int(0x2101), Bytes("1234").As("pin")}).Returns(0),
        GivenBack("pin", Release::kWipedDiscard),
        BytesAre("pin", "1234"),
        Call("Login", {Int(2), Int(0x2101), Bytes("").As("emptyPin")}).Returns(0),
        Call("Logout", {Int(2), Int(0x2101)}).Returns(0),
        Call("Login", {Int(2), Int(0x2101), Bytes("0000").As("wrongPin")}).Returns(4001),
        GivenBack("wrongPin", Release::kWipedDiscard),
        BytesAre("wrongPin", "0000"),
        // Large arrays: elements taken from the JVM, the PIN's copy wiped.
        Call("Login", {Int(2), Int(0x2101), Bytes(std::string(600, '7')).As("longPin")}).Returns(4001),
        GivenBack("longPin", Release::kWipedDiscard),
        BytesAre("longPin", std::string(600, '7')),
        Call("GetSlotList", {Int(2), Ints(200, -5).As("manyIds"), Ints(1, -5)}).Returns(0),
        GivenBack("manyIds", Release::kCopyBack),
        Call("DisconnectToken", {Int(2), Int(0x2101)}).Returns(0),
    }},
    Case{"elements the JVM cannot provide give 1003, with no module call", {
        Mock(2, "reset; slot 0x2201"),
        Call("GetSlotList", {Int(2), Null(), Null()}).Returns(0),
        Call("ConnectToken", {Int(2), Int(0x2201)}).ReturnsNonZero(),
        Mock(2, "journal-clear"),
        // Only arrays large enough to be taken as elements can be refused.
        Call("Login", {Int(2), Int(0x2201), Bytes(std::string(600, '1')).As("pin").Unavailable()}).Returns(1003),
        GivenBack("pin", Release::kRefusedOnly),
        Call("VerifySoPin", {Int(2), Int(0x2201), Bytes(std::string(600, '8')).As("soPin").Unavailable()})
            .Returns(1003),
        GivenBack("soPin", Release::kRefusedOnly),
        JournalCalls(2, {}),
        // The array taken before the refused one still goes back, unchanged.
        Call("GetSlotList", {Int(2), Ints(2, -5).As("ids"), Ints(200, -5).As("count").Unavailable()}).Returns(1003),
        IntsAre("ids", {-5, -5}),
        GivenBack("ids", Release::kCopyBack),
        GivenBack("count", Release::kRefusedOnly),
        JournalLacks(2, "C_GetSlotList"),
        Call("DisconnectToken", {Int(2), Int(0x2201)}).Returns(0),
    }},
});

}  // namespace

// Sessions and the login mapping: ConnectToken/DisconnectToken, Login with
// the right and a wrong user PIN, and the security officer's tries left.
#include "harness.h"

namespace {

using namespace harness;

const CaseTable table("sessions", {
    Case{"ConnectToken opens the slot's session; DisconnectToken closes it", {
        Mock(1, "reset; slot 0x1201"),
        Call("ConnectToken", {Int(1), Int(0x1201)}).Returns(0),
        JournalLacks(1, "C_OpenSession"),
        Call("DisconnectToken", {Int(1), Int(0x1201)}).Returns(1002),
        Call("GetSlotList", {Int(1), Null(), Null()}).Returns(0),
        Call("ConnectToken", {Int(1), Int(0x1201)}).ReturnsNonZero().Save("session"),
        JournalHas(1, "C_OpenSession slot=4609 flags=6"),
        StateHas(1, 0x1201, "sessions=1 handles=${session} "),
        Call("DisconnectToken", {Int(1), Int(0x1201)}).Returns(0),
        JournalHas(1, "C_CloseSession session=${session}"),
        StateHas(1, 0x1201, "sessions=0"),
        // No session left: nothing to close, no module call.
        Mock(1, "journal-clear"),
        Call("DisconnectToken", {Int(1), Int(0x1201)}).Returns(0),
        JournalCalls(1, {}),
        // C_CloseSession's result reaches Java unchanged.
        Call("ConnectToken", {Int(1), Int(0x1201)}).ReturnsNonZero(),
        Mock(1, "fail C_CloseSession 0x5"),
        Call("DisconnectToken", {Int(1), Int(0x1201)}).Returns(5),
    }},
    Case{"Login: the right PIN logs in, a wrong one gives 4001, a null one 1003", {
        Mock(1, "reset; slot 0x1301 userpin=1234 sopin=87654321"),
        Call("GetSlotList", {Int(1), Null(), Null()}).Returns(0),
        Call("ConnectToken", {Int(1), Int(0x1301)}).ReturnsNonZero().Save("session"),
        Call("Login", {Int(1), Int(0x1301), Bytes("9999").As("wrong")}).Returns(4001),
        JournalHas(1, "C_Login session=${session} user=1 pin=39393939"),
        StateHas(1, 0x1301, "login=none"),
        JournalLacks(1, "GetPinStatus"),
        Call("Login", {Int(1), Int(0x1301), Bytes("1234").As("pin")}).Returns(0),
        StateHas(1, 0x1301, "login=user"),
        BytesAre("pin", "1234"),
        Call("Login", {Int(1), Int(0x1301), Bytes("1234")}).Returns(0),
        Call("Logout", {Int(1), Int(0x1301)}).Returns(0),
        StateHas(1, 0x1301, "login=none"),
        Mock(1, "journal-clear"),
        Call("Login", {Int(1), Int(0x1301), Null()}).Returns(1003),
        Call("Login", {Int(1), Int(0x1302), Null()}).Returns(1002),
        JournalLacks(1, "C_Login"),
        // Other refusals map to 4001; a locked PIN reaches Java as CKR_PIN_LOCKED.
        Mock(1, "fail C_Login 0x5"),
        Call("Login", {Int(1), Int(0x1301), Bytes("1234")}).Returns(4001),
        Mock(1, "fail C_Login 0xA4"),
        Call("Login", {Int(1), Int(0x1301), Bytes("1234")}).Returns(0xA4),
        Call("DisconnectToken", {Int(1), Int(0x1301)}).Returns(0),
    }},
    Case{"VerifySoPin: a wrong SO PIN gives the tries left, then CKR_PIN_LOCKED", {
        Mock(1, "reset; slot 0x1401 sopin=87654321 sotries=3"),
        Call("GetSlotList", {Int(1), Null(), Null()}).Returns(0),
        Call("ConnectToken", {Int(1), Int(0x1401)}).ReturnsNonZero().Save("session"),
        Call("VerifySoPin", {Int(1), Int(0x1401), Bytes("00000000")}).Returns(2),
        JournalHas(1, "C_Login session=${session} user=0 pin=3030303030303030"),
        JournalHas(1, "GetPinStatus slot=5121"),
        Call("VerifySoPin", {Int(1), Int(0x1401), Bytes("11111111")}).Returns(1),
        // The right PIN resets the count; VerifySoPin leaves nobody logged in.
        Call("VerifySoPin", {Int(1), Int(0x1401), Bytes("87654321").As("soPin")}).Returns(0),
        StateHas(1, 0x1401, "login=none"),
        StateHas(1, 0x1401, "sotries=3"),
        GivenBack("soPin", Release::kWipedDiscard),
        BytesAre("soPin", "87654321"),
        Call("VerifySoPin", {Int(1), Int(0x1401), Bytes("1")}).Returns(2),
        Call("VerifySoPin", {Int(1), Int(0x1401), Bytes("2")}).Returns(1),
        Call("VerifySoPin", {Int(1), Int(0x1401), Bytes("3")}).Returns(0xA4),
        Call("VerifySoPin", {Int(1), Int(0x1401), Bytes("87654321")}).Returns(0xA4),
        StateHas(1, 0x1401, "sotries=0"),
        Call("DisconnectToken", {Int(1), Int(0x1401)}).Returns(0),
    }},
});

}  // namespace

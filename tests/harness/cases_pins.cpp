// PIN administration with PIN transport texts: SO PINs arrive Base64-encoded
// and AES-128-ECB encrypted under the token's 16-character serial. The texts
// below were made with OpenSSL, independently of the library:
//
//   key=$(printf %s KAVRO-PIN-W04101 | od -An -tx1 | tr -d ' \n')
//   { printf 87654321; head -c 8 /dev/zero; } | openssl enc -aes-128-ecb -nopad -K "$key" | base64
#include "harness.h"

namespace {

using namespace harness;

// A transport text as a Java caller hands it over: ended by a zero byte.
Arg Transport(const std::string &base64) { return Bytes(base64 + std::string(1, '\0')); }

// Serial KAVRO-PIN-W04101: SO PINs 87654321, 11223344 and 00000000.
const char *const k4101So = "dCHEXvyL4dMX+UN1PtDvow==";
const char *const k4101NewSo = "gzP+SHouXrv6Yg7ErEfpJA==";
const char *const k4101WrongSo = "lccwdVVGFnugETMAGt/rcQ==";
// Serial KAVRO-PIN-W04102: 87654321 and 00000000.
const char *const k4102So = "Tf5SkMw2jGnoWUkiZ6yFZg==";
const char *const k4102WrongSo = "PJ8N5ifvrhj34D+aCgw/lA==";
// Serial KAVRO-PIN-W04103: 87654321.
const char *const k4103So = "CM79+qcdGsUpN4ctZIBzDg==";

const char *const kSoPinHex = "3837363534333231";     // 87654321
const char *const kNewSoPinHex = "3131323233333434";  // 11223344

const CaseTable table("pins", {
    Case{"SetSoPin: transport texts decrypted under the token serial reach C_Login and C_SetPIN", {
        Mock(2, "reset; slot 0x4101 serial=KAVRO-PIN-W04101 sopin=87654321"),
        Call("GetSlotList", {Int(2), Null(), Null()}).Returns(0),
        Call("ConnectToken", {Int(2), Int(0x4101)}).ReturnsNonZero().Save("session"),
        Mock(2, "journal-clear"),
        Call("SetSoPin", {Int(2), Int(0x4101), Transport(k4101So).As("old"), Transport(k4101NewSo).As("new")})
            .Returns(0),
        JournalCalls(2, {"C_GetTokenInfo", "C_Logout", "C_Login", "C_SetPIN", "C_Logout"}),
        JournalHas(2, std::string("C_Login session=${session} user=0 pin=") + kSoPinHex),
        JournalHas(2, std::string("C_SetPIN session=${session} old=") + kSoPinHex + " new=" + kNewSoPinHex),
        StateHas(2, 0x4101, std::string("login=none")),
        StateHas(2, 0x4101, std::string("sopin=") + kNewSoPinHex),
        GivenBack("old", Release::kWipedDiscard),
        GivenBack("new", Release::kWipedDiscard),
        BytesAre("old", k4101So + std::string(1, '\0')),
        // A wrong SO PIN gives the tries left; a text under another token's
        // serial decrypts to a wrong PIN as well.
        Call("SetSoPin", {Int(2), Int(0x4101), Transport(k4101WrongSo), Transport(k4101So)}).Returns(2),
        Call("SetSoPin", {Int(2), Int(0x4101), Transport(k4102So), Transport(k4101So)}).Returns(1),
        StateHas(2, 0x4101, std::string("sopin=") + kNewSoPinHex),
        Call("SetSoPin", {Int(2), Int(0x4101), Transport(k4101NewSo), Transport(k4101So)}).Returns(0),
        StateHas(2, 0x4101, std::string("sopin=") + kSoPinHex),
        StateHas(2, 0x4101, "sotries=3"),
        Call("DisconnectToken", {Int(2), Int(0x4101)}).Returns(0),
    }},
    Case{"transport texts that are not Base64 give -1, not whole blocks 1003; nothing logs in", {
        Mock(2, "reset; slot 0x4111 serial=KAVRO-PIN-W04101 sopin=87654321"),
        Call("GetSlotList", {Int(2), Null(), Null()}).Returns(0),
        Call("ConnectToken", {Int(2), Int(0x4111)}).ReturnsNonZero(),
        Mock(2, "journal-clear"),
        Call("SetSoPin", {Int(2), Int(0x4111), Transport("QUJDQU\n\n"), Transport(k4101NewSo)})
            .Returns(-1),
        Call("SetSoPin", {Int(2), Int(0x4111), Transport("AAAAAAAAAAAAAAAAAAAA"), Transport(k4101NewSo)})
            .Returns(1003),
        JournalCalls(2, {"C_GetTokenInfo", "C_GetTokenInfo"}),
        // A serial whose text ends early (a zero byte at 5) cannot key the transport.
        Mock(2, "slot 0x4112 serial=hex:41424344004546474849505152535455 sopin=87654321"),
        Call("GetSlotList", {Int(2), Null(), Null()}).Returns(0),
        Call("ConnectToken", {Int(2), Int(0x4112)}).ReturnsNonZero(),
        Call("SetSoPin", {Int(2), Int(0x4112), Transport(k4101So), Transport(k4101NewSo)}).Returns(1004),
        JournalLacks(2, "C_Login"),
        Call("DisconnectToken", {Int(2), Int(0x4111)}).Returns(0),
        Call("DisconnectToken", {Int(2), Int(0x4112)}).Returns(0),
    }},
    Case{"UnlockUserPin: the SO logs in with the decrypted PIN and sets the new user PIN", {
        Mock(2, "reset; slot 0x4102 serial=KAVRO-PIN-W04102 sopin=87654321 usertries=0"),
        Call("GetSlotList", {Int(2), Null(), Null()}).Returns(0),
        Call("ConnectToken", {Int(2), Int(0x4102)}).ReturnsNonZero().Save("session"),
        Mock(2, "journal-clear"),
        Call("UnlockUserPin", {Int(2), Int(0x4102), Transport(k4102WrongSo), Bytes("4321")}).Returns(2),
        JournalLacks(2, "C_InitPIN"),
        Call("UnlockUserPin", {Int(2), Int(0x4102), Transport(k4102So).As("so"), Bytes("4321").As("user")})
            .Returns(0),
        JournalHas(2, std::string("C_Login session=${session} user=0 pin=") + kSoPinHex),
        JournalHas(2, "C_InitPIN session=${session} pin=34333231"),
        StateHas(2, 0x4102, "login=none"),
        StateHas(2, 0x4102, "userpin=34333231"),
        StateHas(2, 0x4102, "usertries=3"),
        GivenBack("so", Release::kWipedDiscard),
        GivenBack("user", Release::kWipedDiscard),
        Call("Login", {Int(2), Int(0x4102), Bytes("4321")}).Returns(0),
        Call("DisconnectToken", {Int(2), Int(0x4102)}).Returns(0),
    }},
    Case{"InitToken: a session of its own, the blank-padded label, the new user PIN", {
        Mock(2, "reset; slot 0x4103 serial=KAVRO-PIN-W04103 sopin=87654321"),
        Call("GetSlotList", {Int(2), Null(), Null()}).Returns(0),
        Call("ConnectToken", {Int(2), Int(0x4103)}).ReturnsNonZero(),
        Mock(2, "journal-clear"),
        Call("InitToken", {Int(2), Int(0x4103), Transport(k4103So), Bytes("5678"), Text("fresh label")}).Returns(0),
        JournalCalls(2, {"C_GetTokenInfo", "C_CloseAllSessions", "C_InitToken", "C_OpenSession", "C_Logout",
                         "C_Login", "C_InitPIN", "C_Logout", "C_CloseSession"}),
        JournalHas(2, std::string("C_InitToken slot=16643 pin=") + kSoPinHex +
                          " label=6672657368206c6162656c202020202020202020202020202020202020202020"),
        JournalHas(2, "pin=35363738"),
        StateHas(2, 0x4103, "sessions=0"),
        StateHas(2, 0x4103, "userpin=35363738"),
        // The slot is left without a session: ConnectToken is needed again.
        Mock(2, "journal-clear"),
        Call("DisconnectToken", {Int(2), Int(0x4103)}).Returns(0),
        JournalCalls(2, {}),
        Call("InitToken", {Int(2), Int(0x4103), Transport(k4103So), Bytes("5678"), Null()}).Returns(1003),
    }},
});

}  // namespace

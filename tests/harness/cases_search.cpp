// Object searches on the token: ListCertSerial lists serial contents in the
// module's order, and every search ends with C_FindObjectsFinal, also when
// the module fails in the middle of it.
#include "harness.h"

namespace {

using namespace harness;

const std::string k5a12 = "5a5a5a5a5a5a5a5a5a5a5a5a";

const CaseTable table("search", {
    Case{"ListCertSerial gives serial contents and closes its search, also after a failure", {
        Mock(1, "reset; slot 0x5101"),
        Call("GetSlotList", {Int(1), Null(), Null()}).Returns(0),
        Call("ConnectToken", {Int(1), Int(0x5101)}).ReturnsNonZero(),
        Mock(1, "object 0x5101 class=cert id=hex:01 serial=hex:020105 handle=700"),
        Mock(1, "object 0x5101 class=cert id=hex:02 serial=hex:02050080a1b2c3 handle=800"),
        Mock(1, "journal-clear"),
        Call("ListCertSerial", {Int(1), Int(0x5101),
                                ByteArrays({std::vector<jbyte>(12, 0x5a), std::vector<jbyte>(12, 0x5a)}).As("serials"),
                                Ints(2, -1).As("lengths"), Ints(1, -1).As("count")})
            .Returns(0),
        IntsAre("count", {2}),
        IntsAre("lengths", {1, 5}),
        // Octets past a serial stay as they were.
        ByteArraysHexAre("serials", {"05" + k5a12.substr(2), "0080a1b2c3" + k5a12.substr(10)}),
        SearchesClosed(1),
        // The module fails while the search is open: its result reaches Java,
        // and the search is closed all the same.
        Mock(1, "journal-clear; fail C_FindObjects 0x30"),
        Call("ListCertSerial", {Int(1), Int(0x5101), Null(), Null(), Ints(1, -1)}).Returns(0x30),
        JournalHas(1, "C_FindObjectsFinal"),
        SearchesClosed(1),
        Mock(1, "journal-clear; fail C_GetAttributeValue 0x6"),
        Call("ListCertSerial", {Int(1), Int(0x5101), ByteArrays({std::vector<jbyte>(12, 0), std::vector<jbyte>(12, 0)}),
                                Ints(2, -1), Ints(1, -1)})
            .Returns(0x6),
        SearchesClosed(1),
        Call("DisconnectToken", {Int(1), Int(0x5101)}).Returns(0),
    }},
    Case{"key lookup through a certificate serial: both searches closed, 1006 and 1007", {
        Mock(1, "reset; slot 0x5201 userpin=1234"),
        Call("GetSlotList", {Int(1), Null(), Null()}).Returns(0),
        Call("ConnectToken", {Int(1), Int(0x5201)}).ReturnsNonZero(),
        Call("Login", {Int(1), Int(0x5201), Bytes("1234")}).Returns(0),
        Mock(1, "object 0x5201 class=cert id=hex:0b serial=hex:02050080a1b2c3"),
        Mock(1, "object 0x5201 class=cert id=hex:0c serial=hex:020177"),
        MockSave(1, "object 0x5201 class=private id=hex:0b private=1", "key"),
        Mock(1, "journal-clear"),
        Call("EnumPrivateKeyByCertSerial", {Int(1), Int(0x5201), BytesHex("0080a1b2c3"), Int(5), Ints(1, -1).As("handle")})
            .Returns(0),
        // The certificate search ends before the key search begins.
        JournalCalls(1, {"C_FindObjectsInit", "C_FindObjects", "C_GetAttributeValue", "C_GetAttributeValue",
                         "C_FindObjectsFinal", "C_FindObjectsInit", "C_FindObjects", "C_FindObjectsFinal"}),
        Mock(1, "journal-clear"),
        // The serial must match exactly: without its leading 0x00 it is another serial.
        Call("EnumPrivateKeyByCertSerial", {Int(1), Int(0x5201), BytesHex("80a1b2c3"), Int(4), Ints(1, -1).As("none")})
            .Returns(1006),
        IntsAre("none", {-1}),
        SearchesClosed(1),
        Mock(1, "journal-clear"),
        Call("EnumPrivateKeyByCertSerial", {Int(1), Int(0x5201), BytesHex("77"), Int(1), Ints(1, -1)}).Returns(1007),
        SearchesClosed(1),
        Call("DisconnectToken", {Int(1), Int(0x5201)}).Returns(0),
    }},
});

}  // namespace

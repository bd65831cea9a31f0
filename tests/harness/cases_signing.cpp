// Sign, Verify and SignByCertSerial against the mock: the mechanism of each
// selector, the data and room the module is given, the signature copied back
// to Java, and the module's verdict on it.
#include "harness.h"

namespace {

using namespace harness;

const char *const kData = "the data to be signed";
const char *const kDataHex = "746865206461746120746f206265207369676e6564";

const CaseTable table("signing", {
    Case{"Sign delivers the module's signature, which Verify accepts and a changed octet spoils", {
        Mock(1, "reset; slot 0x6101"),
        Call("GetSlotList", {Int(1), Null(), Null()}).Returns(0),
        Call("ConnectToken", {Int(1), Int(0x6101)}).ReturnsNonZero().Save("session"),
        MockSave(1, "object 0x6101 class=private id=hex:0b", "private"),
        MockSave(1, "object 0x6101 class=public id=hex:0b", "public"),
        MockSave(1, "object 0x6101 class=public id=hex:0c", "otherPublic"),
        Call("Sign", {Int(1), Int(0x6101), Saved("private"), Int(0), Bytes(kData).As("data"), LengthOf("data"),
                      Bytes(std::string(130, 'x')).As("signature"), Ints(1, -1).As("signatureLength")})
            .Returns(0),
        JournalHas(1, "C_SignInit session=${session} mechanism=0x6 parameterLength=0 key=${private}"),
        JournalHas(1, std::string("C_Sign session=${session} length=21 data=") + kDataHex + " capacity=130"),
        IntsAre("signatureLength", {128}),
        GivenBack("data", Release::kDiscard),
        GivenBack("signature", Release::kCopyBack),
        GivenBack("signatureLength", Release::kCopyBack),
        Call("Verify", {Int(1), Int(0x6101), Saved("public"), Int(0), Bytes(kData), Int(21), Contents("signature"),
                        Int(128)})
            .Returns(0),
        Call("Verify", {Int(1), Int(0x6101), Saved("public"), Int(0), Bytes(kData), Int(21),
                        Contents("signature").WithOctetChanged(7), Int(128)})
            .Returns(0xC0),
        Call("Verify", {Int(1), Int(0x6101), Saved("otherPublic"), Int(0), Bytes(kData), Int(21),
                        Contents("signature"), Int(128)})
            .Returns(0xC0),
        // Selector 1 is another mechanism: another signature.
        Call("Verify", {Int(1), Int(0x6101), Saved("public"), Int(1), Bytes(kData), Int(21), Contents("signature"),
                        Int(128)})
            .Returns(0xC0),
        Mock(1, "journal-clear"),
        Call("Sign", {Int(1), Int(0x6101), Saved("private"), Int(4), Bytes(kData), Int(21), Bytes("x"),
                      Ints(1, -1).As("untouched")})
            .Returns(1008),
        IntsAre("untouched", {-1}),
        JournalCalls(1, {}),
        Call("DisconnectToken", {Int(1), Int(0x6101)}).Returns(0),
    }},
    Case{"SignByCertSerial signs with the key of the certificate that has the serial", {
        Mock(1, "reset; slot 0x6201 userpin=1234"),
        Call("GetSlotList", {Int(1), Null(), Null()}).Returns(0),
        Call("ConnectToken", {Int(1), Int(0x6201)}).ReturnsNonZero(),
        Call("Login", {Int(1), Int(0x6201), Bytes("1234")}).Returns(0),
        Mock(1, "object 0x6201 class=cert id=hex:0b serial=hex:02050080a1b2c3"),
        MockSave(1, "object 0x6201 class=private id=hex:0b private=1", "private"),
        MockSave(1, "object 0x6201 class=public id=hex:0b", "public"),
        Mock(1, "journal-clear"),
        Call("SignByCertSerial", {Int(1), Int(0x6201), BytesHex("0080a1b2c3"), Int(5), Int(2), Bytes(kData), Int(21),
                                  Bytes(std::string(128, 'x')).As("signature"), Ints(1, -1).As("length")})
            .Returns(0),
        IntsAre("length", {128}),
        JournalHas(1, "mechanism=0x5 parameterLength=0 key=${private}"),
        SearchesClosed(1),
        Call("Verify", {Int(1), Int(0x6201), Saved("public"), Int(2), Bytes(kData), Int(21), Contents("signature"),
                        Int(128)})
            .Returns(0),
        Call("Sign", {Int(1), Int(0x6201), Saved("private"), Int(2), Bytes(kData), Int(21),
                      Bytes(std::string(128, 'x')).As("byHandle"), Ints(1, -1)})
            .Returns(0),
        SameBytes("byHandle", "signature"),
        Call("DisconnectToken", {Int(1), Int(0x6201)}).Returns(0),
    }},
});

}  // namespace

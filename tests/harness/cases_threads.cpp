// Several threads at once, each on a fake JVM of its own: on one slot of
// the mock, whose calls must never meet on the slot's session (the mock
// holds each call open a while and notes any that arrive beside it), with
// discovery running beside them; and on the personal store. Every answer is
// checked against one made before the threads started. Under
// ThreadSanitizer (the linux-tsan preset) these cases are its workload.
#include "harness.h"

namespace {

using namespace harness;

Arg Zeros(std::size_t length) { return Bytes(std::string(length, '\0')); }

Call Hash() {
    return Call("Hash", {Int(2), Int(0x6101), Int(0), Bytes("threads"), Int(7), Zeros(20).As("digest"), Ints(1, 0)});
}
Call Sign() {
    return Call("Sign", {Int(2), Int(0x6101), Saved("key"), Int(0), Bytes("threads"), Int(7), Zeros(128).As("signature"),
                         Ints(1, 0)});
}
Call StoreSign() {
    return Call("SignByCSP", {Int(1), File("serials/two.bin").As("serial"), LengthOf("serial"), Int(0),
                              File("data.txt").As("data"), LengthOf("data"), Zeros(300).As("storeSignature"),
                              Ints(1, -1)});
}

const CaseTable table("threads", {
    Case{"one slot from four threads, discovery and SO logins beside them: each call its own answer, none meets "
         "another", {
        Mock(2, "reset; slot 0x6101 serial=KAVROSERIAL00002; slot 0x6102"),
        MockSave(2, "object 24833 class=private private=0 id=hex:01", "key"),
        Mock(2, "object 24833 class=cert id=hex:01 serial=hex:020105"),
        Call("GetSlotList", {Int(2), Null(), Null()}).Returns(0),
        Call("ConnectToken", {Int(2), Int(0x6101)}).ReturnsNonZero(),
        Hash().Returns(0),
        SaveHex("digest", "digest"),
        Sign().Returns(0),
        SaveHex("signature", "signature"),
        Mock(2, "journal-clear; set overlap.window.us 50"),
        AtOnce(4, 30, {
            Hash().Returns(0),
            BytesHexAre("digest", "${digest}"),
            Sign().Returns(0),
            BytesHexAre("signature", "${signature}"),
            Call("ListCertSerial", {Int(2), Int(0x6101), Null(), Null(), Ints(1, -1).As("count")}).Returns(0),
            IntsAre("count", {1}),
            Call("RetrieveSerial", {Int(2), Int(0x6101)}).ReturnsText("KAVROSERIAL00002"),
            Call("GetSlotList", {Int(2), Null(), Null()}).Returns(0),
            Call("VerifySoPin", {Int(2), Int(0x6101), Bytes("87654321")}).Returns(0),
        }),
        JournalLacks(2, "overlap"),
        Call("DisconnectToken", {Int(2), Int(0x6101)}).Returns(0),
        Mock(2, "set overlap.window.us 0"),
    }},
    Case{"the personal store from four threads: each signature the same, each verifies", {
        StoreSign().Returns(0),
        SaveHex("storeSignature", "storeSignature"),
        AtOnce(4, 10, {
            StoreSign().Returns(0),
            BytesHexAre("storeSignature", "${storeSignature}"),
            Call("VerifyByCSP", {Int(3), File("certs/two.der").As("der"), LengthOf("der"), Int(0),
                                 File("data.txt").As("data"), LengthOf("data"),
                                 File("sigs/two.sig").Reversed().As("sig"), LengthOf("sig")}).Returns(0),
        }),
    }},
});

}  // namespace

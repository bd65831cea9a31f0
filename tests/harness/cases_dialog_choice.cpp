// A certificate chosen in the selection dialog, under Wine: the store holds
// "one" (serial 05) alone, and the driver presses Return in each dialog,
// which takes the row the dialog offers selected. Run only when named, with
// that store and driver (tests/scripts/wine-store-swap.sh); on Linux the
// Java dialog tests choose rows in zenity's list.
#include "harness.h"

namespace {

using namespace harness;

const CaseTable table("dialog-choice", {
    Case{"ListCertByCSP gives the chosen certificate's serial", {
        Call("ListCertByCSP", {}).ReturnsBytesHex("05"),
    }},
    Case{"SignByCSP(SelectInDialog) signs with the chosen certificate's key", {
        Call("SignByCSP", {Int(0), Null(), Int(0), Int(0), File("data.txt").As("data"), LengthOf("data"),
                           Bytes(std::string(300, '\x5a')).As("signature"), Ints(1, -1).As("length")})
            .Returns(0),
        IntsAre("length", {256}),
        SaveBytes("signature", "signed/dialog-one.sig", 256),
    }},
    Case{"VerifyByCSP(SelectInDialog) verifies with the chosen certificate", {
        Call("VerifyByCSP", {Int(0), Null(), Int(0), Int(0), File("data.txt").As("data"), LengthOf("data"),
                             File("sigs/one.sig").Reversed().As("signature"), LengthOf("signature")})
            .Returns(0),
    }},
}, CaseTable::Run::kWhenNamed);

}  // namespace

// The certificate selection dialog closed without a choice. Each case shows
// the dialog once, the one with two threads twice, one after the other: run
// with a display, a driver closes each window with Escape
// (tests/scripts/drive_dialogs.sh counts them, and fails when two are shown
// at once); run without one, no dialog can be shown, and the library
// answers as for a cancelled dialog.
#include "harness.h"

namespace {

using namespace harness;

const CaseTable table("dialog", {
    Case{"ListCertByCSP gives null when no certificate is chosen", {
        Call("ListCertByCSP", {}).ReturnsNull(),
    }},
    Case{"SignByCSP(SelectInDialog) gives 1302 and leaves the output arrays alone", {
        Call("SignByCSP", {Int(0), BytesHex("05").As("serial"), Int(99), Int(0), File("data.txt").As("data"),
                           LengthOf("data"), Bytes("unchanged").As("signature"), Ints(1, -1).As("length")})
            .Returns(1302),
        BytesAre("signature", "unchanged"),
        IntsAre("length", {-1}),
        // The dialog ignores serial and serialLength.
        GivenBack("serial", Release::kNeverTaken),
    }},
    Case{"ListCertByCSP from two threads at once: one dialog after the other, both null", {
        AtOnce(2, 1, {Call("ListCertByCSP", {}).ReturnsNull()}),
    }},
    Case{"VerifyByCSP(SelectInDialog) gives 1302", {
        Call("VerifyByCSP", {Int(0), Null(), Int(0), Int(0), File("data.txt").As("data"), LengthOf("data"),
                             File("sigs/one.sig").Reversed().As("signature"), LengthOf("signature")})
            .Returns(1302),
    }},
});

}  // namespace

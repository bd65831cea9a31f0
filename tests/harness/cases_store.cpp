// The personal store: SignByCSP and VerifyByCSP by serial, and VerifyByCSP
// with certificates given as PEM text, DER octets and files. The same rows
// run against the NSS database on Linux and against Wine's CryptoAPI store;
// both hold what tests/scripts/make_harness_store.sh made:
//   one (serial 05), two (00 80 A1 B2 C3), twenty (20 octets), long (60),
//   verylong (120) and expired: RSA-2048 keys; ec: a P-256 key; lone: no key.
// Signatures made here are written to signed/ for OpenSSL to verify after
// reversal (tests/scripts/check_store_signatures.sh); those OpenSSL made
// are in sigs/, most significant octet first.
#include "harness.h"

namespace {

using namespace harness;

const char *const kKeyed[] = {"one", "two", "twenty", "long", "verylong", "expired"};

// What an output array holds before a call: 0x5A in every octet.
Arg Filled(std::size_t length) { return Bytes(std::string(length, '\x5a')); }
std::string FilledHex(std::size_t length) {
    std::string hex;
    for (std::size_t i = 0; i < length; ++i) hex += "5a";
    return hex;
}

Arg Serial(const std::string &name) { return File("serials/" + name + ".bin"); }
// An OpenSSL signature in the library's order: least significant octet first.
Arg Signature(const std::string &name) { return File("sigs/" + name + ".sig").Reversed(); }
Arg Data() { return File("data.txt"); }

// SignByCSP by serial over data.txt into a 300-octet array "signature" and
// the length array "length".
Call SignBySerial(Arg serial, Arg serialLength) {
    return Call("SignByCSP", {Int(1), serial.As("serial"), serialLength, Int(0), Data().As("data"), LengthOf("data"),
                              Filled(300).As("signature"), Ints(1, -1).As("length")});
}

// VerifyByCSP of data.txt from a source, with the whole certificate and signature.
Call Verify(int source, Arg certificate, Arg signature) {
    return Call("VerifyByCSP", {Int(source), certificate.As("certificate"), LengthOf("certificate"), Int(0),
                                Data().As("data"), LengthOf("data"), signature.As("signature"), LengthOf("signature")});
}

Step Untouched() { return BytesHexAre("signature", FilledHex(300)); }

std::vector<Step> EveryKeyedCertificateSigns() {
    std::vector<Step> steps;
    for (const char *name : kKeyed) {
        steps.push_back(SignBySerial(Serial(name), LengthOf("serial")).Returns(0));
        steps.push_back(IntsAre("length", {256}));
        steps.push_back(GivenBack("signature", Release::kCopyBack));
        steps.push_back(SaveBytes("signature", std::string("signed/") + name + ".sig", 256));
    }
    return steps;
}

std::vector<Step> EveryKeyedCertificateVerifies() {
    std::vector<Step> steps;
    for (const std::string name : kKeyed) {
        steps.push_back(Verify(1, Serial(name), Signature(name)).Returns(0));
        steps.push_back(Verify(2, File("pem-text/" + name + ".pem"), Signature(name)).Returns(0));
        steps.push_back(Verify(3, File("certs/" + name + ".der"), Signature(name)).Returns(0));
        steps.push_back(Verify(4, PathOf("certs/" + name + ".pem"), Signature(name)).Returns(0));
        steps.push_back(Verify(4, PathOf("certs/" + name + ".der"), Signature(name)).Returns(0));
    }
    return steps;
}

std::vector<Step> WrongSignaturesFromEverySource() {
    const Arg certificates[] = {Serial("two"), File("pem-text/two.pem"), File("certs/two.der"),
                                PathOf("certs/two.pem")};
    std::vector<Step> steps;
    for (int source = 1; source <= 4; ++source) {
        const Arg &certificate = certificates[source - 1];
        steps.push_back(Call("VerifyByCSP", {Int(source), certificate.As("certificate"), LengthOf("certificate"),
                                             Int(0), Data().WithOctetChanged(5).As("data"), LengthOf("data"),
                                             Signature("two").As("signature"), LengthOf("signature")})
                            .Returns(1308));
        steps.push_back(Verify(source, certificate, File("sigs/two.sig")).Returns(1308));
        steps.push_back(Verify(source, certificate, Signature("one")).Returns(1308));
        steps.push_back(Call("VerifyByCSP", {Int(source), certificate.As("certificate"), LengthOf("certificate"),
                                             Int(0), Data().As("data"), LengthOf("data"),
                                             Signature("two").As("signature"), LengthOf("signature", -1)})
                            .Returns(1308));
        steps.push_back(Verify(source, certificate, Bytes("")).Returns(1308));
        // The right signature still verifies.
        steps.push_back(Verify(source, certificate, Signature("two")).Returns(0));
    }
    return steps;
}

std::vector<Step> OutOfRange() {
    std::vector<Step> steps;
    for (int source : {5, -1, 100}) {
        steps.push_back(Verify(source, File("certs/two.der"), Signature("two")).Returns(1003));
    }
    for (int source : {1, 2, 3, 4}) {
        steps.push_back(Call("VerifyByCSP", {Int(source), Null(), Int(0), Int(0), Data().As("data"), LengthOf("data"),
                                             Signature("two").As("signature"), LengthOf("signature")})
                            .Returns(1003));
        steps.push_back(Call("VerifyByCSP", {Int(source), File("certs/two.der").As("der"), LengthOf("der", 1), Int(0),
                                             Data().As("data"), LengthOf("data"), Signature("two").As("signature"),
                                             LengthOf("signature")})
                            .Returns(1003));
        steps.push_back(Call("VerifyByCSP", {Int(source), File("certs/two.der"), Int(-1), Int(0), Data().As("data"),
                                             LengthOf("data"), Signature("two").As("signature"),
                                             LengthOf("signature")})
                            .Returns(1003));
    }
    const Arg der = File("certs/two.der").As("der");
    steps.push_back(Call("VerifyByCSP", {Int(3), der, LengthOf("der"), Int(0), Data().As("data"), LengthOf("data", 1),
                                         Signature("two").As("signature"), LengthOf("signature")})
                        .Returns(1003));
    steps.push_back(Call("VerifyByCSP", {Int(3), der, LengthOf("der"), Int(0), Data(), Int(-1),
                                         Signature("two").As("signature"), LengthOf("signature")})
                        .Returns(1003));
    steps.push_back(Call("VerifyByCSP", {Int(3), der, LengthOf("der"), Int(0), Data().As("data"), LengthOf("data"),
                                         Signature("two").As("signature"), LengthOf("signature", 1)})
                        .Returns(1003));
    steps.push_back(Call("VerifyByCSP", {Int(3), der, LengthOf("der"), Int(0), Data().As("data"), LengthOf("data"),
                                         Signature("two"), Int(-1)})
                        .Returns(1003));
    steps.push_back(Call("VerifyByCSP", {Int(3), der, LengthOf("der"), Int(0), Null(), Int(0),
                                         Signature("two").As("signature"), LengthOf("signature")})
                        .Returns(1003));
    steps.push_back(Call("VerifyByCSP", {Int(3), der, LengthOf("der"), Int(0), Data().As("data"), LengthOf("data"),
                                         Null(), Int(0)})
                        .Returns(1003));
    return steps;
}

const CaseTable table("store", {
    // First, while the profile has no default key container (under Wine the
    // store's fill removes it): acquiring the verifying provider must not
    // race on creating it.
    Case{"VerifyByCSP: the first calls, eight threads at once, all verify", {
        AtOnce(8, 1, {Verify(3, File("certs/two.der"), Signature("two")).Returns(0)}),
    }},
    Case{"SignByCSP by serial: only the exact serial content matches, its leading 0x00 included", {
        SignBySerial(BytesHex("80a1b2c3"), Int(4)).Returns(1011),
        SignBySerial(BytesHex("0080a1b2c3"), Int(4)).Returns(1011),
        SignBySerial(Bytes(""), Int(0)).Returns(1011),
        SignBySerial(BytesHex("06"), Int(1)).Returns(1011),
        IntsAre("length", {-1}),
        Untouched(),
        GivenBack("serial", Release::kDiscard),
        // serialLength counts, not the array's length.
        SignBySerial(BytesHex("0577"), Int(1)).Returns(0),
        IntsAre("length", {256}),
        SaveBytes("signature", "signed/one-prefix.sig", 256),
        SignBySerial(BytesHex("0080a1b2c3"), Int(5)).Returns(0),
        IntsAre("length", {256}),
        SignBySerial(BytesHex("7f0102030405060708090a0b0c0d0e0f10111213"), Int(20)).Returns(0),
    }},
    Case{"SignByCSP: every RSA key signs, 256 octets, least significant first", EveryKeyedCertificateSigns()},
    Case{"SignByCSP: certificates without an RSA private key give 1303", {
        SignBySerial(Serial("lone"), LengthOf("serial")).Returns(1303),
        SignBySerial(Serial("ec"), LengthOf("serial")).Returns(1303),
        IntsAre("length", {-1}),
        Untouched(),
    }},
    Case{"SignByCSP: sources other than dialog and serial, and a null serial, give 1003", {
        Call("SignByCSP", {Int(2), Serial("one").As("serial"), LengthOf("serial"), Int(0), Data().As("data"),
                           LengthOf("data"), Filled(300).As("signature"), Ints(1, -1).As("length")}).Returns(1003),
        GivenBack("serial", Release::kNeverTaken),
        GivenBack("signature", Release::kNeverTaken),
        Call("SignByCSP", {Int(5), Serial("one").As("serial"), LengthOf("serial"), Int(0), Data().As("data"),
                           LengthOf("data"), Filled(300), Ints(1, -1)}).Returns(1003),
        Call("SignByCSP", {Int(-1), Serial("one").As("serial"), LengthOf("serial"), Int(0), Data().As("data"),
                           LengthOf("data"), Filled(300), Ints(1, -1)}).Returns(1003),
        SignBySerial(Null(), Int(0)).Returns(1003),
        IntsAre("length", {-1}),
        Untouched(),
    }},
    Case{"SignByCSP: output arrays too short or missing are refused once the key is found", {
        Call("SignByCSP", {Int(1), Serial("one").As("serial"), LengthOf("serial"), Int(0), Data().As("data"),
                           LengthOf("data"), Filled(255).As("short"), Ints(1, -1).As("length")}).Returns(1003),
        BytesHexAre("short", FilledHex(255)),
        IntsAre("length", {-1}),
        Call("SignByCSP", {Int(1), Serial("one").As("serial"), LengthOf("serial"), Int(0), Data().As("data"),
                           LengthOf("data"), Filled(256).As("exact"), Ints(1, -1).As("length")}).Returns(0),
        IntsAre("length", {256}),
        Call("SignByCSP", {Int(1), Serial("one").As("serial"), LengthOf("serial"), Int(0), Null(), Int(0),
                           Filled(300), Ints(1, -1)}).Returns(1003),
        Call("SignByCSP", {Int(1), Serial("one").As("serial"), LengthOf("serial"), Int(0), Data().As("data"),
                           LengthOf("data"), Null(), Ints(1, -1)}).Returns(1003),
        Call("SignByCSP", {Int(1), Serial("one").As("serial"), LengthOf("serial"), Int(0), Data().As("data"),
                           LengthOf("data"), Filled(300), Null()}).Returns(1003),
        Call("SignByCSP", {Int(1), Serial("one").As("serial"), LengthOf("serial"), Int(0), Data().As("data"),
                           LengthOf("data"), Filled(300).As("signature"), Ints({}).As("empty")}).Returns(1003),
        Untouched(),
        // The key is looked for first: a keyless certificate answers 1303 even so.
        Call("SignByCSP", {Int(1), Serial("lone").As("serial"), LengthOf("serial"), Int(0), Null(), Int(0), Null(),
                           Null()}).Returns(1303),
    }},
    Case{"SignByCSP: lengths beyond their arrays are refused before the store is opened", {
        SignBySerial(Serial("one"), LengthOf("serial", 1)).Returns(1003),
        SignBySerial(Serial("one"), Int(-1)).Returns(1003),
        Call("SignByCSP", {Int(1), BytesHex("06"), Int(1), Int(0), Data().As("data"), LengthOf("data", 1),
                           Filled(300).As("signature"), Ints(1, -1).As("length")}).Returns(1003),
        Call("SignByCSP", {Int(1), BytesHex("05"), Int(1), Int(0), Data().As("data"), Int(-1),
                           Filled(300).As("signature"), Ints(1, -1).As("length")}).Returns(1003),
        IntsAre("length", {-1}),
        Untouched(),
    }},
    Case{"VerifyByCSP: OpenSSL signatures verify from the store, as PEM text, as DER and from files",
         EveryKeyedCertificateVerifies()},
    Case{"VerifyByCSP: a changed octet, unreversed, foreign, short or empty signatures give 1308",
         WrongSignaturesFromEverySource()},
    Case{"VerifyByCSP takes what SignByCSP made, over the data's first dataLength octets only", {
        Call("SignByCSP", {Int(1), Serial("twenty").As("serial"), LengthOf("serial"), Int(0), Data().As("data"),
                           Int(4), Filled(256).As("signature"), Ints(1, -1).As("length")}).Returns(0),
        Call("VerifyByCSP", {Int(1), Serial("twenty").As("certificate"), LengthOf("certificate"), Int(0), Data(),
                             Int(4), Contents("signature").As("made"), LengthOf("made")}).Returns(0),
        Call("VerifyByCSP", {Int(3), File("certs/twenty.der").As("certificate"), LengthOf("certificate"), Int(0),
                             Bytes("data"), Int(4), Contents("signature").As("made"), LengthOf("made")}).Returns(0),
        Call("VerifyByCSP", {Int(1), Serial("twenty").As("certificate"), LengthOf("certificate"), Int(0), Data(),
                             Int(4), Contents("signature").Reversed().As("made"), LengthOf("made")}).Returns(1308),
        Call("VerifyByCSP", {Int(1), Serial("twenty").As("certificate"), LengthOf("certificate"), Int(0),
                             Data().As("data"), LengthOf("data"), Contents("signature").As("made"), LengthOf("made")})
            .Returns(1308),
    }},
    Case{"VerifyByCSP: PEM files may end with LF, CRLF or nothing; PEM text must end with the marker", {
        Verify(4, PathOf("certs/two.pem"), Signature("two")).Returns(0),
        Verify(4, PathOf("files/two-crlf.pem"), Signature("two")).Returns(0),
        Verify(4, PathOf("pem-text/two.pem"), Signature("two")).Returns(0),
        Verify(2, File("pem-text/two.pem"), Signature("two")).Returns(0),
        Verify(2, File("certs/two.pem"), Signature("two")).Returns(1202),
        Verify(2, File("files/two-crlf.pem"), Signature("two")).Returns(1202),
    }},
    Case{"VerifyByCSP: files that hold no certificate, or cannot be read whole, give their codes", {
        Verify(4, PathOf("files/bom.pem"), Signature("two")).Returns(1302),
        Verify(4, PathOf("files/empty.pem"), Signature("two")).Returns(1302),
        Verify(4, PathOf("files/missing.pem"), Signature("two")).Returns(1305),
        Verify(4, PathOf("files"), Signature("two")).Returns(1305),
        Verify(4, PathOf("files/large.der"), Signature("two")).Returns(1305),
        Verify(4, PathOf("files/noend.pem"), Signature("two")).Returns(1202),
        Verify(4, PathOf("files/short.pem"), Signature("two")).Returns(1302),
    }},
    Case{"VerifyByCSP: octets that are no certificate give 1302", {
        Call("VerifyByCSP", {Int(3), File("certs/two.der").As("der"), LengthOf("der", -1), Int(0), Data().As("data"),
                             LengthOf("data"), Signature("two").As("signature"), LengthOf("signature")}).Returns(1302),
        Verify(3, BytesHex("3000"), Signature("two")).Returns(1302),
        Verify(3, Bytes(""), Signature("two")).Returns(1302),
        Verify(2, Bytes("-----BEGIN CERTIFICATE-----\n-----END CERTIFICATE-----"), Signature("two")).Returns(1302),
    }},
    Case{"VerifyByCSP: only the public key counts; an EC key cannot be imported (1307)", {
        Verify(1, Serial("expired"), Signature("expired")).Returns(0),
        Verify(3, File("certs/expired.der"), Signature("expired")).Returns(0),
        Verify(1, Serial("lone"), Signature("two")).Returns(1308),
        Verify(3, File("certs/ec.der"), Signature("two")).Returns(1307),
        Verify(1, Serial("ec"), Signature("two")).Returns(1307),
        Verify(1, BytesHex("80a1b2c3"), Signature("two")).Returns(1011),
    }},
    Case{"VerifyByCSP: sources out of range, null arrays and lengths beyond them give 1003", OutOfRange()},
    Case{"VerifyByCSP: certificates longer than the working buffers are refused", {
        Verify(3, File("files/large.der"), Signature("two")).Returns(1003),
        Verify(2, File("files/large.der"), Signature("two")).Returns(1003),
        Call("VerifyByCSP", {Int(3), File("certs/two.der").As("der"), LengthOf("der"), Int(0), Data().As("data"),
                             LengthOf("data"), Signature("two").As("signature"), LengthOf("signature")}).Returns(0),
        Call("VerifyByCSP", {Int(3), File("files/large.der").As("large"), LengthOf("der"), Int(0), Data().As("data"),
                             LengthOf("data"), Signature("two").As("signature"), LengthOf("signature")}).Returns(0),
        Verify(4, Bytes("/" + std::string(259, 'a')), Signature("two")).Returns(1003),
        Verify(4, Bytes("/" + std::string(258, 'a')), Signature("two")).Returns(1305),
    }},
});

}  // namespace

// UnwrapPem: line-end conventions, markers, the body rules and the output room.
#include "codec/pem.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kavro {
namespace {

// A small self-signed certificate (P-256, 364 DER octets), in 64-character lines.
const char *const kBodyLines[] = {
    "MIIBaDCCAQ+gAwIBAgICAQIwCgYIKoZIzj0EAwIwEzERMA8GA1UEAwwIUGVtIFRl",
    "c3QwHhcNMjYxMjA3MjMzNzMzWhcNMzYxMjA0MjMzNzMzWjATMREwDwYDVQQDDAhQ",
    "ZW0gVGVzdDBZMBMGByqGSM49AgEGCCqGSM49AwEHA0IABJtWXWxTt1Ml5tM/egCf",
    "+1wWQFysBihHhwQk7/2v/UwEByA0fAo/iuby42c5fA/lRveXtzMlTIQJrCnW5DN5",
    "HzijUzBRMB0GA1UdDgQWBBSbVZxFlsoR3EckXYEDziQQbfI/+zAfBgNVHSMEGDAW",
    "gBSbVZxFlsoR3EckXYEDziQQbfI/+zAPBgNVHRMBAf8EBTADAQH/MAoGCCqGSM49",
    "BAMCA0cAMEQCIFTWCbl/tZBoVdSQ84QVybJQHOqTmrR2QwbjWrLar73qAiAY+8Hx",
    "fVmtCM9bvQmPLA9hNTeo4/GTyVUDvCW0+RSF7g==",
};
const std::string kBegin = "-----BEGIN CERTIFICATE-----";
const std::string kEnd = "-----END CERTIFICATE-----";

std::string Pem(const std::string &lineEnd) {
    std::string text = kBegin + lineEnd;
    for (const char *line : kBodyLines) {
        text += line + lineEnd;
    }
    return text + kEnd;
}

struct Unwrapped {
    int result;
    std::vector<unsigned char> der;
    std::size_t length;
};

constexpr std::size_t kUntouched = 99999;

Unwrapped Unwrap(const std::string &text, std::size_t capacity = 4096) {
    std::vector<unsigned char> output(capacity + 8, 0xA5);
    std::size_t length = kUntouched;
    int result = UnwrapPem(reinterpret_cast<const unsigned char *>(text.data()), text.size(), output.data(),
                           capacity, &length);
    // Nothing is written past the capacity.
    EXPECT_EQ(std::vector<unsigned char>(output.begin() + static_cast<long>(capacity), output.end()),
              std::vector<unsigned char>(8, 0xA5));
    output.resize(result == kPemUnwrapped ? length : 0);
    return {result, output, length};
}

std::string Wrapped(const std::string &body) { return kBegin + "\n" + body + "\n" + kEnd; }

std::string Text(const std::vector<unsigned char> &bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(UnwrapPem, LineEndsDoNotChangeTheDer) {
    Unwrapped lf = Unwrap(Pem("\n"));
    ASSERT_EQ(lf.result, kPemUnwrapped);
    // A whole DER certificate: SEQUENCE with a two-octet length that covers the rest.
    ASSERT_EQ(lf.length, 364u);
    EXPECT_EQ(lf.der[0], 0x30);
    EXPECT_EQ(lf.der[1], 0x82);
    EXPECT_EQ((lf.der[2] << 8 | lf.der[3]) + 4, 364);

    EXPECT_EQ(Unwrap(Pem("\r\n")).der, lf.der);
    EXPECT_EQ(Unwrap(Pem("")).der, lf.der);  // a single line without breaks
    EXPECT_EQ(Unwrap(Pem("\r")).der, lf.der);
}

TEST(UnwrapPem, TheEndMarkerMustBeTheVeryLastOctets) {
    for (const std::string &tail : {std::string("\n"), std::string("\r\n"), std::string(" "), std::string(1, '\0')}) {
        Unwrapped unwrapped = Unwrap(Pem("\n") + tail);
        EXPECT_EQ(unwrapped.result, kPemNoMarkers);
        EXPECT_EQ(unwrapped.length, kUntouched);
    }
    EXPECT_EQ(Unwrap(kBegin + "\nZm9v\n").result, kPemNoMarkers);
    EXPECT_EQ(Unwrap(kBegin + "\nZm9v\n-----END CERTIFICATE----").result, kPemNoMarkers);
}

TEST(UnwrapPem, OnlyTheCertificateLabelInUpperCaseIsAccepted) {
    for (const std::string &label : {"TRUSTED CERTIFICATE", "X509 CERTIFICATE", "CERTIFICATE REQUEST"}) {
        EXPECT_EQ(Unwrap("-----BEGIN " + label + "-----\nZm9v\n-----END " + label + "-----").result,
                  kPemNoMarkers)
            << label;
    }
    EXPECT_EQ(Unwrap("-----begin certificate-----\nZm9v\n" + kEnd).result, kPemNoMarkers);
    EXPECT_EQ(Unwrap(kBegin + "\nZm9v\n-----end certificate-----").result, kPemNoMarkers);
    EXPECT_EQ(Unwrap(" " + Wrapped("Zm9v")).result, kPemNoMarkers);
    EXPECT_EQ(Unwrap("-----BEGIN CERT").result, kPemNoMarkers);  // shorter than the marker
    EXPECT_EQ(Unwrap(kBegin).result, kPemNoMarkers);
}

TEST(UnwrapPem, EmptyInputGivesNoOctets) {
    Unwrapped empty = Unwrap("");
    EXPECT_EQ(empty.result, kPemUnwrapped);
    EXPECT_EQ(empty.length, 0u);
    // Markers with nothing between them: an empty body.
    Unwrapped noBody = Unwrap(kBegin + kEnd);
    EXPECT_EQ(noBody.result, kPemUnwrapped);
    EXPECT_EQ(noBody.length, 0u);
}

TEST(UnwrapPem, ADashEndsTheBody) {
    EXPECT_EQ(Text(Unwrap(Wrapped("Zm9v-YmFy")).der), "foo");
    // A header line: its letters are collected until its '-'.
    EXPECT_EQ(Unwrap(Wrapped("Proc-Type: 4,ENCRYPTED\nZm9vYmFy")).length, 3u);  // "Proc" decodes to 3 octets
}

TEST(UnwrapPem, OctetsOutsideTheBase64AlphabetAreIgnored) {
    EXPECT_EQ(Text(Unwrap(Wrapped("Zm\x80 9v\tYm\xff\x01" "Fy")).der), "foobar");
    EXPECT_EQ(Text(Unwrap(Wrapped("Zm9v\r\n\r\n\r\n\r\n")).der), "foo");  // line ends after the last group
    EXPECT_EQ(Text(Unwrap(Wrapped("Zm9vYm")).der), "foo");  // leftover characters are dropped
}

TEST(UnwrapPem, AnEqualsSignEndsTheDecodingWithItsGroup) {
    EXPECT_EQ(Text(Unwrap(Wrapped("Zg==Zm9v")).der), "f");
    EXPECT_EQ(Text(Unwrap(Wrapped("Zm9vYm8=Zm9v")).der), "foobo");
}

TEST(UnwrapPem, ABodyLargerThanTheOutputIsRefused) {
    EXPECT_EQ(Text(Unwrap(Wrapped("Zm9vYmFy"), 6).der), "foobar");
    Unwrapped tooSmall = Unwrap(Wrapped("Zm9vYmFy"), 5);
    EXPECT_EQ(tooSmall.result, kPemFailed);
    EXPECT_EQ(tooSmall.length, kUntouched);
    EXPECT_EQ(Unwrap(Pem("\n"), 363).result, kPemFailed);
}

}  // namespace
}  // namespace kavro

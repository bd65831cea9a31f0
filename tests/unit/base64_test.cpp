// Base64Decode: RFC 4648 vectors and the lenient and strict rules.
#include "codec/base64.h"

#include "kavro/result_code.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace kavro {
namespace {

struct Decoded {
    int result;
    std::string bytes;
    std::size_t length;
};

Decoded Decode(const std::string &text, std::size_t capacity = 2048) {
    std::string output(capacity + 16, '\x55');
    std::size_t length = 12345;
    int result = Base64Decode(reinterpret_cast<const unsigned char *>(text.data()), text.size(),
                              reinterpret_cast<unsigned char *>(&output[0]), capacity, &length);
    // Nothing may be written past the capacity.
    EXPECT_EQ(output.substr(capacity), std::string(16, '\x55'));
    return {result, result == kOk ? output.substr(0, length) : output, length};
}

TEST(Base64Decode, Rfc4648Vectors) {
    const char *vectors[][2] = {{"", ""},           {"Zg==", "f"},         {"Zm8=", "fo"},      {"Zm9v", "foo"},
                                {"Zm9vYg==", "foob"}, {"Zm9vYmE=", "fooba"}, {"Zm9vYmFy", "foobar"}};
    for (auto &vector : vectors) {
        Decoded decoded = Decode(vector[0]);
        EXPECT_EQ(decoded.result, kOk) << vector[0];
        EXPECT_EQ(decoded.bytes, vector[1]) << vector[0];
    }
}

TEST(Base64Decode, TextsShorterThanAGroupDecodeToNothing) {
    for (const char *text : {"", "A", "AB", "ABC", "===", "\n\n\n"}) {
        Decoded decoded = Decode(text);
        EXPECT_EQ(decoded.result, kOk) << text;
        EXPECT_EQ(decoded.length, 0u) << text;
    }
}

TEST(Base64Decode, FewerThanFourRemainingBytesAreIgnoredWhateverTheyAre) {
    EXPECT_EQ(Decode("Zm9vYm").bytes, "foo");    // six characters
    EXPECT_EQ(Decode("Zm9vYmF").bytes, "foo");   // seven
    EXPECT_EQ(Decode("Zm9vYmFy").bytes, "foobar");
    EXPECT_EQ(Decode("Zm9v\r\n\r").bytes, "foo");
}

TEST(Base64Decode, BytesOutsideTheAlphabetArePassedOverInsideAndBetweenGroups) {
    EXPECT_EQ(Decode("Zm 9v\tYm\r\nFy").bytes, "foobar");
    EXPECT_EQ(Decode("Z-m_9\xC3\xA9v").bytes, "foo");
    EXPECT_EQ(Decode("Zm9vYmFy\r\n").bytes, "foobar");  // three passed-over bytes after the last group
}

TEST(Base64Decode, ATextEndingInsideAGroupIsRefusedWithoutTouchingTheLength) {
    Decoded fourBytesAfter = Decode("Zm9vYmFy\r\n\r\n");
    EXPECT_EQ(fourBytesAfter.result, kBadBase64);
    EXPECT_EQ(fourBytesAfter.length, 12345u);
    EXPECT_EQ(Decode("Zm9vYm\nF").result, kBadBase64);  // leftover characters with a break among them
    EXPECT_EQ(Decode("Zm9v\n\nYm").result, kBadBase64);
}

TEST(Base64Decode, TheFirstGroupWithPaddingEndsTheDecoding) {
    EXPECT_EQ(Decode("Zg==Zm9v").bytes, "f");
    EXPECT_EQ(Decode("Zm8=!!rubbish that would be -1").bytes, "fo");
    Decoded allPads = Decode("====Zm9v");
    EXPECT_EQ(allPads.result, kOk);
    EXPECT_EQ(allPads.length, 0u);
    EXPECT_EQ(Decode("Zm9vA===").bytes, "foo");
}

TEST(Base64Decode, PaddingCountsWhereverItStandsInTheGroup) {
    // One "=" anywhere gives two bytes; its slot contributes no bits.
    EXPECT_EQ(Decode("Z=m8").length, 2u);
    EXPECT_EQ(Decode("=Zm8").length, 2u);
    EXPECT_EQ(Decode("Z==m").length, 1u);
}

TEST(Base64Decode, ADecodingLargerThanTheOutputIsRefusedAndNotWrittenPast) {
    EXPECT_EQ(Decode("Zm9vYmFy", 6).bytes, "foobar");
    EXPECT_EQ(Decode("Zm9vYmFy", 5).result, kBadArgument);
    EXPECT_EQ(Decode("Zm9vYg==", 3).result, kBadArgument);
    EXPECT_EQ(Decode("Zm9vYg==", 4).bytes, "foob");
    std::string big(2732, 'A');  // 683 groups: 2049 bytes
    EXPECT_EQ(Decode(big).result, kBadArgument);
    EXPECT_EQ(Decode(big.substr(0, 2728)).length, 2046u);
}

}  // namespace
}  // namespace kavro

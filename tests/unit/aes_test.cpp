// AES block decryption: the FIPS-197 appendix C examples run backwards.
#include "codec/aes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace kavro {
namespace {

std::vector<unsigned char> FromHex(const std::string &hex) {
    std::vector<unsigned char> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

std::string ToHex(const unsigned char *bytes, std::size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (std::size_t i = 0; i < length; ++i) {
        hex += digits[bytes[i] >> 4];
        hex += digits[bytes[i] & 15];
    }
    return hex;
}

const char kPlaintext[] = "00112233445566778899aabbccddeeff";

struct Example {
    int bits;
    const char *key;
    const char *ciphertext;
};

// FIPS-197 appendix C.1 (AES-128), C.2 (AES-192) and C.3 (AES-256).
const Example kExamples[] = {
    {128, "000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {192, "000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {256, "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "8ea2b7ca516745bfeafc49904b496089"},
};

TEST(Aes, Fips197AppendixCExamplesDecryptToTheirPlaintext) {
    for (const Example &example : kExamples) {
        AesContext context;
        std::memset(&context, 0, sizeof context);
        ASSERT_EQ(AesSetKey(context, FromHex(example.key).data(), example.bits), 0) << example.bits;
        EXPECT_EQ(context.rounds, example.bits / 32 + 6);
        std::vector<unsigned char> input = FromHex(example.ciphertext);
        unsigned char output[16] = {};
        AesDecryptBlock(context, input.data(), output);
        EXPECT_EQ(ToHex(output, 16), kPlaintext) << example.bits;
        EXPECT_EQ(ToHex(input.data(), 16), example.ciphertext) << "input left alone";
    }
}

TEST(Aes, TheKeyExpansionMatchesFips197AppendixA1) {
    // Appendix A.1: key 2b7e1516..., last round key word w[43] = b6630ca6.
    AesContext context;
    std::memset(&context, 0, sizeof context);
    ASSERT_EQ(AesSetKey(context, FromHex("2b7e151628aed2a6abf7158809cf4f3c").data(), 128), 0);
    EXPECT_EQ(context.encryptionKeys[4], 0xa0fafe17u);
    EXPECT_EQ(context.encryptionKeys[43], 0xb6630ca6u);
    // The inverse cipher starts with the last round key, unchanged.
    EXPECT_EQ(context.decryptionKeys[3], 0xb6630ca6u);
    EXPECT_EQ(context.decryptionKeys[40], 0x2b7e1516u);
}

TEST(Aes, ABlockDecryptsInPlace) {
    AesContext context;
    std::memset(&context, 0, sizeof context);
    ASSERT_EQ(AesSetKey(context, FromHex(kExamples[0].key).data(), 128), 0);
    std::vector<unsigned char> block = FromHex(kExamples[0].ciphertext);
    AesDecryptBlock(context, block.data(), block.data());
    EXPECT_EQ(ToHex(block.data(), 16), kPlaintext);
}

TEST(Aes, OtherKeySizesAreRefusedAndLeaveTheContextUnchanged) {
    const std::vector<unsigned char> key(32, 0x11);
    for (int bits : {0, 64, 127, 129, 160, 255, 512, -128}) {
        AesContext context;
        std::memset(&context, 0xA5, sizeof context);
        EXPECT_EQ(AesSetKey(context, key.data(), bits), 1) << bits;
        AesContext untouched;
        std::memset(&untouched, 0xA5, sizeof untouched);
        EXPECT_EQ(std::memcmp(&context, &untouched, sizeof context), 0) << bits;
    }
}

}  // namespace
}  // namespace kavro

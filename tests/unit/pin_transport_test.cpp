// DecryptPin: the PIN transport under a token serial. The ciphertexts were
// made with "openssl enc -aes-128-ecb -nopad" from zero-padded PINs.
#include "codec/pin_transport.h"

#include "kavro/result_code.h"

#include <gtest/gtest.h>

#include <cstdint>
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

const unsigned char *Key(const char *serial) { return reinterpret_cast<const unsigned char *>(serial); }

const char kSerial[] = "ABCD1234EFGH5678";

struct Decrypted {
    int result;
    std::size_t length;
    std::string output;  // the whole output buffer
};

constexpr std::size_t kUntouched = 0xDEAD;

Decrypted Decrypt(const char *serial, const std::string &hex, std::size_t capacity = 200) {
    std::vector<unsigned char> ciphertext = FromHex(hex);
    const std::vector<unsigned char> given = ciphertext;
    std::string output(capacity + 8, '\x55');
    std::size_t length = kUntouched;
    int result = DecryptPin(Key(serial), ciphertext.data(), ciphertext.size(),
                            reinterpret_cast<unsigned char *>(&output[0]), capacity, &length);
    EXPECT_EQ(ciphertext, given) << "the ciphertext is not changed";
    EXPECT_EQ(output.substr(capacity), std::string(8, '\x55')) << "nothing written past the capacity";
    return {result, length, output};
}

TEST(DecryptPin, AZeroPaddedPinComesOutWithoutItsPadding) {
    Decrypted pin = Decrypt(kSerial, "fa5d16bae19ae2f87830e55799a22644");
    EXPECT_EQ(pin.result, kOk);
    EXPECT_EQ(pin.length, 5u);
    EXPECT_EQ(pin.output.substr(0, 6), std::string("12345\x55"));
}

TEST(DecryptPin, WholeBlocksWithoutAZeroByteAreAllPin) {
    // One block; its ciphertext holds a zero byte, which means nothing there.
    Decrypted sixteen = Decrypt(kSerial, "2bd581608dbb5d1f8d000409030dbc65");
    EXPECT_EQ(sixteen.result, kOk);
    EXPECT_EQ(sixteen.length, 16u);
    EXPECT_EQ(sixteen.output.substr(0, 16), "0123456789abcdef");
    Decrypted thirtyTwo =
        Decrypt(kSerial, "2bd581608dbb5d1f8d000409030dbc65132cd9a6762e932a83895498c1188d3c");
    EXPECT_EQ(thirtyTwo.length, 32u);
    EXPECT_EQ(thirtyTwo.output.substr(0, 32), "0123456789abcdefghijklmnopqrstuv");
}

TEST(DecryptPin, TheSearchForTheEndRunsAcrossBlocks) {
    Decrypted twenty = Decrypt(kSerial, "2bd581608dbb5d1f8d000409030dbc65ce49d11c72db71b3006cb16409f9cade");
    EXPECT_EQ(twenty.result, kOk);
    EXPECT_EQ(twenty.length, 20u);
    EXPECT_EQ(twenty.output.substr(0, 20), "0123456789abcdefghij");
    Decrypted atTheBoundary =
        Decrypt(kSerial, "2bd581608dbb5d1f8d000409030dbc656598669e802a6e78149e9cb559f4904a");
    EXPECT_EQ(atTheBoundary.length, 16u);
}

TEST(DecryptPin, APlaintextStartingWithZeroIsAnEmptyPin) {
    Decrypted pin = Decrypt(kSerial, "6778c655c6cf393041af9d7f000a1144");
    EXPECT_EQ(pin.result, kOk);
    EXPECT_EQ(pin.length, 0u);
    EXPECT_EQ(pin.output[0], '\x55');
}

TEST(DecryptPin, NoCiphertextIsAnEmptyPin) {
    Decrypted pin = Decrypt(kSerial, "");
    EXPECT_EQ(pin.result, kOk);
    EXPECT_EQ(pin.length, 0u);
}

TEST(DecryptPin, ALengthThatIsNotWholeBlocksIsRefusedAndTheLengthLeftAlone) {
    for (std::size_t bytes : {1u, 15u, 17u, 24u, 31u}) {
        Decrypted pin = Decrypt(kSerial, std::string(2 * bytes, 'a'));
        EXPECT_EQ(pin.result, kBadArgument) << bytes;
        EXPECT_EQ(pin.length, kUntouched) << bytes;
        EXPECT_EQ(pin.output.substr(0, 4), std::string(4, '\x55')) << bytes;
    }
}

TEST(DecryptPin, APinLongerThanTheOutputIsRefusedAndNotWritten) {
    Decrypted tooLong = Decrypt(kSerial, "fa5d16bae19ae2f87830e55799a22644", 4);
    EXPECT_EQ(tooLong.result, kBadArgument);
    EXPECT_EQ(tooLong.length, kUntouched);
    EXPECT_EQ(tooLong.output.substr(0, 4), std::string(4, '\x55'));
    Decrypted fits = Decrypt(kSerial, "fa5d16bae19ae2f87830e55799a22644", 5);
    EXPECT_EQ(fits.result, kOk);
    EXPECT_EQ(fits.output.substr(0, 5), "12345");
}

TEST(DecryptPin, WithoutAnOutputOnlyTheLengthIsGiven) {
    std::vector<unsigned char> ciphertext = FromHex("2bd581608dbb5d1f8d000409030dbc65ce49d11c72db71b3006cb16409f9cade");
    std::size_t length = kUntouched;
    EXPECT_EQ(DecryptPin(Key(kSerial), ciphertext.data(), ciphertext.size(), nullptr, 0, &length), kOk);
    EXPECT_EQ(length, 20u);
}

TEST(DecryptPin, TheSerialsTrailingBlanksArePartOfTheKey) {
    // Encrypted under "ABCD1234" followed by eight blanks.
    Decrypted right = Decrypt("ABCD1234        ", "ea751b270ca87560fd868d8a02a97e8c");
    EXPECT_EQ(right.output.substr(0, right.length), "12345");
    const char trimmed[16] = {'A', 'B', 'C', 'D', '1', '2', '3', '4'};
    Decrypted wrong = Decrypt(trimmed, "ea751b270ca87560fd868d8a02a97e8c");
    EXPECT_EQ(wrong.result, kOk) << "a wrong key is not detected";
    EXPECT_NE(wrong.output.substr(0, wrong.length), "12345");
}

TEST(DecryptPin, AWorkingCopyThatCannotBeAllocatedGivesNoMemory) {
    // The length is checked and the copy allocated before the ciphertext is read.
    const unsigned char ciphertext[16] = {};
    const std::size_t huge = SIZE_MAX - 15;
    std::size_t length = kUntouched;
    EXPECT_EQ(DecryptPin(Key(kSerial), ciphertext, huge, nullptr, 0, &length), kNoMemory);
    EXPECT_EQ(length, kUntouched);
}

}  // namespace
}  // namespace kavro

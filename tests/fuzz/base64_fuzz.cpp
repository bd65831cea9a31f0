// Fuzz target for Base64Decode. The first input byte picks the output
// capacity; the output buffer is exactly that large, so any write past it
// is caught by AddressSanitizer. Checks what any text must satisfy, and
// that the canonical encoding of the rest of the input decodes back to it.
#include "codec/base64.h"
#include "native/result_code.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

std::string Encode(const std::uint8_t *data, std::size_t size) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (std::size_t i = 0; i < size; i += 3) {
        unsigned int group = data[i] << 16;
        if (i + 1 < size) group |= data[i + 1] << 8;
        if (i + 2 < size) group |= data[i + 2];
        text += alphabet[(group >> 18) & 63];
        text += alphabet[(group >> 12) & 63];
        text += i + 1 < size ? alphabet[(group >> 6) & 63] : '=';
        text += i + 2 < size ? alphabet[group & 63] : '=';
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t capacity = data[0] * 8u;
    const std::uint8_t *text = data + 1;
    const std::size_t length = size - 1;

    std::vector<unsigned char> output(capacity);
    std::size_t outLength = 0xDEAD;
    int result = kavro::Base64Decode(text, length, output.data(), capacity, &outLength);
    Require(result == kavro::kOk || result == kavro::kBadBase64 || result == kavro::kBadArgument);
    if (result == kavro::kOk) {
        Require(outLength <= capacity && outLength <= 3 * (length / 4));
    } else {
        Require(outLength == 0xDEAD);
    }

    std::string encoded = Encode(text, length);
    std::vector<unsigned char> decoded(length);
    std::size_t decodedLength = 0;
    Require(kavro::Base64Decode(reinterpret_cast<const unsigned char *>(encoded.data()), encoded.size(),
                                decoded.data(), decoded.size(), &decodedLength) == kavro::kOk);
    Require(decodedLength == length && std::equal(decoded.begin(), decoded.end(), text));
    return 0;
}

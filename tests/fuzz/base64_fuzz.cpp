// Fuzz target for Base64Decode. The first input byte picks the output
// capacity; the output buffer is exactly that large, so any write past it
// is caught by AddressSanitizer. Checks what any text must satisfy, and
// that the canonical encoding of the rest of the input decodes back to it.
#include "codec/base64.h"
#include "kavro/result_code.h"
#include "fuzz_support.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

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
    fuzz::Require(result == kavro::kOk || result == kavro::kBadBase64 || result == kavro::kBadArgument);
    if (result == kavro::kOk) {
        fuzz::Require(outLength <= capacity && outLength <= 3 * (length / 4));
    } else {
        fuzz::Require(outLength == 0xDEAD);
    }

    std::string encoded = fuzz::Base64Encode(text, length);
    std::vector<unsigned char> decoded(length);
    std::size_t decodedLength = 0;
    fuzz::Require(kavro::Base64Decode(reinterpret_cast<const unsigned char *>(encoded.data()), encoded.size(),
                                decoded.data(), decoded.size(), &decodedLength) == kavro::kOk);
    fuzz::Require(decodedLength == length && std::equal(decoded.begin(), decoded.end(), text));
    return 0;
}

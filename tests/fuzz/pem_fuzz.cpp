// Fuzz target for UnwrapPem. The first input byte picks the output capacity
// (in steps of 16 octets); the output buffer is exactly that large. Checks
// the results any text must give, and that a well-formed PEM wrapping of the
// rest of the input unwraps back to it.
#include "codec/pem.h"
#include "fuzz_support.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

const char kBegin[] = "-----BEGIN CERTIFICATE-----";
const char kEnd[] = "-----END CERTIFICATE-----";

std::string Wrap(const std::uint8_t *data, std::size_t size) {
    return std::string(kBegin) + "\r\n" + fuzz::Base64Encode(data, size, 16) + "\n" + kEnd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t capacity = data[0] * 16u;
    const std::uint8_t *text = data + 1;
    const std::size_t length = size - 1;

    std::unique_ptr<unsigned char[]> output(new unsigned char[capacity]);
    std::size_t outLength = 0xDEAD;
    int result = kavro::UnwrapPem(text, length, output.get(), capacity, &outLength);
    fuzz::Require(result == kavro::kPemUnwrapped || result == kavro::kPemFailed || result == kavro::kPemNoMarkers);
    if (result == kavro::kPemUnwrapped) {
        fuzz::Require(outLength <= capacity && outLength <= length);
    } else {
        fuzz::Require(outLength == 0xDEAD);
    }
    // The markers may overlap: the END marker need only be the last octets.
    const bool framed = length >= sizeof kBegin - 1 &&
                        std::memcmp(text, kBegin, sizeof kBegin - 1) == 0 &&
                        std::memcmp(text + length - (sizeof kEnd - 1), kEnd, sizeof kEnd - 1) == 0;
    if (length != 0 && !framed) {
        fuzz::Require(result == kavro::kPemNoMarkers);
    }

    std::string wrapped = Wrap(text, length);
    std::unique_ptr<unsigned char[]> der(new unsigned char[length + 1]);
    std::size_t derLength = 0;
    fuzz::Require(kavro::UnwrapPem(reinterpret_cast<const unsigned char *>(wrapped.data()), wrapped.size(), der.get(),
                             length + 1, &derLength) == kavro::kPemUnwrapped);
    fuzz::Require(derLength == length && std::memcmp(der.get(), text, length) == 0);
    return 0;
}

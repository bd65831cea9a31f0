// Fuzz target for UnwrapPem. The first input byte picks the output capacity
// (in steps of 16 octets); the output buffer is exactly that large. Checks
// the results any text must give, and that a well-formed PEM wrapping of the
// rest of the input unwraps back to it.
#include "codec/pem.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

const char kBegin[] = "-----BEGIN CERTIFICATE-----";
const char kEnd[] = "-----END CERTIFICATE-----";

std::string Wrap(const std::uint8_t *data, std::size_t size) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text = std::string(kBegin) + "\r\n";
    for (std::size_t i = 0; i < size; i += 3) {
        unsigned int group = data[i] << 16;
        if (i + 1 < size) group |= data[i + 1] << 8;
        if (i + 2 < size) group |= data[i + 2];
        text += alphabet[(group >> 18) & 63];
        text += alphabet[(group >> 12) & 63];
        text += i + 1 < size ? alphabet[(group >> 6) & 63] : '=';
        text += i + 2 < size ? alphabet[group & 63] : '=';
        if (i % 48 == 45) text += "\r\n";
    }
    return text + "\n" + kEnd;
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
    Require(result == kavro::kPemUnwrapped || result == kavro::kPemFailed || result == kavro::kPemNoMarkers);
    if (result == kavro::kPemUnwrapped) {
        Require(outLength <= capacity && outLength <= length);
    } else {
        Require(outLength == 0xDEAD);
    }
    // The markers may overlap: the END marker need only be the last octets.
    const bool framed = length >= sizeof kBegin - 1 &&
                        std::memcmp(text, kBegin, sizeof kBegin - 1) == 0 &&
                        std::memcmp(text + length - (sizeof kEnd - 1), kEnd, sizeof kEnd - 1) == 0;
    if (length != 0 && !framed) {
        Require(result == kavro::kPemNoMarkers);
    }

    std::string wrapped = Wrap(text, length);
    std::unique_ptr<unsigned char[]> der(new unsigned char[length + 1]);
    std::size_t derLength = 0;
    Require(kavro::UnwrapPem(reinterpret_cast<const unsigned char *>(wrapped.data()), wrapped.size(), der.get(),
                             length + 1, &derLength) == kavro::kPemUnwrapped);
    Require(derLength == length && std::memcmp(der.get(), text, length) == 0);
    return 0;
}

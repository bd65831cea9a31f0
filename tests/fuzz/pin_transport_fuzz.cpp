// Fuzz target for DecryptPin. Input: one byte choosing the output capacity,
// 16 key bytes, then the ciphertext. The output buffer is exactly the
// capacity, so a write past it is caught by AddressSanitizer.
#include "codec/pin_transport.h"
#include "kavro/result_code.h"
#include "fuzz_support.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 1 + kavro::kTransportKeySize) {
        return 0;
    }
    const std::size_t capacity = data[0];
    const unsigned char *key = data + 1;
    const unsigned char *ciphertext = data + 1 + kavro::kTransportKeySize;
    const std::size_t length = size - 1 - kavro::kTransportKeySize;

    // new[] of 0 bytes still gives a real (non-null) output of no room.
    std::unique_ptr<unsigned char[]> output(new unsigned char[capacity]);
    std::size_t outLength = 0xDEAD;
    int result = kavro::DecryptPin(key, ciphertext, length, output.get(), capacity, &outLength);
    fuzz::Require(result == kavro::kOk || result == kavro::kBadArgument || result == kavro::kNoMemory);
    fuzz::Require((length % 16 != 0) <= (result == kavro::kBadArgument));

    std::size_t measured = 0xBEEF;
    int counted = kavro::DecryptPin(key, ciphertext, length, nullptr, 0, &measured);
    if (length % 16 == 0) {
        // Without an output the PIN's length is all that is asked for.
        fuzz::Require(counted == kavro::kOk && measured <= length);
        fuzz::Require(result == (measured <= capacity ? kavro::kOk : kavro::kBadArgument));
    }
    if (result == kavro::kOk) {
        fuzz::Require(outLength == measured);
        fuzz::Require(std::memchr(output.get(), 0, outLength) == nullptr);
    } else {
        fuzz::Require(outLength == 0xDEAD);
    }
    return 0;
}

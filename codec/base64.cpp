// Base64 decoding. Bytes outside the alphabet and "=" are passed over
// wherever they stand; fewer than four bytes left before a group are
// ignored; the first group holding "=" ends the decoding.
#include "codec/base64.h"

#include "kavro/result_code.h"

#include <array>

namespace kavro {
namespace {

constexpr int kPad = 64;
constexpr int kSkip = -1;

constexpr std::array<signed char, 256> MakeValues() {
    std::array<signed char, 256> values{};
    for (auto &value : values) {
        value = kSkip;
    }
    const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i) {
        values[static_cast<unsigned char>(alphabet[i])] = static_cast<signed char>(i);
    }
    values['='] = kPad;
    return values;
}

constexpr std::array<signed char, 256> kValues = MakeValues();

}  // namespace

int Base64Decode(const unsigned char *text, std::size_t textLength, unsigned char *output, std::size_t capacity,
                 std::size_t *outLength) {
    std::size_t written = 0;
    if (textLength < 4) {
        *outLength = 0;
        return kOk;
    }
    std::size_t position = 0;
    while (position + 4 <= textLength) {
        int group[4];
        int collected = 0;
        while (collected < 4) {
            if (position == textLength) {
                return kBadBase64;
            }
            int value = kValues[text[position++]];
            if (value != kSkip) {
                group[collected++] = value;
            }
        }
        int pads = 0;
        unsigned int bits[4];
        for (int i = 0; i < 4; ++i) {
            // A pad slot contributes no bits.
            if (group[i] == kPad) {
                ++pads;
                bits[i] = 0;
            } else {
                bits[i] = static_cast<unsigned int>(group[i]);
            }
        }
        const unsigned char bytes[3] = {
            static_cast<unsigned char>((bits[0] << 2) | (bits[1] >> 4)),
            static_cast<unsigned char>(((bits[1] & 15u) << 4) | (bits[2] >> 2)),
            static_cast<unsigned char>(((bits[2] & 3u) << 6) | bits[3]),
        };
        const std::size_t count = pads == 0 ? 3 : pads == 1 ? 2 : pads == 2 ? 1 : 0;
        if (count > capacity - written) {
            return kBadArgument;
        }
        for (std::size_t i = 0; i < count; ++i) {
            output[written++] = bytes[i];
        }
        if (pads != 0) {
            break;
        }
    }
    *outLength = written;
    return kOk;
}

}  // namespace kavro

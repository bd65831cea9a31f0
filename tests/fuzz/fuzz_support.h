// What the fuzz targets share: a failed property ends the run, and the
// canonical Base64 encoding (RFC 4648, "=" padding) that a decoder must undo.
#ifndef KAVRO_TESTS_FUZZ_SUPPORT_H
#define KAVRO_TESTS_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace fuzz {

inline void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// lineGroups > 0 breaks the text with CRLF after that many groups of four.
inline std::string Base64Encode(const std::uint8_t *data, std::size_t size, std::size_t lineGroups = 0) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    std::size_t groups = 0;
    for (std::size_t i = 0; i < size; i += 3) {
        unsigned int group = data[i] << 16;
        if (i + 1 < size) group |= data[i + 1] << 8;
        if (i + 2 < size) group |= data[i + 2];
        text += alphabet[(group >> 18) & 63];
        text += alphabet[(group >> 12) & 63];
        text += i + 1 < size ? alphabet[(group >> 6) & 63] : '=';
        text += i + 2 < size ? alphabet[group & 63] : '=';
        if (lineGroups > 0 && ++groups % lineGroups == 0) text += "\r\n";
    }
    return text;
}

}  // namespace fuzz

#endif  // KAVRO_TESTS_FUZZ_SUPPORT_H

// Escaping of outside texts for display: control characters (C0, DEL, C1)
// and the bidirectional marks, embeddings, overrides and isolates become
// \uXXXX; octets that are not part of well-formed UTF-8 become \xXX. NSS
// already writes C0 and DEL in names as \1b-style escapes; this covers
// what it passes through.
#include "sysstore/nss/escaped_text.h"

namespace kavro {
namespace {

bool Hidden(char32_t codePoint) {
    return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F) || codePoint == 0x061C ||
           codePoint == 0x200E || codePoint == 0x200F || (codePoint >= 0x202A && codePoint <= 0x202E) ||
           (codePoint >= 0x2066 && codePoint <= 0x2069);
}

// The length of the well-formed UTF-8 sequence at text[at] (Unicode's table
// of well-formed byte sequences: no overlong forms, surrogates or code
// points past U+10FFFF), with its code point; 0 when there is none.
std::size_t Sequence(const std::string &text, std::size_t at, char32_t &codePoint) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    std::size_t length = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0Fu;
        low = lead == 0xE0 ? 0xA0 : low;
        high = lead == 0xED ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07u;
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
    } else {
        return 0;
    }
    if (text.size() - at < length) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char next = static_cast<unsigned char>(text[at + k]);
        if (next < low || next > high) {
            return 0;
        }
        low = 0x80;
        high = 0xBF;
        codePoint = (codePoint << 6) | (next & 0x3Fu);
    }
    return length;
}

void AppendHex(std::string &shown, unsigned long value, int digits) {
    static const char kDigits[] = "0123456789ABCDEF";
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
        shown += kDigits[(value >> shift) & 15];
    }
}

}  // namespace

std::string EscapedText(const std::string &text) {
    std::string shown;
    std::size_t at = 0;
    while (at < text.size()) {
        char32_t codePoint = 0;
        const std::size_t length = Sequence(text, at, codePoint);
        if (length == 0) {
            shown += "\\x";
            AppendHex(shown, static_cast<unsigned char>(text[at]), 2);
            ++at;
        } else if (Hidden(codePoint)) {
            shown += "\\u";
            AppendHex(shown, codePoint, 4);
            at += length;
        } else {
            shown.append(text, at, length);
            at += length;
        }
    }
    return shown;
}

}  // namespace kavro

// Escaping of outside texts for display: control characters (C0, DEL, C1),
// the line and paragraph separators and every format character (Unicode
// category Cf: bidirectional marks, embeddings, overrides and isolates,
// zero-width characters, the BOM, the word joiner, the soft hyphen, tags)
// become \uXXXX (\UXXXXXXXX past U+FFFF); octets that are not part of
// well-formed UTF-8 become \xXX. Such characters could start a line of
// their own, hide text or reorder what is shown around them. NSS already
// writes C0 and DEL in names as \1b-style escapes; this covers what it
// passes through.
#include "sysstore/nss/escaped_text.h"

namespace kavro {
namespace {

// The code points of general category Cf in Unicode 15.0 (UnicodeData.txt),
// as ranges, first and last included.
constexpr struct {
    char32_t first;
    char32_t last;
} kFormatCharacters[] = {
    {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},   {0x070F, 0x070F},
    {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},   {0x200B, 0x200F},   {0x202A, 0x202E},
    {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD},
    {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
    {0xE0020, 0xE007F},
};

bool Hidden(char32_t codePoint) {
    if (codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F) || codePoint == 0x2028 || codePoint == 0x2029) {
        return true;
    }
    for (const auto &range : kFormatCharacters) {
        if (codePoint >= range.first && codePoint <= range.last) {
            return true;
        }
    }
    return false;
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
            const bool basic = codePoint <= 0xFFFF;
            shown += basic ? "\\u" : "\\U";
            AppendHex(shown, codePoint, basic ? 4 : 8);
            at += length;
        } else {
            shown.append(text, at, length);
            at += length;
        }
    }
    return shown;
}

}  // namespace kavro

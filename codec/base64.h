// Base64 decoding (RFC 4648 standard alphabet), lenient about bytes outside
// the alphabet and strict about a text that ends inside a group.
#ifndef KAVRO_CODEC_BASE64_H
#define KAVRO_CODEC_BASE64_H

#include <cstddef>

namespace kavro {

// Decodes the first textLength bytes of text into output, which has room
// for capacity bytes. Returns 0 and sets *outLength to the bytes written;
// -1 (kBadBase64) when the text ends inside a group; kBadArgument when the
// decoding would not fit the output. *outLength is set only on success.
int Base64Decode(const unsigned char *text, std::size_t textLength, unsigned char *output, std::size_t capacity,
                 std::size_t *outLength);

}  // namespace kavro

#endif  // KAVRO_CODEC_BASE64_H

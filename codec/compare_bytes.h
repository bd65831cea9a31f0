// CompareBytes: equality of two octet strings given with signed 32-bit
// lengths, as serials are compared on the token path and the store path.
#ifndef KAVRO_CODEC_COMPARE_BYTES_H
#define KAVRO_CODEC_COMPARE_BYTES_H

#include <cstdint>

namespace kavro {

// 0 when the lengths are equal and the first aLength octets of a and b are
// equal, 1 otherwise. Equal lengths of 0 or less compare equal without
// reading either pointer (which may then be null).
int CompareBytes(const unsigned char *a, std::int32_t aLength, const unsigned char *b, std::int32_t bLength);

}  // namespace kavro

#endif  // KAVRO_CODEC_COMPARE_BYTES_H

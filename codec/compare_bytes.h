// CompareBytes: the exact comparison of two serial contents, shared by the
// token's certificate lookups and the system store's serial match.
#ifndef KAVRO_CODEC_COMPARE_BYTES_H
#define KAVRO_CODEC_COMPARE_BYTES_H

#include <cstdint>

namespace kavro {

// 0 when the lengths are equal and the first aLength octets of a and b are
// equal, 1 otherwise. Two equal lengths of 0 or less compare equal without
// the octets being read, so a and b may then be null.
int CompareBytes(const unsigned char *a, std::int32_t aLength, const unsigned char *b, std::int32_t bLength);

}  // namespace kavro

#endif  // KAVRO_CODEC_COMPARE_BYTES_H

// CompareBytes.
#include "codec/compare_bytes.h"

#include <cstring>

namespace kavro {

int CompareBytes(const unsigned char *a, std::int32_t aLength, const unsigned char *b, std::int32_t bLength) {
    if (aLength != bLength) {
        return 1;
    }
    if (aLength <= 0) {
        return 0;
    }
    return std::memcmp(a, b, static_cast<std::size_t>(aLength)) == 0 ? 0 : 1;
}

}  // namespace kavro

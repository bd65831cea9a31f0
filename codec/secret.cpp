// The wipe used for PINs, keys and their working copies.
#include "codec/secret.h"

namespace kavro {

void Wipe(void *buffer, std::size_t size) noexcept {
    // A volatile pointer keeps the stores from being optimised away.
    volatile unsigned char *bytes = static_cast<volatile unsigned char *>(buffer);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = 0;
    }
}

}  // namespace kavro

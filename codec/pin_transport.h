// Decryption of security-officer PINs sent from Java: AES-128 in ECB mode
// keyed with the 16 bytes of the token serial, plaintext zero-padded.
#ifndef KAVRO_CODEC_PIN_TRANSPORT_H
#define KAVRO_CODEC_PIN_TRANSPORT_H

#include <cstddef>

namespace kavro {

// The transport key is the token serial text, used as it stands.
constexpr std::size_t kTransportKeySize = 16;

// Decrypts length bytes of ciphertext under the 16-byte key. The PIN is
// the plaintext up to its first zero byte (all of it when there is none).
// When output is given the PIN is copied there without a terminator, and a
// PIN longer than capacity is refused. On success *outLength receives the
// PIN's length; on failure it and output are left alone.
// Returns 0; kBadArgument when length is not a multiple of 16 or the PIN
// does not fit; kTransportKeyRefused when the key cannot be set up;
// kNoMemory when the working copy cannot be allocated.
int DecryptPin(const unsigned char *key, const unsigned char *ciphertext, std::size_t length, unsigned char *output,
               std::size_t capacity, std::size_t *outLength);

}  // namespace kavro

#endif  // KAVRO_CODEC_PIN_TRANSPORT_H

// AES block decryption (FIPS-197) as the equivalent inverse cipher: round
// keys prepared once per key, each block then costs table look-ups and
// exclusive-ors only.
#ifndef KAVRO_CODEC_AES_H
#define KAVRO_CODEC_AES_H

#include <cstdint>

namespace kavro {

constexpr int kAesBlockSize = 16;

// Round keys of one key. Callers keep it on the stack and wipe it after use.
struct AesContext {
    std::uint32_t encryptionKeys[64];  // FIPS-197 key expansion; up to 60 words used
    std::uint32_t decryptionKeys[64];  // the same, in the order of the inverse cipher
    std::int32_t rounds;               // 10, 12 or 14
};

// Fills the context for a key of 128, 192 or 256 bits and returns 0; for
// any other size returns 1 and leaves the context unchanged.
int AesSetKey(AesContext &context, const unsigned char *key, int bits);

// Decrypts one 16-byte block; input and output may be the same buffer.
void AesDecryptBlock(const AesContext &context, const unsigned char *input, unsigned char *output);

}  // namespace kavro

#endif  // KAVRO_CODEC_AES_H

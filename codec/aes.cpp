// AES decryption. The tables are computed by the compiler from the field
// arithmetic of FIPS-197 (reduction polynomial 0x11B, generator 3, affine
// constant 0x63): they are constants, so first use from two threads at once
// needs no lock.
#include "codec/aes.h"

#include <array>
#include <cstring>

namespace kavro {
namespace {

using Word = std::uint32_t;
using Byte = std::uint8_t;

constexpr Byte Times2(Byte value) {
    return static_cast<Byte>((value << 1) ^ ((value & 0x80) != 0 ? 0x1B : 0x00));
}

constexpr Byte Multiply(Byte a, Byte b) {
    Byte product = 0;
    while (b != 0) {
        if ((b & 1) != 0) {
            product ^= a;
        }
        a = Times2(a);
        b = static_cast<Byte>(b >> 1);
    }
    return product;
}

constexpr Byte RotateLeft(Byte value, int bits) {
    return static_cast<Byte>((value << bits) | (value >> (8 - bits)));
}

constexpr Word RotateRight(Word value, int bits) { return (value >> bits) | (value << (32 - bits)); }

// InvMixColumns applied to a column holding only byte b in row 0, as a
// big-endian word: (0e·b, 09·b, 0d·b, 0b·b).
constexpr Word InverseColumn(Byte b) {
    return (Word{Multiply(b, 0x0E)} << 24) | (Word{Multiply(b, 0x09)} << 16) | (Word{Multiply(b, 0x0D)} << 8) |
           Word{Multiply(b, 0x0B)};
}

struct Tables {
    std::array<Byte, 256> sbox{};
    std::array<Byte, 256> inverseSbox{};
    // InvSubBytes, InvShiftRows and InvMixColumns of one byte in row k.
    std::array<std::array<Word, 256>, 4> decrypt{};
    // InvMixColumns of one byte in row k, for the decryption key schedule.
    std::array<std::array<Word, 256>, 4> inverseColumn{};
    std::array<Word, 10> roundConstants{};
};

constexpr Tables MakeTables() {
    Tables tables;
    // Powers of the generator 3 give every non-zero element and its log.
    std::array<Byte, 256> power{};
    std::array<int, 256> log{};
    Byte x = 1;
    for (int i = 0; i < 255; ++i) {
        power[i] = x;
        log[x] = i;
        x = Multiply(x, 3);
    }
    for (int b = 0; b < 256; ++b) {
        Byte inverse = b == 0 ? 0 : power[(255 - log[b]) % 255];
        Byte s = static_cast<Byte>(inverse ^ RotateLeft(inverse, 1) ^ RotateLeft(inverse, 2) ^
                                   RotateLeft(inverse, 3) ^ RotateLeft(inverse, 4) ^ 0x63);
        tables.sbox[b] = s;
        tables.inverseSbox[s] = static_cast<Byte>(b);
    }
    for (int b = 0; b < 256; ++b) {
        Word column = InverseColumn(static_cast<Byte>(b));
        Word decrypt = InverseColumn(tables.inverseSbox[b]);
        for (int k = 0; k < 4; ++k) {
            tables.inverseColumn[k][b] = k == 0 ? column : RotateRight(column, 8 * k);
            tables.decrypt[k][b] = k == 0 ? decrypt : RotateRight(decrypt, 8 * k);
        }
    }
    Byte constant = 1;
    for (auto &roundConstant : tables.roundConstants) {
        roundConstant = Word{constant} << 24;
        constant = Times2(constant);
    }
    return tables;
}

constexpr Tables kTables = MakeTables();

// Spot checks against the tables printed in FIPS-197.
static_assert(kTables.sbox[0x00] == 0x63 && kTables.sbox[0x53] == 0xED && kTables.sbox[0xFF] == 0x16, "S-box");
static_assert(kTables.inverseSbox[0x63] == 0x00 && kTables.inverseSbox[0xED] == 0x53, "inverse S-box");
static_assert(kTables.roundConstants[9] == 0x36000000u, "round constants");

constexpr Word Load(const unsigned char *bytes) {
    return (Word{bytes[0]} << 24) | (Word{bytes[1]} << 16) | (Word{bytes[2]} << 8) | Word{bytes[3]};
}

void Store(Word word, unsigned char *bytes) {
    bytes[0] = static_cast<unsigned char>(word >> 24);
    bytes[1] = static_cast<unsigned char>(word >> 16);
    bytes[2] = static_cast<unsigned char>(word >> 8);
    bytes[3] = static_cast<unsigned char>(word);
}

Word SubWord(Word word) {
    return (Word{kTables.sbox[word >> 24]} << 24) | (Word{kTables.sbox[(word >> 16) & 0xFF]} << 16) |
           (Word{kTables.sbox[(word >> 8) & 0xFF]} << 8) | Word{kTables.sbox[word & 0xFF]};
}

Word InverseMixColumn(Word word) {
    return kTables.inverseColumn[0][word >> 24] ^ kTables.inverseColumn[1][(word >> 16) & 0xFF] ^
           kTables.inverseColumn[2][(word >> 8) & 0xFF] ^ kTables.inverseColumn[3][word & 0xFF];
}

// One column of a middle round: the state bytes that InvShiftRows brings
// into column c come from columns c, c-1, c-2, c-3 of rows 0 to 3.
Word DecryptColumn(Word a, Word b, Word c, Word d, Word roundKey) {
    return kTables.decrypt[0][a >> 24] ^ kTables.decrypt[1][(b >> 16) & 0xFF] ^
           kTables.decrypt[2][(c >> 8) & 0xFF] ^ kTables.decrypt[3][d & 0xFF] ^ roundKey;
}

Word LastRoundColumn(Word a, Word b, Word c, Word d, Word roundKey) {
    return ((Word{kTables.inverseSbox[a >> 24]} << 24) | (Word{kTables.inverseSbox[(b >> 16) & 0xFF]} << 16) |
            (Word{kTables.inverseSbox[(c >> 8) & 0xFF]} << 8) | Word{kTables.inverseSbox[d & 0xFF]}) ^
           roundKey;
}

}  // namespace

int AesSetKey(AesContext &context, const unsigned char *key, int bits) {
    if (bits != 128 && bits != 192 && bits != 256) {
        return 1;
    }
    const int keyWords = bits / 32;
    const int rounds = keyWords + 6;
    const int totalWords = 4 * (rounds + 1);
    Word *w = context.encryptionKeys;
    for (int i = 0; i < keyWords; ++i) {
        w[i] = Load(key + 4 * i);
    }
    for (int i = keyWords; i < totalWords; ++i) {
        Word temp = w[i - 1];
        if (i % keyWords == 0) {
            temp = SubWord((temp << 8) | (temp >> 24)) ^ kTables.roundConstants[i / keyWords - 1];
        } else if (keyWords > 6 && i % keyWords == 4) {
            temp = SubWord(temp);
        }
        w[i] = w[i - keyWords] ^ temp;
    }
    // The inverse cipher takes the round keys last round first; those of the
    // middle rounds pass through InvMixColumns (FIPS-197 section 5.3.5).
    Word *dw = context.decryptionKeys;
    for (int round = 0; round <= rounds; ++round) {
        const Word *source = w + 4 * (rounds - round);
        for (int j = 0; j < 4; ++j) {
            dw[4 * round + j] = round == 0 || round == rounds ? source[j] : InverseMixColumn(source[j]);
        }
    }
    context.rounds = rounds;
    return 0;
}

void AesDecryptBlock(const AesContext &context, const unsigned char *input, unsigned char *output) {
    const Word *key = context.decryptionKeys;
    Word s0 = Load(input) ^ key[0];
    Word s1 = Load(input + 4) ^ key[1];
    Word s2 = Load(input + 8) ^ key[2];
    Word s3 = Load(input + 12) ^ key[3];
    for (int round = 1; round < context.rounds; ++round) {
        key += 4;
        const Word t0 = DecryptColumn(s0, s3, s2, s1, key[0]);
        const Word t1 = DecryptColumn(s1, s0, s3, s2, key[1]);
        const Word t2 = DecryptColumn(s2, s1, s0, s3, key[2]);
        const Word t3 = DecryptColumn(s3, s2, s1, s0, key[3]);
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    key += 4;
    Store(LastRoundColumn(s0, s3, s2, s1, key[0]), output);
    Store(LastRoundColumn(s1, s0, s3, s2, key[1]), output + 4);
    Store(LastRoundColumn(s2, s1, s0, s3, key[2]), output + 8);
    Store(LastRoundColumn(s3, s2, s1, s0, key[3]), output + 12);
}

}  // namespace kavro

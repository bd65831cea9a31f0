// CompareBytes: lengths decide first; equal non-positive lengths compare equal unread.
#include "codec/compare_bytes.h"

#include <gtest/gtest.h>

namespace kavro {
namespace {

TEST(CompareBytes, EqualContentAndLength) {
    const unsigned char a[] = {0x00, 0x80, 0xA1, 0xB2, 0xC3};
    const unsigned char b[] = {0x00, 0x80, 0xA1, 0xB2, 0xC3};
    EXPECT_EQ(CompareBytes(a, 5, b, 5), 0);
    EXPECT_EQ(CompareBytes(a, 3, b, 3), 0);
}

TEST(CompareBytes, LengthsMustAgreeExactly) {
    const unsigned char a[] = {0x00, 0x80, 0xA1, 0xB2, 0xC3};
    EXPECT_EQ(CompareBytes(a, 5, a, 4), 1);  // one octet short, same first octets
    EXPECT_EQ(CompareBytes(a + 1, 4, a, 5), 1);  // leading zero missing
    EXPECT_EQ(CompareBytes(a, 0, a, 1), 1);
}

TEST(CompareBytes, AnyDifferingOctetCounts) {
    const unsigned char a[] = {1, 2, 3, 4};
    const unsigned char b[] = {1, 2, 3, 5};
    const unsigned char c[] = {0, 2, 3, 4};
    EXPECT_EQ(CompareBytes(a, 4, b, 4), 1);
    EXPECT_EQ(CompareBytes(a, 4, c, 4), 1);
    EXPECT_EQ(CompareBytes(a, 3, b, 3), 0);
}

TEST(CompareBytes, EqualLengthsOfZeroOrLessMatchWithoutReading) {
    EXPECT_EQ(CompareBytes(nullptr, 0, nullptr, 0), 0);
    EXPECT_EQ(CompareBytes(nullptr, -3, nullptr, -3), 0);
    EXPECT_EQ(CompareBytes(nullptr, -1, nullptr, -2), 1);
}

}  // namespace
}  // namespace kavro

// EscapedText: what reaches the terminal menu and the zenity list of the
// Linux store from a certificate's subject and issuer.
#include "sysstore/nss/escaped_text.h"

#include <gtest/gtest.h>

namespace kavro {
namespace {

TEST(EscapedText, PrintableTextAndValidUtf8PassUnchanged) {
    // Neighbours of the escaped code points stay: U+202F, U+2029, U+206A, U+061B, U+00A0.
    for (const std::string text : {"O=Kavro Tests,CN=Store User One", "CN=A\\1b\\,B",
                                   "CN=Gr\xC3\xBC\xC3\x9F" "e \xE6\x97\xA5 \xF0\x9F\x98\x80",
                                   "\xE2\x80\xAF\xE2\x80\xA9\xE2\x81\xAA\xD8\x9B\xC2\xA0"}) {
        EXPECT_EQ(EscapedText(text), text);
    }
}

TEST(EscapedText, ControlCharactersAndBidirectionalControlsAreShownAsCodePoints) {
    EXPECT_EQ(EscapedText(std::string("a\x1b[1mb\n\t\x7f", 10)),
              "a\\u001B[1mb\\u000A\\u0009\\u007F\\u0000");
    EXPECT_EQ(EscapedText("\xC2\x80\xC2\x9B\xC2\x9F"), "\\u0080\\u009B\\u009F");
    EXPECT_EQ(EscapedText("x\xE2\x80\xAAy\xE2\x80\xAE\xE2\x81\xA6\xE2\x81\xA9"),
              "x\\u202Ay\\u202E\\u2066\\u2069");
    EXPECT_EQ(EscapedText("\xE2\x80\x8E\xE2\x80\x8F\xD8\x9C"), "\\u200E\\u200F\\u061C");
}

TEST(EscapedText, OctetsThatAreNotUtf8AreShownOneByOne) {
    EXPECT_EQ(EscapedText("a\x9B" "b\x80\xFF"), "a\\x9Bb\\x80\\xFF");
    EXPECT_EQ(EscapedText("\xC0\xAF\xE0\x80\xAF\xF0\x80\x80\xAF"), "\\xC0\\xAF\\xE0\\x80\\xAF\\xF0\\x80\\x80\\xAF")
        << "overlong forms";
    EXPECT_EQ(EscapedText("\xED\xA0\x80\xF4\x90\x80\x80"), "\\xED\\xA0\\x80\\xF4\\x90\\x80\\x80")
        << "surrogates and code points past U+10FFFF";
    EXPECT_EQ(EscapedText("\xE2\x80" "A\xE2\x80"), "\\xE2\\x80A\\xE2\\x80") << "cut-off sequences";
    EXPECT_EQ(EscapedText("\xE2\xC2\x9B"), "\\xE2\\u009B") << "a sequence starts anew after a broken one";
}

}  // namespace
}  // namespace kavro

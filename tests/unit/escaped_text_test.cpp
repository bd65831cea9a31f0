// EscapedText: what reaches the terminal menu and the zenity list of the
// Linux store from a certificate's subject and issuer.
#include "sysstore/nss/escaped_text.h"

#include <gtest/gtest.h>

namespace kavro {
namespace {

TEST(EscapedText, PrintableTextAndValidUtf8PassUnchanged) {
    // Neighbours of the escaped code points stay, spaces and unassigned ones included.
    for (const std::string text : {"O=Kavro Tests,CN=Store User One", "CN=A\\1b\\,B",
                                   "CN=Gr\xC3\xBC\xC3\x9F" "e \xE6\x97\xA5 \xF0\x9F\x98\x80",
                                   "\xE2\x80\xAF\xD8\x9B\xC2\xA0",
                                   u8"\u00AC\u00AE\u200A\u2010\u2027\u202F\u205F\u2065\u2070\uFEFC\uFFFC",
                                   u8"\U000E0000\U000E0080\U00013440\U0001D17B"}) {
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

TEST(EscapedText, LineSeparatorsAndFormatCharactersAreShownAsCodePoints) {
    EXPECT_EQ(EscapedText(u8"CN=Mallory\u2028issued by CN=Bank Root CA\u2029"),
              "CN=Mallory\\u2028issued by CN=Bank Root CA\\u2029");
    EXPECT_EQ(EscapedText(u8"Ba\u200Bnk\uFEFF\u2060\u00AD\u200C\u200D\u2064"),
              "Ba\\u200Bnk\\uFEFF\\u2060\\u00AD\\u200C\\u200D\\u2064");
    EXPECT_EQ(EscapedText(u8"\u0600\u0605\u06DD\u070F\u0890\u08E2\u180E\u206A\u206F\uFFF9\uFFFB"),
              "\\u0600\\u0605\\u06DD\\u070F\\u0890\\u08E2\\u180E\\u206A\\u206F\\uFFF9\\uFFFB");
    EXPECT_EQ(EscapedText(u8"\U000110BD\U0001343F\U0001BCA3\U0001D173\U000E0001A\U000E0020\U000E007F"),
              "\\U000110BD\\U0001343F\\U0001BCA3\\U0001D173\\U000E0001A\\U000E0020\\U000E007F")
        << "past U+FFFF: eight digits";
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

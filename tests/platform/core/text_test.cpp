#include <gtest/gtest.h>

#include "platform/com/bstr.h"
#include "platform/system/text.h"

namespace kiv {
namespace {

TEST(Text, Utf8RoundTripKeepsCharactersOutsideTheBasicPlane) {
    const std::u16string s = u"Caf\u00e9 \u65e5\u672c \U0001F3B5";
    EXPECT_EQ(ToUtf8(s), "Caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x8E\xB5");
    EXPECT_EQ(FromUtf8(ToUtf8(s)), s);
}

TEST(Text, BytesThatAreNotUtf8CrossUtf16AndComeBackUnchanged) {
    // File names on Linux are bytes; each byte that is not valid UTF-8 is
    // carried as a lone surrogate U+DC80..U+DCFF and restored.
    struct Case {
        std::string in;
        std::u16string out;
        std::string shown;
    } cases[] = {
        {"\xC3", u"\xDCC3", "\\xC3"},                              // cut short at the end
        {"\xE6\x97", u"\xDCE6\xDC97", "\\xE6\\x97"},               // cut short, two bytes
        {"\xC0\xAF", u"\xDCC0\xDCAF", "\\xC0\\xAF"},               // overlong
        {"\xED\xA0\x80", u"\xDCED\xDCA0\xDC80", "\\xED\\xA0\\x80"},  // an encoded surrogate
        {"a\xFF" "b", u"a\xDCFF" "b", "a\\xFF" "b"},
        {"caf\xE9 \xC3\xA9.wav", u"caf\xDCE9 \u00E9.wav", "caf\\xE9 \xC3\xA9.wav"},  // Latin-1 beside UTF-8
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FromUtf8(c.in), c.out) << c.in;
        EXPECT_EQ(ToUtf8(FromUtf8(c.in)), c.in) << "the same bytes come back";
        EXPECT_EQ(EscapeInvalidUtf8(c.in), c.shown);
    }
    EXPECT_EQ(EscapeInvalidUtf8("Caf\xC3\xA9 \xF0\x9F\x8E\xB5"), "Caf\xC3\xA9 \xF0\x9F\x8E\xB5") << "valid text stays";
    EXPECT_EQ(FromUtf8Text("a\xFF" "b\xC3\xA9"), u"a\uFFFDb\u00E9") << "texts from files stay valid text";
    // Characters beyond U+FFFF whose low surrogate lies where the escapes do.
    EXPECT_EQ(FromUtf8Text("\xF0\x9F\x92\x80 \xF1\x96\x92\x96\xFF"), u"\U0001F480 \U00056496\uFFFD");
    EXPECT_EQ(ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD") << "a lone high surrogate";
    EXPECT_EQ(ToUtf8(std::u16string(1, char16_t(0xDC41))), "\xEF\xBF\xBD") << "a low one that stands for no byte";
}

TEST(Text, BstrKeepsLengthAndEmbeddedZeros) {
    Bstr b(std::u16string_view(u"a\0b", 3));
    EXPECT_EQ(SysStringLen(b.get()), 3u);
    EXPECT_EQ(b.view(), std::u16string_view(u"a\0b", 3));
    EXPECT_EQ(BstrView(nullptr), std::u16string_view());
}

}  // namespace
}  // namespace kiv

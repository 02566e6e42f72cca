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

TEST(Text, MalformedInputBecomesReplacementCharacters) {
    struct Case {
        std::string in;
        std::u16string out;
    } cases[] = {
        {"\xC3", u"\uFFFD"},                     // cut short at the end
        {"\xE6\x97", u"\uFFFD\uFFFD"},           // cut short, two bytes
        {"\xC0\xAF", u"\uFFFD\uFFFD"},           // overlong
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // an encoded surrogate
        {"a\xFF" "b", u"a\uFFFDb"},
    };
    for (const auto& c : cases) EXPECT_EQ(FromUtf8(c.in), c.out) << c.in;
    EXPECT_EQ(ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD") << "a lone surrogate";
}

TEST(Text, BstrKeepsLengthAndEmbeddedZeros) {
    Bstr b(std::u16string_view(u"a\0b", 3));
    EXPECT_EQ(SysStringLen(b.get()), 3u);
    EXPECT_EQ(b.view(), std::u16string_view(u"a\0b", 3));
    EXPECT_EQ(BstrView(nullptr), std::u16string_view());
}

}  // namespace
}  // namespace kiv

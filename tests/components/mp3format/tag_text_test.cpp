#include "components/mp3/format/tag_text.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace kiv::mp3 {
namespace {

using test::Bytes;
using test::u16;

TEST(Id3TagText, DecodesEveryByteForm) {
    struct Case {
        const char* name;
        std::u16string (*decode)(const Bytes&);
        Bytes bytes;
        std::u16string expected;
    };
    auto le = [](const Bytes& b) { return fromUtf16(b, false); };
    auto be = [](const Bytes& b) { return fromUtf16(b, true); };
    auto u8 = [](const Bytes& b) { return fromUtf8(b); };
    auto l1 = [](const Bytes& b) { return fromLatin1(b); };
    const Case cases[] = {
        {"mark FF FE is consumed", le, {0xFF, 0xFE, 0x41, 0x00}, u"A"},
        {"mark FE FF switches to big-endian", le, {0xFE, 0xFF, 0x03, 0xA9, 0x00, 0x41}, u"\u03A9A"},
        {"no mark keeps the default order", be, {0x00, 0x41, 0x00, 0x42}, u"AB"},
        {"ends at the zero unit", le, {0xFF, 0xFE, 0x41, 0x00, 0x00, 0x00, 0x42, 0x00}, u"A"},
        {"odd last byte ignored", le, {0x41, 0x00, 0x42}, u"A"},
        {"only a mark", le, {0xFF, 0xFE}, u""},
        {"utf-8 two, three and four bytes", u8, test::bytesOf("\xC3\xA9\xE6\x97\xA5\xF0\x9F\x8E\xB5"),
         u16("é日🎵")},
        {"utf-8 ends at zero", u8, {'a', 0, 'b'}, u"a"},
        {"utf-8 cut sequence", u8, {'a', 0xE6, 0x97}, u"a\uFFFD"},
        {"utf-8 stray continuation", u8, {0x80, 'b'}, u"\uFFFDb"},
        {"utf-8 overlong form", u8, {0xC0, 0xAF}, u"\uFFFD"},
        {"latin-1 upper half", l1, {'c', 0xE9, 0}, u"c\u00E9"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.decode(c.bytes), c.expected) << c.name;
    }
}

TEST(Id3TagText, Latin1AndUtf16Encoding) {
    EXPECT_EQ(toLatin1(u"caf\u00E9"), "caf\xE9");
    EXPECT_EQ(toLatin1(u16("a日b🎵c")), "a?b?c");  // a surrogate pair is one character
    EXPECT_EQ(toLatin1(std::u16string(u"ab\0cd", 5)), "ab");
    EXPECT_TRUE(fitsLatin1(u"\u00FF"));
    EXPECT_FALSE(fitsLatin1(u"\u0100"));
    EXPECT_EQ(toUtf16WithBom(u"A\u65E5"), std::string("\xFF\xFE" "A\0\xE5\x65", 6));
}

TEST(Id3TagText, ReadsDecimalLikeC) {
    const std::pair<const char*, long long> cases[] = {
        {"5/12", 5}, {"  +7", 7}, {"-3x", -3}, {"", 0}, {"abc", 0}, {"\t12", 12},
        {"99999999999999999999999", 9223372036854775807LL},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(readDecimal(text), value) << text;
}

}  // namespace
}  // namespace kiv::mp3

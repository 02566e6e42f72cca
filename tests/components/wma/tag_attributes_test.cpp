#include <gtest/gtest.h>

#include <vector>

#include "components/wma/tag_attributes.h"
#include "platform/media/header_attributes.h"

namespace kiv::wma {
namespace {

using media::AttrType;
using media::HeaderAttributes;

TagRecord ReadFrom(const HeaderAttributes& attrs) {
    return ReadTagAttributes([&](std::u16string_view name, AttrType* type, BYTE* value, WORD* length) {
        WORD stream = 0;
        return attrs.GetAttributeByName(&stream, name, type, value, length);
    });
}

void SetDword(HeaderAttributes& a, std::u16string_view name, std::uint32_t v) {
    BYTE b[4] = {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)};
    ASSERT_EQ(a.SetAttribute(0, name, AttrType::Dword, b, 4), S_OK);
}

TEST(WmaTagAttributes, FieldsComeFromTheirAttributes) {
    HeaderAttributes a;
    a.SetString(u"Title", u"A title");
    a.SetString(u"Author", u"The author");
    a.SetString(u"WM/AlbumArtist", u"Album artist");
    a.SetString(u"Description", u"Some words");
    a.SetString(u"WM/AlbumTitle", u"Album");
    a.SetString(u"WM/Genre", u"Jazz");
    a.SetString(u"WM/Year", u"1999");
    a.SetString(u"WM/TrackNumber", u"4");
    a.SetString(u"WM/Track", u"3");
    TagRecord t = ReadFrom(a);
    EXPECT_EQ(t.title, u"A title");
    EXPECT_EQ(t.artist, u"The author") << "Author comes before WM/AlbumArtist";
    EXPECT_EQ(t.comment, u"Some words");
    EXPECT_EQ(t.album, u"Album");
    EXPECT_EQ(t.genre, u"Jazz");
    EXPECT_EQ(t.year, u"1999");
    EXPECT_EQ(t.trackNo, u"4") << "WM/TrackNumber comes before WM/Track";
}

TEST(WmaTagAttributes, FallbacksAndTrackNumbers) {
    struct Case {
        const char* what;
        void (*fill)(HeaderAttributes&);
        std::u16string artist, trackNo, title;
    } cases[] = {
        {"album artist stands in", [](HeaderAttributes& a) { a.SetString(u"WM/AlbumArtist", u"AA"); }, u"AA", u"", u""},
        {"numeric track 7", [](HeaderAttributes& a) { SetDword(a, u"WM/TrackNumber", 7); }, u"", u"7", u""},
        {"long numeric track", [](HeaderAttributes& a) { SetDword(a, u"WM/TrackNumber", 123456); }, u"", u"123456", u""},
        {"largest 32-bit track", [](HeaderAttributes& a) { SetDword(a, u"WM/Track", 4294967295u); }, u"",
         u"4294967295", u""},
        {"WM/Track stands in", [](HeaderAttributes& a) { a.SetString(u"WM/Track", u"9"); }, u"", u"9", u""},
        {"a 64-bit track number is not taken", [](HeaderAttributes& a) {
             a.SetQword(u"WM/TrackNumber", 5);
             a.SetString(u"WM/Track", u"2");
         }, u"", u"2", u""},
        {"numbers count only for the track", [](HeaderAttributes& a) { SetDword(a, u"Title", 5); }, u"", u"", u""},
        {"empty header", [](HeaderAttributes&) {}, u"", u"", u""},
    };
    for (const Case& c : cases) {
        HeaderAttributes a;
        c.fill(a);
        TagRecord t = ReadFrom(a);
        EXPECT_EQ(t.artist, c.artist) << c.what;
        EXPECT_EQ(t.trackNo, c.trackNo) << c.what;
        EXPECT_EQ(t.title, c.title) << c.what;
    }
}

TEST(WmaTagAttributes, WritingSkipsEmptyFieldsAndCountsTheTerminator) {
    TagRecord t;
    t.title = u"Eleven char";
    t.artist = u"Me";
    t.trackNo = u"12";
    t.comment = u"c";
    struct Call {
        std::u16string name;
        AttrType type;
        std::vector<BYTE> value;
    };
    std::vector<Call> calls;
    ASSERT_EQ(WriteTagAttributes(t, [&](std::u16string_view name, AttrType type, const BYTE* v, WORD len) {
                  calls.push_back({std::u16string(name), type, std::vector<BYTE>(v, v + len)});
                  return S_OK;
              }),
              S_OK);
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].name, u"Title");
    EXPECT_EQ(calls[0].value.size(), 24u) << "11 characters and the terminating zero";
    EXPECT_EQ(calls[0].value[0], 'E');
    EXPECT_EQ(calls[0].value[22], 0);
    EXPECT_EQ(calls[0].value[23], 0);
    EXPECT_EQ(calls[1].name, u"Author");
    EXPECT_EQ(calls[2].name, u"WM/TrackNumber");
    EXPECT_EQ(calls[3].name, u"Description");
    for (const auto& c : calls) EXPECT_EQ(c.type, AttrType::String);

    // What is written reads back the same.
    HeaderAttributes store;
    ASSERT_EQ(WriteTagAttributes(t, [&](std::u16string_view name, AttrType type, const BYTE* v, WORD len) {
                  return store.SetAttribute(0, name, type, v, len);
              }),
              S_OK);
    EXPECT_EQ(ReadFrom(store), t);

    // A refusal stops the writing and is passed on.
    int seen = 0;
    EXPECT_EQ(WriteTagAttributes(t, [&](std::u16string_view, AttrType, const BYTE*, WORD) {
                  ++seen;
                  return E_OUTOFMEMORY;
              }),
              E_OUTOFMEMORY);
    EXPECT_EQ(seen, 1);
}

}  // namespace
}  // namespace kiv::wma

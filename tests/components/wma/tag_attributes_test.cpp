#include <gtest/gtest.h>

#include <vector>

#include "components/wma/tag_attributes.h"
#include "platform/media/header_attributes.h"

namespace kiv::wma {
namespace {

using media::AttrType;
using media::HeaderAttributes;

TagRecord ReadFrom(const HeaderAttributes& attrs) { return ReadTagAttributes(ListAttributesOf(attrs)); }

AttributeAdder AddTo(HeaderAttributes& store) {
    return [&store](std::u16string_view name, AttrType type, const BYTE* v, DWORD len) {
        return store.AddAttribute(0, name, nullptr, type, v, len);
    };
}

void AddString(HeaderAttributes& a, std::u16string_view name, std::u16string_view text) {
    std::vector<BYTE> b;
    for (char16_t c : text) b.insert(b.end(), {BYTE(c & 0xFF), BYTE(c >> 8)});
    b.insert(b.end(), {0, 0});
    ASSERT_EQ(a.AddAttribute(0, name, nullptr, AttrType::String, b.data(), DWORD(b.size())), S_OK);
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

// The named fields are string attributes under the names the usual taggers
// use, written after the seven and read back in the table's order.
TEST(WmaTagAttributes, NamedFieldsAreMusicBrainzAttributes) {
    TagRecord t;
    t.title = u"T";
    const std::vector<TagField> fields = {{u"MUSICBRAINZ_TRACKID", u"rec-1"}, {u"MUSICBRAINZ_ALBUMID", u"rel-1"}};
    HeaderAttributes store;
    ASSERT_EQ(WriteTagAttributes(t, fields, {}, AddTo(store)), S_OK);
    std::vector<std::pair<std::u16string, std::u16string>> written;
    for (const auto& e : store.Entries()) {
        std::u16string text;
        ASSERT_TRUE(HeaderAttributes::AsText(e, text));
        written.emplace_back(e.name, text);
    }
    EXPECT_EQ(written, (std::vector<std::pair<std::u16string, std::u16string>>{
                           {u"Title", u"T"}, {u"MusicBrainz/Track Id", u"rec-1"}, {u"MusicBrainz/Album Id", u"rel-1"}}));
    EXPECT_EQ(ReadFieldAttributes(ListAttributesOf(store)),
              (std::vector<TagField>{{u"MUSICBRAINZ_ALBUMID", u"rel-1"}, {u"MUSICBRAINZ_TRACKID", u"rec-1"}}));
    // A file without them has none; a number where text belongs is no id.
    HeaderAttributes other;
    SetDword(other, u"MusicBrainz/Album Id", 7);
    EXPECT_TRUE(ReadFieldAttributes(ListAttributesOf(other)).empty());
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
    ASSERT_EQ(WriteTagAttributes(t, {}, [&](std::u16string_view name, AttrType type, const BYTE* v, DWORD len) {
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
    ASSERT_EQ(WriteTagAttributes(t, {}, AddTo(store)), S_OK);
    EXPECT_EQ(ReadFrom(store), t);

    // A refusal stops the writing and is passed on.
    int seen = 0;
    EXPECT_EQ(WriteTagAttributes(t, {}, [&](std::u16string_view, AttrType, const BYTE*, DWORD) {
                  ++seen;
                  return E_OUTOFMEMORY;
              }),
              E_OUTOFMEMORY);
    EXPECT_EQ(seen, 1);
}

// Two artists of a Vorbis file are two "Author" attributes, not one text
// with a separator; repeated attributes of any file read back as the
// values joined by line feeds.
TEST(WmaTagAttributes, SeveralValuesAreRepeatedAttributes) {
    TagRecord t;
    t.artist = u"Ann\nBob\r\n\nCy";
    t.genre = u"Jazz\nBlues";
    t.comment = u"line one\nline two";
    HeaderAttributes store;
    ASSERT_EQ(WriteTagAttributes(t, {}, AddTo(store)), S_OK);
    std::vector<std::pair<std::u16string, std::u16string>> written;
    for (const auto& e : store.Entries()) {
        std::u16string text;
        ASSERT_TRUE(HeaderAttributes::AsText(e, text));
        written.emplace_back(e.name, text);
    }
    const std::vector<std::pair<std::u16string, std::u16string>> expected = {
        {u"Author", u"Ann"},   {u"Author", u"Bob"},    {u"Author", u"Cy"},
        {u"WM/Genre", u"Jazz"}, {u"WM/Genre", u"Blues"}, {u"Description", u"line one\nline two"},
    };
    EXPECT_EQ(written, expected) << "the comment is free text and stays one attribute";
    TagRecord back = ReadFrom(store);
    EXPECT_EQ(back.artist, u"Ann\nBob\nCy");
    EXPECT_EQ(back.genre, u"Jazz\nBlues");
    EXPECT_EQ(back.comment, t.comment);

    // Of other files: empty values are passed over, numbers count for the
    // track, and the fallback is taken only when the first name gives
    // nothing.
    HeaderAttributes other;
    AddString(other, u"Author", u"");
    AddString(other, u"WM/AlbumArtist", u"AA1");
    AddString(other, u"WM/AlbumArtist", u"AA2");
    AddString(other, u"WM/TrackNumber", u"3");
    const BYTE four[4] = {4, 0, 0, 0};
    ASSERT_EQ(other.AddAttribute(0, u"WM/TrackNumber", nullptr, AttrType::Dword, four, 4), S_OK);
    back = ReadFrom(other);
    EXPECT_EQ(back.artist, u"AA1\nAA2");
    EXPECT_EQ(back.trackNo, u"3\n4");
}

TagPicture Picture(long type, std::string mime, std::u16string description, std::size_t size) {
    TagPicture p;
    p.type = type;
    p.mimeType = std::move(mime);
    p.description = std::move(description);
    for (std::size_t i = 0; i < size; ++i) p.data.push_back(static_cast<unsigned char>(i * 7 + 1));
    return p;
}

TEST(WmaTagAttributes, PicturesAreWmPictureAttributes) {
    const std::vector<TagPicture> pictures = {Picture(3, "image/jpeg", u"Cover", 70000),
                                              Picture(4, "image/png", u"", 10)};
    HeaderAttributes store;
    ASSERT_EQ(WriteTagAttributes(TagRecord{}, pictures, AddTo(store)), S_OK);
    ASSERT_EQ(store.Entries().size(), 2u);
    const auto& first = store.Entries()[0];
    EXPECT_EQ(first.name, u"WM/Picture");
    EXPECT_EQ(first.type, AttrType::Binary);
    // Type, length, "image/jpeg" and "Cover" with their zeros, the data.
    ASSERT_EQ(first.value.size(), 1u + 4 + 22 + 12 + 70000);
    EXPECT_EQ(first.value[0], 3);
    EXPECT_EQ(first.value[1] | first.value[2] << 8 | first.value[3] << 16 | first.value[4] << 24, 70000);
    EXPECT_EQ(first.value[5], 'i');
    EXPECT_EQ(first.value[6], 0);
    EXPECT_EQ(ReadPictureAttributes(ListAttributesOf(store)), pictures);
}

TEST(WmaTagAttributes, DamagedPictureValuesAreLeftOut) {
    const std::vector<BYTE> good = PictureValue(Picture(3, "image/png", u"d", 8));
    ASSERT_TRUE(ParsePictureValue(good));
    struct Case {
        const char* what;
        std::vector<BYTE> value;
    } cases[] = {
        {"empty", {}},
        {"only the type and length", std::vector<BYTE>(good.begin(), good.begin() + 5)},
        {"cut in the MIME type", std::vector<BYTE>(good.begin(), good.begin() + 9)},
        {"cut in the description", std::vector<BYTE>(good.begin(), good.begin() + 26)},
        {"cut in the data", std::vector<BYTE>(good.begin(), good.end() - 1)},
        {"no terminator anywhere", std::vector<BYTE>{3, 1, 0, 0, 0, 'a', 0, 'b', 0, 'c'}},
        {"zero length", [&] {
             auto v = good;
             v[1] = 0;
             return v;
         }()},
        {"length past the value", [&] {
             auto v = good;
             v[4] = 0x7F;
             return v;
         }()},
    };
    for (const Case& c : cases) EXPECT_FALSE(ParsePictureValue(c.value)) << c.what;

    // A damaged one among good ones costs only itself; other types are not
    // pictures.
    HeaderAttributes store;
    ASSERT_EQ(store.AddAttribute(0, u"WM/Picture", nullptr, AttrType::Binary, cases[4].value.data(),
                                 DWORD(cases[4].value.size())),
              S_OK);
    ASSERT_EQ(store.AddAttribute(0, u"WM/Picture", nullptr, AttrType::Binary, good.data(), DWORD(good.size())), S_OK);
    AddString(store, u"WM/Picture", u"not a picture");
    const auto read = ReadPictureAttributes(ListAttributesOf(store));
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0], Picture(3, "image/png", u"d", 8));
}

}  // namespace
}  // namespace kiv::wma

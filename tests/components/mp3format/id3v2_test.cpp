#include <gtest/gtest.h>

#include <string>

#include "components/mp3/format/id3v2_header.h"
#include "components/mp3/format/id3v2_reader.h"
#include "components/mp3/format/id3v2_writer.h"
#include "test_support.h"

namespace kiv::mp3 {
namespace {

using test::Bytes;
using test::bytesOf;
using test::concat;
using test::u16;

Bytes frame(int version, std::string_view id, const Bytes& content, std::uint8_t formatFlags = 0) {
    Bytes out = bytesOf(id);
    const auto size = static_cast<std::uint32_t>(content.size());
    if (version == 2) {
        out.insert(out.end(), {std::uint8_t(size >> 16), std::uint8_t(size >> 8), std::uint8_t(size)});
    } else if (version == 3) {
        out.insert(out.end(), {std::uint8_t(size >> 24), std::uint8_t(size >> 16), std::uint8_t(size >> 8),
                               std::uint8_t(size), 0, formatFlags});
    } else {
        std::uint8_t s[4];
        writeSyncSafe(size, s);
        out.insert(out.end(), {s[0], s[1], s[2], s[3], 0, formatFlags});
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes text(std::uint8_t encoding, const Bytes& bytes) { return concat({{encoding}, bytes}); }

Bytes tag(int version, std::uint8_t flags, const Bytes& body, std::uint32_t padding = 0) {
    Bytes out = {'I', 'D', '3', std::uint8_t(version), 0, flags, 0, 0, 0, 0};
    writeSyncSafe(static_cast<std::uint32_t>(body.size() + padding), std::span<std::uint8_t, 4>(out.data() + 6, 4));
    out.insert(out.end(), body.begin(), body.end());
    out.resize(out.size() + padding, 0);
    return out;
}

// Escapes every FF with a following zero byte, as unsynchronisation does.
Bytes unsynchronise(const Bytes& in) {
    Bytes out;
    for (std::uint8_t b : in) {
        out.push_back(b);
        if (b == 0xFF) out.push_back(0);
    }
    return out;
}

TagRecord rec(std::u16string title, std::u16string artist = {}, std::u16string album = {},
              std::u16string year = {}, std::u16string genre = {}, std::u16string trackNo = {},
              std::u16string comment = {}) {
    return TagRecord{title, artist, album, year, genre, trackNo, comment};
}

TagRecord roundTrip(const TagRecord& tags) {
    const Bytes bytes = buildId3v2(tags);
    TagRecord read;
    EXPECT_TRUE(readId3v2(bytes, read));
    return read;
}

TEST(Id3v2Writer, OneShortTitle) {
    TagRecord tags;
    tags.title = u"Song";
    const Bytes bytes = buildId3v2(tags);
    ASSERT_EQ(bytes.size(), 1024u);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 10), (Bytes{'I', 'D', '3', 3, 0, 0, 0x00, 0x00, 0x07, 0x76}));
    EXPECT_EQ(Bytes(bytes.begin() + 10, bytes.begin() + 25), frame(3, "TIT2", text(0, bytesOf("Song"))));
    EXPECT_EQ(Bytes(bytes.begin() + 25, bytes.end()), Bytes(1024 - 25, 0));
}

TEST(Id3v2Writer, FrameOrderAndEncodings) {
    TagRecord tags{u"T", u"P\u00E9", u"\u65E5", u"1999", u"Techno", u"5/12", u"C"};
    const Bytes bytes = buildId3v2(tags);
    const Bytes expected = concat({
        frame(3, "TCON", text(0, bytesOf("Techno"))),
        frame(3, "TRCK", text(0, bytesOf("5/12"))),
        frame(3, "COMM", concat({{0}, bytesOf("eng"), {0}, bytesOf("C")})),
        frame(3, "TYER", text(0, bytesOf("1999"))),
        frame(3, "TIT2", text(0, bytesOf("T"))),
        frame(3, "TPE1", text(0, {'P', 0xE9})),  // Latin-1 still fits
        frame(3, "TALB", text(1, {0xFF, 0xFE, 0xE5, 0x65})),
    });
    ASSERT_GE(bytes.size(), 10 + expected.size());
    EXPECT_EQ(Bytes(bytes.begin() + 10, bytes.begin() + 10 + static_cast<std::ptrdiff_t>(expected.size())), expected);
}

TEST(Id3v2Writer, FieldsReadBack) {
    const std::u16string longText(5000, u'x');
    const TagRecord cases[] = {
        {u"Title", u"Artist", u"Album", u"2003", u"Rock", u"3", u"Comment"},
        {u16("Ελληνικά"), u16("日本語の歌手"), u16("Ünïcödé"), u"", u"", u"", u16("Ко🎵мментарий")},
        {u"", u"", u"", u"", u"Own genre", u"12/14", u""},
        {std::u16string(40, u'a'), u"", longText, u"", u"", u"", u""},
    };
    for (const TagRecord& tags : cases) {
        EXPECT_EQ(roundTrip(tags), tags) << test::utf8(tags.title);
    }
}

TEST(Id3v2Writer, LongTextIsWrittenWholeAndOnlyAFrameOverTheLimitIsCut) {
    // Lyrics-sized text: far beyond the 16 KB that once made the whole tag go.
    TagRecord tags;
    tags.title = u16("日本語の歌");
    tags.comment = std::u16string(40000, u'\u65E5');
    EXPECT_EQ(roundTrip(tags), tags);

    struct Case {
        const char* name;
        std::u16string comment;
        std::size_t capacity;
        std::size_t commentUnits;  // what is left of the comment
    } cases[] = {
        // Header 10, TIT2 15, COMM 15 + its text (UTF-16: 20 + 2 per unit).
        {"Latin-1 cut", std::u16string(500, u'x'), 200, 200 - 10 - 15 - 15},
        {"UTF-16 cut keeps whole units", std::u16string(500, u'\u65E5'), 200, (200 - 10 - 15 - 20) / 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TagRecord t;
        t.title = u"Titl";
        t.comment = c.comment;
        std::vector<std::string> cut;
        const auto tag = buildId3v2(t, c.capacity, &cut);
        EXPECT_EQ(tag.size(), c.capacity);
        EXPECT_EQ(cut, std::vector<std::string>{"COMM"});
        TagRecord back;
        ASSERT_TRUE(readId3v2(tag, back));
        EXPECT_EQ(back.title, u"Titl") << "the other frames stay whole";
        EXPECT_EQ(back.comment, c.comment.substr(0, c.commentUnits));
    }
    // A surrogate pair is never split by the cut.
    TagRecord pairs;
    for (int i = 0; i < 100; ++i) pairs.comment += u16("🎵");
    std::vector<std::string> cut;
    TagRecord back;
    // Room for 35 units: the 35th would be the first half of a pair.
    ASSERT_TRUE(readId3v2(buildId3v2(pairs, 101, &cut), back));
    EXPECT_EQ(cut, std::vector<std::string>{"COMM"});
    EXPECT_EQ(back.comment, pairs.comment.substr(0, 34));

    tags.comment = u"fits";
    EXPECT_TRUE(buildId3v2(tags, 9).empty());
    EXPECT_EQ(buildId3v2(tags, 100).size(), 100u);  // padding stays within the capacity
    EXPECT_TRUE(buildId3v2(TagRecord{}).size() == 1024u);
}

// UTF-16 little-endian bytes of a text, with the byte-order mark.
Bytes utf16le(std::u16string_view text) {
    Bytes out = {0xFF, 0xFE};
    for (char16_t c : text) out.insert(out.end(), {std::uint8_t(c & 0xFF), std::uint8_t(c >> 8)});
    return out;
}

TEST(Id3v2NamedFields, WrittenAsTaggersDoAndReadBack) {
    const std::vector<TagField> fields = {{u"MUSICBRAINZ_TRACKID", u"rec-1"}, {u"MUSICBRAINZ_ALBUMID", u"\u65E5-2"}};
    const Bytes bytes = buildId3v2(TagRecord{}, kId3v2MaxSize, nullptr, nullptr, &fields);
    // The recording id in the MusicBrainz UFID frame; the album id in a TXXX
    // frame, UTF-16 for both strings once the value needs it.
    const Bytes expected = concat({
        frame(3, "UFID", concat({bytesOf("http://musicbrainz.org"), {0}, bytesOf("rec-1")})),
        frame(3, "TXXX", concat({{1}, utf16le(u"MusicBrainz Album Id"), {0, 0}, utf16le(u"\u65E5-2")})),
    });
    ASSERT_GE(bytes.size(), 10 + expected.size());
    EXPECT_EQ(Bytes(bytes.begin() + 10, bytes.begin() + 10 + long(expected.size())), expected);
    TagRecord tags;
    std::vector<TagField> read;
    ASSERT_TRUE(readId3v2(bytes, tags, nullptr, &read));
    EXPECT_EQ(read, (std::vector<TagField>{{u"MUSICBRAINZ_TRACKID", u"rec-1"}, {u"MUSICBRAINZ_ALBUMID", u"\u65E5-2"}}));

    // Other writers' forms: 2.4 UTF-8, 2.2's TXX and UFI; descriptions and
    // owners of other fields are passed over.
    struct Case {
        const char* name;
        Bytes tagBytes;
        std::vector<TagField> fields;
    };
    const Case cases[] = {
        {"2.4 utf-8",
         tag(4, 0, concat({frame(4, "TXXX", concat({{3}, bytesOf("MusicBrainz Album Id"), {0}, bytesOf("a\xC3\xA9")})),
                           frame(4, "TXXX", concat({{3}, bytesOf("MusicBrainz Release Track Id"), {0}, bytesOf("x")})),
                           frame(4, "UFID", concat({bytesOf("http://www.cddb.com/id3/taginfo1.html"), {0}, bytesOf("y")}))})),
         {{u"MUSICBRAINZ_ALBUMID", u"a\u00E9"}}},
        {"2.2", tag(2, 0, concat({frame(2, "UFI", concat({bytesOf("http://musicbrainz.org"), {0}, bytesOf("r")})),
                                  frame(2, "TXX", concat({{0}, bytesOf("MusicBrainz Album Id"), {0}, bytesOf("b")}))})),
         {{u"MUSICBRAINZ_TRACKID", u"r"}, {u"MUSICBRAINZ_ALBUMID", u"b"}}},
        {"description not ended", tag(3, 0, frame(3, "TXXX", concat({{0}, bytesOf("MusicBrainz Album Id")}))), {}},
    };
    for (const Case& c : cases) {
        TagRecord t;
        std::vector<TagField> got;
        ASSERT_TRUE(readId3v2(c.tagBytes, t, nullptr, &got)) << c.name;
        EXPECT_EQ(got, c.fields) << c.name;
    }
}

TEST(Id3v2Reader, TextForms) {
    struct Case {
        const char* name;
        Bytes tagBytes;
        TagRecord expected;
    };
    TagRecord title;
    title.title = u"A\u03A9";
    const Bytes omega = {0xA9, 0x03};
    const Case cases[] = {
        {"latin-1", tag(3, 0, frame(3, "TIT2", text(0, {'A', 0xE9}))), rec(u"A\u00E9")},
        {"utf-16 little-endian mark", tag(3, 0, frame(3, "TIT2", text(1, {0xFF, 0xFE, 'A', 0, 0xA9, 0x03}))), title},
        {"utf-16 big-endian mark", tag(3, 0, frame(3, "TIT2", text(1, {0xFE, 0xFF, 0, 'A', 0x03, 0xA9}))), title},
        {"utf-16 big-endian without mark", tag(4, 0, frame(4, "TIT2", text(2, {0, 'A', 0x03, 0xA9}))), title},
        {"utf-8", tag(4, 0, frame(4, "TIT2", text(3, bytesOf("A\xCE\xA9")))), title},
        {"several 2.4 values joined by line feeds",
         tag(4, 0, frame(4, "TIT2", text(3, bytesOf(std::string("A\xCE\xA9\0B\0", 6))))), rec(u"A\u03A9\nB")},
        {"several UTF-16 2.4 values, one mark",
         tag(4, 0, frame(4, "TPE1", text(1, {0xFE, 0xFF, 0, 'A', 0, 0, 0, 'B', 0, 0, 0xFF, 0xFE, 'C', 0}))),
         rec(u"", u"A\nB\nC")},
        {"2.4 genre list", tag(4, 0, frame(4, "TCON", text(0, bytesOf(std::string("17\0Own", 6))))),
         rec(u"", u"", u"", u"", u"Rock\nOwn")},
        {"2.3 text ends at its first zero", tag(3, 0, frame(3, "TIT2", text(0, bytesOf(std::string("A\0B", 3))))),
         rec(u"A")},
        {"version 2.2 frames", tag(2, 0, concat({frame(2, "TT2", text(0, bytesOf("T"))), frame(2, "TP1", text(0, bytesOf("P"))),
                                                 frame(2, "COM", concat({{0}, bytesOf("eng"), {0}, bytesOf("C")}))})),
         rec(u"T", u"P", u"", u"", u"", u"", u"C")},
    };
    for (const Case& c : cases) {
        TagRecord read;
        ASSERT_TRUE(readId3v2(c.tagBytes, read)) << c.name;
        EXPECT_EQ(read, c.expected) << c.name;
    }
}

TEST(Id3v2Reader, Structures) {
    // A frame larger than 127 bytes: its sync-safe size differs from the plain one.
    const std::string longTitle(200, 'L');
    TagRecord longRead;
    ASSERT_TRUE(readId3v2(tag(4, 0, concat({frame(4, "TIT2", text(0, bytesOf(longTitle))),
                                            frame(4, "TPE1", text(0, bytesOf("P")))})),
                          longRead));
    EXPECT_EQ(test::utf8(longRead.title), longTitle);
    EXPECT_EQ(longRead.artist, u"P");

    struct Case {
        const char* name;
        Bytes tagBytes;
        TagRecord expected;
    };
    const Bytes unsyncTitle = text(1, {0xFF, 0x00, 0xFE, 'A', 0});  // FF FE mark, escaped
    const Case cases[] = {
        {"tag-wide unsynchronisation", tag(3, 0x80, unsynchronise(frame(3, "TIT2", text(1, {0xFF, 0xFE, 'A', 0})))), rec(u"A")},
        {"frame unsynchronisation", tag(4, 0, frame(4, "TIT2", unsyncTitle, 0x02)), rec(u"A")},
        {"data length indicator", tag(4, 0, frame(4, "TIT2", concat({{0, 0, 0, 2}, text(0, bytesOf("D"))}), 0x01)), rec(u"D")},
        {"extended header 2.3", tag(3, 0x40, concat({{0, 0, 0, 6, 0, 0, 0, 0, 0, 0}, frame(3, "TIT2", text(0, bytesOf("E")))})), rec(u"E")},
        {"extended header 2.4", tag(4, 0x40, concat({{0, 0, 0, 6, 1, 0}, frame(4, "TIT2", text(0, bytesOf("E")))})), rec(u"E")},
        {"compressed frame skipped", tag(3, 0, concat({frame(3, "TIT2", text(0, bytesOf("Z")), 0x80), frame(3, "TPE1", text(0, bytesOf("P")))})),
         rec(u"", u"P")},
        {"last frame wins", tag(3, 0, concat({frame(3, "TIT2", text(0, bytesOf("1"))), frame(3, "TIT2", text(0, bytesOf("2")))})), rec(u"2")},
        {"comment description skipped", tag(3, 0, frame(3, "COMM", concat({{1}, bytesOf("eng"), {0xFF, 0xFE, 'd', 0, 0, 0, 0xFF, 0xFE, 'c', 0}}))),
         rec(u"", u"", u"", u"", u"", u"", u"c")},
        {"recording time gives the year", tag(4, 0, frame(4, "TDRC", text(0, bytesOf("2004-05-01")))), rec(u"", u"", u"", u"2004")},
        {"genre reference", tag(3, 0, frame(3, "TCON", text(0, bytesOf("(17)")))), rec(u"", u"", u"", u"", u"Rock")},
        {"genre number", tag(4, 0, frame(4, "TCON", text(0, bytesOf("18")))), rec(u"", u"", u"", u"", u"Techno")},
        {"genre refinement", tag(3, 0, frame(3, "TCON", text(0, bytesOf("(17)Heavy")))), rec(u"", u"", u"", u"", u"Heavy")},
        {"padding ends the frames", tag(3, 0, frame(3, "TIT2", text(0, bytesOf("P"))), 500), rec(u"P")},
    };
    for (const Case& c : cases) {
        TagRecord read;
        ASSERT_TRUE(readId3v2(c.tagBytes, read)) << c.name;
        EXPECT_EQ(read, c.expected) << c.name;
    }
}

// Damaged tags: reading keeps what came before the damage and never reads
// beyond the bytes it was given (the address sanitizer build checks that;
// each input is its own exact-size heap block).
TEST(Id3v2Reader, DamagedTags) {
    const Bytes good = frame(3, "TPE1", text(0, bytesOf("Good")));
    auto withSize = [](Bytes f, std::uint32_t size) {
        f[4] = std::uint8_t(size >> 24); f[5] = std::uint8_t(size >> 16);
        f[6] = std::uint8_t(size >> 8); f[7] = std::uint8_t(size);
        return f;
    };
    const Bytes titleFrame = frame(3, "TIT2", text(0, bytesOf("Title")));
    Bytes truncated = tag(3, 0, concat({good, titleFrame}));
    truncated.resize(truncated.size() - 3);  // the tag claims more than the file has

    const std::pair<const char*, Bytes> cases[] = {
        {"tag cut inside a frame", truncated},
        {"frame size beyond the tag", tag(3, 0, concat({good, withSize(titleFrame, 1000)}))},
        {"negative frame size", tag(3, 0, concat({good, withSize(titleFrame, 0x80000001u)}))},
        {"empty text frame", tag(3, 0, concat({good, frame(3, "TIT2", {})}))},
        {"frame header cut short", tag(3, 0, concat({good, bytesOf("TIT2\0\0")}))},
        {"comment without terminator", tag(3, 0, concat({good, frame(3, "COMM", concat({{0}, bytesOf("engdesc")}))}))},
        {"wide comment odd length", tag(3, 0, concat({good, frame(3, "COMM", concat({{1}, bytesOf("eng"), {0xFF}}))}))},
        {"unknown encoding", tag(3, 0, concat({good, frame(3, "TIT2", text(9, bytesOf("x")))}))},
        {"extended header too long", tag(3, 0x40, concat({{0, 0, 0x10, 0}, good}))},
        {"data length indicator cut", tag(4, 0, concat({frame(4, "TPE1", text(0, bytesOf("Good"))), frame(4, "TIT2", {0, 0}, 0x01)}))},
    };
    for (const auto& [name, bytes] : cases) {
        TagRecord read;
        read.title = u"Before";
        readId3v2(bytes, read);
        const bool extendedHeaderLost = std::string_view(name) == "extended header too long";
        EXPECT_EQ(read.artist, extendedHeaderLost ? u"" : u"Good") << name;
        EXPECT_EQ(read.title, u"Before") << name;
    }

    TagRecord untouched;
    EXPECT_FALSE(readId3v2(bytesOf("ID3"), untouched));
    EXPECT_FALSE(readId3v2(tag(5, 0, good), untouched));  // unknown major version
    EXPECT_EQ(untouched, TagRecord{});
}

TEST(Id3v2Header, TotalSize) {
    const auto plain = parseId3v2Header(tag(3, 0, {}, 2000));
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->totalSize(), 2010u);
    const auto footer = parseId3v2Header(tag(4, 0x10, {}, 100));
    ASSERT_TRUE(footer);
    EXPECT_EQ(footer->totalSize(), 120u);
    EXPECT_FALSE(parseId3v2Header(bytesOf("ID3\x03")));
}

}  // namespace
}  // namespace kiv::mp3

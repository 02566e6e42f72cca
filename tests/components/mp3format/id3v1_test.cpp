#include "components/mp3/format/id3v1.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "components/mp3/format/genres.h"
#include "test_support.h"

namespace kiv::mp3 {
namespace {

using test::u16;

std::string field(const Id3v1Block& b, std::size_t at, std::size_t width) {
    return std::string(reinterpret_cast<const char*>(b.data()) + at, width);
}

void put(Id3v1Block& b, std::size_t at, std::string_view s) {
    std::copy(s.begin(), s.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
}

TEST(Id3v1, BuildsTheLayout) {
    TagRecord tags;
    tags.title = u"Song";
    const Id3v1Block b = buildId3v1(tags);
    EXPECT_EQ(field(b, 0, 3), "TAG");
    EXPECT_EQ(field(b, 3, 30), std::string("Song") + std::string(26, '\0'));
    EXPECT_EQ(field(b, 33, 94), std::string(94, '\0'));  // artist to comment, zero
    EXPECT_EQ(b[127], 255);

    tags.trackNo = u"5/12";
    tags.comment = std::u16string(30, u'c');
    tags.genre = u"Techno";
    tags.title = std::u16string(40, u't');
    tags.year = u"19999";
    const Id3v1Block full = buildId3v1(tags);
    EXPECT_EQ(field(full, 3, 30), std::string(30, 't'));  // cut, no terminator
    EXPECT_EQ(field(full, 93, 4), "1999");
    EXPECT_EQ(field(full, 97, 28), std::string(28, 'c'));
    EXPECT_EQ(full[125], 0);
    EXPECT_EQ(full[126], 5);
    EXPECT_EQ(full[127], 18);

    tags.trackNo.clear();
    EXPECT_EQ(field(buildId3v1(tags), 97, 30), std::string(30, 'c'));
}

TEST(Id3v1, TextOutsideLatin1BecomesQuestionMarks) {
    TagRecord tags;
    tags.artist = u16("Björk 日本");
    const Id3v1Block b = buildId3v1(tags);
    EXPECT_EQ(field(b, 33, 9), std::string("Bj\xF6rk ??\0", 9));
}

TEST(Id3v1, ReadsFieldsBack) {
    TagRecord tags;
    tags.title = u"Title";
    tags.artist = u"Art\u00EFst";
    tags.album = u"Album";
    tags.year = u"2001";
    tags.comment = u"Comment";
    tags.trackNo = u"7";
    tags.genre = u"Rock";
    TagRecord read;
    ASSERT_TRUE(readId3v1(buildId3v1(tags), read));
    EXPECT_EQ(read, tags);
}

TEST(Id3v1, ReadingRules) {
    auto block = [] {
        Id3v1Block b{};
        b[0] = 'T'; b[1] = 'A'; b[2] = 'G';
        b[127] = 255;
        return b;
    };
    TagRecord before;
    before.genre = u"Kept";
    before.trackNo = u"9";
    before.title = u"Replaced";

    struct Case {
        const char* name;
        void (*prepare)(Id3v1Block&);
        TagRecord expected;
    };
    TagRecord blanksStripped = before;
    blanksStripped.title = u"Abc";
    TagRecord blanksBeforeZero = before;
    blanksBeforeZero.title = u"Abc  ";
    TagRecord track200 = before;
    track200.title.clear();
    track200.trackNo = u"200";
    TagRecord noTrack = before;
    noTrack.title.clear();
    TagRecord genre = before;
    genre.title.clear();
    genre.genre = u"Synthpop";

    const Case cases[] = {
        {"blanks to the field end", [](Id3v1Block& b) { put(b, 3, "Abc" + std::string(27, ' ')); },
         blanksStripped},
        {"blanks before zeros stay", [](Id3v1Block& b) { put(b, 3, "Abc  "); }, blanksBeforeZero},
        {"track byte", [](Id3v1Block& b) { b[126] = 200; }, track200},
        // An all-zero track area is "no track", not track 0.
        {"no track", [](Id3v1Block&) {}, noTrack},
        {"listed genre", [](Id3v1Block& b) { b[127] = 147; }, genre},
        {"unlisted genre", [](Id3v1Block& b) { b[127] = 148; }, noTrack},
    };
    for (const Case& c : cases) {
        Id3v1Block b = block();
        c.prepare(b);
        TagRecord tags = before;
        ASSERT_TRUE(readId3v1(b, tags)) << c.name;
        EXPECT_EQ(tags, c.expected) << c.name;
    }

    Id3v1Block notTag = block();
    notTag[0] = 'X';
    TagRecord untouched = before;
    EXPECT_FALSE(readId3v1(notTag, untouched));
    EXPECT_EQ(untouched, before);
    const Id3v1Block whole = block();
    EXPECT_FALSE(readId3v1(std::span(whole).first(100), untouched));
}

TEST(Id3v1, GenreIndex) {
    const std::pair<const char*, int> cases[] = {
        {"", 255},       {"17", 17},      {"Rock", 17},        {"rock", 255},    {"(17)", 255},
        {"0", 0},        {"Blues", 0},    {"00", 255},         {" 17", 17},      {"147", 147},
        {"148", 255},    {"-1", 255},     {"AlternRock", 40},  {"Psychadelic", 67},
        {"Synthpop", 147}, {"Nonsense", 255},
    };
    for (const auto& [text, index] : cases) EXPECT_EQ(genreIndex(text), index) << text;

    const auto& names = genreNames();
    EXPECT_EQ(std::set<std::string_view>(names.begin(), names.end()).size(), names.size());
    for (int i = 0; i < kGenreCount; ++i) EXPECT_EQ(genreIndex(names[i]), i) << names[i];
}

}  // namespace
}  // namespace kiv::mp3

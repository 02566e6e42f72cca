#include "components/cdrip/cddb/cddb_record.h"

#include <gtest/gtest.h>

namespace kiv::cddb {
namespace {

// A record as servers send it: header comments, keys in standard order,
// a continued title, escapes, and track 10 after track 1.
constexpr const char* kRecord =
    "# xmcd\r\n"
    "#\r\n"
    "# Track frame offsets:\r\n"
    "#\t150\r\n"
    "# DYEAR=1800 in a comment is not a key\r\n"
    "DISCID=0c025803,\r\n"
    "DISCID=0d025803\r\n"
    "DTITLE=AC/DC / Back in \r\n"
    "DTITLE=Black\r\n"
    "DYEAR=1980\r\n"
    "DGENRE=Hard Rock\r\n"
    "TTITLE0=Hells Bells\r\n"
    "TTITLE1=Shoot to Thrill\r\n"
    "TTITLE3=A long\r\n"
    "TTITLE3= title\r\n"
    "TTITLE10=Ten\r\n"
    "EXTD=Line one\\nLine two\\tTabbed \\\\ back\\slash\r\n"
    "EXTT0=first\r\n"
    "EXTT0= notes\r\n"
    "PLAYORDER=\r\n";

TEST(CddbRecordTest, ParsesKeysContinuationsAndEscapes) {
    const Record r = ParseRecord(kRecord, "rock");
    EXPECT_EQ(r.category, "rock");
    EXPECT_EQ(r.discId, "0c025803,0d025803");
    EXPECT_EQ(r.discTitle, "AC/DC / Back in Black");
    EXPECT_EQ(r.artist, "AC/DC");
    EXPECT_EQ(r.album, "Back in Black");
    EXPECT_EQ(r.year, "1980");
    EXPECT_EQ(r.genre, "Hard Rock");
    EXPECT_EQ(r.extended, "Line one\nLine two\tTabbed \\ back\\slash");
    ASSERT_EQ(r.tracks.size(), 11u);
    EXPECT_EQ(r.Track(0).title, "Hells Bells");
    EXPECT_EQ(r.Track(0).extended, "first notes");
    EXPECT_EQ(r.Track(1).title, "Shoot to Thrill");
    EXPECT_EQ(r.Track(2).title, "");
    EXPECT_EQ(r.Track(3).title, "A long title");
    EXPECT_EQ(r.Track(10).title, "Ten");
    EXPECT_EQ(r.Track(11).title, "");
    EXPECT_EQ(r.Track(-1).title, "");
    EXPECT_EQ(r.raw, kRecord);
}

TEST(CddbRecordTest, DiscTitleSplitting) {
    struct Case {
        const char* dtitle;
        const char* artist;
        const char* album;
    };
    const Case cases[] = {
        {"The Band / The Album", "The Band", "The Album"},
        {"AC/DC / Live", "AC/DC", "Live"},
        {"Artist/Album", "Artist", "Album"},
        {"  Solo Artist  ", "Solo Artist", ""},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dtitle);
        const Record r = ParseRecord(std::string("DTITLE=") + c.dtitle + "\n");
        EXPECT_EQ(r.artist, c.artist);
        EXPECT_EQ(r.album, c.album);
    }
}

TEST(CddbRecordTest, CompilationTracksCarryTheirArtist) {
    const Record various = ParseRecord("DTITLE=Various / Hits\nTTITLE0=Singer X / Song\nTTITLE1=No Separator\n");
    EXPECT_EQ(various.Track(0).artist, "Singer X");
    EXPECT_EQ(various.Track(0).title, "Singer X / Song");
    EXPECT_EQ(various.Track(1).artist, "");
    const Record band = ParseRecord("DTITLE=Band / Album\nTTITLE0=Part A / Part B\n");
    EXPECT_EQ(band.Track(0).artist, "");
}

TEST(CddbRecordTest, MalformedAndHostileLinesAreSkipped) {
    const Record r = ParseRecord(
        "no equals sign\n"
        "=value without key\n"
        "TTITLE=no number\n"
        "TTITLEx=not a number\n"
        "TTITLE99=beyond the last CD track\n"
        "TTITLE99999999999999999999=overflow\n"
        "TTITLE2=kept\n"
        "TTITLE2");  // cut off without '=' or line feed
    ASSERT_EQ(r.tracks.size(), 3u);
    EXPECT_EQ(r.Track(2).title, "kept");
}

TEST(CddbRecordTest, TrackTagsUseTheWholeContinuedValue) {
    const Record r = ParseRecord(kRecord);
    TagRecord expected;
    expected.title = u"A long title";
    expected.artist = u"AC/DC";
    expected.album = u"Back in Black";
    expected.year = u"1980";
    expected.genre = u"Hard Rock";
    expected.trackNo = u"4";
    EXPECT_EQ(TrackTags(r, 3), expected);
    // Track 1 is TTITLE1, not the TTITLE10 that begins with the same text.
    EXPECT_EQ(TrackTags(r, 1).title, u"Shoot to Thrill");
    EXPECT_EQ(TrackTags(r, 10).trackNo, u"11");
}

TEST(CddbRecordTest, TrackTagsKeepNonLatinText) {
    const Record r = ParseRecord("DTITLE=Μπάντα / Δίσκος\nTTITLE0=Τραγούδι\nDYEAR=2001\n");
    const TagRecord tags = TrackTags(r, 0);
    EXPECT_EQ(tags.title, u"Τραγούδι");
    EXPECT_EQ(tags.artist, u"Μπάντα");
    EXPECT_EQ(tags.album, u"Δίσκος");
    EXPECT_EQ(tags.trackNo, u"1");
}

}  // namespace
}  // namespace kiv::cddb

// APEv2 tags at the end of MP3 files: the parser on hand-made bytes (its
// sizes come from the file and are never trusted), and files tagged by
// mutagen, a tagger of the field, read by our scan.
#include <gtest/gtest.h>

#include "components/mp3/format/apev2.h"
#include "components/mp3/format/mp3_scan.h"
#include "test_support.h"

namespace kiv::mp3 {
namespace {

using test::Bytes;
using test::bytesOf;
using test::concat;
using test::u16;

Bytes le32(std::uint32_t v) {
    return {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
}

Bytes item(std::string_view key, const Bytes& value, std::uint32_t flags = 0) {
    return concat({le32(std::uint32_t(value.size())), le32(flags), bytesOf(key), {0}, value});
}

// Header (when asked for), items, footer. tagSize and count default to the
// true values.
Bytes apeTag(const Bytes& items, std::uint32_t count, bool header = true, std::optional<std::uint32_t> tagSize = {}) {
    const std::uint32_t size = tagSize.value_or(std::uint32_t(items.size() + 32));
    auto block = [&](std::uint32_t flags) {
        return concat({bytesOf("APETAGEX"), le32(2000), le32(size), le32(count), le32(flags), Bytes(8, 0)});
    };
    const std::uint32_t hasHeader = header ? 0x80000000u : 0;
    return concat({header ? block(hasHeader | 0x20000000u) : Bytes{}, items, block(hasHeader)});
}

TEST(ApeTag, ReadsTheSevenFieldsAndLeavesOthersAlone) {
    const Bytes items = concat({
        item("Title", bytesOf("Grüße")),
        item("ARTIST", concat({bytesOf("One"), {0}, bytesOf("Two")})),  // a list of two
        item("album", bytesOf("Album")),
        item("Year", bytesOf("1999")),
        item("Genre", bytesOf("Techno")),
        item("Track", bytesOf("5/12")),
        item("Comment", bytesOf("Line one\nline two")),
        item("Cover Art (Front)", bytesOf("binary"), 2),
        item("Comment", bytesOf("binary, not text"), 2),
        item("Composer", bytesOf("not one of ours")),
    });
    TagRecord tags;
    tags.title = u"ID3v1 title";
    ASSERT_TRUE(readApeTag(concat({bytesOf("audio"), apeTag(items, 10)}), tags));
    EXPECT_EQ(tags, (TagRecord{u16("Grüße"), u"One\nTwo", u"Album", u"1999", u"Techno", u"5/12",
                               u"Line one\nline two"}));

    // Without a header, and fields the tag lacks keep their values.
    TagRecord kept{u"t", u"a", u"b", u"y", u"g", u"1", u"c"};
    ASSERT_TRUE(readApeTag(apeTag(item("Title", bytesOf("New")), 1, false), kept));
    EXPECT_EQ(kept, (TagRecord{u"New", u"a", u"b", u"y", u"g", u"1", u"c"}));
}

TEST(ApeTag, SizesFromTheFileAreNeverTrusted) {
    const Bytes good = concat({item("Title", bytesOf("T")), item("Artist", bytesOf("A"))});
    Bytes valueTooLong = good;
    valueTooLong[0] = 0xFF;  // first value size far past the tag
    Bytes noKeyEnd = concat({le32(1), le32(0), bytesOf("Titlexxxxxxxx")});
    struct Case {
        const char* name;
        Bytes bytes;
        bool read;
        TagRecord expected;
    } cases[] = {
        {"tag size beyond the bytes", apeTag(good, 2, true, 5000), false, {}},
        {"tag size below the footer", apeTag(good, 2, false, 31), false, {}},
        {"only a footer's worth", apeTag({}, 0, false), true, {}},
        {"count beyond the items", apeTag(good, 1000000), true, {u"T", u"A", {}, {}, {}, {}, {}}},
        {"value size beyond the tag", apeTag(valueTooLong, 2), true, {}},
        {"key without terminator", apeTag(noKeyEnd, 1), true, {}},
        {"not a tag", Bytes(64, 'A'), false, {}},
        {"too short", bytesOf("APETAGEX"), false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TagRecord tags;
        EXPECT_EQ(readApeTag(c.bytes, tags), c.read);
        EXPECT_EQ(tags, c.expected);
    }
    // A tag missing its first bytes or its last is not read (under the
    // sanitizers: nothing outside the bytes is touched either).
    const Bytes whole = apeTag(good, 2);
    for (std::size_t n = 1; n < whole.size(); ++n) {
        TagRecord tags;
        EXPECT_FALSE(readApeTag(std::span(whole).subspan(n), tags)) << n;
        EXPECT_FALSE(readApeTag(std::span(whole).first(whole.size() - n), tags)) << n;
        EXPECT_EQ(tags, TagRecord{});
    }
}

// The scan believes a footer only for a tag that fits behind the first
// frame: otherwise the bytes stay audio and nothing is allocated for them.
TEST(ApeTag, TheScanBelievesNoFooterBeyondTheAudio) {
    const Bytes audio = test::frames(test::frameWord(3, 3, 9, 0, false, 1), 417, 10);
    const Bytes good = apeTag(item("Title", bytesOf("T")), 1);
    struct Case {
        const char* name;
        Bytes tag;
        bool read;
    } cases[] = {
        {"true sizes", good, true},
        {"claims more than the file", apeTag(item("Title", bytesOf("T")), 1, true, 100000), false},
        {"claims a gigabyte", apeTag(item("Title", bytesOf("T")), 1, true, 1u << 30), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        test::writeFile(dir / "a.mp3", concat({audio, c.tag}));
        const auto result = scanMp3File(dir / "a.mp3");
        ASSERT_TRUE(result.ok());
        EXPECT_EQ(result.info.hasApeTag, c.read);
        EXPECT_EQ(result.info.tags.title, c.read ? u"T" : u"");
        EXPECT_EQ(result.info.audioEnd, std::int64_t(audio.size() + (c.read ? 0 : c.tag.size())));
    }
}

// A lame stream tagged by mutagen; the untagged stream is the reference
// for the audio our scan finds.
class ApeToolTag : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"lame", "ffmpeg", "/usr/bin/python3"})
            if (!test::haveTool(tool)) GTEST_SKIP() << tool << " is not installed";
        if (test::runTool({"/usr/bin/python3", "-c", "import mutagen"}).exitCode != 0)
            GTEST_SKIP() << "python3-mutagen is not installed";
        const auto wav = dir_ / "in.wav";
        ASSERT_EQ(test::runTool({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "sine=frequency=440:duration=1",
                                 "-ac", "2", "-ar", "44100", wav.string()})
                      .exitCode,
                  0);
        ASSERT_EQ(test::runTool({"lame", "--silent", "-b", "128", wav.string(), plain().string()}).exitCode, 0);
    }
    std::filesystem::path plain() const { return dir_ / "plain.mp3"; }

    // The tone encoded by lame with its ID3 options, then the APEv2 tag
    // written by mutagen (at the end, behind an ID3v1 tag); with id3v1Last
    // the ID3v1 tag is moved behind the APEv2 tag, as other taggers write.
    std::filesystem::path Tagged(const std::string& name, std::vector<std::string> lameTags, bool id3v1Last) {
        const auto path = dir_ / name;
        std::vector<std::string> argv = {"lame", "--silent", "-b", "128"};
        argv.insert(argv.end(), lameTags.begin(), lameTags.end());
        argv.push_back((dir_ / "in.wav").string());
        argv.push_back(path.string());
        EXPECT_EQ(test::runTool(argv).exitCode, 0);
        const std::string script =
            "import sys\n"
            "from mutagen.apev2 import APEv2\n"
            "t = APEv2()\n"
            "t['Title'] = 'Ein sehr langer Titel über dreißig Zeichen'\n"
            "t['Artist'] = ['Erste', 'Zweite']\n"
            "t['Album'] = 'Album'\n"
            "t['Year'] = '2001'\n"
            "t['Genre'] = 'Ambient'\n"
            "t['Track'] = '3/9'\n"
            "t['Comment'] = 'From APE'\n"
            "t.save(sys.argv[1])\n"
            "if sys.argv[2] == '1':\n"
            "    data = open(sys.argv[1], 'rb').read()\n"
            "    start = data.index(b'APETAGEX')\n"
            "    assert data[start - 128:start - 125] == b'TAG'\n"
            "    open(sys.argv[1], 'wb').write(data[:start - 128] + data[start:] + data[start - 128:start])\n";
        EXPECT_EQ(test::runTool({"/usr/bin/python3", "-c", script, path.string(), id3v1Last ? "1" : "0"}).exitCode,
                  0);
        return path;
    }

    test::TempDir dir_;
};

TEST_F(ApeToolTag, FieldsComeFromId3v2ThenApeThenId3v1AndNoneOfItIsAudio) {
    const auto reference = scanMp3File(plain());
    ASSERT_TRUE(reference.ok());
    const TagRecord ape{u16("Ein sehr langer Titel über dreißig Zeichen"), u"Erste\nZweite", u"Album", u"2001",
                        u"Ambient", u"3/9", u"From APE"};
    TagRecord overId3v2 = ape;
    overId3v2.title = u"From ID3v2";
    struct Case {
        const char* name;
        std::vector<std::string> lameTags;
        bool id3v1Last;
        TagRecord expected;
    } cases[] = {
        {"APEv2 only", {}, false, ape},
        {"APEv2 after ID3v1", {"--id3v1-only", "--tt", "Cut ID3v1 title", "--ta", "V1"}, false, ape},
        {"APEv2 before ID3v1", {"--id3v1-only", "--tt", "Cut ID3v1 title", "--ta", "V1"}, true, ape},
        {"ID3v2 over APEv2", {"--add-id3v2", "--tt", "From ID3v2"}, false, overId3v2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = scanMp3File(Tagged(std::string(c.name) + ".mp3", c.lameTags, c.id3v1Last));
        ASSERT_TRUE(result.ok());
        EXPECT_TRUE(result.info.hasApeTag);
        EXPECT_EQ(result.info.tags, c.expected);
        EXPECT_EQ(result.info.audioEnd - result.info.firstFrameOffset,
                  reference.info.audioEnd - reference.info.firstFrameOffset);
        EXPECT_EQ(result.info.frameCount, reference.info.frameCount);
    }
}

}  // namespace
}  // namespace kiv::mp3

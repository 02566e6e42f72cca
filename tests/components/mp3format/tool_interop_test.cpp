// Files made by the field's own tools (lame, ffmpeg) read by our scan, and
// our tags read by theirs (ffprobe, mpg123).
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "components/mp3/format/id3v1.h"
#include "components/mp3/format/id3v2_prepend.h"
#include "components/mp3/format/id3v2_writer.h"
#include "components/mp3/format/mp3_scan.h"
#include "test_support.h"

namespace kiv::mp3 {
namespace {

using test::u16;

// About one frame: the tools and the headers may count the encoder's
// delay frame differently.
constexpr double kDurationTolerance = 0.03;

struct Probe {
    double duration = 0;
    long bitrate = 0;
    int sampleRate = 0;
    int channels = 0;
    std::map<std::string, std::string> tags;
};

std::optional<Probe> ffprobe(const std::filesystem::path& file) {
    const auto run = test::runTool({"ffprobe", "-v", "error", "-show_entries",
                                    "format=duration,bit_rate:stream=sample_rate,channels:format_tags", "-of",
                                    "default=noprint_wrappers=1", file.string()});
    if (run.exitCode != 0) return std::nullopt;
    Probe p;
    std::istringstream lines(run.out);
    std::string line;
    while (std::getline(lines, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        if (key == "duration") p.duration = std::stod(value);
        else if (key == "bit_rate" && value != "N/A") p.bitrate = std::stol(value);
        else if (key == "sample_rate") p.sampleRate = std::stoi(value);
        else if (key == "channels") p.channels = std::stoi(value);
        else if (key.rfind("TAG:", 0) == 0) p.tags[key.substr(4)] = value;
    }
    return p;
}

class Mp3ToolInterop : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"lame", "ffmpeg", "ffprobe"}) {
            if (!test::haveTool(tool)) GTEST_SKIP() << tool << " is not installed";
        }
        // Three seconds of a tone: long enough for the VBR encoder to vary.
        const auto run = test::runTool({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                                        "sine=frequency=440:duration=3", "-ac", "2", "-ar", "44100",
                                        wav().string()});
        ASSERT_EQ(run.exitCode, 0);
    }
    std::filesystem::path wav() const { return dir_ / "in.wav"; }

    std::filesystem::path lame(const std::string& name, std::vector<std::string> options) {
        std::vector<std::string> argv = {"lame", "--silent"};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.push_back(wav().string());
        argv.push_back((dir_ / name).string());
        EXPECT_EQ(test::runTool(argv).exitCode, 0) << name;
        return dir_ / name;
    }

    test::TempDir dir_;
};

TEST_F(Mp3ToolInterop, StreamsMadeByLame) {
    struct Case {
        const char* name;
        std::vector<std::string> options;
        int sampleRate, channels;
        bool vbrHeader;
        std::int32_t exactBitrate;  // 0: compare with ffprobe's estimate
    };
    const Case cases[] = {
        {"cbr.mp3", {"-b", "128"}, 44100, 2, true, 0},
        {"cbr-plain.mp3", {"-t", "-b", "128"}, 44100, 2, false, 128000},
        {"vbr.mp3", {"-V", "2"}, 44100, 2, true, 0},
        {"mono-lsf.mp3", {"-t", "-m", "m", "--resample", "22.05", "-b", "64"}, 22050, 1, false, 64000},
        {"vbr-lsf.mp3", {"-V", "4", "--resample", "16"}, 16000, 2, true, 0},
    };
    for (const Case& c : cases) {
        const auto file = lame(c.name, c.options);
        const auto probe = ffprobe(file);
        ASSERT_TRUE(probe) << c.name;
        const auto r = scanMp3File(file);
        ASSERT_TRUE(r.ok()) << c.name;
        EXPECT_EQ(r.info.sampleRate, c.sampleRate) << c.name;
        EXPECT_EQ(r.info.sampleRate, probe->sampleRate) << c.name;
        EXPECT_EQ(r.info.channels, c.channels) << c.name;
        EXPECT_EQ(r.info.vbr, c.vbrHeader) << c.name;
        EXPECT_NEAR(r.info.durationSeconds, probe->duration, kDurationTolerance) << c.name;
        if (c.exactBitrate) {
            EXPECT_EQ(r.info.bitrate, c.exactBitrate) << c.name;
        } else {
            EXPECT_NEAR(r.info.bitrate, probe->bitrate, probe->bitrate * 0.02) << c.name;
        }
    }
}

TEST_F(Mp3ToolInterop, FreeFormatStreamMatchesDecodedLength) {
    if (!test::haveTool("mpg123")) GTEST_SKIP() << "mpg123 is not installed";
    const auto file = lame("free.mp3", {"-t", "--freeformat", "-b", "320"});
    const auto r = scanMp3File(file);
    ASSERT_TRUE(r.ok());
    ASSERT_TRUE(r.info.freeFormat);
    // What a decoder really gets out of it, in 16-bit stereo samples.
    const auto decoded = test::runTool({"mpg123", "-q", "-s", file.string()});
    ASSERT_EQ(decoded.exitCode, 0);
    ASSERT_GT(decoded.out.size(), 0u);
    const double seconds = static_cast<double>(decoded.out.size()) / 4 / 44100;
    EXPECT_NEAR(r.info.durationSeconds, seconds, kDurationTolerance);
    EXPECT_NEAR(r.info.bitrate, 320000, 320000 * 0.02);
}

TEST_F(Mp3ToolInterop, TagsWrittenByLame) {
    const std::vector<std::string> fields = {"--tt", "Title", "--ta", "Artist", "--tl", "Album", "--ty", "2001",
                                             "--tc", "Comment", "--tg", "Rock", "--tn", "7"};
    struct Case {
        const char* name;
        std::vector<std::string> options;
        bool id3v1, id3v2;
    };
    const Case cases[] = {
        {"v1.mp3", {"--id3v1-only"}, true, false},
        {"v2.mp3", {"--id3v2-only"}, false, true},
        {"both.mp3", {"--add-id3v2"}, true, true},
        {"padded.mp3", {"--pad-id3v2"}, true, true},
    };
    const TagRecord expected{u"Title", u"Artist", u"Album", u"2001", u"Rock", u"7", u"Comment"};
    const auto plain = scanMp3File(lame("plain.mp3", {"-b", "128"}));
    ASSERT_TRUE(plain.ok());
    for (const Case& c : cases) {
        std::vector<std::string> options = c.options;
        options.insert(options.end(), {"-b", "128"});
        options.insert(options.end(), fields.begin(), fields.end());
        const auto r = scanMp3File(lame(c.name, options));
        ASSERT_TRUE(r.ok()) << c.name;
        EXPECT_EQ(r.info.hasId3v1, c.id3v1) << c.name;
        EXPECT_EQ(r.info.hasId3v2, c.id3v2) << c.name;
        EXPECT_EQ(r.info.tags, expected) << c.name;
        // Tags change where the audio is, never how long it is.
        EXPECT_NEAR(r.info.durationSeconds, plain.info.durationSeconds, 1e-9) << c.name;
    }

    // Text outside Latin-1, which lame stores as UTF-16.
    const auto wide = scanMp3File(lame("wide.mp3", {"--id3v2-only", "--id3v2-utf16", "--tt", "日本語の歌", "--ta", "Ελληνικά"}));
    ASSERT_TRUE(wide.ok());
    EXPECT_EQ(wide.info.tags.title, u16("日本語の歌"));
    EXPECT_EQ(wide.info.tags.artist, u16("Ελληνικά"));
}

TEST_F(Mp3ToolInterop, TagsWrittenByFfmpeg) {
    for (const char* version : {"3", "4"}) {
        const auto file = dir_ / (std::string("ffmpeg-v") + version + ".mp3");
        const auto run = test::runTool({"ffmpeg", "-v", "error", "-y", "-i", wav().string(), "-c:a", "libmp3lame",
                                        "-b:a", "128k", "-id3v2_version", version, "-metadata", "title=日本 title",
                                        "-metadata", "artist=Ärtist", "-metadata", "album=Album", "-metadata",
                                        "date=2001", "-metadata", "genre=Rock", "-metadata", "track=3",
                                        file.string()});
        ASSERT_EQ(run.exitCode, 0) << version;
        const auto probe = ffprobe(file);
        ASSERT_TRUE(probe) << version;
        const auto r = scanMp3File(file);
        ASSERT_TRUE(r.ok()) << version;
        EXPECT_EQ(r.info.tags.title, u16("日本 title")) << version;
        EXPECT_EQ(r.info.tags.artist, u16("Ärtist")) << version;
        EXPECT_EQ(r.info.tags.album, u"Album") << version;
        EXPECT_EQ(r.info.tags.year, u"2001") << version;
        EXPECT_EQ(r.info.tags.genre, u"Rock") << version;
        EXPECT_EQ(r.info.tags.trackNo, u"3") << version;
        EXPECT_NEAR(r.info.durationSeconds, probe->duration, kDurationTolerance) << version;
        EXPECT_EQ(r.info.sampleRate, 44100) << version;
    }
}

// What the encoder's finishing step does: ID3v1 appended, ID3v2 put in
// front; other programs must see every field, text outside Latin-1 too.
TEST_F(Mp3ToolInterop, OurTagsSeenByFfprobe) {
    const auto file = lame("ours.mp3", {"-b", "128"});
    const auto before = scanMp3File(file);
    ASSERT_TRUE(before.ok());

    const TagRecord tags{u16("日本語のタイトル"), u16("Артист"), u16("Albüm"), u"1999", u"Techno", u"5/12",
                         u16("Комментарий 🎵")};
    {
        const Id3v1Block v1 = buildId3v1(tags);
        test::Bytes bytes = test::readFile(file);
        bytes.insert(bytes.end(), v1.begin(), v1.end());
        test::writeFile(file, bytes);
    }
    const auto v2 = buildId3v2(tags);
    ASSERT_FALSE(v2.empty());
    ASSERT_TRUE(prependId3v2(file, v2).ok());

    auto probe = ffprobe(file);
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->tags["title"], "日本語のタイトル");
    EXPECT_EQ(probe->tags["artist"], "Артист");
    EXPECT_EQ(probe->tags["album"], "Albüm");
    EXPECT_EQ(probe->tags["date"], "1999");
    EXPECT_EQ(probe->tags["genre"], "Techno");
    EXPECT_EQ(probe->tags["track"], "5/12");
    EXPECT_EQ(probe->tags["comment"], "Комментарий 🎵");

    const auto after = scanMp3File(file);
    ASSERT_TRUE(after.ok());
    EXPECT_EQ(after.info.tags, tags);
    EXPECT_EQ(after.info.firstFrameOffset, before.info.firstFrameOffset + static_cast<std::int64_t>(v2.size()));
    EXPECT_NEAR(after.info.durationSeconds, before.info.durationSeconds, 1e-9);
    EXPECT_NEAR(after.info.durationSeconds, probe->duration, kDurationTolerance);
}

}  // namespace
}  // namespace kiv::mp3

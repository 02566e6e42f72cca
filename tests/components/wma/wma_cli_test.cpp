#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>

#include "tests/components/wma/wma_test_support.h"

namespace kiv::test {
namespace {

class WmaCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!ToolAvailable("ffprobe") || !ToolAvailable("ffmpeg")) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
        UseTemporaryRegistry(dir_, {"kivwave", "kivconv", "kivwma9", "kivmp3", "kivvorbis"});
        ::unsetenv("KIV_REGISTRY");  // only the child uses it
        for (const char* d : {"wma", "back", "out", "bare"}) fs::create_directories(dir_.path() / d);
    }
    CommandRun Cli(const std::string& args) { return RunOndaloCli(dir_, args, dir_.path().string()); }
    TempDir dir_;
};

TEST_F(WmaCliTest, WavToWmaAndBackKeepsFormatAndLength) {
    struct Case {
        const char* mode;
        int channels, rate;
        std::string bitrate;  // what ffprobe reports for the WMA stream; "" to skip
    } cases[] = {
        {"--cbr 128", 2, 44100, "128000"},
        {"--vbr 50", 2, 44100, ""},
        {"--cbr 32", 1, 22050, "32000"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        const std::string name = "song" + std::to_string(n++);
        const std::size_t frames = std::size_t(c.rate) * 2;
        WriteFileBytes(dir_ / (name + ".wav"), MakeWav(SinePcm(frames, c.channels, c.rate), c.channels, c.rate));
        CommandRun r = Cli("convert -q --to wma " + std::string(c.mode) + " --dest wma " + name + ".wav");
        ASSERT_EQ(r.status, 0) << r.output;
        const std::string wma = dir_ / ("wma/" + name + ".wma");
        std::string p = Probe(wma, "stream=codec_name,sample_rate,channels,bit_rate");
        EXPECT_EQ(ProbeValue(p, "codec_name"), "wmav2") << p;
        EXPECT_EQ(ProbeValue(p, "sample_rate"), std::to_string(c.rate));
        EXPECT_EQ(ProbeValue(p, "channels"), std::to_string(c.channels));
        if (!c.bitrate.empty()) {
            EXPECT_EQ(ProbeValue(p, "bit_rate"), c.bitrate);
        }

        r = Cli("convert -q --to wav --dest back wma/" + name + ".wma");
        ASSERT_EQ(r.status, 0) << r.output;
        auto wav = ReadFileBytes(dir_ / ("back/" + name + ".wav"));
        ASSERT_GT(wav.size(), 46u);
        EXPECT_EQ(wav[22], c.channels);
        EXPECT_EQ(wav[24] | (wav[25] << 8) | (wav[26] << 16), c.rate);
        EXPECT_NEAR(double(wav.size() - 46) / (2.0 * c.channels), double(frames), 2048.0);
    }
}

// The WMA decoder hands its samples over in pieces whose sizes follow thread
// timing; the Ogg files made from one source must still hold the same
// audio, one file at a time or two at once.
TEST_F(WmaCliTest, OneSourceGivesTheSameOggAudioInEveryRunAndWithTwoJobs) {
    CommandRun made = RunCommand("ffmpeg -v error -y -f lavfi -i 'anoisesrc=d=4:r=44100:a=0.3' -f lavfi -i "
                                 "'sine=f=330:d=4:r=44100' -filter_complex '[0][1]amix=inputs=2' -ac 2 -c:a wmav2 "
                                 "-b:a 128k '" + (dir_ / "wma/a.wma") + "' 2>&1");
    ASSERT_EQ(made.status, 0) << made.output;
    for (const char* copy : {"b", "c"}) fs::copy_file(dir_ / "wma/a.wma", dir_ / ("wma/" + std::string(copy) + ".wma"));
    std::vector<std::vector<unsigned char>> decoded;
    for (const char* jobs : {"2", "1"}) {
        const std::string ogg = std::string("ogg") + jobs, wav = std::string("wav") + jobs;
        fs::create_directories(dir_.path() / ogg);
        fs::create_directories(dir_.path() / wav);
        CommandRun r = Cli("convert -q --to ogg --jobs " + std::string(jobs) + " --dest " + ogg +
                           " wma/a.wma wma/b.wma wma/c.wma");
        ASSERT_EQ(r.status, 0) << r.output;
        r = Cli("convert -q --to wav --dest " + wav + " " + ogg + "/a.ogg " + ogg + "/b.ogg " + ogg + "/c.ogg");
        ASSERT_EQ(r.status, 0) << r.output;
        for (const char* name : {"a", "b", "c"}) decoded.push_back(ReadFileBytes(dir_ / (wav + "/" + name + ".wav")));
    }
    ASSERT_GT(decoded[0].size(), 4u * 44100 * 4 / 2) << "the Ogg file decodes";
    for (std::size_t i = 1; i < decoded.size(); ++i) EXPECT_TRUE(decoded[i] == decoded[0]) << "file " << i;
}

// A tagged WMA file made by ffmpeg goes through our decoder into an MP3 and
// from there through our encoder into a WMA file: ffprobe finds the tags.
TEST_F(WmaCliTest, TagsSurviveConversionThroughWma) {
    ToolRun made = RunTool("ffmpeg -v error -y -f lavfi -i sine=f=440:d=2:r=44100 -ac 2 -c:a wmav2 -b:a 64k"
                           " -metadata title='A Title' -metadata artist=Artist -metadata album=Album"
                           " -metadata genre=Pop -metadata WM/Year=1987 -metadata track=5 " +
                               Quote(dir_ / "tagged.wma"),
                           true);
    ASSERT_EQ(made.status, 0) << made.output;
    CommandRun r = Cli("convert -q --to mp3 --dest bare tagged.wma");
    ASSERT_EQ(r.status, 0) << r.output;
    r = Cli("convert -q --to wma --vbr 75 --dest out bare/tagged.mp3");
    ASSERT_EQ(r.status, 0) << r.output;
    std::string p = Probe(dir_ / "out/tagged.wma", "format_tags");
    EXPECT_EQ(ProbeValue(p, "TAG:title"), "A Title") << p;
    EXPECT_EQ(ProbeValue(p, "TAG:artist"), "Artist");
    EXPECT_EQ(ProbeValue(p, "TAG:album"), "Album");
    EXPECT_EQ(ProbeValue(p, "TAG:genre"), "Pop");
    EXPECT_EQ(ProbeValue(p, "TAG:WM/Year"), "1987");
    EXPECT_EQ(ProbeValue(p, "TAG:track"), "5");

    r = Cli("convert -q --to wma --no-tags --dest back bare/tagged.mp3");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(ProbeValue(Probe(dir_ / "back/tagged.wma", "format_tags"), "TAG:title"), "");
}

// Two ARTIST comments of an Ogg Vorbis file (vorbiscomment) are two
// "Author" attributes in the WMA file, as mutagen reads it, and two ARTIST
// comments again in an Ogg file made from that, as vorbiscomment lists them.
TEST_F(WmaCliTest, SeveralArtistsStaySeveralThroughWma) {
    if (!ToolAvailable("oggenc") || !ToolAvailable("vorbiscomment")) GTEST_SKIP() << "vorbis-tools not installed";
    if (!MutagenAvailable()) GTEST_SKIP() << "python3-mutagen missing";
    ToolRun made = RunTool("ffmpeg -v error -y -f lavfi -i sine=f=440:d=2:r=44100 -ac 2 " + Quote(dir_ / "src.wav") +
                               " && oggenc -Q -o " + Quote(dir_ / "duet.ogg") + " " + Quote(dir_ / "src.wav") +
                               " && vorbiscomment -w -t ARTIST=Ann -t ARTIST=Bob -t TITLE=Duet " +
                               Quote(dir_ / "duet.ogg"),
                           true);
    ASSERT_EQ(made.status, 0) << made.output;
    CommandRun r = Cli("convert -q --to wma --dest wma duet.ogg");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(MutagenView(dir_ / "wma/duet.wma"), "Author=Ann|Bob\n");
    r = Cli("convert -q --to ogg --dest back wma/duet.wma");
    ASSERT_EQ(r.status, 0) << r.output;
    ToolRun listed = RunTool("vorbiscomment -l " + Quote(dir_ / "back/duet.ogg"));
    ASSERT_EQ(listed.status, 0);
    EXPECT_EQ(listed.output, "title=Duet\nartist=Ann\nartist=Bob\n");
}

// The header is rewritten once the file is complete. A disk that fills up
// during that step fails the file with its reason, and neither the file nor
// its temporary is left: the limit lets the complete file through (its size
// measured by a first conversion; FFmpeg also writes its header twice) but
// not the rewrite, which writes what follows the header again. With room for
// both, the same conversion succeeds.
TEST_F(WmaCliTest, ADiskFullWhileTheHeaderIsRewrittenFailsTheFile) {
    WriteFileBytes(dir_ / "tone.wav", MakeWav(SinePcm(44100 * 2, 2, 44100), 2, 44100));
    CommandRun r = Cli("convert -q --to wma --cbr 128 --dest wma tone.wav");
    ASSERT_EQ(r.status, 0) << r.output;
    const auto size = fs::file_size(dir_.path() / "wma/tone.wma");
    ASSERT_GT(size, 20000u);
    auto run = [&](std::uintmax_t limit) {
        fs::remove_all(dir_.path() / "out");
        fs::create_directories(dir_.path() / "out");
        const std::string env = "LD_PRELOAD='" + std::string(ONDALO_BUILD_DIR) + "/lib/fault_shim.so' ONDALO_FAULT_DIR='" +
                                (dir_ / "out") + "' ONDALO_FAULT_MODE=full:" + std::to_string(limit) +
                                " ASAN_OPTIONS=\"$ASAN_OPTIONS:verify_asan_link_order=0\" ";
        return RunOndaloCli(dir_, "convert --to wma --cbr 128 --dest out tone.wav", dir_.path().string(), env);
    };
    r = run(size + 4000);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("No space left on device"), std::string::npos) << r.output;
    EXPECT_TRUE(fs::is_empty(dir_.path() / "out")) << "no file, no temporary";
    r = run(2 * size + 8000);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(ReadFileBytes(dir_ / "out/tone.wma") == ReadFileBytes(dir_ / "wma/tone.wma"));
}

// A constant bitrate the codec lacks for the source takes the nearest one
// it has: the file is encoded once, and the log says which bitrate was
// used. Sources made by sox; the reference for the bitrate is ffprobe.
TEST_F(WmaCliTest, AnUnofferedConstantBitrateTakesTheNearestOfferedOnce) {
    if (!ToolAvailable("sox")) GTEST_SKIP() << "sox not installed";
    struct Case {
        const char* name;
        int channels, rate;
        int asked, used;  // kbit/s
    } cases[] = {
        {"stereo", 2, 44100, 100, 96},  // between 96 and 128
        {"mono", 1, 22050, 320, 80},    // the default, far above what mono 22050 Hz offers
        {"narrow", 2, 8000, 320, 64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string wav = dir_ / (std::string(c.name) + ".wav");
        ASSERT_EQ(RunTool("sox -r " + std::to_string(c.rate) + " -c " + std::to_string(c.channels) + " -n -b 16 " +
                          Quote(wav) + " synth 1.5 sine 440 vol 0.5")
                      .status,
                  0);
        CommandRun r = Cli("convert --to wma --cbr " + std::to_string(c.asked) + " --dest out " + Quote(wav));
        EXPECT_EQ(r.status, 0) << r.output;
        const std::string line = " WMA offers no CBR " + std::to_string(c.asked) + " kbit/s for this source; CBR " +
                                 std::to_string(c.used) + " kbit/s was used.";
        const auto at = r.output.find(line);
        EXPECT_NE(at, std::string::npos) << r.output;
        EXPECT_EQ(r.output.find(line, at + 1), std::string::npos) << "logged once";
        EXPECT_EQ(r.output.find("refused"), std::string::npos) << "encoded once: " << r.output;
        const std::string wma = dir_ / ("out/" + std::string(c.name) + ".wma");
        EXPECT_EQ(ProbeValue(Probe(wma, "stream=bit_rate"), "bit_rate"), std::to_string(c.used * 1000));
    }
    // A bitrate the codec has is used without a word.
    CommandRun r = Cli("convert --to wma --cbr 128 --dest back " + Quote(dir_ / "stereo.wav"));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output.find("WMA offers no"), std::string::npos) << r.output;
}

// A WMA file made by ffmpeg with one packet's framing damaged converts
// whole but for that packet; the batch log tells that the source was
// damaged and how much was skipped, in one orange line of the file, and
// FFmpeg's own lines stay off the terminal.
TEST_F(WmaCliTest, ADamagedSourceConvertsWithANoteInTheLog) {
    CommandRun r = RunCommand("ffmpeg -v error -y -f lavfi -i sine=f=440:d=5:r=44100 -ac 2 -c:a wmav2 -b:a 128k " +
                              Quote(dir_ / "wma/hurt.wma") + " 2>&1");
    ASSERT_EQ(r.status, 0) << r.output;
    auto bytes = ReadFileBytes(dir_ / "wma/hurt.wma");
    const unsigned char dataGuid[] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                      0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    const auto at = std::search(bytes.begin(), bytes.end(), dataGuid, dataGuid + 16);
    ASSERT_NE(at, bytes.end());
    // Three packets in (ffmpeg's packets are 3200 bytes), the length field
    // of the packet's payload.
    const std::size_t hurt = std::size_t(at - bytes.begin()) + 50 + 3 * 3200;
    ASSERT_LT(hurt + 10, bytes.size());
    for (std::size_t i = 3; i < 7; ++i) bytes[hurt + i] ^= 0xFF;
    WriteFileBytes(dir_ / "wma/hurt.wma", bytes);

    r = Cli("convert --to wav --dest out wma/hurt.wma");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("Source damaged: about 0."), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("First problem: asf: "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Done."), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find(" @ 0x"), std::string::npos) << "no line of FFmpeg's own:\n" << r.output;
    const auto wav = ReadFileBytes(dir_ / "out/hurt.wav");
    EXPECT_GT(wav.size(), 44100u * 4 * 4) << "more than four of the five seconds";
}

}  // namespace
}  // namespace kiv::test

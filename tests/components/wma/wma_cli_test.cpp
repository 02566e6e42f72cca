#include <gtest/gtest.h>

#include <stdlib.h>

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

TEST_F(WmaCliTest, AnUnmatchedConstantBitrateIsReportedAndTheDefaultUsed) {
    WriteFileBytes(dir_ / "s.wav", MakeWav(SinePcm(44100, 2, 44100)));
    CommandRun r = Cli("convert --to wma --cbr 100 --dest out s.wav");  // no 100 kbit/s format
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(" The encoder refused CBR 100 kbit/s"), std::string::npos) << r.output;
    std::vector<std::string> files;
    for (auto& e : fs::directory_iterator(dir_ / "out")) files.push_back(e.path().filename());
    EXPECT_EQ(files, std::vector<std::string>{"s.wma"}) << "no partial file of the refused try is left";
}

}  // namespace
}  // namespace kiv::test

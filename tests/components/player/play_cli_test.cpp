#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstring>

#include "tests/support/test_env.h"

namespace kiv::test {
namespace {

// Runs `ondalo-cli play` of this build in the test folder, on the null
// sound device, recording into capture.wav there.
CommandRun Play(const TempDir& dir, const std::string& args) {
    return RunOndaloCli(dir, "play " + args, dir.path().string(),
                        "KIV_SOUND=null KIV_SOUND_CAPTURE='" + (dir / "capture.wav") + "' ");
}

class PlayCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        UseTemporaryRegistry(dir_, {"kivwave", "kivvorbis", "kivplay"});
        ::unsetenv("KIV_REGISTRY");  // only the child uses it
    }
    TempDir dir_;
};

TEST_F(PlayCliTest, PlaysAFileToItsEnd) {
    auto data = PatternBytes(176400 / 2);
    WriteFileBytes(dir_ / "song.wav", MakeWav(data));
    CommandRun r = Play(dir_, "-q song.wav");
    ASSERT_EQ(r.status, 0) << r.output;
    auto captured = ReadFileBytes(dir_ / "capture.wav");
    ASSERT_GE(captured.size(), 44 + data.size());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), captured.begin() + 44)) << "the recording differs from the file";
}

TEST_F(PlayCliTest, ReportsWhatCannotBePlayed) {
    WriteFileBytes(dir_ / "notes.txt", {'h', 'i'});
    // A header that promises audio, and nothing after it.
    auto cut = MakeWav(PatternBytes(4000));
    cut.resize(44);
    WriteFileBytes(dir_ / "cut.wav", cut);
    // An Ogg Vorbis stream with its headers and no sample (oggenc of an
    // empty WAV): it opens, and has nothing to play.
    WriteFileBytes(dir_ / "empty.wav", MakeWav({}));
    CommandRun made = RunCommand("oggenc -Q -o " + (dir_ / "empty.ogg") + " " + (dir_ / "empty.wav"));
    ASSERT_EQ(made.status, 0) << made.output;
    const struct {
        const char* args;
        int status;
        const char* text;
    } cases[] = {
        {"notes.txt", 1, "Cannot find appropriate decoder."},
        {"missing.wav", 1, "missing.wav: failed"},
        {"-q cut.wav", 1, "cut.wav: failed: cannot open"},
        {"-q empty.ogg", 1, "empty.ogg: failed: the file holds no audio that could be decoded"},
        {"", 2, "no files given"},
        {"--loud x.wav", 2, "unknown option"},
    };
    for (const auto& c : cases) {
        CommandRun r = Play(dir_, c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.output;
        EXPECT_NE(r.output.find(c.text), std::string::npos) << c.args << "\n" << r.output;
    }
}

// Files the player used to hang on or size its buffers from: each ends, and
// what cannot be played is refused before anything is sized from it. A
// memory limit keeps a regression from taking the machine's memory, a time
// limit from hanging the run.
TEST_F(PlayCliTest, EndsOnEveryKindOfWavAndRefusesAbsurdFormats) {
#if defined(__SANITIZE_ADDRESS__)
    const std::string limit;
#else
    const std::string limit = "ulimit -v 1500000 && ";
#endif
    auto cut = MakeWav(PatternBytes(17640));
    cut.pop_back();  // the last sample frame is incomplete
    WriteFileBytes(dir_ / "cut.wav", cut);
    auto absurd = MakeWav(PatternBytes(17640));
    const std::uint32_t rate = 4000000000u, byteRate = 16000000u;
    std::memcpy(absurd.data() + 24, &rate, 4);
    std::memcpy(absurd.data() + 28, &byteRate, 4);
    WriteFileBytes(dir_ / "absurd.wav", absurd);
    ASSERT_EQ(RunCommand("ffmpeg -v error -nostdin -y -f lavfi -i 'sine=d=0.3' -ac 6 -c:a pcm_s24le -f wav - > '" +
                         (dir_ / "surround.wav") + "'").status, 0);
    const struct {
        const char* file;
        int status;
        const char* text;
    } cases[] = {
        {"cut.wav", 0, nullptr},
        {"surround.wav", 0, nullptr},
        {"absurd.wav", 1, "Cannot attach decoder: its sample format cannot be played."},
    };
    for (const auto& c : cases) {
        CommandRun r = RunOndaloCli(dir_, std::string("play -q ") + c.file, dir_.path().string(),
                                    limit + "KIV_SOUND=null KIV_SOUND_CAPTURE='" + (dir_ / "capture.wav") +
                                        "' timeout 60 env ");
        EXPECT_EQ(r.status, c.status) << c.file << "\n" << r.output;
        if (c.text) {
            EXPECT_NE(r.output.find(c.text), std::string::npos) << c.file << "\n" << r.output;
        }
        if (c.file == std::string("cut.wav")) {
            auto captured = ReadFileBytes(dir_ / "capture.wav");
            ASSERT_GE(captured.size(), 44u + 17636);
            EXPECT_TRUE(std::equal(cut.begin() + 44, cut.end() - 3, captured.begin() + 44))
                << "every whole frame is heard";
        }
    }
}

}  // namespace
}  // namespace kiv::test

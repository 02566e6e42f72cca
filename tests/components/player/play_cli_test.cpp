#include <gtest/gtest.h>

#include <stdlib.h>

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
        UseTemporaryRegistry(dir_, {"kivwave", "kivplay"});
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
    const struct {
        const char* args;
        int status;
        const char* text;
    } cases[] = {
        {"notes.txt", 1, "Cannot find appropriate decoder."},
        {"missing.wav", 1, "missing.wav: failed"},
        {"-q cut.wav", 1, "cut.wav: failed: the file holds no audio that could be decoded"},
        {"", 2, "no files given"},
        {"--loud x.wav", 2, "unknown option"},
    };
    for (const auto& c : cases) {
        CommandRun r = Play(dir_, c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.output;
        EXPECT_NE(r.output.find(c.text), std::string::npos) << c.args << "\n" << r.output;
    }
}

}  // namespace
}  // namespace kiv::test

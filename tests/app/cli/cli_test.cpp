#include <gtest/gtest.h>

#include <stdlib.h>

#include "tests/support/test_env.h"

namespace kiv::test {
namespace {

// Runs ondalo-cli of this build in `cwd`, with the test's own registry.
CommandRun Cli(const TempDir& dir, const std::string& args, const std::string& cwd) {
    return RunOndaloCli(dir, args, cwd);
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        UseTemporaryRegistry(dir_, {"kivwave", "kivconv"});
        ::unsetenv("KIV_REGISTRY");  // only the child uses it
        fs::create_directories(dir_.path() / "out");
    }
    TempDir dir_;
};

TEST_F(CliTest, WavToWavKeepsTheSampleDataByteForByte) {
    auto data = PatternBytes(176400 * 2 + 7);
    WriteFileBytes(dir_ / "song.wav", MakeWav(data));
    CommandRun r = Cli(dir_, "convert --to wav --dest out song.wav", dir_.path());
    ASSERT_EQ(r.status, 0) << r.output;
    auto out = ReadFileBytes(dir_ / "out/song.wav");
    ASSERT_EQ(out.size(), 46 + data.size() + 1);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin() + 46));
    EXPECT_NE(r.output.find("1 converted, 0 skipped, 0 failed"), std::string::npos) << r.output;
    for (auto& e : fs::directory_iterator(dir_.path() / "out"))
        EXPECT_EQ(e.path().filename(), "song.wav") << "no temporary file is left behind";
}

TEST_F(CliTest, AnExistingDestinationIsNeverReplacedWithoutOverwrite) {
    WriteFileBytes(dir_ / "song.wav", MakeWav(PatternBytes(1000)));
    WriteFileBytes(dir_ / "out/song.wav", {'k', 'e', 'e', 'p'});
    CommandRun r = Cli(dir_, "convert --dest out song.wav", dir_.path());
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(ReadFileBytes(dir_ / "out/song.wav"), (std::vector<unsigned char>{'k', 'e', 'e', 'p'}));
    EXPECT_NE(r.output.find("skipped: the destination exists"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("0 converted, 1 skipped, 0 failed"), std::string::npos) << r.output;

    r = Cli(dir_, "convert --dest out --overwrite song.wav", dir_.path());
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(fs::file_size(dir_ / "out/song.wav"), 46u + 1000);
}

TEST_F(CliTest, FailuresAreReportedAndLeaveNothingBehind) {
    WriteFileBytes(dir_ / "good.wav", MakeWav(PatternBytes(100)));
    WriteFileBytes(dir_ / "bad.wav", {'R', 'I', 'F', 'F', 'x'});
    CommandRun r = Cli(dir_, "convert --dest out bad.wav good.wav missing.wav notes.txt", dir_.path());
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("bad.wav: failed: cannot open the source: Cannot find appropriate decoder."),
              std::string::npos) << r.output;
    EXPECT_NE(r.output.find("missing.wav: failed"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("1 converted, 0 skipped, 3 failed"), std::string::npos) << r.output;
    std::vector<std::string> left;
    for (auto& e : fs::directory_iterator(dir_.path() / "out")) left.push_back(e.path().filename());
    EXPECT_EQ(left, std::vector<std::string>{"good.wav"});
}

TEST_F(CliTest, TheSourceIsNeverItsOwnDestination) {
    auto bytes = MakeWav(PatternBytes(500));
    WriteFileBytes(dir_ / "song.wav", bytes);
    CommandRun r = Cli(dir_, "convert --overwrite song.wav", dir_.path());
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("the destination is the source file itself"), std::string::npos) << r.output;
    EXPECT_EQ(ReadFileBytes(dir_ / "song.wav"), bytes);
}

TEST_F(CliTest, UsageErrorsAndHelp) {
    struct Case {
        std::string args;
        int status;
        const char* says;
    } cases[] = {
        {"convert --help", 0, "Usage: ondalo-cli convert"},
        {"--help", 0, "Commands:"},
        {"", 2, "Usage: ondalo-cli COMMAND"},
        {"convert", 2, "no files given"},
        {"convert --to flac a.wav", 2, "unknown format 'flac'"},
        {"convert --dest nowhere a.wav", 2, "does not exist"},
        {"convert --frobnicate a.wav", 2, "unknown option"},
        {"transmogrify", 2, "unknown command"},
    };
    for (const Case& c : cases) {
        CommandRun r = Cli(dir_, c.args, dir_.path());
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << c.args << "\n" << r.output;
    }
}

}  // namespace
}  // namespace kiv::test

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>

#include "tests/support/test_env.h"

namespace kiv::test {
namespace {

struct CliRun {
    int status;
    std::string output;  // stdout and stderr together
};

// Runs `ondalo-cli play` of this build in the test folder, on the null
// sound device, recording into capture.wav there.
CliRun Play(const TempDir& dir, const std::string& args) {
    std::string cmd = "cd '" + dir.path().string() + "' && KIV_SOUND=null KIV_SOUND_CAPTURE='" +
                      (dir / "capture.wav") + "' KIV_REGISTRY='" + (dir / "registry.reg") + "' '" ONDALO_BUILD_DIR +
                      std::string("/bin/ondalo-cli' play ") + args + " 2>&1 </dev/null";
    CliRun r{-1, {}};
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf;
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) r.output.append(buf.data(), n);
    int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
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
    CliRun r = Play(dir_, "-q song.wav");
    ASSERT_EQ(r.status, 0) << r.output;
    auto captured = ReadFileBytes(dir_ / "capture.wav");
    ASSERT_GE(captured.size(), 44 + data.size());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), captured.begin() + 44)) << "the recording differs from the file";
}

TEST_F(PlayCliTest, ReportsWhatCannotBePlayed) {
    WriteFileBytes(dir_ / "notes.txt", {'h', 'i'});
    const struct {
        const char* args;
        int status;
        const char* text;
    } cases[] = {
        {"notes.txt", 1, "Cannot find appropriate decoder."},
        {"missing.wav", 1, "missing.wav: failed"},
        {"", 2, "no files given"},
        {"--loud x.wav", 2, "unknown option"},
    };
    for (const auto& c : cases) {
        CliRun r = Play(dir_, c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.output;
        EXPECT_NE(r.output.find(c.text), std::string::npos) << c.args << "\n" << r.output;
    }
}

}  // namespace
}  // namespace kiv::test

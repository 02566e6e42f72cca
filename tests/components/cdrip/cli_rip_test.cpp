// ondalo-cli drives, toc and rip end to end on a virtual disc.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>

#include "tests/components/cdrip/cdrip_fixture.h"
#include "tests/components/cdrip/local_cddb_server.h"

namespace kiv::test {
namespace {

struct CliRun {
    int status = -1;
    std::string output;
};

class CliRipTest : public RipTest {
protected:
    CliRun Cli(const std::string& args) {
        const std::string cmd = "cd '" + dir_.path().string() + "' && KIV_REGISTRY='" + (dir_ / "registry.reg") + "' '" +
                                ONDALO_BUILD_DIR + "/bin/ondalo-cli' " + args + " 2>&1 </dev/null";
        CliRun r;
        FILE* p = ::popen(cmd.c_str(), "r");
        if (!p) return r;
        std::array<char, 4096> buf;
        std::size_t n;
        while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) r.output.append(buf.data(), n);
        const int st = ::pclose(p);
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        return r;
    }
};

TEST_F(CliRipTest, DrivesAndTableOfContents) {
    MakeTracks({100, 200});
    Config("[drive]\nvendor = ABCD\nproduct = Disc Drive\n" + TrackLines(2) + "[drive]\ntray = open\n");
    CliRun r = Cli("drives");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("1: ABCD    Disc Drive       (2 tracks)"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("2: KIV     Virtual CD       (no disc)"), std::string::npos) << r.output;

    r = Cli("toc --drive 1");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("    2     100  0:02.50     470400  audio"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Disc id: 05000402"), std::string::npos) << r.output;
    EXPECT_EQ(Cli("toc --drive 3").status, 1);
}

TEST_F(CliRipTest, RipWritesEveryTrackExactlyAndNamesThemFromTheRecord) {
    const auto pcm = MakeTracks({100, 200});
    Config("[drive]\n" + TrackLines(2));
    LocalCddbServer server("DTITLE=The Band / The Album\r\nTTITLE0=Intro\r\nTTITLE1=Second: Part\r\n");
    server.UseFromEnvironment();
    fs::create_directories(dir_.path() / "out");
    CliRun r = Cli("rip --dest out --template '%1/%6 %2' --jitter");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("2 ripped, 0 failed"), std::string::npos) << r.output;
    EXPECT_EQ(WavData(dir_ / "out/The Band/01 Intro.wav"), pcm[0]);
    EXPECT_EQ(WavData(dir_ / "out/The Band/02 Second_ Part.wav"), pcm[1]);

    // Without a record, and only the tracks asked for; an existing file
    // stays unless --overwrite says otherwise.
    r = Cli("rip --no-cddb --dest out --tracks 2");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(WavData(dir_ / "out/Track 02.wav"), pcm[1]);
    EXPECT_FALSE(fs::exists(dir_ / "out/Track 01.wav"));
    r = Cli("rip --no-cddb --dest out --tracks 2");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("Cancelled by user."), std::string::npos) << r.output;
    EXPECT_EQ(Cli("rip --no-cddb --dest out --tracks 2 --overwrite").status, 0);
    ::unsetenv("ONDALO_CDDB_SERVER");
    ::unsetenv("ONDALO_CDDB_PORT");
}

TEST_F(CliRipTest, BadTrackListsAndFormatsAreRefused) {
    MakeTracks({20, 20, 20});
    Config("[drive]\n" + TrackLines(3));
    for (const char* bad : {"--tracks 0", "--tracks 4", "--tracks 2-1", "--tracks 1,", "--tracks x", "--to flac"})
        EXPECT_EQ(Cli(std::string("rip --no-cddb ") + bad).status, 2) << bad;
}

}  // namespace
}  // namespace kiv::test

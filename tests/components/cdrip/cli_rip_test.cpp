// ondalo-cli drives, toc and rip end to end on a virtual disc.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/components/cdrip/cdrip_fixture.h"
#include "tests/components/cdrip/local_cddb_server.h"

namespace kiv::test {
namespace {

using CliRun = CommandRun;

class CliRipTest : public RipTest {
protected:
    CliRun Cli(const std::string& args) { return RunOndaloCli(dir_, args, dir_.path().string()); }
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

// The log line of a step, whatever the time it was written at.
bool Logged(const std::string& output, const std::string& text) {
    for (std::size_t at = output.find(">>> "); at != std::string::npos; at = output.find(">>> ", at + 1)) {
        const std::size_t lineEnd = output.find('\n', at);
        const std::string line = output.substr(at, lineEnd - at);
        const std::size_t space = line.find(' ', 4);
        if (space != std::string::npos && line.substr(space) == text) return true;
    }
    return false;
}

TEST_F(CliRipTest, RipWritesEveryTrackExactlyAndNamesThemFromTheRecord) {
    const auto pcm = MakeTracks({100, 200});
    Config("[drive]\n" + TrackLines(2));
    LocalCddbServer server("DTITLE=The Band / The Album\r\nTTITLE0=Intro\r\nTTITLE1=Second: Part/Two\r\n");
    server.UseFromEnvironment();
    fs::create_directories(dir_.path() / "out");
    CliRun r = Cli("rip --to wav --dest out --template '%1/%6 %2' --jitter");
    ASSERT_EQ(r.status, 0) << r.output;
    // The lookup reports in the wizard's words, with the disc's information.
    EXPECT_NE(r.output.find("Loading CDDB data, please wait...\nLoad CDDB data finished.\nArtist: The Band\n"
                            "Album: The Album\n"),
              std::string::npos)
        << r.output;
    EXPECT_TRUE(Logged(r.output, " Start ripping The Band/01 Intro -> out/The Band/01 Intro.wav")) << r.output;
    EXPECT_TRUE(Logged(r.output, " Done.")) << r.output;
    EXPECT_NE(r.output.find("Total Files: 2   Done: 2   Remaining: 0   Skip: 0   Failed: 0"), std::string::npos)
        << r.output;
    EXPECT_EQ(WavData(dir_ / "out/The Band/01 Intro.wav"), pcm[0]);
    // A '/' of the record's value stays in the name.
    EXPECT_EQ(WavData(dir_ / "out/The Band/02 Second_ Part_Two.wav"), pcm[1]);

    // The default template is the title alone; without --to and without
    // saved settings the format is WAV into the current folder.
    r = Cli("rip --tracks 1");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(WavData(dir_ / "Intro.wav"), pcm[0]);
    ::unsetenv("ONDALO_CDDB_SERVER");
    ::unsetenv("ONDALO_CDDB_PORT");
}

TEST_F(CliRipTest, AnExistingFileIsAskedForSkippedRenamedOrReplaced) {
    const auto pcm = MakeTracks({50, 60});
    Config("[drive]\n" + TrackLines(2));
    fs::create_directories(dir_.path() / "out");
    const std::string target = dir_ / "out/Track 02.wav";
    WriteFileBytes(target, {'o', 'l', 'd'});

    // Asked, with no terminal to answer: No, the track is skipped.
    CliRun r = Cli("rip --no-cddb --dest out --tracks 2");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(Logged(r.output, " Skip Track 02")) << r.output;
    EXPECT_NE(r.output.find("Skip: 1"), std::string::npos) << r.output;
    EXPECT_EQ(ReadFileBytes(target), (Bytes{'o', 'l', 'd'}));

    r = Cli("rip --no-cddb --dest out --tracks 2 --exists rename=new_%");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(Logged(r.output, " File exists. Auto rename Track 02.wav to new_Track 02.wav")) << r.output;
    EXPECT_EQ(WavData(dir_ / "out/new_Track 02.wav"), pcm[1]);
    EXPECT_EQ(ReadFileBytes(target), (Bytes{'o', 'l', 'd'}));

    r = Cli("rip --no-cddb --dest out --tracks 2 --overwrite");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(Logged(r.output, " Overwrite out/Track 02.wav")) << r.output;
    EXPECT_EQ(WavData(target), pcm[1]);

    // The desktop program's saved choice (skip) is the default.
    std::ofstream(dir_ / "Option.ini") << "[RipperStep2]\nNormalMode=1\nWAV=1\nMP3=0\nSkip=1\nQuery=0\n";
    r = Cli("rip --no-cddb --dest out");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("Total Files: 2   Done: 1   Remaining: 0   Skip: 1   Failed: 0"), std::string::npos)
        << r.output;
    EXPECT_EQ(WavData(dir_ / "out/Track 01.wav"), pcm[0]);
    // No hidden temporary file is left.
    for (const auto& entry : fs::directory_iterator(dir_.path() / "out"))
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
}

TEST_F(CliRipTest, AFailedTrackFailsTheRunAndLeavesNoFile) {
    const auto pcm = MakeTracks({60, 60});
    Config("[drive]\nunreadable = 70 always\n" + TrackLines(2));
    CliRun r = Cli("rip --no-cddb");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("Rip Failed. An error occurs - Unreadable frames in track 2"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("Total Files: 2   Done: 1   Remaining: 0   Skip: 0   Failed: 1"), std::string::npos)
        << r.output;
    EXPECT_EQ(WavData(dir_ / "Track 01.wav"), pcm[0]);
    EXPECT_FALSE(fs::exists(dir_ / "Track 02.wav"));
}

TEST_F(CliRipTest, ALookupThatFailsSaysSoAndTheTracksKeepPlainNames) {
    const auto pcm = MakeTracks({40});
    Config("[drive]\n" + TrackLines(1));
    LocalCddbServer::UseDownServer();
    CliRun r = Cli("rip");
    ::unsetenv("ONDALO_CDDB_SERVER");
    ::unsetenv("ONDALO_CDDB_PORT");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("Loading CDDB data, please wait...\nNo record for this CD found.\n"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("ondalo-cli rip: CDDB: "), std::string::npos) << r.output;
    EXPECT_EQ(WavData(dir_ / "Track 01.wav"), pcm[0]);
}

TEST_F(CliRipTest, BadTrackListsAndFormatsAreRefused) {
    MakeTracks({20, 20, 20});
    Config("[drive]\n" + TrackLines(3));
    for (const char* bad : {"--tracks 0", "--tracks 4", "--tracks 2-1", "--tracks 1,", "--tracks x", "--to flac",
                            "--exists maybe", "--cbr 500", "--dest nowhere", "stray"})
        EXPECT_EQ(Cli(std::string("rip --no-cddb ") + bad).status, 2) << bad;
    const CliRun help = Cli("rip --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("--exists POLICY"), std::string::npos) << help.output;
}

}  // namespace
}  // namespace kiv::test

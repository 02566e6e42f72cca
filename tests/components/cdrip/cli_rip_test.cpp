// ondalo-cli drives, toc and rip end to end on a virtual disc.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/components/cdrip/cdrip_fixture.h"
#include "tests/components/cdrip/local_cddb_server.h"
#include "tests/components/musicbrainz/musicbrainz_answers.h"

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
    for (const char* bad : {"--tracks 0", "--tracks 4", "--tracks 2-1", "--tracks 1,", "--tracks x", "--to aiff",
                            "--exists maybe", "--cbr 500", "--dest nowhere", "stray", "--lookup freedb"})
        EXPECT_EQ(Cli(std::string("rip --no-cddb ") + bad).status, 2) << bad;
    const CliRun help = Cli("rip --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("--exists POLICY"), std::string::npos) << help.output;
}

class MusicBrainzRipTest : public CliRipTest {
protected:
    void SetUp() override {
        CliRipTest::SetUp();
        // Ogg Vorbis files carry every tag field the rip writes.
        UseTemporaryRegistry(dir_, {"kivcdrip", "kivwave", "kivvorbis"});
        pcm_ = MakeTracks({100, 200});
        Config("[drive]\n" + TrackLines(2));
        fs::create_directories(dir_.path() / "out");
    }
    void TearDown() override {
        musicbrainz::ForgetMusicBrainz();
        CliRipTest::TearDown();
    }
    // The Vorbis comments of a ripped file, one "KEY=value" a line.
    std::string Comments(const std::string& path) {
        return RunCommand("vorbiscomment -l '" + (dir_ / path) + "' 2>&1").output;
    }
    std::vector<Bytes> pcm_;
};

// A compilation, and a second release of the same disc that must not win.
HttpReply TwoReleases(const HttpRequestSeen& seen) {
    using namespace musicbrainz;
    const std::string id = RequestedDiscId(seen.target);
    return HttpReply{200,
                     DiscAnswerJson(id, {ReleaseJson("rel-1", "Hits", "Various Artists", "2001",
                                                     {{"Song A", "Singer X", "rec-a"}, {"Song B", "Duo Y", "rec-b"}}, id),
                                         ReleaseJson("rel-2", "Hits (Reissue)", "Various Artists", "2011",
                                                     {{"Other", "Z", "rec-z"}, {"Other", "Z", "rec-z"}}, id)}),
                     "application/json", {}, "", {}};
}

TEST_F(MusicBrainzRipTest, NamesAndTagsComeFromTheFirstReleaseAndTheChoiceIsLogged) {
    if (RunCommand("command -v vorbiscomment >/dev/null 2>&1").status != 0) GTEST_SKIP() << "vorbis-tools not installed";
    LocalHttpServer server(TwoReleases);
    musicbrainz::UseMusicBrainz(server.base(), "cddb");  // the option must win over the environment
    CliRun r = Cli("rip --to ogg --dest out --lookup musicbrainz --template '%3/%6 %2'");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("ondalo-cli rip: MusicBrainz knows 2 releases of this disc; the first is taken: "
                            "Various Artists / Hits (rel-1)."),
              std::string::npos)
        << r.output;
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].target.rfind("/ws/2/discid/", 0), 0u);
    // The track's artist is part of the name, its '/' made harmless.
    const std::string comments = Comments("out/Hits/02 Duo Y _ Song B.ogg");
    for (const char* tag : {"title=Song B", "artist=Duo Y", "album=Hits", "date=2001", "tracknumber=2",
                            "MUSICBRAINZ_ALBUMID=rel-1", "MUSICBRAINZ_TRACKID=rec-b"})
        EXPECT_NE(comments.find(std::string(tag) + "\n"), std::string::npos) << tag << "\n" << comments;
    // The comment is the user's: the ids have places of their own.
    EXPECT_EQ(comments.find("comment="), std::string::npos) << comments;
    EXPECT_TRUE(fs::exists(dir_ / "out/Hits/01 Singer X _ Song A.ogg"));
}

// The MusicBrainz ids as another tagger reads them: "album=ID track=ID
// comment=TEXT", from the MUSICBRAINZ_* comments of Vorbis comments, the
// TXXX and UFID frames of ID3v2, the "MusicBrainz/..." attributes of WMA.
std::string MusicBrainzIds(const std::string& path) {
    const std::string script =
        "import sys,mutagen\n"
        "t=mutagen.File(sys.argv[1]).tags\n"
        "if hasattr(t,'getall'):\n"
        "  a=[str(x) for x in t.getall('TXXX:MusicBrainz Album Id')]\n"
        "  r=[x.data.decode() for x in t.getall('UFID:http://musicbrainz.org')]\n"
        "  c=[str(x) for x in t.getall('COMM')]\n"
        "elif type(t).__name__=='ASFTags':\n"
        "  g=lambda k:[str(x) for x in t.get(k,[])]\n"
        "  a,r,c=g('MusicBrainz/Album Id'),g('MusicBrainz/Track Id'),g('Description')\n"
        "else:\n"
        "  a,r,c=t.get('musicbrainz_albumid',[]),t.get('musicbrainz_trackid',[]),t.get('comment',[])\n"
        "print('album=%s track=%s comment=%s'%('|'.join(a),'|'.join(r),'|'.join(c)))\n";
    WriteFileBytes(path + ".py", Bytes(script.begin(), script.end()));
    return RunCommand("/usr/bin/python3 '" + path + ".py' '" + path + "' 2>&1").output;
}

TEST_F(MusicBrainzRipTest, TheIdsAreTagsOfEveryFormatAndConversionsKeepThem) {
    if (RunCommand("/usr/bin/python3 -c 'import mutagen' 2>/dev/null").status != 0)
        GTEST_SKIP() << "python3-mutagen missing";
    UseTemporaryRegistry(dir_, {"kivconv", "kivmp3", "kivwma9", "kivflac"});
    LocalHttpServer server(TwoReleases);
    musicbrainz::UseMusicBrainz(server.base());
    const std::string expected = "album=rel-1 track=rec-b comment=\n";
    for (const char* format : {"ogg", "mp3"}) {
        const CliRun r = Cli("rip --to " + std::string(format) + " --dest out --tracks 2 --template t");
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(MusicBrainzIds(dir_ / ("out/t." + std::string(format))), expected) << format;
    }
    // Each conversion reads them from one format's places and writes them
    // into the next one's.
    std::string from = "out/t.ogg";
    for (const char* to : {"mp3", "wma", "flac"}) {
        SCOPED_TRACE(to);
        const std::string folder = std::string("to-") + to;
        fs::create_directories(dir_ / folder);
        const CliRun c = Cli("convert -q --to " + std::string(to) + " --dest " + folder + " " + from);
        ASSERT_EQ(c.status, 0) << c.output;
        from = folder + "/t." + to;
        EXPECT_EQ(MusicBrainzIds(dir_ / from), expected);
    }
}

TEST_F(MusicBrainzRipTest, TheOptionFileChoosesTheSourceAndASingleArtistNamesTheTracks) {
    LocalHttpServer server([](const HttpRequestSeen& seen) {
        using namespace musicbrainz;
        const std::string id = RequestedDiscId(seen.target);
        return HttpReply{200,
                         DiscAnswerJson(id, {ReleaseJson("rel-9", "The Album", "The Band", "1999-04-12",
                                                         {{"Intro", "The Band", "r0"}, {"Outro", "The Band", "r1"}}, id)}),
                         "application/json", {}, "", {}};
    });
    musicbrainz::UseMusicBrainz(server.base(), "cddb");
    WriteFileBytes(dir_ / "Option.ini", [] {
        const std::string ini = "[Rip]\nLookupSource=MusicBrainz\n";
        return Bytes(ini.begin(), ini.end());
    }());
    CliRun r = Cli("rip --to wav --dest out --template '%1 - %3 - %4 - %6 %2'");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(WavData(dir_ / "out/The Band - The Album - 1999 - 01 Intro.wav"), pcm_[0]);
    EXPECT_EQ(WavData(dir_ / "out/The Band - The Album - 1999 - 02 Outro.wav"), pcm_[1]);
    EXPECT_EQ(r.output.find("releases of this disc"), std::string::npos) << r.output;
}

TEST_F(MusicBrainzRipTest, AServerDownOrSlowCostsOnlyTheNames) {
    LocalHttpServer slow([](const HttpRequestSeen& seen) {
        HttpReply reply = TwoReleases(seen);
        reply.delay = std::chrono::milliseconds(6000);
        return reply;
    });
    struct Case {
        std::string url, message;
    };
    const Case cases[] = {
        {"http://127.0.0.1:" + std::to_string(UnusedLocalPort()), "ondalo-cli rip: MusicBrainz: cannot connect to the server."},
        {slow.base(), "ondalo-cli rip: MusicBrainz: the server did not answer in time."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        musicbrainz::UseMusicBrainz(c.url);
        ::setenv("ONDALO_MUSICBRAINZ_TIMEOUT", "1", 1);
        const auto started = std::chrono::steady_clock::now();
        CliRun r = Cli("rip --to wav --dest out --tracks 1 --exists overwrite");
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
        EXPECT_EQ(WavData(dir_ / "out/Track 01.wav"), pcm_[0]);
    }
}

TEST_F(MusicBrainzRipTest, TheFrontCoverIsFetchedOnlyForNamesFromMusicBrainz) {
    const std::string png = std::string("\x89PNG\r\n\x1A\n", 8) + "picture";
    LocalHttpServer server([&](const HttpRequestSeen& seen) {
        if (seen.target == "/release/rel-1/front") return HttpReply{200, png, "image/png", {}, "", {}};
        return TwoReleases(seen);
    });
    musicbrainz::UseMusicBrainz(server.base());
    ::setenv("ONDALO_COVERART_URL", server.base().c_str(), 1);
    CliRun r = Cli("rip --to wav --dest out --tracks 1 --cover");
    ::unsetenv("ONDALO_COVERART_URL");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("ondalo-cli rip: front cover from the Cover Art Archive (image/png, 15 bytes)"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(server.requests().size(), 2u);

    // A format that keeps pictures carries it as the front cover.
    if (RunCommand("/usr/bin/python3 -c 'import mutagen' 2>/dev/null").status == 0) {
        UseTemporaryRegistry(dir_, {"kivconv", "kivflac"});
        ::setenv("ONDALO_COVERART_URL", server.base().c_str(), 1);
        r = Cli("rip --to flac --dest out --tracks 1 --template t --cover");
        ::unsetenv("ONDALO_COVERART_URL");
        ASSERT_EQ(r.status, 0) << r.output;
        const std::string script = "import sys,mutagen.flac\n"
                                   "p=mutagen.flac.FLAC(sys.argv[1]).pictures\n"
                                   "print(len(p), p[0].type, p[0].mime, p[0].data == b'\\x89PNG\\r\\n\\x1a\\npicture')\n";
        const std::string py = dir_ / "cover.py";
        WriteFileBytes(py, Bytes(script.begin(), script.end()));
        EXPECT_EQ(RunCommand("/usr/bin/python3 '" + py + "' '" + std::string(dir_ / "out/t.flac") + "' 2>&1").output,
                  "1 3 image/png True\n");
    }

    // Without names from MusicBrainz nobody is asked.
    const std::size_t asked = server.requests().size();
    r = Cli("rip --to wav --dest out --tracks 1 --cover --no-cddb --exists overwrite");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("ondalo-cli rip: no front cover: the names do not come from MusicBrainz"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(server.requests().size(), asked);
}

}  // namespace
}  // namespace kiv::test

// Verified ripping end to end: ondalo-cli rip against an AccurateRip
// database served on 127.0.0.1, read offsets of virtual drives, offset find.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "tests/components/cdrip/accuraterip_reference.h"
#include "tests/components/cdrip/cdrip_fixture.h"
#include "tests/support/local_http_server.h"

namespace kiv::test {
namespace {

std::string Hex(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", v);
    return text;
}

bool Has(const std::string& output, const std::string& text) { return output.find(text) != std::string::npos; }

class VerifyTest : public RipTest {
protected:
    // A disc of three tracks and a database that knows it: one entry of v1
    // checksums (confidence 7), one of v2 (confidence 3).
    void SetUp() override {
        RipTest::SetUp();
        pcm_ = MakeTracks(frames_);
        database_ = ReferenceDatabase(frames_, pcm_, &path_);
        for (std::size_t t = 0; t < pcm_.size(); ++t)
            sums_.push_back(ReferenceChecksums(pcm_[t], t == 0, t + 1 == pcm_.size()));
    }
    void TearDown() override {
        ::unsetenv("ONDALO_ACCURATERIP_URL");
        RipTest::TearDown();
    }

    // Serves `body` for the disc's file (nothing else exists).
    std::unique_ptr<LocalHttpServer> Serve(std::string body, int status = 200) {
        auto server = std::make_unique<LocalHttpServer>([this, body, status](const HttpRequestSeen& r) {
            HttpReply reply;
            if (r.target == path_) {
                reply.status = status;
                reply.body = body;
            } else {
                reply.status = 404;
            }
            return reply;
        });
        ::setenv("ONDALO_ACCURATERIP_URL", server->base().c_str(), 1);
        return server;
    }

    CommandRun Cli(const std::string& args) { return RunOndaloCli(dir_, args, dir_.path().string()); }
    CommandRun Rip(const std::string& dest, const std::string& more = "") {
        fs::create_directories(dir_.path() / dest);
        return Cli("rip --no-cddb --verify --dest " + dest + " " + more);
    }
    std::string TrackLine(std::size_t t, const std::string& verdict) const {
        return "Track " + std::to_string(t + 1) + ": CRC32 " + Hex(sums_[t].crc32) + "  AccurateRip v1 " +
               Hex(sums_[t].v1) + " v2 " + Hex(sums_[t].v2) + ": " + verdict;
    }

    const std::vector<int> frames_{100, 80, 120};
    std::vector<Bytes> pcm_;
    std::vector<ReferenceSums> sums_;
    std::string path_;
    std::string database_;
};

TEST_F(VerifyTest, EveryTrackOfAKnownDiscIsAccuratelyRipped) {
    Config("[drive]\n" + TrackLines(3));
    auto server = Serve(database_);
    const CommandRun r = Rip("out");
    ASSERT_EQ(r.status, 0) << r.output;
    // The database is asked once, under the disc's own ids.
    ASSERT_EQ(server->requests().size(), 1u);
    EXPECT_EQ(server->requests()[0].target, path_);
    EXPECT_TRUE(Has(r.output, "AccurateRip: 2 database entries for dBAR-003-")) << r.output;
    for (std::size_t t = 0; t < 3; ++t)
        EXPECT_TRUE(Has(r.output, TrackLine(t, "accurately ripped (confidence 7)"))) << r.output;
    EXPECT_TRUE(Has(r.output, "AccurateRip: 3 of 3 tracks accurately ripped")) << r.output;
    EXPECT_EQ(WavData(dir_ / "out/Track 02.wav"), pcm_[1]);
}

TEST_F(VerifyTest, ADriveWithAReadOffsetVerifiesOnlyWithItsCorrection) {
    Config("[drive]\n" + TrackLines(3) + "offset = 6\n");
    auto server = Serve(database_);

    CommandRun r = Rip("plain");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(Has(r.output, "AccurateRip: 0 of 3 tracks accurately ripped, 3 mismatch")) << r.output;
    EXPECT_NE(WavData(dir_ / "plain/Track 02.wav"), pcm_[1]);

    r = Rip("corrected", "--offset 6");
    ASSERT_EQ(r.status, 0) << r.output;
    // The last track's last 6 samples lie in the lead-out, which reads as
    // silence: its CRC32 differs, its AccurateRip checksums leave them out.
    for (std::size_t t = 0; t < 2; ++t)
        EXPECT_TRUE(Has(r.output, TrackLine(t, "accurately ripped (confidence 7)"))) << r.output;
    EXPECT_TRUE(Has(r.output, "AccurateRip: 3 of 3 tracks accurately ripped")) << r.output;
    // Inside the disc the corrected rip is the disc's audio exactly.
    EXPECT_EQ(WavData(dir_ / "corrected/Track 02.wav"), pcm_[1]);

    // offset find finds it and keeps it for the drive; rip takes it from there.
    r = Cli("offset find --from -20 --to 20 --save");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(Has(r.output, "Read offset +6: track 2 matches AccurateRip (confidence 7)")) << r.output;
    EXPECT_FALSE(Has(r.output, "Read offset +5")) << r.output;
    std::ifstream ini(dir_ / "Option.ini");
    const std::string text((std::istreambuf_iterator<char>(ini)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(Has(text, "[ReadOffset]")) << text;
    EXPECT_TRUE(Has(text, "KIV Virtual CD=6")) << text;
    r = Rip("saved");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(Has(r.output, "AccurateRip: 3 of 3 tracks accurately ripped")) << r.output;

    // A range that does not hold the drive's offset finds nothing.
    r = Cli("offset find --from -20 --to 0");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_TRUE(Has(r.output, "No read offset from -20 to +0 matches AccurateRip for track 2.")) << r.output;
}

TEST_F(VerifyTest, AnUnknownDiscADamagedFileOrNoServerCostTheVerdictsNotTheRip) {
    Config("[drive]\n" + TrackLines(3));
    struct Case {
        std::string name;
        std::string body;
        int status;
        std::string line;
        std::string verdict;
    } cases[] = {
        {"unknown", "", 404, "is not in the database", "not in database"},
        // Cut inside the second entry: the whole first one still counts.
        {"cut", database_.substr(0, database_.size() - 5), 200,
         "the file is damaged (the file ends inside an entry of 3 tracks (byte 40))", "accurately ripped (confidence 7)"},
        {"garbage", std::string(13, '\0') + "junk", 200, "the file is damaged (an entry claims 0 tracks (byte 0))",
         "not in database"},
        {"server", "", 0, "could not be fetched", "not in database"},
    };
    for (const Case& c : cases) {
        std::unique_ptr<LocalHttpServer> server;
        if (c.status) {
            server = Serve(c.body, c.status);
        } else {
            ::setenv("ONDALO_ACCURATERIP_URL", ("http://127.0.0.1:" + std::to_string(UnusedLocalPort())).c_str(), 1);
        }
        const CommandRun r = Rip(c.name);
        ASSERT_EQ(r.status, 0) << c.name << "\n" << r.output;
        EXPECT_TRUE(Has(r.output, c.line)) << c.name << "\n" << r.output;
        EXPECT_TRUE(Has(r.output, TrackLine(0, c.verdict))) << c.name << "\n" << r.output;
        EXPECT_TRUE(Has(r.output, "Done: 3")) << c.name << "\n" << r.output;
        EXPECT_EQ(WavData(dir_ / (c.name + "/Track 03.wav")), pcm_[2]) << c.name;
    }
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST_F(VerifyTest, RipLogAndCueSheetDescribeTheRipBesideItsFiles) {
    Config("[drive]\n" + TrackLines(3) + "offset = 6\n");
    auto server = Serve(database_);
    const CommandRun r = Rip("out", "--offset 6 --jitter --log");
    ASSERT_EQ(r.status, 0) << r.output;
    std::uint32_t cddb = 0;
    ReferenceDatabasePath(frames_, nullptr, nullptr, &cddb);
    char id[16];
    std::snprintf(id, sizeof id, "%08x", cddb);
    const std::string base = dir_ / ("out/Disc " + std::string(id));
    const std::string log = ReadText(base + ".log");
    for (const std::string& line : std::vector<std::string>{
             std::string("Drive: KIV"), std::string("Read offset correction: +6 samples"),
             std::string("Jitter correction: on"),
             std::string("      2     100  00:01:05  audio"), std::string("  Lead-out   300"),
             "Disc id: " + std::string(id), "AccurateRip id: dBAR-003-",
             std::string("AccurateRip: 2 database entries for dBAR-003-"),
             "Track  1  Track 01\n  Outcome: Done\n  File: out/Track 01.wav\n  CRC32: " + Hex(sums_[0].crc32) +
                 "\n  AccurateRip v1: " + Hex(sums_[0].v1) + "  v2: " + Hex(sums_[0].v2) +
                 "\n  AccurateRip: accurately ripped (confidence 7)\n  Read errors: none\n",
             std::string("AccurateRip: 3 of 3 tracks accurately ripped"),
             std::string("Total Files: 3   Done: 3   Remaining: 0   Skip: 0   Failed: 0")})
        EXPECT_TRUE(Has(log, line)) << line << "\n---\n" << log;

    const std::string cue = ReadText(base + ".cue");
    EXPECT_TRUE(Has(cue, "REM DISCID " + std::string(id) + "\n")) << cue;
    EXPECT_TRUE(Has(cue,
                    "FILE \"Track 01.wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"Track 01\"\n    INDEX 01 00:00:00\n"
                    "FILE \"Track 02.wav\" WAVE\n  TRACK 02 AUDIO\n    TITLE \"Track 02\"\n    INDEX 01 00:00:00\n"
                    "FILE \"Track 03.wav\" WAVE\n  TRACK 03 AUDIO\n    TITLE \"Track 03\"\n    INDEX 01 00:00:00\n"))
        << cue;
    // Nothing else is left beside them: no temporaries.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_.path() / "out")) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Disc " + std::string(id) + ".cue", "Disc " + std::string(id) + ".log",
                                               "Track 01.wav", "Track 02.wav", "Track 03.wav"}));
}

TEST_F(VerifyTest, UnusualDiscsRipTheirAudioAndSkipTheirDataTracks) {
    struct Case {
        std::string name;
        std::string disc;
        int dataTrack;  // its number
        int pregapAfterFirst;  // silent frames the first audio track runs on by
    } cases[] = {
        {"enhanced", "track = t1.wav\ntrack = t2.wav\nsession2 = 3000\n", 3, 0},
        {"datafirst", "data = 600\ntrack = t1.wav\ntrack = t2.wav\n", 1, 0},
        // A track runs up to the next one's start, so the 150-frame pregap
        // before a data track is the end of the audio track before it.
        {"mixed", "track = t1.wav\ndata = 300\ntrack = t2.wav\n", 2, 150},
    };
    for (const Case& c : cases) {
        Config("[drive]\n" + c.disc);
        fs::create_directories(dir_.path() / c.name);
        const CommandRun run = Cli("rip --no-cddb --log --dest " + c.name);
        ASSERT_EQ(run.status, 0) << c.name << "\n" << run.output;
        const std::string data = "Track 0" + std::to_string(c.dataTrack);
        EXPECT_TRUE(Has(run.output, " Skip " + data + ": track " + std::to_string(c.dataTrack) + " is a data track"))
            << c.name << "\n" << run.output;
        EXPECT_TRUE(Has(run.output, "Total Files: 3   Done: 2   Remaining: 0   Skip: 1   Failed: 0"))
            << c.name << "\n" << run.output;
        // The audio tracks are the disc's audio exactly.
        int audio = 0;
        for (int t = 1; t <= 3; ++t) {
            if (t == c.dataTrack) continue;
            Bytes expected = pcm_[static_cast<std::size_t>(audio)];
            if (audio++ == 0) expected.resize(expected.size() + static_cast<std::size_t>(c.pregapAfterFirst) * kFrame, 0);
            EXPECT_EQ(WavData(dir_ / (c.name + "/Track 0" + std::to_string(t) + ".wav")), expected)
                << c.name << " track " << t;
        }
        std::string log;
        for (const auto& entry : fs::directory_iterator(dir_.path() / c.name))
            if (entry.path().extension() == ".log") log = ReadText(entry.path());
        EXPECT_TRUE(Has(log, "Track  " + std::to_string(c.dataTrack) + "  " + data + "\n  Data track: skipped\n"))
            << c.name << "\n" << log;
    }
}

}  // namespace
}  // namespace kiv::test

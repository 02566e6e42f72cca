// The CD extraction control on virtual drives: discovery, tables of
// contents, extraction into WAV files, jitter, unreadable frames, the
// queue, cancellation, the overwrite question and disc changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "tests/components/cdrip/cdrip_fixture.h"

namespace kiv::test {
namespace {

using Strings = std::vector<std::string>;

Bstr Text(const std::string& s) { return Bstr(std::u16string(s.begin(), s.end())); }

TEST_F(RipTest, DrivesAreFoundWithTheirNamesAndDiscs) {
    MakeTracks({100, 200});
    Config("[drive]\nvendor = ABCD\nproduct = 0123456789ABCDEF\n" + TrackLines(2) +
           "[drive]\nvendor = KIV\nproduct = Empty\ntray = empty\n");
    ASSERT_TRUE(CreateRipper());
    LONG count = 0;
    EXPECT_EQ(ripper_->GetDriveNumber(&count), S_OK);
    ASSERT_EQ(count, 2);

    auto first = DriveAt(1);
    auto second = DriveAt(2);
    Bstr name;
    ASSERT_EQ(first->get_Name(name.put()), S_OK);
    EXPECT_EQ(name.str(), u"ABCD    0123456789ABCDEF");  // 24 characters, padding kept
    ASSERT_EQ(second->get_Name(name.put()), S_OK);
    EXPECT_EQ(name.str(), u"KIV     Empty           ");

    VARIANT_BOOL audio = 0;
    EXPECT_EQ(first->HasAudioCD(&audio), S_OK);
    EXPECT_EQ(audio, 1);
    EXPECT_EQ(second->HasAudioCD(&audio), S_OK);
    EXPECT_EQ(audio, 0);
    LONG tracks = -1;
    EXPECT_EQ(second->GetTrackNumber(&tracks), S_OK);
    EXPECT_EQ(tracks, 0);
    ComPtr<ITrack> none;
    EXPECT_EQ(second->GetTrack(1, none.put()), E_FAIL);

    // Indexes of 1 or less give the first element; past the end fails.
    ComPtr<IDrive> byZero, beyond;
    EXPECT_EQ(ripper_->GetDrive(0, byZero.put()), S_OK);
    EXPECT_EQ(byZero.get(), first.get());
    EXPECT_EQ(ripper_->GetDrive(3, beyond.put()), E_FAIL);
}

TEST_F(RipTest, NoAdaptersFailsCreation) {
    Config("# nothing here\n");
    IKivCDRipper* raw = nullptr;
    EXPECT_EQ(CoCreateInstanceChecked(kClassCdRipper.clsid, IID_IKivCDRipper, reinterpret_cast<void**>(&raw)),
              E_FAIL);  // no adapters at all
    EXPECT_EQ(raw, nullptr);
}

TEST_F(RipTest, TracksOfAnAudioDiscAndOfAnEnhancedCd) {
    MakeTracks({100, 200});
    Config("[drive]\n" + TrackLines(2) + "[drive]\n" + TrackLines(2) + "session2 = 300\n");
    ASSERT_TRUE(CreateRipper());
    struct Row {
        LONG drive, track, start, frames;
        VARIANT_BOOL audio;
    };
    const Row rows[] = {
        {1, 1, 0, 100, 1},
        {1, 2, 100, 200, 1},
        {2, 2, 100, 200, 1},  // the last audio track ends at its session's lead-out
        {2, 3, 300 + 11400, 300, 0},
    };
    for (const Row& r : rows) {
        auto track = TrackAt(DriveAt(r.drive).get(), r.track);
        ASSERT_TRUE(track);
        LONG start = -1, size = -1, duration = -1;
        VARIANT_BOOL audio = -1;
        EXPECT_EQ(track->get_StartFrame(&start), S_OK);
        EXPECT_EQ(track->get_Size(&size), S_OK);
        EXPECT_EQ(track->get_Duration(&duration), S_OK);
        EXPECT_EQ(track->get_IsAudio(&audio), S_OK);
        EXPECT_EQ(start, r.start) << r.drive << "/" << r.track;
        EXPECT_EQ(size, r.frames * 2352) << r.drive << "/" << r.track;
        EXPECT_EQ(duration, r.frames / 75) << r.drive << "/" << r.track;
        EXPECT_EQ(audio, r.audio) << r.drive << "/" << r.track;
    }
    LONG count = 0;
    DriveAt(2)->GetTrackNumber(&count);
    EXPECT_EQ(count, 3);
    // Starts 0 and 100, lead-out 300: n = 2 + 3, t = 6 - 2, two tracks.
    Bstr id;
    ASSERT_EQ(DriveAt(1)->get_DiscId(id.put()), S_OK);
    EXPECT_EQ(id.str(), u"05000402");
}

TEST_F(RipTest, RippedTracksAreByteIdenticalToTheirSources) {
    const auto pcm = MakeTracks({100, 37, 260});
    Config("[drive]\n" + TrackLines(3));
    ASSERT_TRUE(CreateRipper());
    auto drive = DriveAt(1);
    // Two folder levels that do not exist yet; the extension is added
    // unless the name has it in any letter case.
    const std::string names[] = {dir_ / "out/a/one", dir_ / "out/two.WAV", dir_ / "three.wav"};
    const std::string files[] = {dir_ / "out/a/one.wav", dir_ / "out/two.WAV", dir_ / "three.wav"};
    for (int i = 0; i < 3; ++i) {
        events_.clear();
        ASSERT_EQ(TrackAt(drive.get(), i + 1)->ExtractToWav(Text(names[i]).get()), S_OK);
        ASSERT_TRUE(WaitForRun());
        EXPECT_EQ(WavData(files[i]), pcm[i]) << files[i];
        ASSERT_GE(events_.size(), 4u);
        EXPECT_EQ(events_.front(), "start");
        EXPECT_EQ(events_[1], "progress 0");
        EXPECT_EQ(events_[events_.size() - 2], "progress 100");
        EXPECT_EQ(events_.back(), "end");
    }
    // The WAV header is read back by a real tool when there is one.
    if (std::system("command -v sox >/dev/null 2>&1") != 0) GTEST_SKIP() << "sox not installed";
    const std::string cmd = "sox --i -s '" + files[2] + "' > '" + (dir_ / "samples.txt") + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::ifstream in(dir_ / "samples.txt");
    long samples = 0;
    in >> samples;
    EXPECT_EQ(samples, 260L * 588);
}

// Where `out` sits in `stream`, searching around `expected` (bytes).
long FindIn(const Bytes& stream, const Bytes& out, long expected, long radius) {
    for (long at = std::max(0L, expected - radius); at <= expected + radius; at += 4) {
        if (at + static_cast<long>(out.size()) > static_cast<long>(stream.size())) break;
        if (std::equal(out.begin(), out.end(), stream.begin() + at)) return at;
    }
    return -1;
}

TEST_F(RipTest, JitterCorrectionKeepsTheAudioSeamlessOnAJitteryDrive) {
    const auto pcm = MakeTracks({50, 400, 50});
    Config("[drive]\n" + TrackLines(3) + "jitter = 400\nseed = 11\n");
    ASSERT_TRUE(CreateRipper());
    EXPECT_EQ(ripper_->put_JitterCorrection(1), S_OK);
    ASSERT_EQ(TrackAt(DriveAt(1).get(), 2)->ExtractToWav(Text(dir_ / "mid").get()), S_OK);
    ASSERT_TRUE(WaitForRun());
    EXPECT_EQ(std::count(events_.begin(), events_.end(), "jitter"), 0);

    // The drive's first landing has nothing to be checked against, so the
    // track may begin up to 400 samples early or late; from there on every
    // byte must follow the disc without a gap or a repeat.
    Bytes disc;
    for (const auto& t : pcm) disc.insert(disc.end(), t.begin(), t.end());
    const Bytes out = WavData(dir_ / "mid.wav");
    ASSERT_EQ(out.size(), pcm[1].size());
    EXPECT_GE(FindIn(disc, out, 50 * 2352, 400 * 4), 0) << "the output is not one unbroken stretch of the disc";
}

TEST_F(RipTest, ConsecutiveTracksJoinWithoutALostOrRepeatedSampleUnderJitter) {
    const auto pcm = MakeTracks({120, 90, 150});
    Config("[drive]\n" + TrackLines(3) + "jitter = 40\nseed = 5\n");
    ASSERT_TRUE(CreateRipper());
    ripper_->put_JitterCorrection(1);
    auto drive = DriveAt(1);
    Bytes joined;
    for (int t = 1; t <= 3; ++t) {
        const std::string name = dir_ / ("ripped" + std::to_string(t));
        ASSERT_EQ(TrackAt(drive.get(), t)->ExtractToWav(Text(name).get()), S_OK);
        ASSERT_TRUE(WaitForRun());
        const Bytes out = WavData(name + ".wav");
        ASSERT_EQ(out.size(), pcm[static_cast<std::size_t>(t - 1)].size()) << "track " << t << " " << testing::PrintToString(events_);
        joined.insert(joined.end(), out.begin(), out.end());
    }
    EXPECT_EQ(std::count(events_.begin(), events_.end(), "jitter"), 0);
    // Only the drive's very first landing is free (the disc's edge reads
    // as silence); the three tracks together are one unbroken stretch.
    Bytes disc(40 * 4, 0);
    for (const auto& t : pcm) disc.insert(disc.end(), t.begin(), t.end());
    disc.insert(disc.end(), 40 * 4, 0);
    EXPECT_GE(FindIn(disc, joined, 40 * 4, 40 * 4), 0) << "a sample was lost or repeated where two tracks meet";
}

TEST_F(RipTest, JitterBeyondTheSearchRadiusIsReported) {
    MakeTracks({400});
    Config("[drive]\n" + TrackLines(1) + "jitter = 5000\nseed = 3\n");
    ASSERT_TRUE(CreateRipper());
    ripper_->put_JitterCorrection(1);
    ASSERT_EQ(TrackAt(DriveAt(1).get(), 1)->ExtractToWav(Text(dir_ / "j").get()), S_OK);
    ASSERT_TRUE(WaitForRun());
    EXPECT_GT(std::count(events_.begin(), events_.end(), "jitter"), 0);
    EXPECT_EQ(events_.back(), "end");
}

TEST_F(RipTest, UnreadableFramesAreRetriedAndOtherwiseReported) {
    const auto pcm = MakeTracks({100, 100});
    struct Case {
        std::string fault;
        bool recovers;
    };
    const Case cases[] = {{"unreadable = 150 2\n", true}, {"unreadable = 150 always\n", false}};
    for (const Case& c : cases) {
        events_.clear();
        Config("[drive]\n" + TrackLines(2) + c.fault);
        ASSERT_TRUE(CreateRipper());
        const std::string name = dir_ / (c.recovers ? "recovered" : "lost");
        ASSERT_EQ(TrackAt(DriveAt(1).get(), 2)->ExtractToWav(Text(name).get()), S_OK);
        ASSERT_TRUE(WaitForRun());
        const Bytes out = WavData(name + ".wav");
        ASSERT_EQ(out.size(), pcm[1].size()) << c.fault;
        if (c.recovers) {
            EXPECT_EQ(out, pcm[1]);
            EXPECT_EQ(Without("progress"), (Strings{"start", "end"}));
        } else {
            // Frames 126-151 share the failing block; they are silence now,
            // and the host is told which ones.
            EXPECT_EQ(Without("progress"),
                      (Strings{"start", "error Unreadable frames in track 2: 126-151. Silence was written in their place.",
                               "end"}));
            EXPECT_EQ(std::count(events_.begin(), events_.end(), "progress 100"), 0);
            EXPECT_TRUE(std::equal(out.begin(), out.begin() + 26 * kFrame, pcm[1].begin()));
            EXPECT_TRUE(std::all_of(out.begin() + 26 * kFrame, out.begin() + 52 * kFrame,
                                    [](unsigned char b) { return b == 0; }));
        }
        ripper_.reset();
    }
}

TEST_F(RipTest, TheQueueRunsInOrderAndCanBeRunAgain) {
    const auto pcm = MakeTracks({30, 40});
    Config("[drive]\n" + TrackLines(2));
    ASSERT_TRUE(CreateRipper());
    EXPECT_EQ(ripper_->CancelExtraction(), S_FALSE);
    EXPECT_EQ(ripper_->RunQueue(), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError(), std::make_pair(std::string("ZEMOR.CDRipper.1"), std::string("Extraction queue is empty.")));

    auto drive = DriveAt(1);
    ASSERT_EQ(TrackAt(drive.get(), 2)->QueueExtractToWav(Text(dir_ / "q2").get()), S_OK);
    ASSERT_EQ(TrackAt(drive.get(), 1)->QueueExtractToWav(Text(dir_ / "q1").get()), S_OK);
    EXPECT_EQ(TrackAt(drive.get(), 1)->QueueExtractToEncoder(Text(dir_ / "e").get(), 0), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "External encoder is not set.");
    ripper_->put_OverwritePrompt(0);
    for (int run = 0; run < 2; ++run) {
        events_.clear();
        ASSERT_EQ(ripper_->RunQueue(), S_OK);
        ASSERT_TRUE(WaitForRun());
        EXPECT_EQ(Without("progress"), (Strings{"start", "end", "start", "end"}));
        EXPECT_EQ(WavData(dir_ / "q1.wav"), pcm[0]);
        EXPECT_EQ(WavData(dir_ / "q2.wav"), pcm[1]);
    }
    EXPECT_EQ(ripper_->ClearQueue(), S_OK);
    EXPECT_EQ(ripper_->RunQueue(), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Extraction queue is empty.");
}

TEST_F(RipTest, CancelEndsTheJobWithoutFullProgressAndSkipsTheRest) {
    MakeTracks({300, 30});
    Config("[drive]\n" + TrackLines(2) + "slow = 20\n");
    ASSERT_TRUE(CreateRipper());
    auto drive = DriveAt(1);
    TrackAt(drive.get(), 1)->QueueExtractToWav(Text(dir_ / "long").get());
    TrackAt(drive.get(), 2)->QueueExtractToWav(Text(dir_ / "short").get());
    ASSERT_EQ(ripper_->RunQueue(), S_OK);
    EXPECT_EQ(TrackAt(drive.get(), 2)->ExtractToWav(Text(dir_ / "x").get()), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Extraction is already in progress.");
    ASSERT_TRUE(PumpUntil([&] { return std::count(events_.begin(), events_.end(), "progress 0") > 0; }));
    EXPECT_EQ(ripper_->CancelExtraction(), S_OK);
    ASSERT_TRUE(WaitForRun());
    EXPECT_EQ(Without("progress"), (Strings{"start", "end"}));
    EXPECT_EQ(std::count(events_.begin(), events_.end(), "progress 100"), 0);
    EXPECT_FALSE(fs::exists(dir_ / "short.wav"));
    // The cancelled file is finished: a valid, shorter WAV.
    const Bytes cut = ReadFileBytes(dir_ / "long.wav");
    ASSERT_GT(cut.size(), 46u);
    EXPECT_LT(cut.size(), 46 + 300 * kFrame);
    EXPECT_EQ(cut[42] | (cut[43] << 8) | (cut[44] << 16) | (cut[45] << 24), static_cast<int>(cut.size() - 46));
}

TEST_F(RipTest, AnExistingFileIsReplacedOnlyWithConsent) {
    const auto pcm = MakeTracks({20});
    Config("[drive]\n" + TrackLines(1));
    ASSERT_TRUE(CreateRipper());
    auto track = TrackAt(DriveAt(1).get(), 1);
    const std::string file = dir_ / "old.wav";
    struct Case {
        VARIANT_BOOL prompt;
        int answer;  // 0: not asked
        bool replaced;
    };
    const Case cases[] = {{1, IDNO, false}, {1, IDYES, true}, {0, 0, true}};
    for (const Case& c : cases) {
        WriteFileBytes(file, {'k', 'e', 'e', 'p'});
        events_.clear();
        const std::size_t askedBefore = answers_.asked().size();
        if (c.answer) answers_.Push(c.answer);
        ripper_->put_OverwritePrompt(c.prompt);
        ASSERT_EQ(track->ExtractToWav(Text(file).get()), S_OK);
        ASSERT_TRUE(WaitForRun());
        EXPECT_EQ(answers_.asked().size() - askedBefore, c.answer ? 1u : 0u);
        if (c.answer) {
            EXPECT_EQ(answers_.asked().back().text, u"File already exists. Do you wish to overwrite it?");
            EXPECT_EQ(answers_.asked().back().caption, u"CD Extractor Control");
        }
        if (c.replaced) {
            EXPECT_EQ(WavData(file), pcm[0]);
            EXPECT_EQ(events_.back(), "end");
        } else {
            EXPECT_EQ(ReadFileBytes(file), (Bytes{'k', 'e', 'e', 'p'}));
            EXPECT_EQ(events_, (Strings{"error Cancelled by user."}));
        }
    }
}

TEST_F(RipTest, TheTrayAndSpeedCommandsNeverFail) {
    MakeTracks({20});
    Config("[drive]\n" + TrackLines(1));
    ASSERT_TRUE(CreateRipper());
    auto drive = DriveAt(1);
    EXPECT_EQ(drive->SetReadSpeed(0), S_OK);
    EXPECT_EQ(drive->SetReadSpeed(-1), S_OK);
    EXPECT_EQ(drive->SetReadSpeed(4), S_OK);
    EXPECT_EQ(drive->Eject(), S_OK);
    // With the tray open the disc is gone for a refresh.
    EXPECT_EQ(drive->Refresh(), S_OK);
    LONG count = -1;
    drive->GetTrackNumber(&count);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(drive->CloseTray(), S_OK);
    EXPECT_EQ(drive->Refresh(), S_OK);
    drive->GetTrackNumber(&count);
    EXPECT_EQ(count, 1);
}

TEST_F(RipTest, RefreshKeepsTheTracksOfTheSameDiscAndStaleTracksFail) {
    MakeTracks({20, 30});
    Config("[drive]\n" + TrackLines(2));
    ASSERT_TRUE(CreateRipper());
    auto drive = DriveAt(1);
    auto before = TrackAt(drive.get(), 2);
    EXPECT_EQ(drive->Refresh(), S_OK);
    EXPECT_EQ(TrackAt(drive.get(), 2).get(), before.get());

    Config("[drive]\n" + TrackLines(1));  // a new disc with one track
    EXPECT_EQ(drive->Refresh(), S_OK);
    LONG size = 0;
    EXPECT_EQ(before->get_Size(&size), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "No such track on the disk");
}

TEST_F(RipTest, ThePollerNoticesADiscChangeButNotDuringARun) {
    MakeTracks({600, 20});
    // 24 blocks of a quarter second: the run spans at least one poll.
    Config("[drive]\n" + TrackLines(2) + "slow = 250\n");
    ASSERT_TRUE(CreateRipper());
    auto drive = DriveAt(1);
    ASSERT_EQ(TrackAt(drive.get(), 1)->ExtractToWav(Text(dir_ / "slow").get()), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return !events_.empty(); }));
    Config("[drive]\n" + TrackLines(1) + "slow = 250\n");
    ASSERT_TRUE(WaitForRun(60000));
    EXPECT_EQ(std::count(events_.begin(), events_.end(), "disk"), 0);
    EXPECT_EQ(events_.back(), "end");

    ASSERT_TRUE(PumpUntil([&] { return std::count(events_.begin(), events_.end(), "disk") > 0; }, 20000));
    LONG count = 0;
    drive->GetTrackNumber(&count);
    EXPECT_EQ(count, 1);
}

}  // namespace
}  // namespace kiv::test

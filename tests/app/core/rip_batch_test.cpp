// The ripping batch against virtual drives: rows, files, log, counters,
// policies, stop, failures and the post-actions.
#include "app/core/rip_batch.h"
#include "app/core/rip_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <deque>
#include <map>

#include "platform/msg/message_queue.h"
#include "platform/system/text.h"
#include "tests/components/cdrip/cdrip_fixture.h"
#include "tests/components/cdrip/local_cddb_server.h"

namespace kiv::test {
namespace {

using app::LogColour;
using app::RowIcon;

constexpr const char* kTime = "12:00:00";

class FakeView : public app::BatchView {
public:
    void AppendLog(const app::LogLine& line) override { log.push_back(line); }
    bool Ask(const std::string& text, const std::string&) override {
        asked.push_back(text);
        return false;
    }
    void Inform(const std::string& text, const std::string&) override { informed.push_back(text); }
    void PanelChanged(int panel, const std::string& text) override { panels[panel] = text; }
    void BatchEnded() override { ++ended; }

    // The lines after the banner, as text.
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        for (std::size_t i = 3; i < log.size(); ++i) lines.push_back(log[i].text);
        return lines;
    }
    std::vector<app::LogLine> log;
    std::vector<std::string> asked, informed;
    std::map<int, std::string> panels;
    int ended = 0;
};

class FakeActions : public app::PostActions {
public:
    void OpenFolder(const std::string& folder) override {
        calls.push_back("open " + folder);
        if (onOpen) onOpen();
    }
    void ExitProgram() override { calls.push_back("exit"); }
    void PowerOff() override { calls.push_back("poweroff"); }
    void Beep() override { calls.push_back("beep"); }
    void PlaySound(const std::string& path) override { calls.push_back("sound " + path); }
    std::vector<std::string> calls;
    std::function<void()> onOpen;
};

Bytes SamplesOf(const std::string& path) { return WavSamples(path); }

// Names in a folder, hidden ones (temporary files) included.
std::vector<std::string> Listing(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    return text;
}

std::string Timed(const std::string& text) { return std::string(">>> ") + kTime + text; }

std::vector<std::string> SummaryLines(int total, int done, int remaining, int skip, int failed) {
    return {Timed(" Task finished."), "", "Summary",
            "Total Files: " + std::to_string(total) + "   Done: " + std::to_string(done) +
                "   Remaining: " + std::to_string(remaining) + "   Skip: " + std::to_string(skip) +
                "   Failed: " + std::to_string(failed)};
}

class RipBatchTest : public RipTest {
protected:
    void SetUp() override {
        RipTest::SetUp();
        out_ = dir_.path() / "out";
        fs::create_directories(out_);
    }
    void TearDown() override {
        batch_.reset();  // it holds the control: let go before the fixture does
        RipTest::TearDown();
    }

    app::Step2Settings Step2(app::OutputFormat format = app::OutputFormat::Wav) const {
        app::Step2Settings s;
        s.folder = app::OutputFolder::Custom;
        s.customDir = out_.string();
        s.mode = app::FormatMode::Normal;
        s.format = format;
        return s;
    }

    // The status rows of the chosen tracks (1-based) of drive 1.
    std::vector<app::RipStatusRow> Rows(const std::vector<int>& tracks,
                                        app::OutputFormat format = app::OutputFormat::Wav) {
        if (!ripper_) CreateRipper();
        auto list = app::ReadTrackList(DriveAt(1).get());
        for (int t : tracks) list[static_cast<std::size_t>(t - 1)].checked = true;
        return app::BuildRipStatusList(list, Step2(format), "/nowhere/");
    }

    // Runs a batch to its end.
    void Run(std::vector<app::RipStatusRow> rows, const app::RipSettings& settings,
             const std::function<void(app::RipBatch&)>& during = {}) {
        batch_ = std::make_unique<app::RipBatch>(view_, actions_, [] { return std::string(kTime); });
        batch_->Attach(ripper_.get(), 1);
        batch_->Prepare(std::move(rows), "Ondalo");
        ASSERT_EQ(batch_->Start(settings), app::RipBatch::StartResult::Started);
        if (during) during(*batch_);
        ASSERT_TRUE(PumpUntil([&] { return batch_->Finished(); }, 30000));
        PumpPendingMessages();
    }

    std::string Out(const std::string& name) const { return (out_ / name).string(); }

    fs::path out_;
    FakeView view_;
    FakeActions actions_;
    std::unique_ptr<app::RipBatch> batch_;
};

TEST(RipPlanTest, StartTimesFollowTheLengthsWithOneSecondBetween) {
    EXPECT_EQ(app::StartTimes({247, 180, 359}), (std::vector<std::string>{"0:0:0", "0:4:8", "0:7:9"}));
    EXPECT_EQ(app::StartTimes({3600}), (std::vector<std::string>{"0:0:0"}));
    EXPECT_EQ(app::StartTimes({3599, 0}), (std::vector<std::string>{"0:0:0", "1:0:0"}));
    EXPECT_TRUE(app::StartTimes({}).empty());
    EXPECT_EQ(app::MegabyteText(1572864), "2 Mb");  // 1.5: ties to even
    EXPECT_EQ(app::MegabyteText(2621440), "2 Mb");  // 2.5
    EXPECT_EQ(app::MegabyteText(2700000), "3 Mb");
}

TEST(RipPlanTest, CdInformationFromTheRecordLines) {
    const app::CdInformation before{"Old Artist", "Old Album", "1980", "Jazz"};
    struct Case {
        const char* raw;
        app::CdInformation expected;
    };
    const Case cases[] = {
        {"DTITLE=The Band / The Album\nDYEAR=1999\nDGENRE=Rock\n", {"The Band", "The Album", "1999", "Rock"}},
        // No year line: the year stays.
        {"# xmcd\r\nDTITLE=The Band / The Album\r\nDGENRE=Rock\r\n", {"The Band", "The Album", "1980", "Rock"}},
        // A later line overwrites; the album is everything after the first '/'.
        {"DTITLE=A/B\nDTITLE= X /Y/Z \n", {"X", "Y/Z", "1980", "Jazz"}},
        {"DTITLE=Solo\n", {"Solo", "", "1980", "Jazz"}},
        {"", before},
    };
    for (const Case& c : cases) {
        const app::CdInformation got = app::ParseCdInformation(c.raw, before);
        EXPECT_EQ(got.artist, c.expected.artist) << c.raw;
        EXPECT_EQ(got.album, c.expected.album) << c.raw;
        EXPECT_EQ(got.year, c.expected.year) << c.raw;
        EXPECT_EQ(got.genre, c.expected.genre) << c.raw;
    }
}

TEST(RipPlanTest, StatusRowsFromTheCheckedTracks) {
    std::vector<app::TrackListRow> tracks(3);
    const char* titles[] = {"Intro", "Band/Song", "Outro"};
    for (int i = 0; i < 3; ++i) {
        tracks[i].title = titles[i];
        tracks[i].track = i + 1;
        tracks[i].lengthSeconds = 61 * (i + 1);
        tracks[i].length = app::HoursMinutesSeconds(tracks[i].lengthSeconds);
        tracks[i].checked = i != 2;
    }
    tracks[1].advancedFormat = "OGG";
    app::Step2Settings s;
    s.folder = app::OutputFolder::Default;
    s.format = app::OutputFormat::Mp3;
    auto rows = app::BuildRipStatusList(tracks, s, "/app");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].title, "Intro");
    EXPECT_EQ(rows[0].length, "0:1:1");
    EXPECT_EQ(rows[0].destinationFile, "Intro.mp3");
    EXPECT_EQ(rows[0].destinationPath, "/app/");
    EXPECT_EQ(rows[0].destinationFormat, "MP3");
    EXPECT_EQ(rows[0].status, "Ready");
    // A title naming a folder puts it into the path.
    EXPECT_EQ(rows[1].destinationFile, "Song.mp3");
    EXPECT_EQ(rows[1].destinationPath, "/app/Band/");

    s.folder = app::OutputFolder::Custom;
    s.customDir = "/music";
    s.mode = app::FormatMode::Advanced;
    rows = app::BuildRipStatusList(tracks, s, "/app");
    EXPECT_EQ(rows[0].destinationPath, "/music/");
    EXPECT_EQ(rows[0].destinationFormat, "");
    EXPECT_EQ(rows[0].destinationFile, "Intro.");
    EXPECT_EQ(rows[1].destinationFormat, "OGG");
    EXPECT_EQ(rows[1].destinationFile, "Song.ogg");
}

TEST_F(RipBatchTest, TrackListOfADriveWithoutRecords) {
    MakeTracks({150, 75, 300});
    Config("[drive]\n" + TrackLines(3));
    ASSERT_TRUE(CreateRipper());
    bool hasCddb = true;
    const auto list = app::ReadTrackList(DriveAt(1).get(), &hasCddb);
    EXPECT_FALSE(hasCddb);
    ASSERT_EQ(list.size(), 3u);
    const char* starts[] = {"0:0:0", "0:0:3", "0:0:5"};
    const char* lengths[] = {"0:0:2", "0:0:1", "0:0:4"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(list[i].title, app::UnnamedTrack(i + 1));
        EXPECT_EQ(list[i].track, i + 1);
        EXPECT_EQ(list[i].startTime, starts[i]);
        EXPECT_EQ(list[i].length, lengths[i]);
        EXPECT_EQ(list[i].size, i < 2 ? "0 Mb" : "1 Mb");  // 705600 bytes: 0.67 Mb
        EXPECT_EQ(list[i].status, "Ready");
        EXPECT_FALSE(list[i].checked);
    }
}

TEST_F(RipBatchTest, ThreeTracksToWavAreExactWithTheirLogAndCounters) {
    const auto pcm = MakeTracks({300, 150, 225});
    Config("[drive]\n" + TrackLines(3));
    Run(Rows({1, 2, 3}), app::RipSettings{});

    std::vector<std::string> expected;
    for (int t = 1; t <= 3; ++t) {
        const std::string name = app::UnnamedTrack(t);
        expected.push_back(Timed(" Start ripping " + name + " -> " + Out(name + ".wav")));
        expected.push_back(Timed(" Done."));
    }
    for (const auto& line : SummaryLines(3, 3, 0, 0, 0)) expected.push_back(line);
    EXPECT_EQ(view_.Lines(), expected);
    ASSERT_EQ(view_.log.size(), expected.size() + 3);
    EXPECT_EQ(view_.log[0].text, ">>> Ondalo");
    EXPECT_EQ(view_.log[2].text, std::string(49, '-'));
    EXPECT_EQ(view_.log[3].colour, LogColour::Blue);
    EXPECT_EQ(view_.log[4].colour, LogColour::Green);

    for (int t = 0; t < 3; ++t) {
        EXPECT_EQ(SamplesOf(Out(app::UnnamedTrack(t + 1) + ".wav")), pcm[t]) << t;
        EXPECT_EQ(batch_->rows()[t].icon, RowIcon::Done);
        EXPECT_EQ(batch_->rows()[t].status, "Done");
    }
    // Nothing but the three files: no temporary file is left behind.
    EXPECT_EQ(Listing(out_), (std::vector<std::string>{"Track 01.wav", "Track 02.wav", "Track 03.wav"}));
    const app::BatchCore& core = batch_->core();
    EXPECT_EQ(core.counters().done, 3);
    EXPECT_EQ(core.totalUnits(), 4 + 2 + 3);
    EXPECT_EQ(core.totalBar(), 100);
    EXPECT_EQ(view_.panels[0], "Task finished");
    EXPECT_EQ(view_.panels[3], "Done:3");
    EXPECT_EQ(view_.panels[4], "Remaining:0");
    EXPECT_EQ(view_.ended, 1);
    // The beep that ends every batch, then the sound option's default beep.
    EXPECT_EQ(actions_.calls, (std::vector<std::string>{"beep", "beep"}));
    EXPECT_EQ(batch_->state(), app::BatchState::Stopped);
}

TEST_F(RipBatchTest, AnExistingDestinationUnderEachPolicy) {
    const auto pcm = MakeTracks({75});
    Config("[drive]\n" + TrackLines(1));
    const Bytes old = {'o', 'l', 'd'};
    const std::string target = Out("Track 01.wav");
    const std::string start = Timed(" Start ripping Track 01 -> " + target);
    struct Case {
        app::ExistsPolicy policy;
        std::vector<std::string> lines;
        const char* written;  // where the track's audio goes, or nothing
        RowIcon icon;
    };
    const Case cases[] = {
        {app::ExistsPolicy::Skip, {start, Timed(" Skip Track 01")}, nullptr, RowIcon::Skipped},
        {app::ExistsPolicy::Rename,
         {start, Timed(" File exists. Auto rename Track 01.wav to Track 01_copy.wav"),
          Timed(" Start ripping Track 01 -> " + Out("Track 01_copy.wav")), Timed(" Done.")},
         "Track 01_copy.wav", RowIcon::Done},
        {app::ExistsPolicy::Overwrite, {start, Timed(" Overwrite " + target), Timed(" Done.")}, "Track 01.wav",
         RowIcon::Done},
    };
    for (const Case& c : cases) {
        for (const auto& name : Listing(out_)) fs::remove(out_ / name);
        WriteFileBytes(target, old);
        view_ = FakeView{};
        app::RipSettings settings;
        settings.exists = c.policy;
        Run(Rows({1}), settings);
        std::vector<std::string> lines = view_.Lines();
        lines.resize(std::min(lines.size(), c.lines.size()));
        EXPECT_EQ(lines, c.lines) << int(c.policy);
        EXPECT_EQ(batch_->rows()[0].icon, c.icon);
        // The row keeps the name it was built with.
        EXPECT_EQ(batch_->rows()[0].destinationFile, "Track 01.wav");
        if (c.written) {
            EXPECT_EQ(SamplesOf(Out(c.written)), pcm[0]);
        }
        if (!c.written || std::string(c.written) != "Track 01.wav") {
            EXPECT_EQ(ReadFileBytes(target), old);
        }
        const bool skipped = c.icon == RowIcon::Skipped;
        EXPECT_EQ(batch_->core().counters().skipped, skipped ? 1 : 0);
        EXPECT_EQ(batch_->core().counters().done, skipped ? 0 : 1);
    }
}

TEST_F(RipBatchTest, StopDuringTheSecondOfThreeTracks) {
    MakeTracks({150, 1500, 150});
    Config("[drive]\nslow = 20\n" + TrackLines(3));
    Run(Rows({1, 2, 3}), app::RipSettings{}, [&](app::RipBatch& batch) {
        ASSERT_TRUE(PumpUntil(
            [&] { return batch.rows()[1].icon == RowIcon::Working && batch.core().currentBar() > 0; }, 30000));
        batch.Stop();
    });
    EXPECT_EQ(batch_->rows()[0].icon, RowIcon::Done);
    EXPECT_EQ(batch_->rows()[1].icon, RowIcon::Ready);
    EXPECT_EQ(batch_->rows()[1].status, "Ready");
    EXPECT_EQ(batch_->rows()[2].icon, RowIcon::Ready);
    EXPECT_EQ(batch_->rows()[2].status, "Ready");

    std::vector<std::string> expected = {
        Timed(" Start ripping Track 01 -> " + Out("Track 01.wav")), Timed(" Done."),
        Timed(" Start ripping Track 02 -> " + Out("Track 02.wav")), Timed(" Stop.")};
    for (const auto& line : SummaryLines(3, 1, 2, 0, 0)) expected.push_back(line);
    EXPECT_EQ(view_.Lines(), expected);
    EXPECT_EQ(Listing(out_), (std::vector<std::string>{"Track 01.wav"}));
    // The stop ends the batch; a stopped batch ignores a second stop.
    batch_->Stop();
    EXPECT_EQ(view_.ended, 1);
}

TEST_F(RipBatchTest, PauseWaitsAfterTheTrackAndResumeGoesOn) {
    MakeTracks({150, 150});
    Config("[drive]\nslow = 10\n" + TrackLines(2));
    Run(Rows({1, 2}), app::RipSettings{}, [&](app::RipBatch& batch) {
        batch.Pause();
        ASSERT_TRUE(PumpUntil([&] { return batch.rows()[0].icon == RowIcon::Done; }, 30000));
        PumpPendingMessages();
        EXPECT_EQ(batch.rows()[1].icon, RowIcon::Ready);
        EXPECT_EQ(view_.panels[0], "Paused");
        batch.Pause();
    });
    const std::vector<std::string> head = {
        Timed(" Start ripping Track 01 -> " + Out("Track 01.wav")),
        Timed(" Finishing current converting before pasue. Please wait..."), Timed(" Done."), Timed(" Paused."),
        Timed(" Resume ripping"), Timed(" Start ripping Track 02 -> " + Out("Track 02.wav")), Timed(" Done.")};
    std::vector<std::string> lines = view_.Lines();
    lines.resize(head.size());
    EXPECT_EQ(lines, head) << Joined(view_.Lines());
    EXPECT_EQ(batch_->core().counters().done, 2);
}

TEST_F(RipBatchTest, ATrackWithAnErrorAndAnEndIsCountedOnceAsFailed) {
    const auto pcm = MakeTracks({100, 100, 100});
    Config("[drive]\nunreadable = 150 always\n" + TrackLines(3));
    Run(Rows({1, 2, 3}), app::RipSettings{});
    EXPECT_EQ(batch_->rows()[0].icon, RowIcon::Done);
    EXPECT_EQ(batch_->rows()[1].icon, RowIcon::Failed);
    EXPECT_EQ(batch_->rows()[1].status, "Failed");
    EXPECT_EQ(batch_->rows()[2].icon, RowIcon::Done);
    // The control reported both an error and an end for track 2.
    EXPECT_NE(std::find(events_.begin(), events_.end(), "end"), events_.end());

    const std::vector<std::string> lines = view_.Lines();
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[3].rfind(Timed(" Rip Failed. An error occurs - Unreadable frames in track 2"), 0), 0u)
        << lines[3];
    // What the control wrote in their place is not kept: the line says so.
    EXPECT_NE(lines[3].find("Silence was written in their place. The track's file was not kept."), std::string::npos)
        << lines[3];
    EXPECT_EQ(view_.log[3 + 3].colour, LogColour::Red);
    EXPECT_EQ(lines[4], Timed(" Start ripping Track 03 -> " + Out("Track 03.wav")));
    EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()), SummaryLines(3, 2, 0, 0, 1));
    EXPECT_EQ(view_.panels[6], "Failed:1");
    // Nothing of the failed track is left; the others are exact.
    EXPECT_EQ(Listing(out_), (std::vector<std::string>{"Track 01.wav", "Track 03.wav"}));
    EXPECT_EQ(SamplesOf(Out("Track 03.wav")), pcm[2]);
}

TEST_F(RipBatchTest, ATrackThatCannotStartFailsAndTheBatchGoesOn) {
    MakeTracks({50, 50});
    Config("[drive]\n" + TrackLines(2));
    auto rows = Rows({1, 2});
    // A file where the first track's folder should be: the encoder cannot
    // open, and the control sends an error without an end.
    WriteFileBytes(Out("blocker"), {'x'});
    rows[0].destinationPath = Out("blocker") + "/";
    Run(rows, app::RipSettings{});
    EXPECT_EQ(batch_->rows()[0].icon, RowIcon::Failed);
    EXPECT_EQ(batch_->rows()[1].icon, RowIcon::Done);
    const std::vector<std::string> lines = view_.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1].rfind(Timed(" Rip Failed. An error occurs - "), 0), 0u) << Joined(lines);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()), SummaryLines(2, 1, 0, 0, 1));
    EXPECT_EQ(Listing(out_), (std::vector<std::string>{"Track 02.wav", "blocker"}));
}

TEST_F(RipBatchTest, TitlesFromTheCddbRecordNameTheFiles) {
    const auto pcm = MakeTracks({75, 75});
    Config("[drive]\n" + TrackLines(2));
    LocalCddbServer server("DTITLE=The Band / The Album\r\nDYEAR=1999\r\nTTITLE0=Intro\r\nTTITLE1=Why? / How\r\n");
    server.UseFromEnvironment();
    ASSERT_TRUE(CreateRipper());
    auto drive = DriveAt(1);
    ASSERT_EQ(drive->LoadCDDBData(), S_OK);
    bool hasCddb = false;
    auto list = app::ReadTrackList(drive.get(), &hasCddb);
    ::unsetenv("ONDALO_CDDB_SERVER");
    ::unsetenv("ONDALO_CDDB_PORT");
    EXPECT_TRUE(hasCddb);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].title, "Intro");
    EXPECT_EQ(list[1].title, "Why_ _ How");  // a value's '/' never makes a folder

    ComPtr<ICDDBRecord> record;
    ASSERT_EQ(drive->GetCDDBRecord(1, record.put()), S_OK);
    Bstr raw;
    ASSERT_EQ(record->get_RawData(raw.put()), S_OK);
    const app::CdInformation info = app::ParseCdInformation(ToUtf8(raw.view()));
    EXPECT_EQ(info.artist, "The Band");
    EXPECT_EQ(info.album, "The Album");
    EXPECT_EQ(info.year, "1999");

    for (auto& row : list) row.checked = true;
    Run(app::BuildRipStatusList(list, Step2(), ""), app::RipSettings{});
    EXPECT_EQ(SamplesOf(Out("Intro.wav")), pcm[0]);
    EXPECT_EQ(SamplesOf(Out("Why_ _ How.wav")), pcm[1]) << Joined(view_.Lines());
}

TEST_F(RipBatchTest, TagsFromTheRecordReachTheFilesOnlyWhenAsked) {
    if (RunCommand("command -v ffprobe >/dev/null 2>&1").status != 0) GTEST_SKIP() << "ffprobe is not installed";
    UseTemporaryRegistry(dir_, {"kivmp3"});
    MakeTracks({75});
    Config("[drive]\n" + TrackLines(1));
    LocalCddbServer server("DTITLE=The Band / The Album\r\nDYEAR=1999\r\nTTITLE0=Intro\r\n");
    server.UseFromEnvironment();
    ASSERT_TRUE(CreateRipper());
    const HRESULT loaded = DriveAt(1)->LoadCDDBData();
    ::unsetenv("ONDALO_CDDB_SERVER");
    ::unsetenv("ONDALO_CDDB_PORT");
    ASSERT_EQ(loaded, S_OK);
    auto tags = [&](const std::string& file) {
        return RunCommand("ffprobe -v error -show_entries format_tags=title,artist,album,track -of compact=p=0 '" +
                          Out(file) + "' 2>&1")
            .output;
    };
    app::RipSettings settings;
    settings.exists = app::ExistsPolicy::Rename;
    Run(Rows({1}, app::OutputFormat::Mp3), settings);
    const std::string with = tags("Intro.mp3");
    EXPECT_NE(with.find("title=Intro"), std::string::npos) << with;
    EXPECT_NE(with.find("artist=The Band"), std::string::npos) << with;
    EXPECT_NE(with.find("album=The Album"), std::string::npos) << with;

    settings.writeTags = false;
    Run(Rows({1}, app::OutputFormat::Mp3), settings);
    const std::string without = tags("Intro_copy.mp3");
    EXPECT_EQ(without.find("Intro"), std::string::npos) << without;
    EXPECT_EQ(without.find("The Band"), std::string::npos) << without;
}

TEST_F(RipBatchTest, TheDriveIsEjectedBeforeTheOtherPostActions) {
    MakeTracks({75});
    Config("[drive]\n" + TrackLines(1));
    app::RipSettings settings;
    settings.exists = app::ExistsPolicy::Overwrite;
    settings.eject = true;
    settings.beepAtEnd = false;
    settings.after.openFolder = true;
    settings.after.shutDown = true;
    settings.after.playSound = true;
    settings.after.soundDefault = false;
    settings.after.customSound = "/x/end.ogg";
    LONG tracksWhenOpened = -1;
    actions_.onOpen = [&] {
        auto drive = DriveAt(1);
        drive->Refresh();
        drive->GetTrackNumber(&tracksWhenOpened);
    };
    Run(Rows({1}), settings);
    EXPECT_EQ(actions_.calls,
              (std::vector<std::string>{"open " + out_.string() + "/", "poweroff", "sound /x/end.ogg"}));
    EXPECT_EQ(tracksWhenOpened, 0);  // the tray was open by then

    // Without the eject the disc stays; the exit ends the actions.
    DriveAt(1)->CloseTray();
    DriveAt(1)->Refresh();
    actions_ = FakeActions{};
    settings.eject = false;
    settings.after.exitProgram = true;
    Run(Rows({1}), settings);
    EXPECT_EQ(actions_.calls, (std::vector<std::string>{"open " + out_.string() + "/", "exit"}));
    LONG count = 0;
    DriveAt(1)->GetTrackNumber(&count);
    EXPECT_EQ(count, 1);
}

TEST_F(RipBatchTest, AQualityTheEncoderRefusesIsLoggedAndItsDefaultUsed) {
    UseTemporaryRegistry(dir_, {"kivmp3"});
    MakeTracks({75});
    Config("[drive]\n" + TrackLines(1));
    app::RipSettings settings;
    settings.quality = app::QualityMode::Abr;
    settings.abrValue = 500;
    Run(Rows({1}, app::OutputFormat::Mp3), settings);
    const std::vector<std::string> lines = view_.Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1].rfind(Timed(" The encoder refused ABR 500 kbit/s ("), 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find("). Its default is used."), std::string::npos) << lines[1];
    EXPECT_EQ(view_.log[4].colour, LogColour::Orange);
    EXPECT_EQ(lines[2], Timed(" Done."));
    EXPECT_GT(fs::file_size(out_ / "Track 01.mp3"), 1000u);

    // A mode the format does not offer is not asked for at all.
    view_ = FakeView{};
    settings.quality = app::QualityMode::Cbr;
    settings.cbrValue = 96;
    Run(Rows({1}, app::OutputFormat::Wav), settings);
    for (const auto& line : view_.Lines()) EXPECT_EQ(line.find("refused"), std::string::npos) << line;
}

TEST_F(RipBatchTest, StartRefusesAnEmptyListAndMissingFormats) {
    MakeTracks({75});
    Config("[drive]\n" + TrackLines(1));
    ASSERT_TRUE(CreateRipper());
    app::RipBatch batch(view_, actions_, [] { return std::string(kTime); });
    batch.Attach(ripper_.get(), 1);
    batch.Prepare({}, "Ondalo");
    EXPECT_EQ(batch.Start({}), app::RipBatch::StartResult::EmptyList);
    auto rows = Rows({1});
    rows[0].destinationFormat.clear();
    batch.Prepare(rows, "Ondalo");
    EXPECT_EQ(batch.Start({}), app::RipBatch::StartResult::MissingFormat);
    EXPECT_EQ(view_.informed, (std::vector<std::string>{app::RipBatch::kEmptyListMessage,
                                                        app::RipBatch::kMissingFormatMessage}));
    EXPECT_TRUE(Listing(out_).empty());
    EXPECT_TRUE(actions_.calls.empty());
}

}  // namespace
}  // namespace kiv::test

namespace kiv::test {
namespace {

// The clock's estimate of what is left ends with the batch: a stopped
// batch's last guess must not stay on the page.
TEST(BatchClock, NothingRemainsOnceTheBatchHasEnded) {
    FakeView view;
    FakeActions actions;
    app::BatchCore core(view, actions, [] { return std::string(kTime); });
    core.ResetProgress(100);
    core.Begin(1, [] {});
    core.Tick(10);
    core.Tick(20);
    ASSERT_GT(core.remainingSeconds(), 0);
    core.End();
    EXPECT_EQ(core.remainingSeconds(), 0);
}

}  // namespace
}  // namespace kiv::test

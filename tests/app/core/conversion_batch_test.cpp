// The batch runner against the real converter and codecs.
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <set>

#include "app/core/conversion_batch.h"
#include "app/core/file_conversion.h"
#include "app/core/log_rtf.h"
#include "platform/com/class_registry.h"
#include "tests/support/test_env.h"

namespace kiv::test {
namespace {

using app::LogColour;
using app::RowIcon;

// Records what a window would show; answers questions from a script.
class RecordingView : public app::BatchView {
public:
    void AppendLog(const app::LogLine& line) override { lines.push_back(line); }
    bool Ask(const std::string& text, const std::string& caption) override {
        questions.push_back(caption + ": " + text);
        if (answers.empty()) return false;
        bool a = answers.front();
        answers.pop_front();
        return a;
    }
    void Inform(const std::string& text, const std::string& caption) override {
        informed.push_back(caption + ": " + text);
    }
    void PanelChanged(int panel, const std::string& text) override { panels[panel] = text; }
    void BatchEnded() override { ++ended; }

    std::vector<std::string> Texts() const {
        std::vector<std::string> t;
        for (const auto& l : lines) t.push_back(l.text);
        return t;
    }
    bool Has(const std::string& text, LogColour colour) const {
        for (const auto& l : lines)
            if (l.text == text && l.colour == colour) return true;
        return false;
    }

    std::vector<app::LogLine> lines;
    std::deque<bool> answers;
    std::vector<std::string> questions, informed;
    std::map<int, std::string> panels;
    int ended = 0;
};

class RecordingActions : public app::PostActions {
public:
    void OpenFolder(const std::string& folder) override { calls.push_back("open " + folder); }
    void ExitProgram() override { calls.push_back("exit"); }
    void PowerOff() override { calls.push_back("poweroff"); }
    void Beep() override { calls.push_back("beep"); }
    void PlaySound(const std::string& path) override { calls.push_back("sound " + path); }
    std::vector<std::string> calls;
};

const std::string kTime = "12:00:00";

class ConversionBatchTest : public ComponentTest {
protected:
    void SetUp() override {
        ComponentTest::SetUp();
        UseTemporaryRegistry(dir_, {"kivwave", "kivconv", "kivmp3"});
        fs::create_directories(dir_.path() / "in");
        fs::create_directories(dir_.path() / "out");
    }

    // A source in "in/" with distinct samples; returns its sample bytes.
    std::vector<unsigned char> Source(const std::string& name, std::size_t bytes = 40000, unsigned seed = 1) {
        auto data = PatternBytes(bytes, seed);
        WriteFileBytes(dir_ / ("in/" + name), MakeWav(data));
        return data;
    }

    app::TaskRow Task(const std::string& name) {
        app::TaskRow t;
        t.fileName = name;
        t.folder = (dir_.path() / "in").string();
        std::error_code ec;
        auto size = fs::file_size(dir_.path() / "in" / name, ec);
        t.sizeText = app::SizeText(ec ? 0 : size);
        t.format = name.substr(name.rfind('.') + 1);
        for (char& c : t.format) c = char(std::toupper(static_cast<unsigned char>(c)));
        return t;
    }

    std::vector<app::StatusRow> Plan(const std::vector<std::string>& names, const char* format = "WAV") {
        std::vector<app::TaskRow> tasks;
        for (const auto& n : names) tasks.push_back(Task(n));
        app::Step2Settings step2;
        step2.folder = app::OutputFolder::Custom;
        step2.customDir = (dir_.path() / "out").string();
        step2.format = app::FormatFromName(format);
        return app::BuildStatusList(tasks, step2, "/nonexistent/");
    }

    // Runs a whole batch and waits until its last file is finished.
    void Run(app::ConversionBatch& batch, const app::ConversionSettings& settings) {
        ASSERT_EQ(batch.Start(settings), app::ConversionBatch::StartResult::Started);
        ASSERT_TRUE(PumpUntil([&] { return batch.Finished(); }, 60000));
    }

    std::string In(const std::string& n) const { return (dir_.path() / "in" / n).string(); }
    std::string Out(const std::string& n) const { return (dir_.path() / "out" / n).string(); }

    std::vector<std::string> OutFiles() const {
        std::vector<std::string> names;
        for (auto& e : fs::directory_iterator(dir_.path() / "out")) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    RecordingView view_;
    RecordingActions actions_;
    app::ConversionSettings settings_ = [] {
        app::ConversionSettings s;
        s.after.playSound = false;
        return s;
    }();
};

TEST_F(ConversionBatchTest, ABatchConvertsSkipsTheSameFormatAndLogsEveryStep) {
    auto a = Source("a.wave", 40000, 1);
    Source("b.wav", 30000, 2);
    auto c = Source("c.WAVE", 50000, 3);
    app::ConversionBatch batch(view_, actions_, [] { return kTime; });
    batch.Prepare(Plan({"a.wave", "b.wav", "c.WAVE"}), "Ondalo Version 3.0");
    Run(batch, settings_);

    std::vector<RowIcon> icons;
    for (const auto& row : batch.rows()) icons.push_back(row.icon);
    EXPECT_EQ(icons, (std::vector<RowIcon>{RowIcon::Done, RowIcon::Skipped, RowIcon::Done}));
    EXPECT_EQ(batch.rows()[0].status, "Done");
    EXPECT_EQ(batch.rows()[1].status, "Skip");
    EXPECT_EQ(batch.rows()[0].destinationSize, app::SizeText(46 + a.size()));
    EXPECT_EQ(batch.rows()[1].destinationSize, "Unknown");

    const std::string t = ">>> " + kTime;
    std::vector<std::string> expected = {
        ">>> Ondalo Version 3.0",
        ">>> Free audio conversion and CD ripping for Linux",
        std::string(49, '-'),
        t + " Start converting " + In("a.wave") + " -> " + Out("a.wav"),
        t + " Done.",
        t + " Start converting " + In("b.wav") + " -> " + Out("b.wav"),
        t + " Skip " + In("b.wav"),
        t + " Start converting " + In("c.WAVE") + " -> " + Out("c.wav"),
        t + " Done.",
        t + " Task finished.",
        "",
        "Summary",
        "Total Files: 3   Done: 2   Remaining: 0   Skip: 1   Failed: 0",
    };
    EXPECT_EQ(view_.Texts(), expected);
    std::vector<LogColour> colours;
    for (const auto& l : view_.lines) colours.push_back(l.colour);
    using enum LogColour;
    EXPECT_EQ(colours, (std::vector<LogColour>{Navy, Navy, Navy, Blue, Green, Blue, Orange, Blue, Green, Green, White,
                                               Navy, Navy}));

    EXPECT_EQ(view_.panels[0], "Task finished");
    EXPECT_EQ(view_.panels[2], "Total: 3");
    EXPECT_EQ(view_.panels[3], "Done:2");
    EXPECT_EQ(view_.panels[4], "Remaining:0");
    EXPECT_EQ(view_.panels[5], "Skip:1");
    EXPECT_EQ(batch.core().totalBar(), 100);
    EXPECT_EQ(view_.ended, 1);

    // The samples arrive unchanged, and nothing else is left in the folder.
    EXPECT_EQ(OutFiles(), (std::vector<std::string>{"a.wav", "c.wav"}));
    auto outA = ReadFileBytes(Out("a.wav"));
    ASSERT_GE(outA.size(), 46 + a.size());
    EXPECT_TRUE(std::equal(a.begin(), a.end(), outA.begin() + 46));
    auto outC = ReadFileBytes(Out("c.wav"));
    ASSERT_GE(outC.size(), 46 + c.size());
    EXPECT_TRUE(std::equal(c.begin(), c.end(), outC.begin() + 46));
}

TEST_F(ConversionBatchTest, AFailingFileIsCountedOnceAndKeepsItsSourceWhileOthersAreDeleted) {
    Source("a.wave");
    WriteFileBytes(In("b.wave"), {'R', 'I', 'F', 'F', 'x', 'y'});
    Source("c.wave", 20000, 5);
    app::ConversionBatch batch(view_, actions_, [] { return kTime; });
    batch.Prepare(Plan({"a.wave", "b.wave", "c.wave"}), "Ondalo Version 3.0");
    settings_.deleteSource = true;
    Run(batch, settings_);

    EXPECT_EQ(batch.rows()[1].icon, RowIcon::Failed);
    EXPECT_EQ(batch.rows()[1].status, "Failed");
    EXPECT_EQ(batch.rows()[1].destinationSize, "-");
    EXPECT_TRUE(view_.Has(">>> " + kTime + " Converting Failed. An error occurs - Cannot find appropriate decoder.",
                          LogColour::Red))
        << ::testing::PrintToString(view_.Texts());
    EXPECT_EQ(view_.Texts().back(), "Total Files: 3   Done: 2   Remaining: 0   Skip: 0   Failed: 1");
    EXPECT_FALSE(fs::exists(In("a.wave")));
    EXPECT_TRUE(fs::exists(In("b.wave"))) << "a failed file's source is kept";
    EXPECT_FALSE(fs::exists(In("c.wave")));
    EXPECT_TRUE(view_.Has(">>> " + kTime + " Source file deleted.", LogColour::Green));
    EXPECT_EQ(OutFiles(), (std::vector<std::string>{"a.wav", "c.wav"})) << "no partial file of the failed one";
}

TEST_F(ConversionBatchTest, ASourceThatGivesNoSampleFailsAndIsKept) {
    // An Ogg Vorbis stream with its headers and not one sample (oggenc of an
    // empty WAV): the decoder opens it and then has nothing to give.
    UseTemporaryRegistry(dir_, {"kivwave", "kivconv", "kivvorbis"});
    WriteFileBytes(In("empty.wav"), MakeWav({}));
    CommandRun made = RunCommand("oggenc -Q -o " + In("empty.ogg") + " " + In("empty.wav"));
    ASSERT_EQ(made.status, 0) << made.output;
    fs::remove(In("empty.wav"));
    Source("good.wave", 20000, 3);
    app::ConversionBatch batch(view_, actions_, [] { return kTime; });
    batch.Prepare(Plan({"empty.ogg", "good.wave"}), "T");
    settings_.deleteSource = true;
    Run(batch, settings_);
    EXPECT_EQ(batch.rows()[0].icon, RowIcon::Failed);
    EXPECT_TRUE(view_.Has(">>> " + kTime + " Converting Failed. An error occurs - " + app::kNoAudioMessage,
                          LogColour::Red))
        << ::testing::PrintToString(view_.Texts());
    EXPECT_TRUE(fs::exists(In("empty.ogg"))) << "a source is deleted only after its audio is safe";
    EXPECT_FALSE(fs::exists(In("good.wave")));
    EXPECT_EQ(OutFiles(), std::vector<std::string>{"good.wav"}) << "no empty file left for the failed one";
    EXPECT_EQ(view_.Texts().back(), "Total Files: 2   Done: 1   Remaining: 0   Skip: 0   Failed: 1");
}

TEST_F(ConversionBatchTest, TheExistingDestinationPolicies) {
    struct Case {
        const char* name;
        app::ExistsPolicy policy;
        std::string rule;
        std::deque<bool> answers;
        std::vector<std::string> existing;  // in out/, each holding "old"
        RowIcon icon;
        std::string written;                // the file that gets the new audio; empty: none
        std::vector<std::string> logged;    // after the start line
    };
    const std::string t = ">>> " + kTime;
    std::vector<Case> cases = {
        {"skip", app::ExistsPolicy::Skip, "", {}, {"a.wav"}, RowIcon::Skipped, "",
         {t + " Destination file exists.", t + " Skip " + In("a.wave")}},
        {"overwrite", app::ExistsPolicy::Overwrite, "", {}, {"a.wav"}, RowIcon::Done, "a.wav",
         {t + " Destination file exists.", t + " Overwrite " + Out("a.wav"), t + " Done."}},
        {"query yes", app::ExistsPolicy::Query, "", {true}, {"a.wav"}, RowIcon::Done, "a.wav",
         {t + " Destination file exists.", t + " Overwrite " + Out("a.wav"), t + " Done."}},
        {"query no", app::ExistsPolicy::Query, "", {false}, {"a.wav"}, RowIcon::Skipped, "",
         {t + " Destination file exists.", t + " Skip " + In("a.wave")}},
        {"rename twice", app::ExistsPolicy::Rename, "%_copy", {}, {"a.wav", "a_copy.wav"}, RowIcon::Done,
         "a_copy_copy.wav",
         {t + " Destination file exists.", t + " File exists. Auto rename a.wav to a_copy.wav",
          t + " Start converting " + In("a.wave") + " -> " + Out("a_copy.wav"), t + " Destination file exists.",
          t + " File exists. Auto rename a_copy.wav to a_copy_copy.wav",
          t + " Start converting " + In("a.wave") + " -> " + Out("a_copy_copy.wav"), t + " Done."}},
        {"rule without %", app::ExistsPolicy::Rename, "x", {}, {"a.wav"}, RowIcon::Done, "ax.wav",
         {t + " Destination file exists.", t + " File exists. Auto rename a.wav to ax.wav",
          t + " Start converting " + In("a.wave") + " -> " + Out("ax.wav"), t + " Done."}},
        {"rule that renames nothing", app::ExistsPolicy::Rename, "%", {}, {"a.wav"}, RowIcon::Skipped, "",
         {t + " Destination file exists.", t + " Auto renaming gives no new name for a.wav with the rule \"%\".",
          t + " Skip " + In("a.wave")}},
        {"no policy, yes", app::ExistsPolicy::None, "", {true}, {"a.wav"}, RowIcon::Done, "a.wav",
         {t + " Destination file exists.", t + " Done."}},
        {"no policy, no", app::ExistsPolicy::None, "", {false}, {"a.wav"}, RowIcon::Failed, "",
         {t + " Destination file exists.", t + " Converting Failed. An error occurs - Cancelled by user."}},
    };
    auto samples = Source("a.wave");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir_.path() / "out");
        fs::create_directories(dir_.path() / "out");
        for (const auto& e : c.existing) WriteFileBytes(Out(e), {'o', 'l', 'd'});
        view_ = RecordingView{};
        view_.answers = c.answers;
        app::ConversionBatch batch(view_, actions_, [] { return kTime; });
        batch.Prepare(Plan({"a.wave"}), "T");
        settings_.exists = c.policy;
        settings_.renameRule = c.rule;
        Run(batch, settings_);
        EXPECT_EQ(batch.rows()[0].icon, c.icon);
        auto texts = view_.Texts();
        std::vector<std::string> logged(texts.begin() + 4, texts.end() - 4);  // between start and summary
        EXPECT_EQ(logged, c.logged);
        for (const auto& e : c.existing) {
            if (e == c.written) continue;
            EXPECT_EQ(ReadFileBytes(Out(e)), (std::vector<unsigned char>{'o', 'l', 'd'})) << e << " is kept";
        }
        if (!c.written.empty()) {
            EXPECT_EQ(batch.rows()[0].destinationFile, c.written);
            EXPECT_EQ(fs::file_size(Out(c.written)), 46 + samples.size());
        }
        std::set<std::string> present(c.existing.begin(), c.existing.end());
        if (!c.written.empty()) present.insert(c.written);
        EXPECT_EQ(OutFiles(), std::vector<std::string>(present.begin(), present.end()));
    }
}

TEST_F(ConversionBatchTest, PauseWaitsAfterTheCurrentFileAndStopEndsWithTheRestReady) {
    Source("a.wave");
    Source("b.wave", 20000, 2);
    app::ConversionBatch batch(view_, actions_, [] { return kTime; });
    batch.Prepare(Plan({"a.wave", "b.wave"}), "T");
    ASSERT_EQ(batch.Start(settings_), app::ConversionBatch::StartResult::Started);
    batch.Pause();  // the first file is in work
    ASSERT_TRUE(PumpUntil([&] { return batch.Idle(); }));
    PumpPendingMessages();
    EXPECT_EQ(batch.state(), app::BatchState::Paused);
    EXPECT_EQ(batch.rows()[0].icon, RowIcon::Done);
    EXPECT_EQ(batch.rows()[1].icon, RowIcon::Ready) << "nothing starts while paused";
    EXPECT_TRUE(view_.Has(">>> " + kTime + " Finishing current converting before pasue. Please wait...",
                          LogColour::Green));
    EXPECT_EQ(view_.Texts().back(), ">>> " + kTime + " Paused.");
    EXPECT_EQ(view_.panels[0], "Paused");

    batch.Stop();
    EXPECT_TRUE(batch.Finished());
    EXPECT_EQ(batch.rows()[1].icon, RowIcon::Ready);
    EXPECT_EQ(view_.Texts().back(), "Total Files: 2   Done: 1   Remaining: 1   Skip: 0   Failed: 0");
    EXPECT_FALSE(fs::exists(Out("b.wav")));
}

TEST_F(ConversionBatchTest, ResumeGoesOnWithTheNextFile) {
    Source("a.wave");
    Source("b.wave", 20000, 2);
    app::ConversionBatch batch(view_, actions_, [] { return kTime; });
    batch.Prepare(Plan({"a.wave", "b.wave"}), "T");
    ASSERT_EQ(batch.Start(settings_), app::ConversionBatch::StartResult::Started);
    batch.Pause();
    ASSERT_TRUE(PumpUntil([&] { return view_.Texts().back() == ">>> " + kTime + " Paused."; }));
    batch.Pause();
    EXPECT_TRUE(view_.Has(">>> " + kTime + " Resume converting", LogColour::Blue));
    ASSERT_TRUE(PumpUntil([&] { return batch.Finished(); }));
    EXPECT_EQ(batch.rows()[1].icon, RowIcon::Done);
}

TEST_F(ConversionBatchTest, StopWritesTheSummaryAtOnceAndTheFileInWorkFinishesAfterwards) {
    Source("a.wave", 400000);
    Source("b.wave");
    app::ConversionBatch batch(view_, actions_, [] { return kTime; });
    batch.Prepare(Plan({"a.wave", "b.wave"}), "T");
    ASSERT_EQ(batch.Start(settings_), app::ConversionBatch::StartResult::Started);
    batch.Stop();  // no event has been handled yet: the first file is in work
    EXPECT_EQ(view_.Texts().back(), "Total Files: 2   Done: 0   Remaining: 2   Skip: 0   Failed: 0");
    EXPECT_EQ(batch.state(), app::BatchState::Stopped);
    EXPECT_FALSE(batch.Finished());
    ASSERT_TRUE(PumpUntil([&] { return batch.Finished(); }));
    EXPECT_EQ(view_.Texts().back(), ">>> " + kTime + " Done.");
    EXPECT_EQ(batch.rows()[0].icon, RowIcon::Done);
    EXPECT_EQ(batch.rows()[1].icon, RowIcon::Ready);
    EXPECT_EQ(batch.core().counters().done, 1);
    EXPECT_EQ(OutFiles(), std::vector<std::string>{"a.wav"});
}

TEST_F(ConversionBatchTest, CancelStopsTheFileInWorkAndKeepsNothingOfIt) {
    Source("a.wave", 4000000);
    app::ConversionBatch batch(view_, actions_, [] { return kTime; });
    batch.Prepare(Plan({"a.wave"}), "T");
    ASSERT_EQ(batch.Start(settings_), app::ConversionBatch::StartResult::Started);
    batch.Cancel();
    ASSERT_TRUE(PumpUntil([&] { return batch.Finished(); }));
    EXPECT_EQ(batch.rows()[0].icon, RowIcon::Ready);
    EXPECT_EQ(view_.Texts().back(), ">>> " + kTime + " Cancelled; nothing was written.");
    EXPECT_TRUE(OutFiles().empty()) << ::testing::PrintToString(OutFiles());
    EXPECT_TRUE(fs::exists(In("a.wave")));
}

TEST_F(ConversionBatchTest, AFileThatCannotStartIsFailedAndTheBatchGoesOn) {
    Source("a.wave");
    Source("b.wave");
    auto rows = Plan({"a.wave", "b.wave"});
    rows[0].destinationPath = (dir_.path() / "missing-folder/").string();
    app::ConversionBatch batch(view_, actions_, [] { return kTime; });
    batch.Prepare(rows, "T");
    Run(batch, settings_);
    EXPECT_EQ(batch.rows()[0].icon, RowIcon::Failed);
    EXPECT_EQ(batch.rows()[1].icon, RowIcon::Done);
    bool reported = false;
    for (const auto& l : view_.lines)
        reported |= l.colour == LogColour::Red && l.text.find(" Converting Failed. An error occurs - ") != std::string::npos;
    EXPECT_TRUE(reported) << ::testing::PrintToString(view_.Texts());
    EXPECT_EQ(view_.Texts().back(), "Total Files: 2   Done: 1   Remaining: 0   Skip: 0   Failed: 1");
}

TEST_F(ConversionBatchTest, RefusalsBeforeStarting) {
    app::ConversionBatch batch(view_, actions_, [] { return kTime; });
    batch.Prepare({}, "T");
    EXPECT_EQ(batch.Start(settings_), app::ConversionBatch::StartResult::EmptyList);
    Source("a.wave");
    auto rows = Plan({"a.wave"});
    rows[0].destinationFormat.clear();
    batch.Prepare(rows, "T");
    EXPECT_EQ(batch.Start(settings_), app::ConversionBatch::StartResult::MissingFormat);
    EXPECT_EQ(view_.informed,
              (std::vector<std::string>{std::string("Information: ") + app::ConversionBatch::kEmptyListMessage,
                                        std::string("Information: ") + app::ConversionBatch::kMissingFormatMessage}));
    EXPECT_EQ(batch.state(), app::BatchState::Stopped);
}

TEST_F(ConversionBatchTest, QualityReachesTheEncoderAndARefusedValueFallsBackToTheDefault) {
    Source("a.wav", 441000);
    app::ConversionBatch batch(view_, actions_, [] { return kTime; });
    batch.Prepare(Plan({"a.wav"}, "MP3"), "T");
    settings_.quality = app::QualityMode::Cbr;
    settings_.cbrValue = 128;
    Run(batch, settings_);
    ASSERT_EQ(batch.rows()[0].icon, RowIcon::Done);
    // A CBR 128 kbit/s MPEG-1 layer III frame header: bitrate index 9.
    auto mp3 = ReadFileBytes(Out("a.mp3"));
    std::size_t i = 0;
    while (i + 2 < mp3.size() && !(mp3[i] == 0xFF && (mp3[i + 1] & 0xE0) == 0xE0)) ++i;
    ASSERT_LT(i + 2, mp3.size());
    EXPECT_EQ(mp3[i + 2] >> 4, 9);

    fs::remove(Out("a.mp3"));
    view_ = RecordingView{};
    app::ConversionBatch refused(view_, actions_, [] { return kTime; });
    refused.Prepare(Plan({"a.wav"}, "MP3"), "T");
    settings_.cbrValue = 100;  // not a rate of the format
    Run(refused, settings_);
    EXPECT_EQ(refused.rows()[0].icon, RowIcon::Done);
    bool logged = false;
    for (const auto& l : view_.lines)
        logged |= l.colour == LogColour::Orange && l.text.find(" The encoder refused CBR 100 kbit/s (") != std::string::npos &&
                  l.text.find("Its default is used.") != std::string::npos;
    EXPECT_TRUE(logged) << ::testing::PrintToString(view_.Texts());
    EXPECT_TRUE(fs::exists(Out("a.mp3")));
}

TEST_F(ConversionBatchTest, AValueRefusedOnlyWhenTheEncoderSeesTheInputIsRetriedWithTheDefault) {
    // The Vorbis encoder takes any ABR value; the library judges it at the
    // first block, against the input, and has no 8 kbit/s for stereo.
    UseTemporaryRegistry(dir_, {"kivwave", "kivconv", "kivvorbis"});
    Source("a.wav", 441000);
    app::ConversionBatch batch(view_, actions_, [] { return kTime; });
    batch.Prepare(Plan({"a.wav"}, "OGG"), "T");
    settings_.quality = app::QualityMode::Abr;
    settings_.abrValue = 8;
    Run(batch, settings_);
    EXPECT_EQ(batch.rows()[0].icon, RowIcon::Done) << ::testing::PrintToString(view_.Texts());
    bool logged = false;
    for (const auto& l : view_.lines)
        logged |= l.colour == LogColour::Orange &&
                  l.text.find(" The encoder refused ABR 8 kbit/s") != std::string::npos &&
                  l.text.find("Converting again with its default.") != std::string::npos;
    EXPECT_TRUE(logged) << ::testing::PrintToString(view_.Texts());
    EXPECT_EQ(OutFiles(), std::vector<std::string>{"a.ogg"});
    EXPECT_GT(fs::file_size(Out("a.ogg")), 4000u);
}

TEST(OutputModeRefusal, OnlyTheEncodersRefusalsOfTheModeAreRetried) {
    struct Case {
        const char* message;
        bool refusal;
    } cases[] = {
        {"Cannot write samples, encoder failed: Internal Vorbis logic fault", true},
        {"Cannot write samples, encoder failed: Internal error #5. beInitStream failed.", true},
        {"Cannot write samples, encoder failed: Internal error #78. The codec has no format for this bitrate or "
         "quality at this sample rate and channel count.",
         true},
        {"Cannot write samples, encoder failed: Internal error #79. Cannot write file. System error message: "
         "Read-only file system.",
         false},
        {"Error: encoder failed: Internal error #20. Cannot write. System error message: No space left on device",
         false},
        {"Cannot write samples, encoder failed.", false},
        {"Internal error #3. Cannot create file. System error message: Permission denied.", false},
    };
    for (const Case& c : cases) EXPECT_EQ(app::IsOutputModeRefusal(c.message), c.refusal) << c.message;
}

TEST_F(ConversionBatchTest, TwoJobsGiveTheSameFilesAndSummaryWithEachFilesLinesTogether) {
    std::vector<std::string> names;
    std::vector<std::vector<unsigned char>> data;
    for (int i = 0; i < 5; ++i) {
        names.push_back("s" + std::to_string(i) + ".wave");
        data.push_back(Source(names.back(), 100000 + 4000 * std::size_t(i), unsigned(i + 1)));
    }
    names.push_back("s1.wave");  // the same destination again: renamed after the first is written
    std::map<int, std::vector<std::string>> files;
    std::map<int, std::string> summary;
    for (int jobs : {1, 2}) {
        fs::remove_all(dir_.path() / "out");
        fs::create_directories(dir_.path() / "out");
        view_ = RecordingView{};
        app::ConversionBatch batch(view_, actions_, [] { return kTime; });
        batch.Prepare(Plan(names), "T");
        settings_.jobs = jobs;
        settings_.exists = app::ExistsPolicy::Rename;
        settings_.renameRule = "%_copy";
        Run(batch, settings_);
        files[jobs] = OutFiles();
        summary[jobs] = view_.Texts().back();
        // Each file's lines come together: from its start line to its
        // outcome no other file's line comes between.
        auto texts = view_.Texts();
        auto sourceOf = [](const std::string& line) {
            auto from = line.find(" Start converting ");
            if (from == std::string::npos) return std::string();
            from += 18;
            return line.substr(from, line.find(" -> ") - from);
        };
        for (std::size_t k = 3; k < texts.size(); ++k) {
            const std::string source = sourceOf(texts[k]);
            if (source.empty()) continue;
            std::size_t m = k + 1;
            for (; m < texts.size() && texts[m].find(" Done.") == std::string::npos; ++m) {
                const std::string other = sourceOf(texts[m]);
                EXPECT_TRUE(other.empty() || other == source) << "jobs " << jobs << ": " << texts[m]
                                                              << " inside the lines of " << source;
            }
            k = m;
        }
        for (std::size_t i = 0; i < data.size(); ++i) {
            auto out = ReadFileBytes(Out("s" + std::to_string(i) + ".wav"));
            ASSERT_GE(out.size(), 46 + data[i].size());
            EXPECT_TRUE(std::equal(data[i].begin(), data[i].end(), out.begin() + 46)) << i;
        }
    }
    EXPECT_EQ(files[1], files[2]);
    EXPECT_EQ(files[2].size(), 6u);
    EXPECT_EQ(summary[1], summary[2]);
    EXPECT_EQ(summary[2], "Total Files: 6   Done: 6   Remaining: 0   Skip: 0   Failed: 0");
}

TEST_F(ConversionBatchTest, PostActionsRunInOrderAndExitEndsThem) {
    Source("a.wave");
    struct Case {
        app::Options::PostActions after;
        std::vector<std::string> calls;
    };
    app::Options::PostActions all;
    all.openFolder = all.shutDown = all.playSound = true;
    all.soundDefault = false;
    all.customSound = "/x/done.wav";
    app::Options::PostActions exiting = all;
    exiting.exitProgram = true;
    app::Options::PostActions beep;
    beep.playSound = true;
    const std::string outFolder = Out("");
    std::vector<Case> cases = {
        {all, {"open " + outFolder, "poweroff", "sound /x/done.wav"}},
        {exiting, {"open " + outFolder, "exit"}},
        {beep, {"beep"}},
    };
    for (const Case& c : cases) {
        fs::remove_all(dir_.path() / "out");
        fs::create_directories(dir_.path() / "out");
        actions_.calls.clear();
        app::ConversionBatch batch(view_, actions_, [] { return kTime; });
        batch.Prepare(Plan({"a.wave"}), "T");
        settings_.after = c.after;
        Run(batch, settings_);
        EXPECT_EQ(actions_.calls, c.calls);
    }
}

// The clock of the progress display, without converting anything.
TEST(LogRtf, EachLineInItsColourWithTextEscaped) {
    const std::vector<app::LogLine> lines = {{LogColour::Navy, ">>> Ondalo"},
                                             {LogColour::Red, " Failed {a\\b}"},
                                             {LogColour::White, ""},
                                             {LogColour::Orange, " Skip caf\xc3\xa9 \xf0\x9f\x8e\xb5"}};
    const std::string rtf = app::LogToRtf(lines);
    EXPECT_EQ(rtf.rfind("{\\rtf1", 0), 0u);
    EXPECT_NE(rtf.find("{\\colortbl ;\\red0\\green0\\blue128;\\red0\\green0\\blue255;\\red0\\green128\\blue0;"
                       "\\red255\\green128\\blue0;\\red255\\green0\\blue0;\\red255\\green255\\blue255;}"),
              std::string::npos)
        << rtf;
    EXPECT_NE(rtf.find("\\cf1 >>> Ondalo\\par\n\\cf5  Failed \\{a\\\\b\\}\\par\n\\cf6 \\par\n"), std::string::npos) << rtf;
    // é is U+00E9; the note U+1F3B5 is a surrogate pair.
    EXPECT_NE(rtf.find("\\cf4  Skip caf\\u233? \\u-10180?\\u-8267?\\par"), std::string::npos) << rtf;
    EXPECT_EQ(rtf.back(), '\n');
}

TEST(BatchClock, ElapsedRemainingAndFinishedAmounts) {
    RecordingView view;
    RecordingActions actions;
    app::BatchCore core(view, actions, [] { return kTime; });
    core.ResetProgress(1000);
    core.SetFinishedUnits(200);
    core.Tick(50);  // the bar was 0: no estimate yet
    EXPECT_EQ(core.elapsedSeconds(), 1);
    EXPECT_EQ(core.remainingSeconds(), 0);
    EXPECT_EQ(core.finishedNow(), 250);
    EXPECT_EQ(core.totalBar(), 25);
    core.Tick(50);  // estimated from the bar's last position: 2 s for 25%
    EXPECT_EQ(core.remainingSeconds(), 6);
    EXPECT_EQ(app::HoursMinutesSeconds(3725), "1:2:5");
    EXPECT_EQ(app::HoursMinutesSeconds(0), "0:0:0");

    app::BatchCore empty(view, actions, [] { return kTime; });
    empty.ResetProgress(0);  // every file under 512 bytes
    empty.Tick(0);
    EXPECT_EQ(empty.totalBar(), 0);
}

}  // namespace
}  // namespace kiv::test

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cstring>

#include "app/core/file_conversion.h"
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
        UseTemporaryRegistry(dir_, {"kivwave", "kivconv", "kivmp3", "kivvorbis"});
        ::unsetenv("KIV_REGISTRY");  // only the child uses it
        fs::create_directories(dir_.path() / "out");
    }
    TempDir dir_;
};

TEST_F(CliTest, ConvertsWithTheBatchLogAndLeavesNoTemporaryFile) {
    auto data = PatternBytes(176400 * 2 + 7);
    WriteFileBytes(dir_ / "song.wave", MakeWav(data));
    CommandRun r = Cli(dir_, "convert --to wav --dest out song.wave", dir_.path());
    ASSERT_EQ(r.status, 0) << r.output;
    auto out = ReadFileBytes(dir_ / "out/song.wav");
    ASSERT_EQ(out.size(), 46 + data.size() + 1);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin() + 46));
    const std::string start = " Start converting " + (dir_ / "song.wave") + " -> out/song.wav";
    for (const std::string& line : {std::string(">>> Ondalo Version 3.0"), start, std::string(" Done."),
                                    std::string("Total Files: 1   Done: 1   Remaining: 0   Skip: 0   Failed: 0")})
        EXPECT_NE(r.output.find(line), std::string::npos) << line << "\n" << r.output;
    EXPECT_EQ(r.output.find("\033["), std::string::npos) << "no colours without a terminal";
    for (auto& e : fs::directory_iterator(dir_.path() / "out"))
        EXPECT_EQ(e.path().filename(), "song.wav") << "no temporary file is left behind";
}

TEST_F(CliTest, ExistingDestinationsFollowThePolicy) {
    WriteFileBytes(dir_ / "song.wave", MakeWav(PatternBytes(1000)));
    const std::vector<unsigned char> old{'k', 'e', 'e', 'p'};
    struct Case {
        const char* options;
        const char* says;
        const char* written;  // the file holding the new audio
    } cases[] = {
        {"--exists skip", " Skip ", nullptr},
        {"", "File already exists. Do you wish to overwrite it?", nullptr},  // no terminal: No
        {"--exists rename", " File exists. Auto rename song.wav to song_copy.wav", "song_copy.wav"},
        {"--exists=rename=old_%", " File exists. Auto rename song.wav to old_song.wav", "old_song.wav"},
        {"--overwrite", " Overwrite out/song.wav", "song.wav"},
    };
    for (const Case& c : cases) {
        fs::remove_all(dir_.path() / "out");
        fs::create_directories(dir_.path() / "out");
        WriteFileBytes(dir_ / "out/song.wav", old);
        CommandRun r = Cli(dir_, std::string("convert --to wav --dest out ") + c.options + " song.wave", dir_.path());
        EXPECT_EQ(r.status, 0) << c.options << "\n" << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << c.options << "\n" << r.output;
        if (!c.written || std::string(c.written) != "song.wav") {
            EXPECT_EQ(ReadFileBytes(dir_ / "out/song.wav"), old) << c.options;
        }
        if (c.written) {
            EXPECT_EQ(fs::file_size(dir_.path() / "out" / c.written), 46u + 1000) << c.options;
        }
    }
}

TEST_F(CliTest, FailuresAreReportedAndLeaveNothingBehind) {
    WriteFileBytes(dir_ / "good.wave", MakeWav(PatternBytes(100)));
    WriteFileBytes(dir_ / "bad.wave", {'R', 'I', 'F', 'F', 'x'});
    WriteFileBytes(dir_ / "notes.txt", {'h', 'i'});
    CommandRun r = Cli(dir_, "convert --to wav --dest out --delete-source bad.wave good.wave missing.wav notes.txt",
                       dir_.path());
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find(" Converting Failed. An error occurs - Cannot find appropriate decoder."),
              std::string::npos) << r.output;
    EXPECT_NE(r.output.find("missing.wav: no such file"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Total Files: 3   Done: 1   Remaining: 0   Skip: 0   Failed: 2"), std::string::npos)
        << r.output;
    std::vector<std::string> left;
    for (auto& e : fs::directory_iterator(dir_.path() / "out")) left.push_back(e.path().filename());
    EXPECT_EQ(left, std::vector<std::string>{"good.wav"});
    EXPECT_FALSE(fs::exists(dir_.path() / "good.wave")) << "converted: its source is deleted";
    EXPECT_TRUE(fs::exists(dir_.path() / "bad.wave")) << "failed: its source is kept";
}

// A format that cannot hold the source's channels or depth gets them
// reduced, with one line in the log for that file and none for the others.
TEST_F(CliTest, ReducesWhatTheDestinationFormatCannotHoldAndSaysSoOnce) {
    ASSERT_EQ(RunCommand("ffmpeg -v error -nostdin -y -f lavfi -i 'sine=d=1.5' -ac 6 -c:a pcm_s24le -f wav - > '" +
                         (dir_ / "surround.wav") + "'").status, 0);
    WriteFileBytes(dir_ / "stereo.wav", MakeWav(PatternBytes(17640)));
    // MP3 holds two channels of 16 bits; Ogg Vorbis holds the six channels,
    // at 16 bits.
    struct Case {
        const char* format;
        const char* notice;
        const char* surroundStream;  // ffprobe: sample format and channels of out/surround.*
    } cases[] = {
        {"mp3", "The source's 24-bit 6-channel audio is converted as 16-bit stereo (dithered)", "fltp,2"},
        {"ogg", "The source's 24-bit 6-channel audio is converted as 16-bit 6-channel (dithered)", "fltp,6"},
    };
    for (const Case& c : cases) {
        CommandRun r = Cli(dir_, std::string("convert --to ") + c.format + " --dest out surround.wav stereo.wav",
                           dir_.path());
        ASSERT_EQ(r.status, 0) << r.output;
        const std::string notice = c.notice;
        std::size_t seen = 0;
        for (std::size_t at = r.output.find(notice); at != std::string::npos; at = r.output.find(notice, at + 1)) ++seen;
        EXPECT_EQ(seen, 1u) << c.format << "\n" << r.output;
        std::size_t any = 0;
        for (std::size_t at = r.output.find("converted as"); at != std::string::npos; at = r.output.find("converted as", at + 1))
            ++any;
        EXPECT_EQ(any, 1u) << "one notice, for the file that needs it\n" << r.output;
        CommandRun probe = RunCommand("ffprobe -v error -show_entries stream=channels,sample_fmt -of csv=p=0 '" +
                                      (dir_ / "out/surround.") + c.format + "'");
        EXPECT_EQ(probe.output, std::string(c.surroundStream) + "\n") << c.format;
    }
}

// A header that claims more than memory holds fails its own file only:
// under a memory limit the batch still converts the others and ends with
// the right summary, and leaves no temporary file.
TEST_F(CliTest, AHostileHeaderUnderAMemoryLimitFailsAlone) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's shadow memory does not fit a memory limit";
#endif
    auto good = MakeWav(PatternBytes(4000));
    auto hostile = good;
    const std::uint32_t riffSize = 0xFFFFFFFFu, formatSize = 0x80000000u;  // 2 GB of format
    std::memcpy(hostile.data() + 4, &riffSize, 4);
    std::memcpy(hostile.data() + 16, &formatSize, 4);
    WriteFileBytes(dir_ / "a.wave", good);
    WriteFileBytes(dir_ / "hostile.wave", hostile);
    WriteFileBytes(dir_ / "z.wave", good);
    CommandRun r = RunOndaloCli(dir_, "convert --to wav --dest out a.wave hostile.wave z.wave", dir_.path(),
                                "ulimit -v 1500000 && ");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("Total Files: 3   Done: 2   Remaining: 0   Skip: 0   Failed: 1"), std::string::npos)
        << r.output;
    std::vector<std::string> left;
    for (auto& e : fs::directory_iterator(dir_.path() / "out")) left.push_back(e.path().filename());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"a.wav", "z.wav"}));
}

TEST_F(CliTest, TheSourceIsNeverItsOwnDestination) {
    auto bytes = MakeWav(PatternBytes(500));
    WriteFileBytes(dir_ / "song.wav", bytes);
    CommandRun r = Cli(dir_, "convert --to wav --overwrite --delete-source song.wav", dir_.path());
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(" Skip " + (dir_ / "song.wav")), std::string::npos) << r.output;
    EXPECT_EQ(ReadFileBytes(dir_ / "song.wav"), bytes);
}

TEST_F(CliTest, DefaultsComeFromTheDesktopProgramsSettings) {
    fs::create_directories(dir_.path() / "music");
    WriteFileBytes(dir_ / "music/song.wave", MakeWav(PatternBytes(800)));
    // Remembered: WAV beside the source, and "Auto Renaming" with a rule.
    WriteFileBytes(dir_ / "Option.ini", [] {
        std::string ini =
            "[ConverterStep2]\r\nDefault=0\r\nSource=1\r\nWAV=1\r\nMP3=0\r\nQuery=0\r\nRename=1\r\n"
            "RenameRule=new_%\r\n";
        return std::vector<unsigned char>(ini.begin(), ini.end());
    }());
    WriteFileBytes(dir_ / "music/song.wav", {'o', 'l', 'd'});
    CommandRun r = Cli(dir_, "convert music/song.wave", dir_.path());
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(fs::file_size(dir_.path() / "music/new_song.wav"), 46u + 800) << r.output;

    // Options override them for the run; nothing is written back.
    const auto ini = ReadFileBytes(dir_ / "Option.ini");
    r = Cli(dir_, "convert --dest out --exists skip music/song.wave", dir_.path());
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(fs::exists(dir_.path() / "out/song.wav")) << r.output;
    EXPECT_EQ(ReadFileBytes(dir_ / "Option.ini"), ini);

    // RecordSettings=3: the remembered page is not used (MP3 by default).
    WriteFileBytes(dir_ / "Option.ini", [] {
        std::string ini = "[Advanced]\nRecordSettings=3\n[ConverterStep2]\nWAV=1\nMP3=0\n";
        return std::vector<unsigned char>(ini.begin(), ini.end());
    }());
    r = Cli(dir_, "convert --dest out --cbr 128 music/song.wave", dir_.path());
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("-> out/song.mp3"), std::string::npos) << r.output;
}

TEST_F(CliTest, FoldersAndTaskFiles) {
    for (const char* f : {"tree/b.wave", "tree/A.WAVE", "tree/sub/c.wave", "tree/.hidden.wave", "tree/notes.txt"}) {
        fs::create_directories((dir_.path() / f).parent_path());
        WriteFileBytes(dir_ / f, MakeWav(PatternBytes(300)));
    }
    CommandRun r = Cli(dir_, "convert --to wav --dest out --no-recursive --save-task list.otk tree", dir_.path());
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string tree = (dir_.path() / "tree").string();
    auto otk = ReadFileBytes(dir_ / "list.otk");
    EXPECT_EQ(std::string(otk.begin(), otk.end()), tree + "/A.WAVE\r\n" + tree + "/b.wave\r\n");

    fs::remove_all(dir_.path() / "out");
    fs::create_directories(dir_.path() / "out");
    r = Cli(dir_, "convert --to wav --dest out --recursive tree", dir_.path());
    ASSERT_EQ(r.status, 0) << r.output;
    for (const char* f : {"out/A.wav", "out/b.wav", "out/c.wav", "out/.hidden.wav"})
        EXPECT_TRUE(fs::exists(dir_.path() / f)) << f << "\n" << r.output;

    fs::remove_all(dir_.path() / "out");
    fs::create_directories(dir_.path() / "out");
    r = Cli(dir_, "convert --to wav --dest out --task list.otk", dir_.path());
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("Total Files: 2   Done: 2"), std::string::npos) << r.output;
}

TEST_F(CliTest, KeepFoldersPutsEachFileUnderItsSubFolder) {
    for (const char* f : {"tree/a.wave", "tree/sub/b.wave", "tree/sub/deeper/c.wave", "single.wave"}) {
        fs::create_directories((dir_.path() / f).parent_path());
        WriteFileBytes(dir_ / f, MakeWav(PatternBytes(300)));
    }
    CommandRun r = Cli(dir_, "convert --to wav --dest out --recursive --keep-folders tree single.wave", dir_.path());
    ASSERT_EQ(r.status, 0) << r.output;
    for (const char* f : {"out/a.wav", "out/sub/b.wav", "out/sub/deeper/c.wav", "out/single.wav"})
        EXPECT_TRUE(fs::exists(dir_.path() / f)) << f << "\n" << r.output;
    EXPECT_NE(r.output.find("Total Files: 4   Done: 4"), std::string::npos) << r.output;

    // Without the option every file goes to the output folder itself.
    fs::remove_all(dir_.path() / "out");
    fs::create_directories(dir_.path() / "out");
    r = Cli(dir_, "convert --to wav --dest out --recursive tree", dir_.path());
    ASSERT_EQ(r.status, 0) << r.output;
    for (const char* f : {"out/a.wav", "out/b.wav", "out/c.wav"}) EXPECT_TRUE(fs::exists(dir_.path() / f)) << f;
    EXPECT_FALSE(fs::exists(dir_.path() / "out/sub"));
}

std::string ReadTextFile(const std::string& path) {
    auto bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// Everything in `folder`, hidden files included.
std::vector<std::string> Entries(const fs::path& folder) {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// The destination folder made full or read-only for the program alone (a
// preloaded library of the tests), whatever the test's own privileges.
std::string FaultyFolder(const fs::path& folder, const std::string& mode) {
    return "LD_PRELOAD='" + std::string(ONDALO_BUILD_DIR) + "/lib/fault_shim.so' ONDALO_FAULT_DIR='" +
           folder.string() + "' ONDALO_FAULT_MODE=" + mode + " ASAN_OPTIONS=\"$ASAN_OPTIONS:verify_asan_link_order=0\" ";
}

class CliFaultTest : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        UseTemporaryRegistry(dir_, {"kivwave", "kivconv", "kivmp3", "kivvorbis", "kivwma9"});
        ::unsetenv("KIV_REGISTRY");
    }
};

TEST_F(CliFaultTest, AFullOrReadOnlyDestinationFailsTheFileWithItsRealReasonAndLeavesNothing) {
    WriteFileBytes(dir_ / "song.wave", MakeWav(PatternBytes(176400 * 3)));
    struct Case {
        const char* options;
        const char* fault;
        const char* reason;
    } cases[] = {
        {"--to wav", "full:8000", "No space left on device"},
        {"--to mp3 --cbr 320", "full:8000", "No space left on device"},
        {"--to ogg --vbr 60", "full:8000", "No space left on device"},
        {"--to wma --cbr 128", "full:8000", "No space left on device"},
        {"--to wav", "readonly", "Read-only file system"},
        {"--to mp3 --cbr 320", "readonly", "Read-only file system"},
        {"--to ogg --abr 128", "readonly", "Read-only file system"},
        {"--to wma --cbr 320", "readonly", "Read-only file system"},
    };
    for (const Case& c : cases) {
        const std::string what = std::string(c.options) + " on " + c.fault;
        fs::remove_all(dir_.path() / "out");
        fs::create_directories(dir_.path() / "out");
        CommandRun r = RunOndaloCli(dir_, std::string("convert --delete-source --dest out ") + c.options + " song.wave",
                                    dir_.path(), FaultyFolder(dir_.path() / "out", c.fault));
        EXPECT_EQ(r.status, 1) << what << "\n" << r.output;
        EXPECT_NE(r.output.find(" Converting Failed. An error occurs - "), std::string::npos) << what << "\n" << r.output;
        EXPECT_NE(r.output.find(c.reason), std::string::npos) << what << ": the real reason\n" << r.output;
        EXPECT_EQ(r.output.find("refused"), std::string::npos) << what << ": not the quality's fault\n" << r.output;
        EXPECT_NE(r.output.find("Total Files: 1   Done: 0   Remaining: 0   Skip: 0   Failed: 1"), std::string::npos)
            << what << "\n" << r.output;
        EXPECT_EQ(Entries(dir_.path() / "out"), std::vector<std::string>{}) << what << ": no file, no temporary";
        EXPECT_TRUE(fs::exists(dir_.path() / "song.wave")) << what << ": the source stays";
    }
}

TEST_F(CliTest, InterruptedRunsLeaveNoTemporaries) {
    // A minute of audio each: the conversion is still at work when the signal comes.
    for (const char* name : {"a.wave", "b.wave"}) WriteFileBytes(dir_ / name, MakeWav(PatternBytes(176400 * 60)));
    WriteFileBytes(dir_ / "c.wave", MakeWav(PatternBytes(4000)));
    const std::string cli = "ONDALO_CONFIG_DIR='" + dir_.path().string() + "' KIV_REGISTRY='" + (dir_ / "registry.reg") +
                            "' '" + ONDALO_BUILD_DIR + "/bin/ondalo-cli' ";
    // Starts a conversion, waits until its temporary file is there, sends
    // the signal and tells the exit status.
    auto interrupt = [&](const std::string& signal) {
        return RunCommand("cd '" + dir_.path().string() + "' && { " + cli +
                          "convert --jobs 1 --to mp3 --dest out a.wave b.wave >log.txt 2>&1 </dev/null & pid=$!; "
                          "i=0; while [ -z \"$(ls -A out)\" ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i+1)); done; "
                          "kill -" + signal + " $pid; wait $pid; echo \"status=$?\"; }");
    };
    struct Case {
        const char* signal;
        const char* status;
    } cases[] = {{"TERM", "status=130"}, {"HUP", "status=130"}};
    for (const Case& c : cases) {
        fs::remove_all(dir_.path() / "out");
        fs::create_directories(dir_.path() / "out");
        CommandRun r = interrupt(c.signal);
        const std::string log = ReadTextFile(dir_ / "log.txt");
        EXPECT_NE(r.output.find(c.status), std::string::npos) << c.signal << "\n" << r.output << log;
        EXPECT_NE(log.find("Total Files: 2   Done: 0   Remaining: 2"), std::string::npos) << c.signal << "\n" << log;
        EXPECT_EQ(Entries(dir_.path() / "out"), std::vector<std::string>{}) << c.signal << "\n" << log;
        EXPECT_TRUE(fs::exists(dir_.path() / "a.wave"));
    }

    // SIGKILL leaves the temporary behind; the next run into that folder
    // removes it, and only what belongs to processes of ours that are gone.
    fs::remove_all(dir_.path() / "out");
    fs::create_directories(dir_.path() / "out");
    CommandRun killed = interrupt("KILL");
    EXPECT_NE(killed.output.find("status=137"), std::string::npos) << killed.output;
    const std::vector<std::string> left = Entries(dir_.path() / "out");
    ASSERT_EQ(left.size(), 1u) << "the killed run's temporary";
    EXPECT_EQ(left[0].rfind(".a.partial-", 0), 0u) << left[0];
    const std::string alive = fs::path(app::TemporaryPathFor((dir_.path() / "out/z.mp3").string())).filename();
    WriteFileBytes(dir_ / ("out/" + alive), {'x'});  // this test process's: still at work
    WriteFileBytes(dir_ / "out/.notes.partial-1-2.mp3", {'x'});  // not a name of ours
    CommandRun next = Cli(dir_, "convert --to mp3 --dest out c.wave", dir_.path());
    EXPECT_EQ(next.status, 0) << next.output;
    EXPECT_NE(next.output.find(" Removed 1 unfinished file of an interrupted run from out."), std::string::npos)
        << next.output;
    EXPECT_EQ(Entries(dir_.path() / "out"), (std::vector<std::string>{".notes.partial-1-2.mp3", alive, "c.mp3"}));
}

TEST_F(CliTest, FileNamesThatAreNotUtf8AreKeptByteForByte) {
    const std::string latin1 = "caf\xE9";  // "café" in ISO-8859-1
    auto data = PatternBytes(20000);
    WriteFileBytes(dir_ / (latin1 + ".wave"), MakeWav(data));
    CommandRun r = Cli(dir_, "convert --to mp3 --dest out '" + latin1 + ".wave'", dir_.path());
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("caf\\xE9.wave -> out/caf\\xE9.mp3"), std::string::npos) << "shown escaped\n" << r.output;
    EXPECT_EQ(r.output.find("\xEF\xBF\xBD"), std::string::npos) << "no replacement characters";
    EXPECT_EQ(Entries(dir_.path() / "out"), std::vector<std::string>{latin1 + ".mp3"});
    // And back again, from the name as the folder holds it.
    r = Cli(dir_, "convert --to wav --dest out 'out/" + latin1 + ".mp3'", dir_.path());
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(Entries(dir_.path() / "out"), (std::vector<std::string>{latin1 + ".mp3", latin1 + ".wav"}));
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
        {"convert --dest nowhere a.wav", 2, "Path nowhere is not existent. Please check it out."},
        {"convert --dest a.wav a.wav", 2, "a.wav is not a folder"},
        {"rip --dest a.wav", 2, "a.wav is not a folder"},
        {"convert --help", 0, "130 after Ctrl-C"},
        {"convert --exists sometimes a.wav", 2, "--exists takes skip, overwrite, ask or rename[=RULE]"},
        {"convert --cbr 500 a.wav", 2, "--cbr needs a whole number from 8 to 320"},
        {"convert --jobs 0 a.wav", 2, "--jobs needs a whole number from 1 to 256"},
        {"convert --as ogg", 2, "--as FORMAT needs a file or folder after it"},
        {"convert nothing-here.wav", 1, "Pleaes add source files to Task List."},
        {"convert --frobnicate a.wav", 2, "unknown option"},
        {"transmogrify", 2, "unknown command"},
    };
    WriteFileBytes(dir_ / "a.wav", MakeWav(PatternBytes(100)));
    for (const Case& c : cases) {
        CommandRun r = Cli(dir_, c.args, dir_.path());
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << c.args << "\n" << r.output;
    }
}

}  // namespace
}  // namespace kiv::test

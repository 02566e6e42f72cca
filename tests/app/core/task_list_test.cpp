#include "app/core/task_list.h"

#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "app/core/output_planning.h"
#include "app/core/settings.h"
#include "tests/support/test_env.h"

namespace kiv::app {
namespace {

using test::TempDir;
namespace fs = test::fs;

// Records what the list shows, answers questions from a queue and presses
// "Cancel" once ProcessEvents has been called `cancelAfter` times.
class ScriptedHost : public TaskListHost {
public:
    struct Message {
        std::string text, caption;
    };
    std::vector<Message> informed, asked;
    std::deque<bool> answers;
    std::vector<std::string> searched;
    int events = 0;
    int cancelAfter = -1;

    void Inform(const std::string& text, const std::string& caption) override {
        informed.push_back({text, caption});
    }
    bool Ask(const std::string& question, const std::string& caption) override {
        asked.push_back({question, caption});
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected question: " << question;
            return false;
        }
        bool a = answers.front();
        answers.pop_front();
        return a;
    }
    void ProcessEvents() override { ++events; }
    bool SearchCancelled() override { return cancelAfter >= 0 && events >= cancelAfter; }
    void SearchingFolder(const std::string& folder) override { searched.push_back(folder); }
};

void MakeFile(const std::string& path, std::size_t size = 10) {
    fs::create_directories(fs::path(path).parent_path());
    test::WriteFileBytes(path, std::vector<unsigned char>(size, 'x'));
}

std::vector<std::string> Paths(const TaskList& list) {
    std::vector<std::string> paths;
    for (const TaskRow& r : list.rows()) paths.push_back(r.Path());
    return paths;
}

class TaskListTest : public ::testing::Test {
protected:
    TempDir dir_;
    SettingsStore settings_{dir_ / "Option.ini"};
    ScriptedHost host_;
    TaskList list_;
};

TEST(TaskListText, SizeTextRoundsHalfToEven) {
    struct Case {
        std::uint64_t bytes;
        const char* text;
    } cases[] = {{0, "0KB"},    {511, "0KB"},   {512, "0KB"},   {513, "1KB"},         {1535, "1KB"},
                 {1536, "2KB"}, {2560, "2KB"}, {3584, "4KB"}, {1048576, "1024KB"}};
    for (const Case& c : cases) EXPECT_EQ(SizeText(c.bytes), c.text) << c.bytes;

    struct Back {
        const char* text;
        long long kb;
    } back[] = {{"12KB", 12}, {"0KB", 0}, {"KB", 0}, {"", 0}, {"abcKB", 0}, {"1x2KB", 0}, {"7", 0}};
    for (const Back& b : back) EXPECT_EQ(SizeTextKilobytes(b.text), b.kb) << b.text;
}

TEST(TaskListText, SupportedSourcesIgnoreCase) {
    for (const char* yes : {"a.wav", "b.WAVE", "c.Mp3", "d.wma", "e.OGG", "f.oga", "g.OgA", ".hidden.mp3", "x.y.ogg"})
        EXPECT_TRUE(IsSupportedSource(yes)) << yes;
    for (const char* no : {"mp3", "a.mp3.txt", "a.flac", "a.", "wav", "a.mp", "a.og", "a.ogaa"})
        EXPECT_FALSE(IsSupportedSource(no)) << no;
}

TEST_F(TaskListTest, AddFileFillsTheRow) {
    struct Case {
        const char* name;
        std::size_t bytes;
        const char* size;
        const char* format;
    } cases[] = {{"x.MP3", 512, "0KB", "MP3"},       {"y.Ogg", 1535, "1KB", "OGG"},
                 {"name.wave", 1536, "2KB", "WAVE"}, {"a.b.wma", 0, "0KB", "WMA"},
                 {"noext", 3000, "3KB", ""},         {"notes.txt", 10, "0KB", "TXT"}};
    const std::string folder = dir_ / "Music";
    for (const Case& c : cases) {
        MakeFile(folder + "/" + c.name, c.bytes);
        ASSERT_TRUE(list_.AddFile(folder + "/" + c.name, host_)) << c.name;
        const TaskRow& row = list_.rows().back();
        EXPECT_EQ(row.fileName, c.name);
        EXPECT_EQ(row.folder, folder);
        EXPECT_EQ(row.sizeText, c.size) << c.name;
        EXPECT_EQ(row.format, c.format) << c.name;
        EXPECT_EQ(row.destinationFormat, "");
        EXPECT_EQ(row.Path(), folder + "/" + c.name);
    }
    EXPECT_TRUE(host_.informed.empty());

    // Doubled slashes do not reach the folder column.
    ASSERT_TRUE(list_.AddFile(folder + "//x.MP3", host_));
    EXPECT_EQ(list_.rows().back().folder, folder);
    EXPECT_EQ((TaskRow{"song.mp3", "/", "", "", "", ""}.Path()), "/song.mp3");
}

TEST_F(TaskListTest, AddFileKeepsDuplicatesAndRefusesWhatIsNoFile) {
    const std::string file = dir_ / "a.mp3";
    MakeFile(file);
    EXPECT_TRUE(list_.AddFile(file, host_));
    EXPECT_TRUE(list_.AddFile(file, host_));
    EXPECT_EQ(list_.size(), 2u);

    EXPECT_FALSE(list_.AddFile(dir_ / "missing.mp3", host_));
    EXPECT_FALSE(list_.AddFile(dir_.path().string(), host_));
    EXPECT_FALSE(list_.AddFile("", host_));
    EXPECT_EQ(list_.size(), 2u);
    EXPECT_TRUE(host_.informed.empty());
}

TEST_F(TaskListTest, RelativePathGetsAnAbsoluteFolder) {
    MakeFile(dir_ / "sub/rel.wav");
    const fs::path before = fs::current_path();
    fs::current_path(dir_.path());
    const bool added = list_.AddFile("sub/rel.wav", host_);
    fs::current_path(before);
    ASSERT_TRUE(added);
    EXPECT_EQ(list_.rows()[0].folder, dir_ / "sub");
}

// Root reads any file whatever its mode; for the length of one call this
// thread's file-system identity becomes an ordinary user's, so a file of
// mode 0 really cannot be opened.
class AsUnprivilegedUser {
public:
    AsUnprivilegedUser() : old_(::geteuid() == 0 ? ::setfsuid(65534) : -1) {}
    ~AsUnprivilegedUser() {
        if (old_ >= 0) ::setfsuid(uid_t(old_));
    }
    AsUnprivilegedUser(const AsUnprivilegedUser&) = delete;
    AsUnprivilegedUser& operator=(const AsUnprivilegedUser&) = delete;

private:
    int old_;
};

TEST_F(TaskListTest, UnopenableFileIsAddedWithZeroSizeAfterAMessage) {
    const std::string file = dir_ / "locked.mp3";
    MakeFile(file, 4096);
    ASSERT_EQ(::chmod(file.c_str(), 0), 0);
    ASSERT_EQ(::chmod(dir_.path().c_str(), 0755), 0);  // the file stays visible to the other user
    bool added = false;
    {
        AsUnprivilegedUser user;
        int probe = ::open(file.c_str(), O_RDONLY);
        if (probe >= 0) {
            ::close(probe);
            GTEST_SKIP() << "permissions do not stop this user from reading";
        }
        added = list_.AddFile(file, host_);
    }
    ASSERT_TRUE(added);
    EXPECT_EQ(list_.rows()[0].sizeText, "0KB");
    EXPECT_EQ(list_.rows()[0].format, "MP3");
    ASSERT_EQ(host_.informed.size(), 1u);
    EXPECT_EQ(host_.informed[0].text,
              "Open file " + file + " failed.\n\rPlease make sure it is not beening opend by other program.");
    EXPECT_EQ(host_.informed[0].caption, "Information");
}

TEST_F(TaskListTest, FlatSearchSortsWithoutCaseAndSkipsHiddenFiles) {
    const std::string root = dir_ / "flat";
    for (const char* name :
         {"b.mp3", "a.wav", "A.wav", "c.OGG", "C.wma", ".hidden.mp3", "notes.txt", "d.wave", "e.Oga"})
        MakeFile(root + "/" + name);
    EXPECT_EQ(list_.AddFolder(root, host_, settings_), 7);
    EXPECT_EQ(Paths(list_),
              (std::vector<std::string>{root + "/A.wav", root + "/a.wav", root + "/b.mp3", root + "/c.OGG",
                                        root + "/C.wma", root + "/d.wave", root + "/e.Oga"}));
    EXPECT_EQ(list_.rows()[6].format, "OGA");
    EXPECT_TRUE(host_.asked.empty());  // no sub-folders, no question
    EXPECT_EQ(host_.events, 7);

    // A trailing slash on the folder changes nothing.
    list_.Clear();
    EXPECT_EQ(list_.AddFolder(root + "/", host_, settings_), 7);
    EXPECT_EQ(list_.rows()[0].folder, root);
}

TEST_F(TaskListTest, RecursiveSearchIsDepthFirstInNameOrder) {
    const std::string root = dir_ / "tree";
    for (const char* name : {"b.mp3", "c.wav", "A/x.MP3", "A/.h.wav", "A/sub/y.Ogg", "A/sub/skip.txt", ".hid/z.wma"})
        MakeFile(root + "/" + name);
    fs::create_directories(root + "/empty");
    EXPECT_EQ(list_.AddFolder(root, host_, settings_, TaskList::Recursion::Yes), 6);
    EXPECT_EQ(Paths(list_),
              (std::vector<std::string>{root + "/.hid/z.wma", root + "/A/.h.wav", root + "/A/sub/y.Ogg",
                                        root + "/A/x.MP3", root + "/b.mp3", root + "/c.wav"}));
    EXPECT_EQ(list_.rows()[2].format, "OGG");
    EXPECT_EQ(list_.rows()[3].format, "MP3");
    EXPECT_EQ(host_.searched, (std::vector<std::string>{root + "/", root + "/.hid/", root + "/A/",
                                                        root + "/A/sub/", root + "/empty/"}));
    EXPECT_TRUE(host_.asked.empty());
}

TEST_F(TaskListTest, SubFolderQuestionFollowsTheOptions) {
    struct Case {
        const char* name;
        const char* showQuery;  // nullptr: no settings file
        const char* alwaysYes;
        std::deque<bool> answers;
        bool hiddenSubFolderOnly;
        bool asks;
        int rows;
    } cases[] = {
        {"default asks, Yes", nullptr, nullptr, {true}, false, true, 2},
        {"asks, No", "1", "1", {false}, false, true, 1},
        {"hidden sub-folder counts", "1", "0", {true}, true, true, 2},
        {"no query, AlwaysYes=0", "0", "0", {}, false, false, 1},
        {"no query, AlwaysYes=1", "0", "1", {}, false, false, 2},
        {"malformed ShowQuery asks", "x", "1", {true}, false, true, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        SettingsStore settings(dir / "Option.ini");
        if (c.showQuery) {
            ASSERT_TRUE(settings.WriteString("Advanced", "ShowQuery", c.showQuery));
            ASSERT_TRUE(settings.WriteString("Advanced", "AlwaysYes", c.alwaysYes));
        }
        MakeFile(dir / "top.mp3");
        MakeFile(dir / (c.hiddenSubFolderOnly ? ".deep/inner.mp3" : "deep/inner.mp3"));
        ScriptedHost host;
        host.answers = c.answers;
        TaskList list;
        EXPECT_EQ(list.AddFolder(dir.path().string(), host, settings), c.rows);
        EXPECT_EQ(list.size(), std::size_t(c.rows));
        if (c.asks) {
            ASSERT_EQ(host.asked.size(), 1u);
            EXPECT_EQ(host.asked[0].text, "Do you want to add all files in sub-folders?");
            EXPECT_EQ(host.asked[0].caption, "Query");
        } else {
            EXPECT_TRUE(host.asked.empty());
        }
    }
}

TEST_F(TaskListTest, RowsRememberTheFolderThatFoundThem) {
    const std::string root = dir_ / "tree";
    MakeFile(root + "/a.wav");
    MakeFile(root + "/sub/b.wav");
    MakeFile(dir_ / "single.wav");
    ASSERT_TRUE(list_.AddFile(dir_ / "single.wav", host_));
    ASSERT_EQ(list_.AddFolder(root + "//", host_, settings_, TaskList::Recursion::Yes), 2);
    ASSERT_EQ(list_.size(), 3u);
    EXPECT_EQ(list_.rows()[0].baseFolder, "");
    EXPECT_EQ(list_.rows()[1].baseFolder, root);
    EXPECT_EQ(list_.rows()[2].baseFolder, root);
    EXPECT_EQ(RelativeSubFolder(list_.rows()[2]), "sub/");
}

TEST_F(TaskListTest, ExplicitRecursionDecidesWithoutAsking) {
    MakeFile(dir_ / "top.mp3");
    MakeFile(dir_ / "deep/inner.mp3");
    EXPECT_EQ(list_.AddFolder(dir_.path().string(), host_, settings_, TaskList::Recursion::No), 1);
    EXPECT_EQ(list_.AddFolder(dir_.path().string(), host_, settings_, TaskList::Recursion::Yes), 2);
    EXPECT_TRUE(host_.asked.empty());
}

TEST_F(TaskListTest, FolderThatIsNotThereAddsNothing) {
    EXPECT_EQ(list_.AddFolder("", host_, settings_), 0);
    ASSERT_EQ(host_.informed.size(), 1u);
    EXPECT_EQ(host_.informed[0].text, "This is not an available folder or drive.");
    EXPECT_EQ(host_.informed[0].caption, "Information");

    MakeFile(dir_ / "plain.mp3");
    for (TaskList::Recursion r : {TaskList::Recursion::Ask, TaskList::Recursion::Yes}) {
        EXPECT_EQ(list_.AddFolder(dir_ / "missing", host_, settings_, r), 0);
        EXPECT_EQ(list_.AddFolder(dir_ / "plain.mp3", host_, settings_, r), 0);
    }
    EXPECT_TRUE(list_.empty());
    EXPECT_EQ(host_.informed.size(), 1u);
    EXPECT_TRUE(host_.asked.empty());
}

TEST_F(TaskListTest, CancelKeepsTheRowsAddedSoFar) {
    const std::string root = dir_ / "many";
    for (const char* name : {"a.mp3", "b.mp3", "c.mp3", "d.mp3"}) MakeFile(root + "/" + name);
    host_.cancelAfter = 3;
    EXPECT_EQ(list_.AddFolder(root, host_, settings_), 2);
    EXPECT_EQ(Paths(list_), (std::vector<std::string>{root + "/a.mp3", root + "/b.mp3"}));

    // A cancel deep in the tree ends the whole search, not just one folder.
    MakeFile(root + "/A/x.mp3");
    MakeFile(root + "/A/y.mp3");
    list_.Clear();
    host_.events = 0;
    host_.cancelAfter = 3;  // the folder A, then x.mp3, then stop
    EXPECT_EQ(list_.AddFolder(root, host_, settings_, TaskList::Recursion::Yes), 1);
    EXPECT_EQ(Paths(list_), (std::vector<std::string>{root + "/A/x.mp3"}));
}

TEST_F(TaskListTest, LinkLoopsEndAndLinkedFoldersAreSearchedOnce) {
    const std::string root = dir_ / "root";
    MakeFile(root + "/a.mp3");
    MakeFile(root + "/sub/b.mp3");
    MakeFile(dir_ / "outside/c.mp3");
    fs::create_directory_symlink(root, root + "/sub/loop");
    fs::create_directory_symlink(".", root + "/self");
    fs::create_directory_symlink(dir_ / "outside", root + "/zlink");
    fs::create_directory_symlink(dir_ / "outside", root + "/zlink2");
    fs::create_symlink(dir_ / "nowhere", root + "/dangling.mp3");
    EXPECT_EQ(list_.AddFolder(root, host_, settings_, TaskList::Recursion::Yes), 3);
    EXPECT_EQ(Paths(list_), (std::vector<std::string>{root + "/a.mp3", root + "/sub/b.mp3", root + "/zlink/c.mp3"}));
}

TEST_F(TaskListTest, RemoveDeletesTheGivenRows) {
    for (int i = 0; i < 6; ++i) {
        MakeFile(dir_ / (std::to_string(i) + ".mp3"));
        ASSERT_TRUE(list_.AddFile(dir_ / (std::to_string(i) + ".mp3"), host_));
    }
    list_.Remove({4, 1, 1, 9, 0});
    ASSERT_EQ(list_.size(), 3u);
    EXPECT_EQ(list_.rows()[0].fileName, "2.mp3");
    EXPECT_EQ(list_.rows()[1].fileName, "3.mp3");
    EXPECT_EQ(list_.rows()[2].fileName, "5.mp3");
    list_.Remove({});
    EXPECT_EQ(list_.size(), 3u);
    list_.Clear();
    EXPECT_TRUE(list_.empty());
}

// Task files.

TEST_F(TaskListTest, SavedTaskFileHoldsFullPathsWithCrLf) {
    MakeFile(dir_ / "m/a.mp3", 2048);
    MakeFile(dir_ / "m/b.wav", 100);
    ASSERT_TRUE(list_.AddFile(dir_ / "m/a.mp3", host_));
    ASSERT_TRUE(list_.AddFile(dir_ / "m/b.wav", host_));
    ASSERT_TRUE(list_.AddFile(dir_ / "m/a.mp3", host_));
    const std::string task = dir_ / "list.otk";
    MakeFile(task, 5000);  // replaced as a whole, keeping its permissions
    ASSERT_EQ(::chmod(task.c_str(), 0640), 0);
    ASSERT_EQ(SaveTaskFile(task, list_), "");
    EXPECT_EQ(fs::status(task).permissions(), fs::perms(0640));
    const std::string a = dir_ / "m/a.mp3", b = dir_ / "m/b.wav";
    const std::string expected = a + "\r\n" + b + "\r\n" + a + "\r\n";
    EXPECT_EQ(test::ReadFileBytes(task), std::vector<unsigned char>(expected.begin(), expected.end()));

    // Save then open on an emptied list gives the same rows, sizes read again.
    MakeFile(dir_ / "m/b.wav", 3000);
    const std::vector<TaskRow> before = list_.rows();
    list_.Clear();
    ASSERT_EQ(LoadTaskFile(task, list_, host_), "");
    ASSERT_EQ(list_.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(list_.rows()[i].Path(), before[i].Path());
        EXPECT_EQ(list_.rows()[i].format, before[i].format);
    }
    EXPECT_EQ(list_.rows()[0].sizeText, "2KB");
    EXPECT_EQ(list_.rows()[1].sizeText, "3KB");

    // Opening it again appends every file once more.
    ASSERT_EQ(LoadTaskFile(task, list_, host_), "");
    EXPECT_EQ(list_.size(), 6u);
    EXPECT_EQ(list_.rows()[5].Path(), a);

    // An empty list gives an empty file; nothing else is left in the folder.
    ASSERT_EQ(SaveTaskFile(task, TaskList{}), "");
    EXPECT_TRUE(fs::exists(task));
    EXPECT_EQ(fs::file_size(task), 0u);
    int entries = 0;
    for (const auto& e : fs::directory_iterator(dir_.path())) entries += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(entries, 1);
}

TEST_F(TaskListTest, HandEditedTaskFileLoadsTheRemainingPaths) {
    const std::string p1 = dir_ / "one.mp3", p2 = dir_ / "two.wav", p3 = dir_ / "three.ogg";
    for (const std::string& p : {p1, p2, p3}) MakeFile(p);
    struct Case {
        const char* name;
        std::string content;
        std::vector<std::string> rows;
    } cases[] = {
        {"blank lines and LF endings", p1 + "\n\n" + p2 + "\n\r\n" + p3, {p1, p2, p3}},
        {"CR only and missing files", p1 + "\r" + dir_ / "gone.mp3" + "\r" + p3 + "\r", {p1, p3}},
        {"zero bytes", "", {}},
        {"only line ends", "\r\n\n\r", {}},
        // A line naming an existing file up to a zero byte names no file.
        {"zero byte inside a line", p1 + std::string(1, '\0') + "x.mp3\n" + p2, {p2}},
    };
    const std::string task = dir_ / "hand.otk";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::WriteFileBytes(task, std::vector<unsigned char>(c.content.begin(), c.content.end()));
        TaskList list;
        ScriptedHost host;
        EXPECT_EQ(LoadTaskFile(task, list, host), "");
        EXPECT_EQ(Paths(list), c.rows);
        EXPECT_GE(host.events, int(c.rows.size()));
        EXPECT_TRUE(host.informed.empty());
    }
}

TEST_F(TaskListTest, UnreadableTaskFileReportsAndLeavesTheList) {
    MakeFile(dir_ / "kept.mp3");
    ASSERT_TRUE(list_.AddFile(dir_ / "kept.mp3", host_));
    for (const std::string& bad : {dir_ / "missing.otk", dir_.path().string()}) {
        std::string error = LoadTaskFile(bad, list_, host_);
        EXPECT_EQ(error.rfind("Cannot read task file " + bad + ": ", 0), 0u) << error;
        EXPECT_GT(error.size(), ("Cannot read task file " + bad + ": ").size());
    }
    EXPECT_EQ(list_.size(), 1u);

    const std::string unwritable = dir_ / "no-such-folder/x.otk";
    std::string error = SaveTaskFile(unwritable, list_);
    EXPECT_EQ(error.rfind("Cannot write task file " + unwritable + ": ", 0), 0u) << error;
    EXPECT_FALSE(fs::exists(unwritable));
}

}  // namespace
}  // namespace kiv::app

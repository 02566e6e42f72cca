// Skin files, the skin list, the apply/preview/revert rules, tips and the
// data folders.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <set>

#include "app/core/data_paths.h"
#include "app/core/help_topics.h"
#include "app/core/skins.h"
#include "app/core/tips.h"
#include "tests/support/test_env.h"

namespace kiv::app {
namespace {

using test::TempDir;
namespace fs = std::filesystem;

void Write(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

const std::string kGood = "/* ondalo-skin 1 */\n/* name: test */\nQWidget { color: red; }\n";

TEST(SkinFile, AcceptsAWellFormedSheet) {
    SkinSheet sheet;
    std::string error;
    ASSERT_TRUE(ParseSkin("\n  \n" + kGood, sheet, error)) << error;
    EXPECT_EQ(sheet.name, "test");
    EXPECT_NE(sheet.styleSheet.find("QWidget { color: red; }"), std::string::npos);
}

TEST(SkinFile, RefusesBrokenAndForeignFiles) {
    struct Case {
        const char* what;
        std::string text;
        const char* error;
    };
    const Case cases[] = {
        {"empty", "", "no skin header"},
        {"plain sheet", "QWidget { color: red; }\n", "no skin header"},
        {"other magic", "/* other-skin 1 */\n/* name: x */\n", "no skin header"},
        {"newer version", "/* ondalo-skin 2 */\n/* name: x */\n", "version '2' is not supported"},
        {"word for version", "/* ondalo-skin one */\n/* name: x */\n", "version 'one' is not supported"},
        {"no name line", "/* ondalo-skin 1 */\nQWidget {}\n", "names no skin"},
        {"empty name", "/* ondalo-skin 1 */\n/* name:   */\n", "names no skin"},
        {"open block", "/* ondalo-skin 1 */\n/* name: x */\nQWidget { color: red;\n", "block is not closed"},
        {"stray close", "/* ondalo-skin 1 */\n/* name: x */\nQWidget { } }\n", "never opened"},
        {"open comment", "/* ondalo-skin 1 */\n/* name: x */\n/* unfinished\nQWidget {}\n", "comment is not closed"},
        {"open string", "/* ondalo-skin 1 */\n/* name: x */\nQLabel { font-family: \"Deja; }\n", "string is not closed"},
        {"NUL byte", std::string("/* ondalo-skin 1 */\n/* name: x */\n\0QWidget {}\n", 40), "not a text file"},
        {"not UTF-8", "/* ondalo-skin 1 */\n/* name: x */\n\xff\xfe{}\n", "not a text file"},
        {"truncated UTF-8", "/* ondalo-skin 1 */\n/* name: x */\n\xc3", "not a text file"},
        {"huge", kGood + std::string(2 << 20, ' '), "too large"},
    };
    for (const Case& c : cases) {
        SkinSheet sheet;
        std::string error;
        EXPECT_FALSE(ParseSkin(c.text, sheet, error)) << c.what;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.what << ": " << error;
    }
}

TEST(SkinFile, BracesInsideCommentsAndStringsDoNotCount) {
    SkinSheet sheet;
    std::string error;
    EXPECT_TRUE(ParseSkin(kGood + "/* { */ QLabel { font-family: \"a}b\"; }\n", sheet, error)) << error;
    TempDir dir;
    EXPECT_FALSE(LoadSkinFile(dir / "missing.skn", sheet, error));
    EXPECT_NE(error.find("cannot read"), std::string::npos);
}

class SkinFolders : public ::testing::Test {
protected:
    TempDir dir_;
    std::string shared_ = dir_ / "share/Skins/";
    std::string user_ = dir_ / "user/Skins/";
    SkinCatalog catalog_{shared_, user_};
};

TEST_F(SkinFolders, ListShowsNoneThenEachNameUpToItsFirstDotFromBothFolders) {
    Write(shared_ + "macos.skn", kGood);
    Write(shared_ + "a.b.skn", kGood);
    Write(shared_ + "Zebra.txt", "not even a skin");
    Write(user_ + "mine.skn", kGood);
    Write(user_ + "macos.skn", kGood);  // shown once
    fs::create_directories(shared_ + "folder.skn");
    EXPECT_EQ(catalog_.List(), (std::vector<std::string>{"None", "a", "macos", "mine", "Zebra"}));
    // a.b.skn is listed as a, and applying it looks for a.skn.
    EXPECT_EQ(catalog_.PathOf("a"), shared_ + "a.skn");
    // The user's own file wins over the shipped one.
    EXPECT_EQ(catalog_.PathOf("macos"), user_ + "macos.skn");
    EXPECT_EQ(catalog_.PathOf("mine"), user_ + "mine.skn");
}

TEST_F(SkinFolders, ListWithoutFoldersIsJustNone) {
    EXPECT_EQ(catalog_.List(), std::vector<std::string>{"None"});
}

TEST_F(SkinFolders, ImportExportAndDeleteNeverOverwrite) {
    Write(dir_ / "in/new.skn", kGood);
    Write(dir_ / "in/taken.skn", "imported");
    Write(user_ + "taken.skn", "original");
    EXPECT_EQ(catalog_.Import({dir_ / "in/new.skn", dir_ / "in/taken.skn", dir_ / "in/missing.skn"}), 1);
    EXPECT_EQ(test::ReadFileBytes(user_ + "taken.skn"), (std::vector<unsigned char>{'o', 'r', 'i', 'g', 'i', 'n', 'a', 'l'}));
    EXPECT_TRUE(fs::exists(user_ + "new.skn"));

    EXPECT_TRUE(catalog_.Export("new", dir_ / "out.skn"));
    EXPECT_FALSE(catalog_.Export("taken", dir_ / "out.skn"));  // the first export stays
    EXPECT_EQ(test::ReadFileBytes(dir_ / "out.skn").size(), kGood.size());

    EXPECT_TRUE(catalog_.Delete("new"));
    EXPECT_FALSE(fs::exists(user_ + "new.skn"));
    EXPECT_FALSE(catalog_.Delete("new"));
    EXPECT_EQ(catalog_.List(), (std::vector<std::string>{"None", "taken"}));
}

// Records what the dialog asks of the engine.
class FakeEngine : public SkinEngine {
public:
    bool LoadSkin(const std::string& path) override {
        SkinSheet sheet;
        std::string error;
        calls.push_back("load " + fs::path(path).filename().string());
        if (!LoadSkinFile(path, sheet, error)) return false;
        loaded = path;
        return true;
    }
    void Activate() override {
        active = true;
        calls.push_back("activate");
    }
    void Deactivate() override {
        active = false;
        calls.push_back("deactivate");
    }
    std::string LoadedFile() const override { return loaded; }
    bool Active() const override { return active; }

    std::string loaded;
    bool active = false;
    std::vector<std::string> calls;
};

TEST_F(SkinFolders, SavedSkinPreviewConfirmAndRevert) {
    Write(shared_ + "macos.skn", kGood);
    Write(shared_ + "dark.skn", kGood);
    Write(shared_ + "broken.skn", "/* ondalo-skin 9 */\n");
    FakeEngine engine;
    SkinSelection skins(engine, catalog_);

    skins.ApplySaved("macos");
    EXPECT_EQ(skins.current(), "macos");
    EXPECT_EQ(engine.calls, (std::vector<std::string>{"load macos.skn", "activate"}));
    engine.calls.clear();
    skins.ApplySaved("macos");  // the same skin again: nothing to do
    EXPECT_TRUE(engine.calls.empty());

    skins.Preview("dark");
    EXPECT_EQ(engine.loaded, shared_ + "dark.skn");
    EXPECT_EQ(skins.current(), "macos");
    skins.Preview("broken");  // refused: the engine keeps dark
    EXPECT_EQ(engine.loaded, shared_ + "dark.skn");
    EXPECT_TRUE(engine.active);
    skins.Preview("None");
    EXPECT_FALSE(engine.active);
    // After "None", the skin still loaded must come back when previewed.
    skins.Preview("dark");
    EXPECT_TRUE(engine.active);

    skins.Reapply();  // the dialog closes without OK
    EXPECT_EQ(engine.loaded, shared_ + "macos.skn");
    EXPECT_TRUE(engine.active);

    skins.Confirm("None");
    EXPECT_EQ(skins.current(), "None");
    EXPECT_FALSE(engine.active);
    skins.Reapply();
    EXPECT_FALSE(engine.active);
}

TEST_F(SkinFolders, SavedSkinWhoseFileIsGoneIsNotLoaded) {
    FakeEngine engine;
    SkinSelection skins(engine, catalog_);
    skins.ApplySaved("deleted");
    EXPECT_TRUE(engine.calls.empty());
    EXPECT_EQ(skins.current(), "deleted");
    skins.ApplySaved("None");
    EXPECT_EQ(engine.calls, std::vector<std::string>{"deactivate"});
}

TEST(Tips, PickedSectionDefaultsAndEmptyFiles) {
    TempDir dir;
    const std::string file = dir / "Tips.ini";
    int asked = 0;
    auto pickLast = [&](int n) { return asked = n; };

    EXPECT_FALSE(PickTip(file, pickLast).shown);  // no file
    Write(file, "[Count]\nValue=0\n[1]\nTitle=T\n");
    EXPECT_FALSE(PickTip(file, pickLast).shown);

    Write(file, "[Count]\nValue=3\n[1]\nTitle=One\nContent=First\n[3]\nTitle=Three\n");
    Tip tip = PickTip(file, pickLast);
    EXPECT_EQ(asked, 3);
    EXPECT_TRUE(tip.shown);
    EXPECT_EQ(tip.title, "Three");
    EXPECT_EQ(tip.content, "No content available.");
    tip = PickTip(file, [](int) { return 2; });  // a number without its section
    EXPECT_EQ(tip.title, "No title available.");
    tip = PickTip(file, [](int) { return 1; });
    EXPECT_EQ(tip.content, "First");

    // The clock-seeded picker stays in range and reaches every tip.
    TipPicker pick = ClockSeededPicker();
    std::set<int> seen;
    for (int i = 0; i < 200; ++i) {
        int k = pick(3);
        ASSERT_GE(k, 1);
        ASSERT_LE(k, 3);
        seen.insert(k);
    }
    EXPECT_EQ(seen.size(), 3u);
    EXPECT_EQ(pick(1), 1);
}

TEST(Tips, ShippedFileHasATipInEverySection) {
    const std::string file = std::string(ONDALO_SOURCE_DIR) + "/data/Tips.ini";
    Tip first = PickTip(file, [](int) { return 1; });
    ASSERT_TRUE(first.shown);
    int n = 0;
    PickTip(file, [&](int count) { return n = count; });
    for (int k = 1; k <= n; ++k) {
        Tip tip = PickTip(file, [k](int) { return k; });
        EXPECT_NE(tip.title, "No title available.") << k;
        EXPECT_NE(tip.content, "No content available.") << k;
    }
}

class DataFolders : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* v : {"ONDALO_DATA_DIR", "XDG_DATA_HOME", "ONDALO_CONFIG_DIR"}) {
            const char* old = std::getenv(v);
            saved_.emplace_back(v, old ? std::optional<std::string>(old) : std::nullopt);
        }
    }
    void TearDown() override {
        for (auto& [name, value] : saved_) value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
    }
    TempDir dir_;
    std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

TEST_F(DataFolders, EnvironmentNamesTheFolders) {
    ::setenv("ONDALO_DATA_DIR", (dir_ / "data").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (dir_ / "xdg").c_str(), 1);
    EXPECT_EQ(DataDirectory(), dir_ / "data/");
    EXPECT_EQ(SharedSkinFolder(), dir_ / "data/Skins/");
    EXPECT_EQ(TipsFilePath(), dir_ / "data/Tips.ini");
    EXPECT_EQ(UserSkinFolder(), dir_ / "xdg/ondalo/Skins/");
    ::setenv("XDG_DATA_HOME", "relative/path", 1);  // ignored, as XDG asks
    EXPECT_EQ(UserDataDirectory().find("relative"), std::string::npos);

    ::setenv("ONDALO_CONFIG_DIR", (dir_ / "cfg").c_str(), 1);
    fs::create_directories(dir_ / "cfg");
    EXPECT_EQ(DefaultDestinationFolder(), dir_ / "cfg/");
}

TEST_F(DataFolders, HelpTopicsStayInTheHelpFolder) {
    ::setenv("ONDALO_DATA_DIR", (dir_ / "data").c_str(), 1);
    EXPECT_EQ(HelpTopicPath("Welcome"), dir_ / "data/help/Welcome.html");
    for (const char* bad : {"", "../Option", "a/b", ".hidden"}) EXPECT_EQ(HelpTopicPath(bad), "") << bad;

    Write(dir_ / "contents.txt", "# comment\n\nWelcome|Welcome to Ondalo\r\nSkins\n|no topic\n");
    auto entries = ReadHelpContents(dir_ / "contents.txt");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].topic, "Welcome");
    EXPECT_EQ(entries[0].title, "Welcome to Ondalo");
    EXPECT_EQ(entries[1].title, "Skins");
}

}  // namespace
}  // namespace kiv::app

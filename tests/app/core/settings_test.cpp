#include "app/core/settings.h"

#include <gtest/gtest.h>

#include <thread>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

#include "tests/support/test_env.h"

namespace kiv::app {
namespace {

using test::TempDir;

std::string ReadText(const std::string& path) {
    auto bytes = test::ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

void WriteText(const std::string& path, const std::string& text) {
    test::WriteFileBytes(path, std::vector<unsigned char>(text.begin(), text.end()));
}

class SettingsTest : public ::testing::Test {
protected:
    TempDir dir_;
    std::string ini_ = dir_ / "Option.ini";
    SettingsStore store_{ini_};
};

TEST_F(SettingsTest, MissingFileGivesEveryDefault) {
    Options o = store_.Load();
    EXPECT_EQ(o.initialDir, "");
    EXPECT_EQ(o.version, "3.0");
    EXPECT_TRUE(o.conversion.keepTag);
    EXPECT_FALSE(o.conversion.deleteSourceFile);
    for (const Options::PostActions* a : {&o.conversion.after, &o.rip.after}) {
        EXPECT_FALSE(a->openFolder);
        EXPECT_FALSE(a->exitProgram);
        EXPECT_FALSE(a->shutDown);
        EXPECT_TRUE(a->playSound);
        EXPECT_TRUE(a->soundDefault);
        EXPECT_EQ(a->customSound, "");
    }
    EXPECT_TRUE(o.rip.autoSelectDrive);
    EXPECT_TRUE(o.rip.autoLoadCDDB);
    EXPECT_TRUE(o.rip.writeInformation);
    EXPECT_FALSE(o.rip.ejectDrive);
    EXPECT_EQ(o.skin, "macos");
    EXPECT_TRUE(o.showQuery);
    EXPECT_FALSE(o.alwaysYes);
    EXPECT_TRUE(o.informCDDBFailed);
    EXPECT_TRUE(o.everydayTips);
    EXPECT_EQ(o.recordSettings, 0);

    // Step 2 restored from nothing takes the table's defaults, whatever the
    // page showed before.
    Step2Settings shown;
    shown.folder = OutputFolder::Custom;
    shown.format = OutputFormat::Ogg;
    shown.exists = ExistsPolicy::Skip;
    shown.quality = QualityMode::Vbr;
    shown.customDir = "/elsewhere";
    shown.cbrValue = 128;
    Step2Settings s = store_.LoadStep2(Wizard::Conversion, shown);
    EXPECT_EQ(s.folder, OutputFolder::Default);
    EXPECT_EQ(s.mode, FormatMode::Normal);
    EXPECT_EQ(s.format, OutputFormat::Mp3);
    EXPECT_EQ(s.exists, ExistsPolicy::Query);
    EXPECT_EQ(s.quality, QualityMode::Cbr);
    EXPECT_EQ(s.customDir, "");
    EXPECT_EQ(s.renameRule, "%_copy");
    EXPECT_EQ(s.cbrValue, 320);
    EXPECT_EQ(s.abrValue, 320);
    EXPECT_EQ(s.vbrValue, 100);
}

TEST_F(SettingsTest, HandWrittenFileIsReadWithoutRegardToCase) {
    WriteText(ini_,
              "; written by hand\r\n"
              "[general]\r\nversion=1.9\r\nINITIALDIR=/music\r\n"
              "[CONVERSION]\r\nkeeptag=0\r\nCustomSound=/s/ding.wav\r\n"
              "[rip]\r\nexit=1\r\n"
              "[skin]\r\nSKIN=None\r\n"
              "[Advanced]\r\nrecordsettings=2\r\nshowquery=0\r\n");
    Options o = store_.Load();
    EXPECT_EQ(o.version, "1.9");
    EXPECT_EQ(o.initialDir, "/music");
    EXPECT_FALSE(o.conversion.keepTag);
    EXPECT_EQ(o.conversion.after.customSound, "/s/ding.wav");
    EXPECT_TRUE(o.rip.after.exitProgram);
    EXPECT_FALSE(o.conversion.after.exitProgram);
    EXPECT_EQ(o.skin, "None");
    EXPECT_EQ(o.recordSettings, 2);
    EXPECT_FALSE(o.showQuery);
}

TEST_F(SettingsTest, LookupSourceIsReadInAnyCaseAndWrittenOnlyOnceChosen) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "CDDB"}, {"[Rip]\nLookupSource=musicbrainz\n", "MusicBrainz"}, {"[Rip]\nLookupSource=BOTH\n", "Both"},
        {"[Rip]\nLookupSource=freedb\n", "CDDB"}};
    for (const auto& [file, source] : cases) {
        WriteText(ini_, file);
        EXPECT_EQ(store_.Load().rip.lookupSource, source) << file;
    }
    // A file of the time before the choice keeps its shape.
    WriteText(ini_, "");
    Options o = store_.Load();
    ASSERT_TRUE(store_.Save(o));
    EXPECT_EQ(ReadText(ini_).find("LookupSource"), std::string::npos);
    o.rip.lookupSource = "Both";
    ASSERT_TRUE(store_.Save(o));
    EXPECT_EQ(store_.ReadString("Rip", "LookupSource", ""), "Both");
    // Back to the default: written, not left saying "Both".
    o.rip.lookupSource = "CDDB";
    ASSERT_TRUE(store_.Save(o));
    EXPECT_EQ(store_.Load().rip.lookupSource, "CDDB");
}

TEST_F(SettingsTest, MalformedNumbersGiveTheDefault) {
    struct Case {
        const char* text;
        int expected;  // with default 7
    } cases[] = {
        {"12", 12},   {"-3", -3},  {"+4", 4},     {"  5  ", 5},         {"0", 0},
        {"abc", 7},   {"", 7},     {"12abc", 7},  {"0x10", 7},          {"1.5", 7},
        {"+-2", 7},   {"-", 7},    {"4 5", 7},    {"99999999999", 7},
    };
    for (const Case& c : cases) {
        WriteText(ini_, std::string("[Advanced]\nValue=") + c.text + "\n");
        EXPECT_EQ(store_.ReadInt("Advanced", "Value", 7), c.expected) << '"' << c.text << '"';
        EXPECT_EQ(store_.ReadBool("Advanced", "Value", true), c.expected != 0) << '"' << c.text << '"';
        EXPECT_EQ(store_.ReadBool("Advanced", "Value", false), c.expected != 0 && c.expected != 7)
            << '"' << c.text << '"';
    }
    EXPECT_EQ(store_.ReadInt("Advanced", "Missing", -9), -9);

    // A value the four-item choice cannot show is as bad as a non-number.
    for (const char* bad : {"4", "-1", "x"}) {
        WriteText(ini_, std::string("[Advanced]\nRecordSettings=") + bad + "\n");
        EXPECT_EQ(store_.Load().recordSettings, 0) << bad;
    }
}

TEST_F(SettingsTest, SaveWritesTheDialogKeysInOrderAndKeepsEverythingElse) {
    WriteText(ini_,
              "; my settings\n"
              "[General]\nInitialDir=/music\nVersion=1.9\n"
              "\n"
              "[Plugins]\nfoo = bar\n");
    Options o;
    o.initialDir = "/not/written";
    o.version = "9.9";
    o.conversion.deleteSourceFile = true;
    o.conversion.after.customSound = "/s/end.wav";
    o.rip.after.exitProgram = true;
    o.rip.after.soundDefault = false;
    o.skin = "None";
    o.alwaysYes = true;
    o.recordSettings = 3;
    o.filesAtOnce = 3;
    o.replayGain = true;
    ASSERT_TRUE(store_.Save(o));

    EXPECT_EQ(ReadText(ini_),
              "; my settings\n"
              "[General]\nInitialDir=/music\nVersion=1.9\n"
              "\n"
              "[Plugins]\nfoo = bar\n"
              "[Conversion]\nKeepTag=1\nDeleteSourceFile=1\nOpenDirectory=0\nExitProgram=0\nShutDown=0\n"
              "PlaySound=1\nSoundDefault=1\nCustomSound=/s/end.wav\n"
              "[Rip]\nAutoSelectDrive=1\nAutoLoadCDDB=1\nWriteInformation=1\nEjectDrive=0\nOpenDir=0\n"
              "Exit=1\nShutDown=0\nPlaySound=1\nSoundDefault=0\nCustomSound=\n"
              "[Skin]\nSkin=None\n"
              "[Advanced]\nShowQuery=1\nAlwaysYes=1\nInformCDDBFailed=1\nEverydayTips=1\nRecordSettings=3\nFilesAtOnce=3\n"
              "ReplayGain=1\n");

    Options back = store_.Load();
    EXPECT_EQ(back.initialDir, "/music");
    EXPECT_EQ(back.version, "1.9");
    EXPECT_TRUE(back.conversion.deleteSourceFile);
    EXPECT_EQ(back.conversion.after.customSound, "/s/end.wav");
    EXPECT_TRUE(back.rip.after.exitProgram);
    EXPECT_FALSE(back.rip.after.soundDefault);
    EXPECT_EQ(back.skin, "None");
    EXPECT_TRUE(back.alwaysYes);
    EXPECT_EQ(back.recordSettings, 3);
    EXPECT_EQ(back.filesAtOnce, 3);
    EXPECT_TRUE(back.replayGain);
}

TEST_F(SettingsTest, ReadOffsetsArePerDriveAndZeroWithoutAnEntry) {
    WriteText(ini_, "[Rip]\nAccurateRip=1\n[ReadOffset]\nPLEXTOR DVDR PX-716A=30\n");
    EXPECT_TRUE(store_.Load().rip.accurateRip);
    EXPECT_FALSE(store_.Load().rip.ripLog);
    // The drive's name as the drive reports it, padding and all.
    EXPECT_EQ(store_.ReadOffsetOf("PLEXTOR  DVDR   PX-716A  "), 30);
    EXPECT_EQ(store_.ReadOffsetOf("KIV     Virtual CD"), 0);
    ASSERT_TRUE(store_.WriteReadOffset("KIV     Virtual CD", -472));
    EXPECT_EQ(store_.ReadOffsetOf("KIV Virtual CD"), -472);
    EXPECT_EQ(store_.ReadOffsetOf("PLEXTOR DVDR PX-716A"), 30);
    EXPECT_NE(ReadText(ini_).find("KIV Virtual CD=-472"), std::string::npos) << ReadText(ini_);
}

TEST_F(SettingsTest, WritesFailCleanly) {
    // A folder that cannot be made: a file stands where it would be.
    WriteText(dir_ / "not-a-folder", "");
    SettingsStore nowhere(dir_ / "not-a-folder/Option.ini");
    const Options defaults;
    EXPECT_FALSE(nowhere.Save(defaults));
    EXPECT_FALSE(nowhere.SaveStep2(Wizard::Rip, Step2Settings{}));

    // A line break would plant a second key in the file.
    WriteText(ini_, "[Conversion]\nCustomSound=/a.wav\n");
    EXPECT_FALSE(store_.WriteString("Conversion", "CustomSound", "/b.wav\nKeepTag=0"));
    EXPECT_EQ(ReadText(ini_), "[Conversion]\nCustomSound=/a.wav\n");
}

TEST_F(SettingsTest, Step2RadioGroupsFollowTheLastTrueMember) {
    struct Case {
        const char* name;
        Wizard wizard;
        const char* keys;  // section body
        OutputFolder folder;
        OutputFormat format;
        ExistsPolicy exists;
        QualityMode quality;
        FormatMode mode;
    } cases[] = {
        {"several true: the last wins", Wizard::Conversion,
         "Default=1\nSource=1\nCustom=1\nWAV=1\nMP3=1\nWMA=1\nSkip=1\nOverWrite=1\nQuery=0\nCBR=1\nABR=1\n"
         "NormalMode=1\nAdvancedMode=1\n",
         OutputFolder::Custom, OutputFormat::Wma, ExistsPolicy::Overwrite, QualityMode::Abr, FormatMode::Advanced},
        {"none true: no selection", Wizard::Conversion,
         "Default=0\nSource=0\nCustom=0\nWAV=0\nMP3=0\nWMA=0\nOGG=0\nSkip=0\nOverWrite=0\nQuery=0\nRename=0\n"
         "CBR=0\nABR=0\nVBR=0\nNormalMode=0\nAdvancedMode=0\n",
         OutputFolder::None, OutputFormat::None, ExistsPolicy::None, QualityMode::None, FormatMode::None},
        {"single members", Wizard::Conversion,
         "Default=0\nSource=1\nMP3=0\nOGG=1\nQuery=0\nRename=1\nCBR=0\nVBR=1\n", OutputFolder::Source,
         OutputFormat::Ogg, ExistsPolicy::Rename, QualityMode::Vbr, FormatMode::Normal},
        {"the rip wizard has no Source", Wizard::Rip, "Default=0\nSource=1\n", OutputFolder::None,
         OutputFormat::Mp3, ExistsPolicy::Query, QualityMode::Cbr, FormatMode::Normal},
        {"the later format keys", Wizard::Rip, "OGG=1\nFLAC=1\n", OutputFolder::Default, OutputFormat::Flac,
         ExistsPolicy::Query, QualityMode::Cbr, FormatMode::Normal},
        {"OPUS after FLAC", Wizard::Conversion, "MP3=0\nFLAC=1\nOPUS=1\n", OutputFolder::Default,
         OutputFormat::Opus, ExistsPolicy::Query, QualityMode::Cbr, FormatMode::Normal},
    };
    for (const Case& c : cases) {
        const char* section = c.wizard == Wizard::Conversion ? "[ConverterStep2]\n" : "[RipperStep2]\n";
        WriteText(ini_, std::string(section) + c.keys);
        Step2Settings s = store_.LoadStep2(c.wizard, Step2Settings{});
        EXPECT_EQ(s.folder, c.folder) << c.name;
        EXPECT_EQ(s.format, c.format) << c.name;
        EXPECT_EQ(s.exists, c.exists) << c.name;
        EXPECT_EQ(s.quality, c.quality) << c.name;
        EXPECT_EQ(s.mode, c.mode) << c.name;
    }

    // Each wizard reads only its own section.
    WriteText(ini_, "[ConverterStep2]\nWAV=1\n");
    EXPECT_EQ(store_.LoadStep2(Wizard::Rip, Step2Settings{}).format, OutputFormat::Mp3);
}

TEST_F(SettingsTest, Step2ValuesAreClampedOnRestore) {
    struct Case {
        const char* body;
        int cbr, abr, vbr;
    } cases[] = {
        {"CBRValue=64\nABRValue=5000\nVBRValue=-5\n", 96, 5000, 0},
        {"CBRValue=500\nABRValue=8\nVBRValue=150\n", 320, 8, 100},
        {"CBRValue=192\nABRValue=160\nVBRValue=40\n", 192, 160, 40},
        {"CBRValue=abc\nABRValue=\nVBRValue=12abc\n", 320, 320, 100},
    };
    for (const Case& c : cases) {
        WriteText(ini_, std::string("[RipperStep2]\n") + c.body);
        Step2Settings s = store_.LoadStep2(Wizard::Rip, Step2Settings{});
        EXPECT_EQ(s.cbrValue, c.cbr) << c.body;
        EXPECT_EQ(s.abrValue, c.abr) << c.body;
        EXPECT_EQ(s.vbrValue, c.vbr) << c.body;
    }
}

TEST_F(SettingsTest, SaveStep2WritesEveryKeyInTableOrder) {
    Step2Settings s;
    s.folder = OutputFolder::Source;
    s.customDir = "/out";
    s.mode = FormatMode::Advanced;
    s.format = OutputFormat::Wma;
    s.exists = ExistsPolicy::Rename;
    s.renameRule = "%_new";
    s.quality = QualityMode::Vbr;
    s.cbrValue = 128;
    s.abrValue = 200;
    s.vbrValue = 60;
    s.keepFolders = true;
    ASSERT_TRUE(store_.SaveStep2(Wizard::Conversion, s));
    const std::string rest =
        "Custom=0\nCustomDir=/out\nNormalMode=0\nAdvancedMode=1\nWAV=0\nMP3=0\nWMA=1\nOGG=0\nFLAC=0\nOPUS=0\n"
        "Skip=0\nOverWrite=0\nQuery=0\nRename=1\nRenameRule=%_new\nCBR=0\nABR=0\nVBR=1\n"
        "CBRValue=128\nABRValue=200\nVBRValue=60\n";
    EXPECT_EQ(ReadText(ini_), "[ConverterStep2]\nDefault=0\nSource=1\n" + rest + "KeepFolders=1\n");

    Step2Settings back = store_.LoadStep2(Wizard::Conversion, Step2Settings{});
    EXPECT_EQ(back.folder, s.folder);
    EXPECT_EQ(back.customDir, s.customDir);
    EXPECT_EQ(back.mode, s.mode);
    EXPECT_EQ(back.format, s.format);
    EXPECT_EQ(back.exists, s.exists);
    EXPECT_EQ(back.renameRule, s.renameRule);
    EXPECT_EQ(back.quality, s.quality);
    EXPECT_EQ(back.cbrValue, 128);
    EXPECT_EQ(back.abrValue, 200);
    EXPECT_EQ(back.vbrValue, 60);
    EXPECT_TRUE(back.keepFolders);

    // The rip page has no "same folder" choice: its section has no Source.
    std::remove(ini_.c_str());
    ASSERT_TRUE(store_.SaveStep2(Wizard::Rip, s));
    EXPECT_EQ(ReadText(ini_), "[RipperStep2]\nDefault=0\n" + rest);
}

TEST(SettingsRecords, Step2IsRecordedPerRecordSettings) {
    struct Case {
        int value;
        bool conversion, rip;
    } cases[] = {{0, true, true}, {1, true, false}, {2, false, true}, {3, false, false}, {4, false, false},
                 {-1, false, false}};
    for (const Case& c : cases) {
        EXPECT_EQ(RecordsStep2(c.value, Wizard::Conversion), c.conversion) << c.value;
        EXPECT_EQ(RecordsStep2(c.value, Wizard::Rip), c.rip) << c.value;
    }
}

TEST_F(SettingsTest, StartSavesTheStep2PageOnlyWhenRecordSettingsSaysSo) {
    Step2Settings s;
    s.format = OutputFormat::Ogg;
    for (int record : {0, 1, 2, 3}) {
        std::remove(ini_.c_str());
        EXPECT_EQ(store_.SaveStep2OnStart(record, Wizard::Conversion, s), record <= 1) << record;
        EXPECT_EQ(store_.LoadStep2(Wizard::Conversion, Step2Settings{}).format,
                  record <= 1 ? OutputFormat::Ogg : OutputFormat::Mp3)
            << record;
        std::remove(ini_.c_str());
        EXPECT_EQ(store_.SaveStep2OnStart(record, Wizard::Rip, s), record == 0 || record == 2) << record;
    }
}

TEST_F(SettingsTest, KeysAddedLaterReadAsBeforeWhenMissing) {
    // Files written before "Keep the folder tree", "Files converted at
    // once" and ReplayGain existed: the tree is not kept, one file per
    // core, no loudness measured.
    WriteText(ini_, "[ConverterStep2]\nCustom=1\nCustomDir=/out\n[Advanced]\nRecordSettings=1\n");
    EXPECT_FALSE(store_.LoadStep2(Wizard::Conversion, Step2Settings{}).keepFolders);
    EXPECT_EQ(store_.Load().filesAtOnce, std::max(1, int(std::thread::hardware_concurrency())));
    EXPECT_FALSE(store_.Load().replayGain);
    WriteText(ini_, "[Advanced]\nReplayGain=1\n");
    EXPECT_TRUE(store_.Load().replayGain);
    WriteText(ini_, "[Advanced]\nFilesAtOnce=0\n");
    EXPECT_EQ(store_.Load().filesAtOnce, 1);
    WriteText(ini_, "[Advanced]\nFilesAtOnce=100000\n");
    EXPECT_EQ(store_.Load().filesAtOnce, kMaxFilesAtOnce);
    WriteText(ini_, "[ConverterStep2]\nKeepFolders=1\n[RipperStep2]\nKeepFolders=1\n");
    EXPECT_TRUE(store_.LoadStep2(Wizard::Conversion, Step2Settings{}).keepFolders);
    EXPECT_FALSE(store_.LoadStep2(Wizard::Rip, Step2Settings{}).keepFolders);
}

TEST_F(SettingsTest, RipPageIsSavedAndRestoredOnlyWhenRecordSettingsSaysSo) {
    Step2Settings page;
    page.format = OutputFormat::Ogg;
    page.customDir = "/rips";
    for (int record : {0, 1, 2, 3}) {
        std::remove(ini_.c_str());
        const bool rip = record == 0 || record == 2;
        EXPECT_EQ(store_.SaveStep2OnStart(record, Wizard::Rip, page), rip) << record;
        EXPECT_EQ(ReadText(ini_).find("[RipperStep2]") != std::string::npos, rip) << record;
        EXPECT_EQ(ReadText(ini_).find("[ConverterStep2]"), std::string::npos) << record;
        // Restoring from the same file gives the page back only when recorded.
        Step2Settings shown;
        shown.format = OutputFormat::Wav;
        EXPECT_EQ(store_.RestoreStep2IfRecorded(record, Wizard::Rip, shown).format,
                  rip ? OutputFormat::Ogg : OutputFormat::Wav)
            << record;
    }
}

TEST(SettingsFormats, NamesRoundTripInAnyCase) {
    EXPECT_STREQ(FormatName(OutputFormat::None), "");
    for (OutputFormat f : AllOutputFormats()) EXPECT_EQ(FormatFromName(FormatName(f)), f);
    EXPECT_EQ(AllOutputFormats().size(), 6u);
    EXPECT_EQ(FormatFromName("mP3"), OutputFormat::Mp3);
    EXPECT_EQ(FormatFromName("ogg"), OutputFormat::Ogg);
    EXPECT_EQ(FormatFromName("aiff"), OutputFormat::None);
    EXPECT_EQ(FormatFromName(""), OutputFormat::None);
}

// Puts a value into an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(SettingsPaths, ConfigDirectoryOverridesTheProgramFolder) {
    TempDir dir;
    const std::string folder = dir.path().string();
    {
        ScopedEnv env("ONDALO_CONFIG_DIR", folder);
        EXPECT_EQ(ApplicationDirectory(), folder + "/");
        EXPECT_EQ(OptionFilePath(), folder + "/Option.ini");
    }
    {
        ScopedEnv env("ONDALO_CONFIG_DIR", folder + "/");
        EXPECT_EQ(ApplicationDirectory(), folder + "/");
    }
    const std::string program = ProgramDirectory();
    ASSERT_FALSE(program.empty());
    EXPECT_EQ(program.front(), '/');
    EXPECT_EQ(program.back(), '/');
    EXPECT_TRUE(test::fs::exists(program + "core_store_tests")) << program;
}

TEST(SettingsPaths, InstalledProgramKeepsSettingsPerUser) {
    TempDir dir;
    ScopedEnv xdg("XDG_CONFIG_HOME", dir / "config");
    const std::string build = dir / "build/bin/";
    const std::string installed = dir / "prefix/bin/";
    test::fs::create_directories(build);
    test::fs::create_directories(installed);
    test::fs::create_directories(dir / "prefix/lib/ondalo");
    std::ofstream(dir / "prefix/lib/ondalo/kiv-registry.reg") << "";

    EXPECT_EQ(ApplicationDirectoryFor(build), build);
    EXPECT_EQ(ApplicationDirectoryFor(installed), dir / "config/ondalo/");
}

TEST(SettingsPaths, UserFolderFollowsXdgAndIsCreatedByTheFirstWrite) {
    TempDir dir;
    const std::string base = dir / "a/b";
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", base);
        EXPECT_EQ(UserConfigDirectory(), base + "/ondalo/");
        EXPECT_FALSE(test::fs::exists(base)) << "looking up the folder must not create it";
        SettingsStore store(UserConfigDirectory() + "Option.ini");
        EXPECT_TRUE(store.WriteString("General", "InitialDir", "/music"));
        EXPECT_EQ(store.ReadString("General", "InitialDir", ""), "/music");
    }
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "relative/path");
        ScopedEnv home("HOME", dir / "home");
        EXPECT_EQ(UserConfigDirectory(), dir / "home/.config/ondalo/");
    }
}

}  // namespace
}  // namespace kiv::app

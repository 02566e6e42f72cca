// The application's settings: one INI file, "Option.ini", read and written
// key by key through the private-profile functions, so a write touches only
// its key and every other line of the file stays as it was. Every key has a
// default; the file need not exist.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace kiv::app {

// The folder of the running program, with a trailing '/'.
std::string ProgramDirectory();

// The user's home folder: $HOME, else the password file's entry, else /tmp.
std::string HomeDirectory();

// Where "Option.ini" and the application's other files live: the folder
// named by ONDALO_CONFIG_DIR when set (tests always set it); else the
// program's folder when it can be written and is not an installation's
// bin folder; else the per-user folder $XDG_CONFIG_HOME/ondalo/
// (~/.config/ondalo/). Always ends in '/'.
std::string ApplicationDirectory();

// The same choice for a program in PROGRAM_DIR (ending in '/'), the
// environment variable left aside. An installed program (one with
// "../lib/ondalo/kiv-registry.reg" beside its folder) always keeps its
// settings per user: its folder may be writable for root, but /usr/bin is
// no place for a settings file.
std::string ApplicationDirectoryFor(const std::string& programDir);

// The per-user folder of the fallback above: $XDG_CONFIG_HOME/ondalo/, or
// ~/.config/ondalo/ when that is unset or relative. Not created here: the
// settings store creates it when it writes the first setting.
std::string UserConfigDirectory();

// ApplicationDirectory() + "Option.ini".
std::string OptionFilePath();

// The most files a batch converts at once (Advanced/FilesAtOnce, --jobs).
inline constexpr int kMaxFilesAtOnce = 256;

// The General, Conversion, Rip, Skin and Advanced sections.
struct Options {
    std::string initialDir;      // General/InitialDir
    std::string version = "3.0"; // General/Version (never written)

    struct PostActions {
        bool openFolder = false;
        bool exitProgram = false;
        bool shutDown = false;
        bool playSound = true;
        bool soundDefault = true;  // the standard beep; false: customSound
        std::string customSound;
    };
    struct Conversion {
        bool keepTag = true;
        bool deleteSourceFile = false;
        PostActions after;  // OpenDirectory, ExitProgram, ShutDown, PlaySound, SoundDefault, CustomSound
    } conversion;
    struct Rip {
        bool autoSelectDrive = true;
        bool autoLoadCDDB = true;
        bool writeInformation = true;
        bool ejectDrive = false;
        PostActions after;  // OpenDir, Exit, ShutDown, PlaySound, SoundDefault, CustomSound
        // LookupSource: where track names come from, "CDDB", "MusicBrainz"
        // or "Both" (CDDB first). A file without the key reads as CDDB.
        std::string lookupSource = "CDDB";
        // Rip/AccurateRip: ripped tracks are checked against the AccurateRip
        // database (a request to its server per disc); off unless asked for.
        bool accurateRip = false;
        // Rip/RipLog: a rip log and a cue sheet beside the ripped files.
        bool ripLog = false;
    } rip;

    std::string skin = "macos";  // Skin/Skin; "None": no skin

    bool showQuery = true;  // Advanced/ShowQuery
    bool alwaysYes = false;
    bool informCDDBFailed = true;
    bool everydayTips = true;
    int recordSettings = 0;  // 0 both wizards, 1 conversion only, 2 rip only, 3 neither
    // Advanced/FilesAtOnce: files a conversion batch converts at once; a
    // file without the key reads as the number of processor cores.
    int filesAtOnce = DefaultFilesAtOnce();
    // Advanced/ReplayGain: the encoders that have a place for them measure
    // each file's loudness while converting or ripping and write its track
    // gain and peak; off unless asked for.
    bool replayGain = false;

    static int DefaultFilesAtOnce();
};

// The stored spelling of a lookup source ("CDDB", "MusicBrainz", "Both")
// for any case of it; empty for anything else.
std::string LookupSourceName(std::string_view text);

// The two wizards that keep a step-2 section of their own.
enum class Wizard { Conversion, Rip };

// Whether `wizard` saves and restores its step-2 section under the value of
// Advanced/RecordSettings.
bool RecordsStep2(int recordSettings, Wizard wizard);

// Radio groups of the step-2 page. None: no member of the group selected,
// which a hand-edited file can produce.
enum class OutputFolder { None, Default, Source, Custom };
enum class FormatMode { None, Normal, Advanced };
enum class OutputFormat { None, Wav, Mp3, Wma, Ogg, Flac, Opus };
enum class ExistsPolicy { None, Skip, Overwrite, Query, Rename };
enum class QualityMode { None, Cbr, Abr, Vbr };

// "WAV", "MP3", "WMA", "OGG", "FLAC", "OPUS"; empty for None.
const char* FormatName(OutputFormat format);
// Every destination format, in the order a window lists them.
std::span<const OutputFormat> AllOutputFormats();
// From "wav", "MP3", ... (any case); None when unknown.
OutputFormat FormatFromName(const std::string& name);

// The step-2 page: sections "ConverterStep2" and "RipperStep2".
struct Step2Settings {
    OutputFolder folder = OutputFolder::Default;
    std::string customDir;
    FormatMode mode = FormatMode::Normal;
    OutputFormat format = OutputFormat::Mp3;
    ExistsPolicy exists = ExistsPolicy::Query;
    std::string renameRule = "%_copy";
    QualityMode quality = QualityMode::Cbr;
    int cbrValue = 320;  // kbit/s, 96..320
    int abrValue = 320;  // kbit/s, no bounds
    int vbrValue = 100;  // percent, 0..100
    // "Keep the folder tree" (conversion only): a file found under an added
    // folder goes to the same relative sub-folder of the output folder.
    bool keepFolders = false;
};

class SettingsStore {
public:
    explicit SettingsStore(std::string iniPath);
    const std::string& path() const { return path_; }

    // Every key of General, Conversion, Rip, Skin and Advanced; a missing or
    // malformed value gives its default.
    Options Load() const;
    // Writes the keys of Conversion, Rip, Skin and Advanced in the order of
    // the options dialog (General/InitialDir and General/Version are not
    // written here). False when the file cannot be written.
    bool Save(const Options& options) const;

    // Restores the wizard's section key by key in table order onto `current`:
    // a true member selects itself and clears the rest of its group, a false
    // member clears only itself, so several true members leave the last one
    // selected and none leaves the group empty. Bounded values are clamped.
    Step2Settings LoadStep2(Wizard wizard, Step2Settings current) const;
    // Writes every key of the wizard's section in table order (the rip
    // wizard has no Source key). False when the file cannot be written.
    bool SaveStep2(Wizard wizard, const Step2Settings& settings) const;
    // What "&Start" does with the page: saves it when `recordSettings`
    // says this wizard remembers its step 2. True when it was saved.
    bool SaveStep2OnStart(int recordSettings, Wizard wizard, const Step2Settings& settings) const;

    // One key at a time, with the file's encodings: booleans as "1"/"0" read
    // as integers (non-zero true), integers in decimal; a missing or
    // non-numeric value gives the default.
    bool ReadBool(const char* section, const char* key, bool defaultValue) const;
    int ReadInt(const char* section, const char* key, int defaultValue) const;
    std::string ReadString(const char* section, const char* key, const std::string& defaultValue) const;
    bool WriteBool(const char* section, const char* key, bool value) const;
    bool WriteInt(const char* section, const char* key, int value) const;
    bool WriteString(const char* section, const char* key, const std::string& value) const;
    bool SaveLookupSource(const std::string& source) const;
    // A choice that came later than the file's shape: written once it is
    // on or the file already has the key, so that older files keep their
    // shape while nobody turns it on.
    bool SaveLaterChoice(const char* section, const char* key, bool value) const;

    // The read offset correction of a drive, in samples (at most
    // kMaxReadOffset either way): section
    // "ReadOffset", the drive's name (runs of spaces as one) as the key.
    // A drive without one reads 0.
    int ReadOffsetOf(const std::string& driveName) const;
    bool WriteReadOffset(const std::string& driveName, int samples) const;

    // What showing a wizard does with its page: `current` restored from the
    // section when `recordSettings` says this wizard remembers its step 2,
    // else unchanged.
    Step2Settings RestoreStep2IfRecorded(int recordSettings, Wizard wizard, Step2Settings current) const;

private:
    std::string path_;
};

// The largest read offset correction the CD control takes, in samples
// either way (100 frames' worth).
constexpr int kMaxReadOffset = 58800;

// "KIV     Virtual CD       1.00" -> "KIV Virtual CD 1.00"
std::string DriveKey(const std::string& driveName);

}  // namespace kiv::app

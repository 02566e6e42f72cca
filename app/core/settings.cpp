#include "app/core/settings.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>
#include <thread>

#include "platform/system/profile.h"
#include "platform/system/text.h"

namespace kiv::app {
namespace {

namespace fs = std::filesystem;

std::string WithTrailingSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

std::string EnvOrEmpty(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}


// A decimal integer filling the whole value (an optional sign, nothing
// after the digits). The profile layer's own integer read takes the leading
// digits of "12abc"; a value that is not wholly a number is treated here as
// malformed and gives the default, as does one beyond the range of int, so a
// hand-edited typo never turns into a surprising setting.
std::optional<int> ParseWholeInt(const std::string& text) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (begin != end && *begin == '+') {
        ++begin;
        if (begin != end && *begin == '-') return std::nullopt;
    }
    if (begin == end) return std::nullopt;
    int value = 0;
    auto [ptr, ec] = std::from_chars(begin, end, value, 10);
    if (ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

// The five radio groups of the step-2 page, as restoring sees them:
// checking a member selects it, clearing one leaves the group alone unless
// it was the selected member.
template <class Group>
void RestoreMember(Group& group, Group member, bool checked) {
    if (checked)
        group = member;
    else if (group == member)
        group = Group::None;
}

const char* Step2Section(Wizard wizard) {
    return wizard == Wizard::Conversion ? "ConverterStep2" : "RipperStep2";
}

}  // namespace

std::string HomeDirectory() {
    std::string home = EnvOrEmpty("HOME");
    if (!home.empty()) return home;
    // A service started without HOME still has a password-file entry.
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buffer(size > 0 ? std::size_t(size) : 16384, '\0');
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return "/tmp";
}

std::string ProgramDirectory() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty()) return WithTrailingSlash(fs::current_path(ec).string());
    return WithTrailingSlash(exe.parent_path().string());
}

// The program's own folder is where the file traditionally lives, but an
// installed program sits in a folder the user cannot write; the settings
// then move to the per-user configuration folder instead of being lost.
std::string ApplicationDirectory() {
    std::string configured = EnvOrEmpty("ONDALO_CONFIG_DIR");
    if (!configured.empty()) return WithTrailingSlash(configured);

    return ApplicationDirectoryFor(ProgramDirectory());
}

std::string ApplicationDirectoryFor(const std::string& programDir) {
    std::error_code ec;
    const bool installed = fs::exists(programDir + "../lib/ondalo/kiv-registry.reg", ec);
    if (!installed && ::access(programDir.c_str(), W_OK) == 0) return programDir;
    return UserConfigDirectory();
}

std::string UserConfigDirectory() {
    // XDG asks that a relative XDG_CONFIG_HOME be ignored.
    std::string base = EnvOrEmpty("XDG_CONFIG_HOME");
    if (base.empty() || base.front() != '/') base = WithTrailingSlash(HomeDirectory()) + ".config";
    return WithTrailingSlash(base) + "ondalo/";
}

std::string OptionFilePath() { return ApplicationDirectory() + "Option.ini"; }

bool RecordsStep2(int recordSettings, Wizard wizard) {
    switch (recordSettings) {
    case 0:
        return true;
    case 1:
        return wizard == Wizard::Conversion;
    case 2:
        return wizard == Wizard::Rip;
    default:
        return false;
    }
}

const char* FormatName(OutputFormat format) {
    switch (format) {
    case OutputFormat::Wav:
        return "WAV";
    case OutputFormat::Mp3:
        return "MP3";
    case OutputFormat::Wma:
        return "WMA";
    case OutputFormat::Ogg:
        return "OGG";
    case OutputFormat::Flac:
        return "FLAC";
    case OutputFormat::Opus:
        return "OPUS";
    case OutputFormat::None:
        break;
    }
    return "";
}

OutputFormat FormatFromName(const std::string& name) {
    const std::string upper = AsciiUpper(name);
    for (OutputFormat f : AllOutputFormats())
        if (upper == FormatName(f)) return f;
    return OutputFormat::None;
}

std::span<const OutputFormat> AllOutputFormats() {
    static constexpr OutputFormat all[] = {OutputFormat::Wav, OutputFormat::Mp3,  OutputFormat::Wma,
                                           OutputFormat::Ogg, OutputFormat::Flac, OutputFormat::Opus};
    return all;
}

SettingsStore::SettingsStore(std::string iniPath) : path_(std::move(iniPath)) {}

bool SettingsStore::ReadBool(const char* section, const char* key, bool defaultValue) const {
    return ReadInt(section, key, defaultValue ? 1 : 0) != 0;
}

int SettingsStore::ReadInt(const char* section, const char* key, int defaultValue) const {
    auto text = ReadProfileString(path_, section, key);
    if (!text) return defaultValue;
    return ParseWholeInt(*text).value_or(defaultValue);
}

std::string SettingsStore::ReadString(const char* section, const char* key,
                                      const std::string& defaultValue) const {
    return GetPrivateProfileString(section, key, defaultValue, path_);
}

bool SettingsStore::WriteBool(const char* section, const char* key, bool value) const {
    return WriteString(section, key, value ? "1" : "0");
}

bool SettingsStore::WriteInt(const char* section, const char* key, int value) const {
    return WriteString(section, key, std::to_string(value));
}

bool SettingsStore::WriteString(const char* section, const char* key, const std::string& value) const {
    // One line holds one key: a line break inside a value (a pasted path,
    // say) would cut it short and plant the rest as a key of its own.
    if (value.find_first_of("\r\n") != std::string::npos) {
        errno = EINVAL;
        return false;
    }
    // The per-user folder comes into being with the first setting written,
    // not when a program merely looks for its settings.
    std::error_code ec;
    fs::create_directories(fs::path(path_).parent_path(), ec);
    return WritePrivateProfileString(section, key, value.c_str(), path_);
}

Options SettingsStore::Load() const {
    const Options defaults;
    Options o;
    o.initialDir = ReadString("General", "InitialDir", defaults.initialDir);
    o.version = ReadString("General", "Version", defaults.version);

    auto& c = o.conversion;
    c.keepTag = ReadBool("Conversion", "KeepTag", defaults.conversion.keepTag);
    c.deleteSourceFile = ReadBool("Conversion", "DeleteSourceFile", defaults.conversion.deleteSourceFile);
    c.after.openFolder = ReadBool("Conversion", "OpenDirectory", defaults.conversion.after.openFolder);
    c.after.exitProgram = ReadBool("Conversion", "ExitProgram", defaults.conversion.after.exitProgram);
    c.after.shutDown = ReadBool("Conversion", "ShutDown", defaults.conversion.after.shutDown);
    c.after.playSound = ReadBool("Conversion", "PlaySound", defaults.conversion.after.playSound);
    c.after.soundDefault = ReadBool("Conversion", "SoundDefault", defaults.conversion.after.soundDefault);
    c.after.customSound = ReadString("Conversion", "CustomSound", defaults.conversion.after.customSound);

    auto& r = o.rip;
    r.autoSelectDrive = ReadBool("Rip", "AutoSelectDrive", defaults.rip.autoSelectDrive);
    r.autoLoadCDDB = ReadBool("Rip", "AutoLoadCDDB", defaults.rip.autoLoadCDDB);
    r.writeInformation = ReadBool("Rip", "WriteInformation", defaults.rip.writeInformation);
    r.ejectDrive = ReadBool("Rip", "EjectDrive", defaults.rip.ejectDrive);
    r.accurateRip = ReadBool("Rip", "AccurateRip", defaults.rip.accurateRip);
    r.ripLog = ReadBool("Rip", "RipLog", defaults.rip.ripLog);
    r.after.openFolder = ReadBool("Rip", "OpenDir", defaults.rip.after.openFolder);
    r.after.exitProgram = ReadBool("Rip", "Exit", defaults.rip.after.exitProgram);
    r.after.shutDown = ReadBool("Rip", "ShutDown", defaults.rip.after.shutDown);
    r.after.playSound = ReadBool("Rip", "PlaySound", defaults.rip.after.playSound);
    r.after.soundDefault = ReadBool("Rip", "SoundDefault", defaults.rip.after.soundDefault);
    r.after.customSound = ReadString("Rip", "CustomSound", defaults.rip.after.customSound);
    r.lookupSource = LookupSourceName(ReadString("Rip", "LookupSource", defaults.rip.lookupSource));
    if (r.lookupSource.empty()) r.lookupSource = defaults.rip.lookupSource;

    o.skin = ReadString("Skin", "Skin", defaults.skin);

    o.showQuery = ReadBool("Advanced", "ShowQuery", defaults.showQuery);
    o.alwaysYes = ReadBool("Advanced", "AlwaysYes", defaults.alwaysYes);
    o.informCDDBFailed = ReadBool("Advanced", "InformCDDBFailed", defaults.informCDDBFailed);
    o.everydayTips = ReadBool("Advanced", "EverydayTips", defaults.everydayTips);
    // The value indexes a four-item choice; one outside it is as malformed
    // as a non-number and must not reach the dialog as an index.
    o.recordSettings = ReadInt("Advanced", "RecordSettings", defaults.recordSettings);
    if (o.recordSettings < 0 || o.recordSettings > 3) o.recordSettings = defaults.recordSettings;
    o.filesAtOnce = std::clamp(ReadInt("Advanced", "FilesAtOnce", defaults.filesAtOnce), 1, kMaxFilesAtOnce);
    o.replayGain = ReadBool("Advanced", "ReplayGain", defaults.replayGain);
    return o;
}

bool SettingsStore::Save(const Options& o) const {
    const auto& c = o.conversion;
    const auto& r = o.rip;
    return WriteBool("Conversion", "KeepTag", c.keepTag) &&
           WriteBool("Conversion", "DeleteSourceFile", c.deleteSourceFile) &&
           WriteBool("Conversion", "OpenDirectory", c.after.openFolder) &&
           WriteBool("Conversion", "ExitProgram", c.after.exitProgram) &&
           WriteBool("Conversion", "ShutDown", c.after.shutDown) &&
           WriteBool("Conversion", "PlaySound", c.after.playSound) &&
           WriteBool("Conversion", "SoundDefault", c.after.soundDefault) &&
           WriteString("Conversion", "CustomSound", c.after.customSound) &&
           WriteBool("Rip", "AutoSelectDrive", r.autoSelectDrive) &&
           WriteBool("Rip", "AutoLoadCDDB", r.autoLoadCDDB) &&
           WriteBool("Rip", "WriteInformation", r.writeInformation) &&
           WriteBool("Rip", "EjectDrive", r.ejectDrive) && SaveLaterChoice("Rip", "AccurateRip", r.accurateRip) &&
           SaveLaterChoice("Rip", "RipLog", r.ripLog) && WriteBool("Rip", "OpenDir", r.after.openFolder) &&
           WriteBool("Rip", "Exit", r.after.exitProgram) && WriteBool("Rip", "ShutDown", r.after.shutDown) &&
           WriteBool("Rip", "PlaySound", r.after.playSound) &&
           WriteBool("Rip", "SoundDefault", r.after.soundDefault) &&
           WriteString("Rip", "CustomSound", r.after.customSound) && WriteString("Skin", "Skin", o.skin) &&
           WriteBool("Advanced", "ShowQuery", o.showQuery) && WriteBool("Advanced", "AlwaysYes", o.alwaysYes) &&
           WriteBool("Advanced", "InformCDDBFailed", o.informCDDBFailed) &&
           WriteBool("Advanced", "EverydayTips", o.everydayTips) &&
           WriteInt("Advanced", "RecordSettings", o.recordSettings) &&
           WriteInt("Advanced", "FilesAtOnce", o.filesAtOnce) &&
           WriteBool("Advanced", "ReplayGain", o.replayGain) && SaveLookupSource(o.rip.lookupSource);
}

int Options::DefaultFilesAtOnce() {
    return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, kMaxFilesAtOnce);
}

// Written once it is not the default or the file has it, so that files of
// the time before the choice keep their shape.
bool SettingsStore::SaveLookupSource(const std::string& source) const {
    static const std::string byDefault = Options::Rip().lookupSource;
    if (source == byDefault && ReadString("Rip", "LookupSource", "").empty()) return true;
    return WriteString("Rip", "LookupSource", source);
}

bool SettingsStore::SaveLaterChoice(const char* section, const char* key, bool value) const {
    if (!value && ReadString(section, key, "").empty()) return true;
    return WriteBool(section, key, value);
}

std::string LookupSourceName(std::string_view text) {
    for (const char* name : {"CDDB", "MusicBrainz", "Both"})
        if (EqualsNoCase(text, std::string_view(name))) return name;
    return {};
}

Step2Settings SettingsStore::LoadStep2(Wizard wizard, Step2Settings s) const {
    const char* sec = Step2Section(wizard);
    const Step2Settings d;

    RestoreMember(s.folder, OutputFolder::Default, ReadBool(sec, "Default", true));
    if (wizard == Wizard::Conversion) RestoreMember(s.folder, OutputFolder::Source, ReadBool(sec, "Source", false));
    RestoreMember(s.folder, OutputFolder::Custom, ReadBool(sec, "Custom", false));
    s.customDir = ReadString(sec, "CustomDir", d.customDir);

    RestoreMember(s.mode, FormatMode::Normal, ReadBool(sec, "NormalMode", true));
    RestoreMember(s.mode, FormatMode::Advanced, ReadBool(sec, "AdvancedMode", false));

    RestoreMember(s.format, OutputFormat::Wav, ReadBool(sec, "WAV", false));
    RestoreMember(s.format, OutputFormat::Mp3, ReadBool(sec, "MP3", true));
    RestoreMember(s.format, OutputFormat::Wma, ReadBool(sec, "WMA", false));
    RestoreMember(s.format, OutputFormat::Ogg, ReadBool(sec, "OGG", false));
    // Keys added later: a file written before them has none and reads as
    // it did then.
    RestoreMember(s.format, OutputFormat::Flac, ReadBool(sec, "FLAC", false));
    RestoreMember(s.format, OutputFormat::Opus, ReadBool(sec, "OPUS", false));

    RestoreMember(s.exists, ExistsPolicy::Skip, ReadBool(sec, "Skip", false));
    RestoreMember(s.exists, ExistsPolicy::Overwrite, ReadBool(sec, "OverWrite", false));
    RestoreMember(s.exists, ExistsPolicy::Query, ReadBool(sec, "Query", true));
    RestoreMember(s.exists, ExistsPolicy::Rename, ReadBool(sec, "Rename", false));
    s.renameRule = ReadString(sec, "RenameRule", d.renameRule);

    RestoreMember(s.quality, QualityMode::Cbr, ReadBool(sec, "CBR", true));
    RestoreMember(s.quality, QualityMode::Abr, ReadBool(sec, "ABR", false));
    RestoreMember(s.quality, QualityMode::Vbr, ReadBool(sec, "VBR", false));
    // The edits only accept values in these ranges; a hand-edited file
    // must not smuggle an impossible bitrate or quality past them.
    s.cbrValue = std::clamp(ReadInt(sec, "CBRValue", d.cbrValue), 96, 320);
    s.abrValue = ReadInt(sec, "ABRValue", d.abrValue);
    s.vbrValue = std::clamp(ReadInt(sec, "VBRValue", d.vbrValue), 0, 100);
    if (wizard == Wizard::Conversion) s.keepFolders = ReadBool(sec, "KeepFolders", s.keepFolders);
    return s;
}

Step2Settings SettingsStore::RestoreStep2IfRecorded(int recordSettings, Wizard wizard, Step2Settings current) const {
    return RecordsStep2(recordSettings, wizard) ? LoadStep2(wizard, std::move(current)) : current;
}

bool SettingsStore::SaveStep2(Wizard wizard, const Step2Settings& s) const {
    const char* sec = Step2Section(wizard);
    bool ok = WriteBool(sec, "Default", s.folder == OutputFolder::Default);
    if (ok && wizard == Wizard::Conversion) ok = WriteBool(sec, "Source", s.folder == OutputFolder::Source);
    return ok && WriteBool(sec, "Custom", s.folder == OutputFolder::Custom) &&
           WriteString(sec, "CustomDir", s.customDir) &&
           WriteBool(sec, "NormalMode", s.mode == FormatMode::Normal) &&
           WriteBool(sec, "AdvancedMode", s.mode == FormatMode::Advanced) &&
           WriteBool(sec, "WAV", s.format == OutputFormat::Wav) &&
           WriteBool(sec, "MP3", s.format == OutputFormat::Mp3) &&
           WriteBool(sec, "WMA", s.format == OutputFormat::Wma) &&
           WriteBool(sec, "OGG", s.format == OutputFormat::Ogg) &&
           WriteBool(sec, "FLAC", s.format == OutputFormat::Flac) &&
           WriteBool(sec, "OPUS", s.format == OutputFormat::Opus) &&
           WriteBool(sec, "Skip", s.exists == ExistsPolicy::Skip) &&
           WriteBool(sec, "OverWrite", s.exists == ExistsPolicy::Overwrite) &&
           WriteBool(sec, "Query", s.exists == ExistsPolicy::Query) &&
           WriteBool(sec, "Rename", s.exists == ExistsPolicy::Rename) &&
           WriteString(sec, "RenameRule", s.renameRule) && WriteBool(sec, "CBR", s.quality == QualityMode::Cbr) &&
           WriteBool(sec, "ABR", s.quality == QualityMode::Abr) &&
           WriteBool(sec, "VBR", s.quality == QualityMode::Vbr) && WriteInt(sec, "CBRValue", s.cbrValue) &&
           WriteInt(sec, "ABRValue", s.abrValue) && WriteInt(sec, "VBRValue", s.vbrValue) &&
           (wizard != Wizard::Conversion || WriteBool(sec, "KeepFolders", s.keepFolders));
}

bool SettingsStore::SaveStep2OnStart(int recordSettings, Wizard wizard, const Step2Settings& settings) const {
    return RecordsStep2(recordSettings, wizard) && SaveStep2(wizard, settings);
}

std::string DriveKey(const std::string& driveName) {
    std::string key;
    for (char c : driveName) {
        const bool space = c == ' ' || c == '\t';
        if (space && (key.empty() || key.back() == ' ')) continue;
        key += space ? ' ' : c;
    }
    while (!key.empty() && key.back() == ' ') key.pop_back();
    return key;
}

int SettingsStore::ReadOffsetOf(const std::string& driveName) const {
    return ReadInt("ReadOffset", DriveKey(driveName).c_str(), 0);
}

bool SettingsStore::WriteReadOffset(const std::string& driveName, int samples) const {
    return WriteInt("ReadOffset", DriveKey(driveName).c_str(), samples);
}

}  // namespace kiv::app

#include "app/core/output_planning.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <thread>
#include "platform/system/text.h"

namespace kiv::app {
namespace {

// The extension of the file-name part, dot included; empty when there is none.
std::string Extension(const std::string& path) {
    auto slash = path.rfind('/');
    auto dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return path.substr(dot);
}

}  // namespace

std::string NormaliseFormat(const std::string& word) {
    std::string w = AsciiUpper(word);
    if (!w.empty() && w[0] == '.') w.erase(0, 1);
    if (w == "WAV" || w == "MP3" || w == "WMA" || w == "OGG") return w;
    return {};
}

std::string DestinationFileName(const std::string& sourceFileName, const std::string& format) {
    std::string base = sourceFileName;
    if (auto dot = base.rfind('.'); dot != std::string::npos) base.resize(dot);
    return base + "." + AsciiLower(format);
}

bool SameFormat(const std::string& sourcePath, const std::string& destinationPath) {
    return AsciiLower(Extension(sourcePath)) == AsciiLower(Extension(destinationPath));
}

const ClassIdentity& EncoderForPath(const std::string& destinationPath) {
    std::string ext = AsciiLower(Extension(destinationPath));
    if (ext == ".wav") return kClassWaveEncoder;
    if (ext == ".mp3") return kClassMp3Encoder;
    if (ext == ".wma") return kClassWmaEncoder;
    return kClassVorbisEncoder;
}

std::string WithTrailingSlash(const std::string& folder) {
    if (folder.empty() || folder.back() == '/') return folder;
    return folder + "/";
}

std::string StatusRow::SourceFilePath() const { return WithTrailingSlash(sourcePath) + sourceFile; }

std::string StatusRow::DestinationFilePath() const { return destinationPath + destinationFile; }

std::string RelativeSubFolder(const TaskRow& task) {
    if (task.baseFolder.empty()) return {};
    // The search may have written "a//b" where the user gave "a/": compare
    // the folders as the file system reads them.
    const std::filesystem::path base = std::filesystem::path(task.baseFolder).lexically_normal();
    const std::filesystem::path rel = std::filesystem::path(task.folder).lexically_normal().lexically_relative(base);
    const std::string text = rel.generic_string();
    if (text.empty() || text == "." || text.rfind("..", 0) == 0) return {};
    return WithTrailingSlash(text);
}

std::string DestinationFolder(const Step2Settings& step2, const TaskRow& task, const std::string& applicationDirectory) {
    std::string folder;
    switch (step2.folder) {
        case OutputFolder::Default: folder = WithTrailingSlash(applicationDirectory); break;
        case OutputFolder::Source: return WithTrailingSlash(task.folder);
        case OutputFolder::Custom:
        case OutputFolder::None: folder = WithTrailingSlash(step2.customDir); break;
    }
    if (step2.keepFolders && !folder.empty()) folder += RelativeSubFolder(task);
    return folder;
}

QualityMode QualityAfterFormatChoice(OutputFormat format, QualityMode current) {
    const char* name = FormatName(format);
    if (format == OutputFormat::Wav || format == OutputFormat::None) return QualityMode::None;
    if (current != QualityMode::None && FormatOffers(name, current)) return current;
    return format == OutputFormat::Ogg ? QualityMode::Abr : QualityMode::Cbr;
}

void ChooseNormalFormat(Step2Settings& step2, OutputFormat format) {
    step2.mode = FormatMode::Normal;
    step2.format = format;
    step2.quality = QualityAfterFormatChoice(format, step2.quality);
}

std::vector<std::string> ChooserFormats(const std::string& sourceFormat) {
    const std::string source = AsciiUpper(sourceFormat);
    if (source == "WAV") return {"MP3", "WMA", "OGG"};
    if (source == "MP3") return {"WAV", "WMA", "OGG"};
    if (source == "WMA") return {"WAV", "MP3", "OGG"};
    return {"WAV", "MP3", "WMA"};
}

int QualitySlider::ValueAt(QualityMode mode, int position) const {
    position = std::clamp(position, low, high());
    if (mode == QualityMode::Vbr) return static_cast<int>(RoundEven((position - low) * 0.8333));
    return static_cast<int>(RoundEven((position - (low - 51.43)) * 1.8666667));
}

std::optional<int> QualitySlider::PositionOf(QualityMode mode, int value) const {
    if (mode == QualityMode::Vbr) {
        if (value < 0 || value > 100) return std::nullopt;
        return static_cast<int>(RoundEven(value / 0.8333 + low));
    }
    if (value < 96 || value > 320) return std::nullopt;
    return static_cast<int>(RoundEven(value / 1.8666667 + (low - 51.5)));
}

std::string DestinationFormat(const Step2Settings& step2, const TaskRow& task) {
    if (step2.mode == FormatMode::Normal) {
        switch (step2.format) {
            case OutputFormat::Wav: return "WAV";
            case OutputFormat::Mp3: return "MP3";
            case OutputFormat::Wma: return "WMA";
            default: return "OGG";
        }
    }
    return task.destinationFormat;
}

std::vector<StatusRow> BuildStatusList(const std::vector<TaskRow>& tasks, const Step2Settings& step2,
                                       const std::string& applicationDirectory) {
    std::vector<StatusRow> rows;
    rows.reserve(tasks.size());
    for (const TaskRow& task : tasks) {
        StatusRow row;
        row.sourceFile = task.fileName;
        row.sourcePath = task.folder;
        row.sourceSize = task.sizeText;
        row.sourceFormat = task.format;
        row.destinationFormat = DestinationFormat(step2, task);
        row.destinationFile = DestinationFileName(task.fileName, row.destinationFormat);
        row.destinationPath = DestinationFolder(step2, task, applicationDirectory);
        row.destinationSize = "Unknown";
        row.status = "Ready";
        rows.push_back(std::move(row));
    }
    return rows;
}

void OutputChoices::TakeStep2(const Step2Settings& step2) {
    exists = step2.exists;
    renameRule = step2.renameRule;
    quality = step2.quality;
    cbrValue = step2.cbrValue;
    abrValue = step2.abrValue;
    vbrValue = step2.vbrValue;
}

int OutputChoices::QualityValue() const {
    switch (quality) {
        case QualityMode::Cbr: return cbrValue;
        case QualityMode::Abr: return abrValue;
        default: return vbrValue;
    }
}

bool FormatOffers(const std::string& format, QualityMode mode) {
    const std::string f = AsciiUpper(format);
    switch (mode) {
        case QualityMode::Cbr: return f == "MP3" || f == "WMA";
        case QualityMode::Abr: return f == "MP3" || f == "OGG";
        case QualityMode::Vbr: return f == "MP3" || f == "WMA" || f == "OGG";
        case QualityMode::None: break;
    }
    return false;
}

std::string RenamedFileName(const std::string& rule, const std::string& currentName, const std::string& format) {
    std::string prefix, suffix = rule;
    if (auto k = rule.find('%'); k != std::string::npos) {
        prefix = rule.substr(0, k);
        suffix = rule.substr(k + 1);
    }
    std::string base = currentName;
    if (auto dot = base.rfind('.'); dot != std::string::npos) base.resize(dot);
    return prefix + base + suffix + "." + AsciiLower(format);
}

namespace {

constexpr const char* kOverwriteQuestion = "File already exists. Do you wish to overwrite it?";
// A rule keeps renaming while names are taken; past this many rounds the
// user's folder is not going to give a free name that way.
constexpr int kMaxRenameRounds = 100;
// How long a deleted destination may take to disappear.
constexpr auto kDeleteWait = std::chrono::seconds(5);

PolicyOutcome Delete(const PolicyContext& c, const std::string& path, const std::string& fileName) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        return {PolicyOutcome::Kind::Fail, path, fileName, false,
                "Cannot delete the existing destination " + path + ": " + std::strerror(errno)};
    const auto deadline = std::chrono::steady_clock::now() + kDeleteWait;
    while (::access(path.c_str(), F_OK) == 0) {
        if (std::chrono::steady_clock::now() >= deadline)
            return {PolicyOutcome::Kind::Fail, path, fileName, false,
                    "The existing destination " + path + " did not go away after deleting it."};
        if (c.processEvents) c.processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    c.log(LogColour::Blue, " Overwrite " + path);
    return {PolicyOutcome::Kind::Write, path, fileName, false, {}};
}

}  // namespace

PolicyOutcome ApplyDestinationPolicy(const PolicyContext& c, const std::string& folder, const std::string& fileName) {
    std::string name = fileName;
    std::string path = folder + name;
    for (int round = 0; c.exists(path); ++round) {
        if (c.logExists) c.log(LogColour::Green, " Destination file exists.");
        switch (c.policy) {
            case ExistsPolicy::Skip: return {PolicyOutcome::Kind::Skip, path, name, false, {}};
            case ExistsPolicy::Overwrite: return Delete(c, path, name);
            case ExistsPolicy::Query:
                if (c.ask(kOverwriteQuestion, "Query")) return Delete(c, path, name);
                return {PolicyOutcome::Kind::Skip, path, name, false, {}};
            case ExistsPolicy::None:
                // What the encoder would have asked when opening the file.
                if (c.ask(kOverwriteQuestion, "Query")) return {PolicyOutcome::Kind::Write, path, name, true, {}};
                return {PolicyOutcome::Kind::Fail, path, name, false, "Cancelled by user."};
            case ExistsPolicy::Rename: {
                std::string renamed = RenamedFileName(c.renameRule, name, c.format);
                if (renamed == name || round >= kMaxRenameRounds || renamed.size() > NAME_MAX) {
                    c.log(LogColour::Orange, " Auto renaming gives no new name for " + name + " with the rule \"" +
                                                 c.renameRule + "\".");
                    return {PolicyOutcome::Kind::Skip, path, name, false, {}};
                }
                c.log(LogColour::Blue, " File exists. Auto rename " + name + " to " + renamed);
                name = renamed;
                path = folder + name;
                if (c.startLine) c.log(LogColour::Blue, c.startLine(path));
                break;
            }
        }
    }
    return {PolicyOutcome::Kind::Write, path, name, false, {}};
}

}  // namespace kiv::app

#include "app/core/rip_report.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "app/core/file_conversion.h"
#include "platform/system/pipe.h"

namespace kiv::app {
namespace {

std::string MinutesSecondsFrames(long frames) {
    char text[32];
    std::snprintf(text, sizeof text, "%02ld:%02ld:%02ld", frames / 4500, frames / 75 % 60, frames % 75);
    return text;
}

std::string Line(const char* format, auto... values) {
    char text[512];
    std::snprintf(text, sizeof text, format, values...);
    return std::string(text) + "\n";
}

// Cue sheet strings are quoted; a quote inside has no escape, so it goes.
std::string Quoted(std::string text) {
    std::erase(text, '"');
    return "\"" + text + "\"";
}

const char* CueFileType(const std::string& file) {
    const auto dot = file.rfind('.');
    std::string ext = dot == std::string::npos ? std::string() : file.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == "mp3" ? "MP3" : ext == "aiff" ? "AIFF" : "WAVE";
}

}  // namespace

std::string RipLogText(const RipReport& r) {
    std::string out;
    out += r.program + " rip log\n";
    out += "Date: " + r.date + "\n\n";
    out += "Drive: " + r.drive + "\n";
    out += Line("Read offset correction: %+d samples", r.readOffset);
    out += std::string("Jitter correction: ") + (r.jitterCorrection ? "on" : "off") + "\n\n";

    out += "Table of contents\n";
    out += "  Track   Start  Length       Type\n";
    long leadOut = 0;
    for (const RipReport::TocTrack& t : r.toc) {
        out += Line("  %5d %7ld  %s  %s", t.number, t.start, MinutesSecondsFrames(t.frames).c_str(),
                    t.audio ? "audio" : "data");
        leadOut = std::max(leadOut, t.start + t.frames);
    }
    out += Line("  Lead-out %5ld", leadOut);
    out += "Disc id: " + r.discId + "\n";
    out += "AccurateRip id: " + (r.accurateRipId.empty() ? std::string("(none)") : r.accurateRipId) + "\n";
    out += "AccurateRip: " + (r.lookupLine.empty() ? std::string("not checked") : r.lookupLine) + "\n\n";

    for (const RipReport::Track& t : r.tracks) {
        out += Line("Track %2d  %s", t.number, t.title.c_str());
        if (t.dataTrack) {
            out += "  Data track: skipped\n\n";
            continue;
        }
        out += "  Outcome: " + t.outcome + "\n";
        if (!t.file.empty()) out += "  File: " + t.file + "\n";
        if (t.check && t.check->haveSums) {
            out += Line("  CRC32: %08X", t.check->sums.crc32);
            out += Line("  AccurateRip v1: %08X  v2: %08X", t.check->sums.v1, t.check->sums.v2);
            if (!r.lookupLine.empty()) out += "  AccurateRip: " + accuraterip::VerdictText(t.check->verdict) + "\n";
        }
        out += "  Read errors: " + (t.error.empty() ? std::string("none") : t.error) + "\n\n";
    }
    if (!r.accurateRipSummary.empty()) out += r.accurateRipSummary + "\n";
    out += r.summary + "\n";
    return out;
}

std::string CueSheetText(const RipReport& r, const std::string& folder) {
    std::string out;
    out += "REM DISCID " + r.discId + "\n";
    out += "REM COMMENT " + Quoted(r.program) + "\n";
    for (const RipReport::Track& t : r.tracks) {
        if (t.file.empty() || t.dataTrack) continue;
        std::string name = std::filesystem::path(t.file).lexically_relative(folder).string();
        if (name.empty()) name = t.file;
        out += "FILE " + Quoted(name) + " " + CueFileType(t.file) + "\n";
        out += Line("  TRACK %02d AUDIO", t.number);
        out += "    TITLE " + Quoted(t.title) + "\n";
        out += "    INDEX 01 00:00:00\n";
    }
    return out;
}

std::optional<std::string> WriteTextFile(const std::string& path, const std::string& text) {
    const std::string temporary = TemporaryPathFor(path);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return std::string(std::strerror(errno));
    const int writeErrno = WriteAll(fd, text.data(), text.size()) ? 0 : (errno ? errno : EIO);
    const bool closed = ::close(fd) == 0;
    if (writeErrno || !closed || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string reason = std::strerror(writeErrno ? writeErrno : errno);
        ::unlink(temporary.c_str());
        return reason;
    }
    return std::nullopt;
}

}  // namespace kiv::app

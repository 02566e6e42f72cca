#include "runtime/vcdrive/cue_sheet.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace kiv::vcd {

namespace {

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

// "mm:ss:ff" in frames. Minutes have at most three digits, so that no
// time can overflow the frame count.
std::optional<std::int32_t> ParseTime(const std::string& text) {
    int minutes = 0, seconds = 0, frames = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%3d:%2d:%2d%c", &minutes, &seconds, &frames, &tail) != 3) return std::nullopt;
    if (minutes < 0 || seconds < 0 || seconds > 59 || frames < 0 || frames > 74) return std::nullopt;
    return (minutes * 60 + seconds) * 75 + frames;
}

// FILE "name with spaces.bin" BINARY, or FILE name.bin BINARY.
bool SplitFileLine(const std::string& rest, std::string* name, std::string* type) {
    std::string text = rest;
    const auto begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return false;
    text = text.substr(begin);
    if (text.front() == '"') {
        const auto close = text.find('"', 1);
        if (close == std::string::npos) return false;
        *name = text.substr(1, close - 1);
        text = text.substr(close + 1);
    } else {
        const auto space = text.find_first_of(" \t");
        if (space == std::string::npos) return false;
        *name = text.substr(0, space);
        text = text.substr(space);
    }
    std::istringstream words(text);
    words >> *type;
    return !name->empty() && !type->empty();
}

}  // namespace

std::optional<CueSheet> ParseCueSheet(const std::string& path, std::string* error) {
    int lineNumber = 0;
    auto fail = [&](const std::string& why) -> std::optional<CueSheet> {
        if (error) *error = path + ":" + std::to_string(lineNumber) + ": " + why;
        return std::nullopt;
    };
    std::ifstream in(path);
    if (!in) return fail("cannot read the cue sheet");
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);

    CueSheet sheet;
    std::string line;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (lineNumber == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
        std::istringstream words(line);
        std::string command;
        if (!(words >> command)) continue;
        command = Upper(command);
        if (command == "FILE") {
            std::string rest, name, type;
            std::getline(words, rest);
            if (!SplitFileLine(rest, &name, &type)) return fail("bad FILE line");
            CueFile file;
            file.path = name.front() == '/' ? name : folder + name;
            type = Upper(type);
            if (type == "BINARY") {
                file.type = CueFile::Type::Binary;
            } else if (type == "MOTOROLA") {
                file.type = CueFile::Type::Motorola;
            } else if (type == "WAVE") {
                file.type = CueFile::Type::Wave;
            } else {
                return fail("unsupported file type " + type);
            }
            sheet.files.push_back(file);
        } else if (command == "TRACK") {
            if (sheet.files.empty()) return fail("TRACK before FILE");
            std::string number, mode;
            words >> number >> mode;
            CueTrack track;
            track.file = sheet.files.size() - 1;
            track.number = std::atoi(number.c_str());
            if (track.number < 1 || track.number > 99) return fail("bad track number");
            if (!sheet.tracks.empty() && track.number <= sheet.tracks.back().number) {
                return fail("track numbers must rise");
            }
            mode = Upper(mode);
            if (mode == "AUDIO") {
                track.mode = CueTrack::Mode::Audio;
            } else if (mode == "MODE1/2352") {
                track.mode = CueTrack::Mode::Mode1Raw;
            } else if (mode == "MODE1/2048") {
                track.mode = CueTrack::Mode::Mode1Cooked;
            } else {
                return fail("unsupported track mode " + mode);
            }
            sheet.tracks.push_back(track);
        } else if (command == "INDEX" || command == "PREGAP" || command == "POSTGAP") {
            if (sheet.tracks.empty()) return fail(command + " before TRACK");
            CueTrack& track = sheet.tracks.back();
            int index = 1;
            if (command == "INDEX") words >> index;
            std::string time;
            words >> time;
            const auto frames = ParseTime(time);
            if (!frames) return fail("bad time " + time);
            if (command == "PREGAP") {
                track.pregap = *frames;
            } else if (command == "POSTGAP") {
                track.postgap = *frames;
            } else if (index == 0) {
                track.index0 = *frames;
            } else if (index == 1) {
                track.index1 = *frames;
            }  // indexes above 1 do not move the track
        }
    }
    if (sheet.tracks.empty()) return fail("no tracks");
    for (const CueTrack& track : sheet.tracks) {
        if (track.index1 < 0) {
            lineNumber = 0;
            return fail("track " + std::to_string(track.number) + " has no INDEX 01");
        }
    }
    return sheet;
}

}  // namespace kiv::vcd

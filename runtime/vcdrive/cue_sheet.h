// Cue sheets: the track layout of a disc image. Only what places tracks and
// their data matters here (FILE, TRACK, INDEX 00/01, PREGAP, POSTGAP); titles,
// performers, flags and the like are skipped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kiv::vcd {

struct CueFile {
    enum class Type { Binary, Motorola, Wave };
    std::string path;  // resolved against the cue sheet's folder
    Type type = Type::Binary;
};

struct CueTrack {
    enum class Mode { Audio, Mode1Raw, Mode1Cooked };  // AUDIO, MODE1/2352, MODE1/2048
    int number = 0;
    Mode mode = Mode::Audio;
    std::size_t file = 0;  // index into CueSheet::files
    std::int32_t pregap = 0;   // frames of silence not stored in the file
    std::int32_t postgap = 0;
    std::optional<std::int32_t> index0;  // frames from the start of the file
    std::int32_t index1 = -1;

    std::uint32_t BytesPerFrame() const { return mode == Mode::Mode1Cooked ? 2048 : 2352; }
};

struct CueSheet {
    std::vector<CueFile> files;
    std::vector<CueTrack> tracks;
};

std::optional<CueSheet> ParseCueSheet(const std::string& path, std::string* error);

}  // namespace kiv::vcd

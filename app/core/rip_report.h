// The rip log and the cue sheet that a verified rip leaves beside its
// files: what was read, from which drive and how (read offset, jitter
// correction), the disc's table of contents, and for each track its file,
// checksums, AccurateRip verdict and read errors; the cue sheet describes
// the disc with one FILE per ripped track. Both are plain text, written
// under a temporary name and moved into place when complete.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/core/rip_verification.h"

namespace kiv::app {

struct RipReport {
    std::string program;  // "Ondalo 3.0"
    std::string date;     // "2026-12-10 18:55:00"
    std::string drive;
    int readOffset = 0;
    bool jitterCorrection = false;
    std::string discId;         // freedb
    std::string accurateRipId;  // database file name, empty when none
    std::string lookupLine;     // the database lookup, empty when not verified

    struct TocTrack {
        int number = 0;
        long start = 0;   // frames
        long frames = 0;
        bool audio = true;
    };
    std::vector<TocTrack> toc;

    struct Track {
        int number = 0;
        std::string title;
        std::string file;     // the finished file, empty when none
        std::string outcome;  // "Done", "Skip", "Failed", "Ready"
        std::string error;    // the failure's text (read errors included)
        std::optional<TrackCheck> check;
        bool dataTrack = false;
    };
    std::vector<Track> tracks;
    std::string summary;  // the batch's summary line
    std::string accurateRipSummary;
};

std::string RipLogText(const RipReport& report);
// File names relative to `folder` (the cue sheet's own).
std::string CueSheetText(const RipReport& report, const std::string& folder);

// Writes `text` to `path` through a temporary beside it; on failure the
// reason, and nothing is left under either name.
std::optional<std::string> WriteTextFile(const std::string& path, const std::string& text);

}  // namespace kiv::app

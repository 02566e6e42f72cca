// A disc as the virtual drive sees it: tracks with their addresses and a
// way to produce the 2352 bytes of any frame, from WAV files, BIN images or
// generated data sectors. Frames outside every track (pregaps, the gap
// between sessions, the lead-out area) read as silence.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "runtime/vcdrive/vcdrive_config.h"

namespace kiv::vcd {

class DiscImage {
public:
    struct Track {
        std::uint8_t number = 0;
        bool audio = true;
        std::uint8_t session = 1;
        std::int32_t start = 0;  // LBA of INDEX 01
        std::uint8_t Control() const { return audio ? 0x00 : 0x04; }
    };

    // A disc from its description; an open or empty tray gives a disc
    // without medium. Files stay open for the life of the disc.
    static std::optional<DiscImage> Build(const DiscSetup& setup, std::string* error);

    bool HasMedium() const { return !tracks_.empty(); }
    bool TrayOpen() const { return trayOpen_; }
    const std::vector<Track>& Tracks() const { return tracks_; }
    std::uint8_t SessionCount() const { return static_cast<std::uint8_t>(leadOuts_.size()); }
    // Lead-out of each session; the last is the disc's lead-out.
    const std::vector<std::int32_t>& SessionLeadOuts() const { return leadOuts_; }
    std::int32_t LeadOut() const { return leadOuts_.empty() ? 0 : leadOuts_.back(); }

    // Whether the frame belongs to a data track.
    bool IsData(std::int32_t lba) const;
    // The whole raw frame: audio samples, or a mode-1 sector with sync and
    // header (EDC/ECC left zero).
    void ReadFrame(std::int32_t lba, std::uint8_t* frame) const;

    struct SourceFile;

private:
    struct Extent {
        std::int32_t start = 0;
        std::int32_t frames = 0;
        bool audio = true;
        std::shared_ptr<SourceFile> file;  // none: generated data sectors
        std::uint64_t offset = 0;          // of the extent's first frame
        std::uint64_t end = 0;             // bytes past this read as zero
        std::uint32_t bytesPerFrame = 2352;
        bool swapBytes = false;
    };

    bool FromTracks(const DiscSetup& setup, std::string* error);
    bool FromCue(const std::string& cuePath, std::string* error);
    void AddSession2(std::int32_t frames);
    const Extent* Find(std::int32_t lba) const;

    std::vector<Track> tracks_;
    std::vector<Extent> extents_;  // ascending, not overlapping
    std::vector<std::int32_t> leadOuts_;
    bool trayOpen_ = false;
};

}  // namespace kiv::vcd

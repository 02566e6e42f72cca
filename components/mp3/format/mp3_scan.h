// The scan an MP3 decoder makes when it opens a file: skip a leading ID3v2
// tag, find the first frame, read the ID3v1 and ID3v2 tags and work out the
// format, duration and average bitrate (from the "Xing"/"Info" header when
// there is one). Also the two searches the decoder needs later: the byte
// offset for a time, and the next frame of the stream from an offset.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "components/common/tag_record.h"
#include "components/mp3/format/mp3_frame_header.h"
#include "components/mp3/format/vbr_header.h"

namespace kiv::mp3 {

// The first frame header is searched for in this many byte offsets.
inline constexpr std::int64_t kFrameSearchWindow = 65536;

enum class ScanStatus {
    ok,
    unexpectedEndOfFile,  // the file ends inside the frame search
    streamNotFound,       // no frame header in the search window
    systemError,          // open, stat or read failed; see systemError
};

struct Mp3StreamInfo {
    std::int64_t fileSize = 0;
    std::int64_t firstFrameOffset = 0;
    // File offset where the audio ends: the file's end, or the start of the
    // ID3v1 tag, or the start of an APEv2 tag before either.
    std::int64_t audioEnd = 0;
    // Audio bytes from the first frame, as the stream's bitrate and seeking
    // count them: the VBR header's byte count when it gives one, else
    // audioEnd - firstFrameOffset.
    std::int64_t audioBytes = 0;

    FrameHeader firstFrame;
    int sampleRate = 0;
    int channels = 0;
    bool lowSamplingFrequency = false;
    bool freeFormat = false;

    // A "Xing"/"Info" header was found in the first frame.
    bool vbr = false;
    VbrHeader vbrHeader;  // all zero without one

    std::int64_t frameCount = 0;
    double durationSeconds = 0;
    std::int32_t bitrate = 0;  // average, bits per second

    bool hasId3v1 = false;
    bool hasApeTag = false;
    bool hasId3v2 = false;
    // ID3v1 fields first, then every field an APEv2 tag carries on top, then
    // every field the ID3v2 tag carries on top of those.
    TagRecord tags;
    std::vector<TagPicture> pictures;  // of the ID3v2 tag
    std::vector<TagField> fields;      // of the ID3v2 tag
};

struct Mp3ScanResult {
    ScanStatus status = ScanStatus::ok;
    int systemError = 0;  // errno when status is systemError
    Mp3StreamInfo info;

    bool ok() const { return status == ScanStatus::ok; }
};

Mp3ScanResult scanMp3File(const std::filesystem::path& path);
// Reads fd with positional reads; its file position is not moved and it is
// not closed.
Mp3ScanResult scanMp3File(int fd);

// Offset from the first frame at which to look for the frame playing at the
// time: through the VBR header's table of contents when there is one, else
// in proportion to the duration. Always within [0, audioBytes]; 0 for a
// stream without duration.
std::int64_t seekOffsetForTime(const Mp3StreamInfo& info, std::int64_t milliseconds);

// File offset of the first frame header at or after from (within
// kFrameSearchWindow offsets) that can continue the stream: same version,
// layer, sample rate and channel count as its first frame. nullopt when
// there is none or the file ends first.
std::optional<std::int64_t> findStreamFrame(int fd, std::int64_t from, const FrameHeader& firstFrame);

// After damage: file offset of the first frame at or after from, before
// end, that can continue the stream and is followed by further frames of
// it (a run cut by end counts), searching as far as end. A lone header-like
// word in damaged data is no frame. nullopt when the stream does not come
// back before end.
std::optional<std::int64_t> resyncStreamFrame(int fd, std::int64_t from, std::int64_t end,
                                              const FrameHeader& firstFrame);

// A run of frames in [from, end) that cannot continue the stream: another
// sample rate or channel count (say, a second file appended to the first).
// The header of its first frame, or nullopt.
std::optional<FrameHeader> findForeignFrameRun(int fd, std::int64_t from, std::int64_t end,
                                               const FrameHeader& firstFrame);

}  // namespace kiv::mp3

// The file into which the null device records what its play cursors pass.
//
// Capture runs on a timeline of frames in one format: the format of the
// first buffer that plays after a capture file is chosen. Buffers of that
// format add their samples (volume applied) at the timeline frame where
// they play; overlapping buffers are summed and clipped. The timeline only
// moves while something plays, so stretches with no buffer playing leave no
// silence in the file. Buffers of any other format are not recorded.
//
// The header always states the sizes of the data written so far, so the
// file is a valid WAV at every moment, not only after a clean shut-down.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "platform/sound/pcm_format.h"

namespace kiv::sound {

class WavCapture {
public:
    WavCapture() = default;
    ~WavCapture();
    WavCapture(const WavCapture&) = delete;
    WavCapture& operator=(const WavCapture&) = delete;

    // Chooses the capture file; empty for none. Naming the file already in
    // use keeps appending to it; another name finishes it and starts anew.
    void Use(const std::string& path);
    // Every change of file gets a new generation, so a buffer can tell
    // whether the file it fed is still the current one. 0 means none.
    std::uint64_t Generation() const { return path_.empty() ? 0 : generation_; }
    // Whether samples of this format are recorded; the first call with a
    // file chosen fixes the format and creates the file.
    bool Accepts(const PcmFormat& format);
    // The first timeline frame not yet holding anything.
    std::uint64_t EndFrame() const;
    void Add(std::uint64_t frame, WORD channel, double value);
    // Writes the frames before `frame` and corrects the header.
    void FlushBefore(std::uint64_t frame);
    void FlushAll() { FlushBefore(EndFrame()); }

private:
    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    void Finish();
    void WriteHeader();

    std::string path_;
    std::uint64_t generation_ = 0;
    std::unique_ptr<std::FILE, FileCloser> file_;
    bool failed_ = false;
    std::optional<PcmFormat> format_;
    std::uint64_t flushedFrames_ = 0;
    std::uint64_t dataBytes_ = 0;
    std::deque<double> pending_;  // interleaved samples from flushedFrames_ on
};

}  // namespace kiv::sound

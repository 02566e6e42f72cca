// Opens a RIFF/WAVE file and locates its format and data chunks. Shared by
// the WAV decoder, whole-file encoding of every encoder, and the type
// inspection that picks a decoder.
#pragma once

#include <string>
#include <vector>

#include "platform/riff/riff.h"

namespace kiv {

class WavSourceReader {
public:
    // Walks the chunks of the file at `path` (UTF-8). Succeeds with a format
    // chunk and a data chunk of non-zero size, positioned at the first data
    // byte. Fails (E_FAIL) on a missing file, no RIFF/WAVE chunk, a chunk
    // running past its RIFF chunk, a short or oversized format chunk, no
    // format, no or empty data, and a format whose byte rate is 0 (no
    // position could be computed from it). A failure leaves nothing open.
    //
    // Sizes that promise more than the file holds are what a writer leaves
    // when it cannot go back to fill them in (a pipe: 0xFFFFFFFF, or a guess)
    // and what a cut-off file shows: the RIFF chunk then ends with the file
    // and a data chunk runs to the end of the file. Nothing is allocated from
    // a size the file cannot back.
    HRESULT Open(const std::string& path);
    void Close();
    bool IsOpen() const { return file_.IsOpen(); }

    // The format chunk, at least 18 bytes; cbSize reads 0 for PCM.
    const WAVEFORMATEX& format() const { return *reinterpret_cast<const WAVEFORMATEX*>(format_.data()); }
    WAVEFORMATEX* formatPtr() { return reinterpret_cast<WAVEFORMATEX*>(format_.data()); }
    std::int64_t dataSize() const { return dataSize_; }
    std::int64_t dataOffset() const { return dataOffset_; }

    // Reads sample bytes from the current position, never past the end of
    // the data chunk (chunks after it are not samples). 0 at the end, -1 on
    // a read failure.
    long Read(void* data, std::size_t size);
    // Bytes of the data chunk before the current position.
    std::int64_t Position() const;
    // Moves to `offset` bytes into the data chunk (past the end is allowed:
    // reads then deliver 0 bytes).
    bool SeekData(std::int64_t offset);

private:
    RiffFile file_;
    std::vector<BYTE> format_;
    std::int64_t dataSize_ = 0;
    std::int64_t dataOffset_ = 0;
};

// Reads the format tag of a WAVE file's first format chunk, as decoder
// selection needs it; for WAVE_FORMAT_EXTENSIBLE the tag its sub-format
// stands for (1 for PCM, 3 for float). False when the file cannot be opened,
// has no RIFF/WAVE chunk or no format chunk, or the read falls short.
bool ReadWaveFormatTag(const std::string& path, WORD& tag);

}  // namespace kiv

// RIFF file reading and writing with descend/ascend/create-chunk semantics:
// a chunk is entered by Descend (or created by CreateChunk) and left by
// Ascend, which, for a chunk being written, fills in its size and adds the
// pad byte that keeps chunks at even offsets.
#pragma once

#include <cstdint>
#include <string>

#include "platform/com/types.h"
#include "platform/system/pipe.h"

namespace kiv {

using FOURCC = DWORD;
constexpr FOURCC MakeFourCC(const char (&s)[5]) {
    return DWORD(BYTE(s[0])) | (DWORD(BYTE(s[1])) << 8) | (DWORD(BYTE(s[2])) << 16) | (DWORD(BYTE(s[3])) << 24);
}
constexpr FOURCC kFourCC_RIFF = MakeFourCC("RIFF");
constexpr FOURCC kFourCC_LIST = MakeFourCC("LIST");
constexpr FOURCC kFourCC_WAVE = MakeFourCC("WAVE");
constexpr FOURCC kFourCC_fmt = MakeFourCC("fmt ");
constexpr FOURCC kFourCC_data = MakeFourCC("data");

struct ChunkInfo {
    FOURCC ckid = 0;
    DWORD cksize = 0;
    FOURCC fccType = 0;      // form or list type of RIFF and LIST chunks
    DWORD dwDataOffset = 0;  // file offset of the contents (the form type counts as contents)
    bool dirty = false;      // created by CreateChunk: Ascend writes its size
};

enum class RiffFind { Next, Chunk, Riff, List };

class RiffFile {
public:
    enum class Mode { Read, Create };

    // False with errno set when the file cannot be opened or created.
    bool Open(const std::string& path, Mode mode);
    void Close() { fd_.reset(); }
    // Closes and reports whether the system accepted the close (a late
    // write error can show only here).
    bool CloseChecked() { return fd_.reset() == 0; }
    bool IsOpen() const { return bool(fd_); }

    // Enters the next chunk inside `parent` (or the file when null). With
    // Chunk/Riff/List it searches for the chunk id or the form/list type
    // set in `ck` beforehand. False when there is none.
    bool Descend(ChunkInfo& ck, const ChunkInfo* parent, RiffFind find);
    // Leaves the chunk: for a created chunk writes its size and pad byte;
    // then moves past it. False with errno set when a write fails.
    bool Ascend(ChunkInfo& ck);
    // Writes a chunk header at the current position; the size is filled in
    // by Ascend. `asRiff` writes a RIFF header with ck.fccType as form type.
    bool CreateChunk(ChunkInfo& ck, bool asRiff = false);

    long Read(void* data, std::size_t size);  // -1 with errno set on failure
    bool Write(const void* data, std::size_t size);
    bool Seek(std::int64_t offset);
    std::int64_t Tell() const;
    std::int64_t Size() const;
    int fd() const { return fd_.get(); }

private:
    UniqueFd fd_;
};

}  // namespace kiv

#include "platform/riff/riff.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kiv {

bool RiffFile::Open(const std::string& path, Mode mode) {
    int fd = mode == Mode::Read ? ::open(path.c_str(), O_RDONLY | O_CLOEXEC)
                                : ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    struct stat st;
    if (mode == Mode::Read && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        errno = EISDIR;
        return false;
    }
    fd_.reset(fd);
    return true;
}

long RiffFile::Read(void* data, std::size_t size) { return ReadFull(fd_.get(), data, size); }

bool RiffFile::Write(const void* data, std::size_t size) { return WriteAll(fd_.get(), data, size); }

bool RiffFile::Seek(std::int64_t offset) { return ::lseek(fd_.get(), offset, SEEK_SET) == offset; }

std::int64_t RiffFile::Tell() const { return ::lseek(fd_.get(), 0, SEEK_CUR); }

std::int64_t RiffFile::Size() const {
    struct stat st;
    return ::fstat(fd_.get(), &st) == 0 ? st.st_size : -1;
}

bool RiffFile::Descend(ChunkInfo& ck, const ChunkInfo* parent, RiffFind find) {
    const FOURCC wantId = ck.ckid;
    const FOURCC wantType = ck.fccType;
    const std::int64_t end = parent ? std::int64_t(parent->dwDataOffset) + parent->cksize : Size();
    for (;;) {
        std::int64_t pos = Tell();
        if (pos < 0 || pos + 8 > end) return false;
        DWORD header[2];
        if (Read(header, 8) != 8) return false;
        ChunkInfo c;
        c.ckid = header[0];
        c.cksize = header[1];
        c.dwDataOffset = static_cast<DWORD>(pos + 8);
        if (c.ckid == kFourCC_RIFF || c.ckid == kFourCC_LIST) {
            if (Read(&c.fccType, 4) != 4) return false;
        }
        bool match = find == RiffFind::Next ||
                     (find == RiffFind::Chunk && c.ckid == wantId) ||
                     (find == RiffFind::Riff && c.ckid == kFourCC_RIFF && c.fccType == wantType) ||
                     (find == RiffFind::List && c.ckid == kFourCC_LIST && c.fccType == wantType);
        if (match) {
            ck = c;
            return true;
        }
        std::int64_t next = std::int64_t(c.dwDataOffset) + c.cksize + (c.cksize & 1);
        if (next > end || !Seek(next)) return false;
    }
}

bool RiffFile::Ascend(ChunkInfo& ck) {
    if (ck.dirty) {
        std::int64_t pos = Tell();
        if (pos < 0) return false;
        std::int64_t size = pos - ck.dwDataOffset;
        if (size & 1) {
            const BYTE pad = 0;
            if (!Write(&pad, 1)) return false;
        }
        DWORD size32 = static_cast<DWORD>(size);
        if (size32 != ck.cksize) {
            if (!Seek(std::int64_t(ck.dwDataOffset) - 4) || !Write(&size32, 4)) return false;
            ck.cksize = size32;
        }
        ck.dirty = false;
    }
    return Seek(std::int64_t(ck.dwDataOffset) + ck.cksize + (ck.cksize & 1));
}

bool RiffFile::CreateChunk(ChunkInfo& ck, bool asRiff) {
    std::int64_t pos = Tell();
    if (pos < 0) return false;
    if (asRiff) ck.ckid = kFourCC_RIFF;
    DWORD header[3] = {ck.ckid, ck.cksize, ck.fccType};
    bool withType = ck.ckid == kFourCC_RIFF || ck.ckid == kFourCC_LIST;
    if (!Write(header, withType ? 12 : 8)) return false;
    ck.dwDataOffset = static_cast<DWORD>(pos + 8);
    ck.dirty = true;
    return true;
}

}  // namespace kiv

#include "components/common/wav_source_reader.h"

#include <algorithm>
#include <cstring>

namespace kiv {

HRESULT WavSourceReader::Open(const std::string& path) {
    Close();
    if (!file_.Open(path, RiffFile::Mode::Read)) return E_FAIL;
    auto fail = [&] {
        Close();
        return E_FAIL;
    };
    ChunkInfo riff;
    riff.fccType = kFourCC_WAVE;
    if (!file_.Descend(riff, nullptr, RiffFind::Riff)) return fail();
    bool haveFormat = false, haveData = false;
    for (;;) {
        ChunkInfo sub;
        if (!file_.Descend(sub, &riff, RiffFind::Next)) break;
        if (std::int64_t(sub.dwDataOffset) + sub.cksize > std::int64_t(riff.dwDataOffset) + riff.cksize) return fail();
        if (sub.ckid == kFourCC_fmt && !haveFormat) {
            // The size is the file's word: a format chunk larger than the
            // file is refused before a buffer of that size is made.
            if (std::int64_t(sub.dwDataOffset) + sub.cksize > file_.Size()) return fail();
            format_.assign(std::max<std::size_t>(sub.cksize, sizeof(WAVEFORMATEX)), 0);
            if (file_.Read(format_.data(), sub.cksize) != long(sub.cksize)) return fail();
            if (formatPtr()->wFormatTag == WAVE_FORMAT_PCM) formatPtr()->cbSize = 0;
            haveFormat = true;
        } else if (sub.ckid == kFourCC_data && !haveData) {
            dataSize_ = sub.cksize;
            dataOffset_ = sub.dwDataOffset;
            haveData = true;
        }
        if (!file_.Ascend(sub)) break;
    }
    if (!haveFormat || !haveData || dataSize_ == 0) return fail();
    if (format().nAvgBytesPerSec == 0) return fail();
    if (!file_.Seek(dataOffset_)) return fail();
    return S_OK;
}

void WavSourceReader::Close() {
    file_.Close();
    format_.clear();
    dataSize_ = 0;
    dataOffset_ = 0;
}

long WavSourceReader::Read(void* data, std::size_t size) {
    std::int64_t left = std::int64_t(dataSize_) - Position();
    if (left <= 0) return 0;
    return file_.Read(data, std::min<std::int64_t>(left, std::int64_t(size)));
}

std::int64_t WavSourceReader::Position() const { return file_.Tell() - dataOffset_; }

bool WavSourceReader::SeekData(std::int64_t offset) { return file_.Seek(dataOffset_ + offset); }

bool ReadWaveFormatTag(const std::string& path, WORD& tag) {
    RiffFile file;
    if (!file.Open(path, RiffFile::Mode::Read)) return false;
    ChunkInfo riff;
    riff.fccType = kFourCC_WAVE;
    if (!file.Descend(riff, nullptr, RiffFind::Riff)) return false;
    ChunkInfo fmt;
    fmt.ckid = kFourCC_fmt;
    if (!file.Descend(fmt, &riff, RiffFind::Chunk)) return false;
    // Only the tag is used; a chunk too short to hold it does not count.
    BYTE buf[sizeof(WAVEFORMATEX)] = {};
    std::size_t want = std::min<std::size_t>(std::max<DWORD>(fmt.cksize, 2), sizeof buf);
    if (fmt.cksize < 2 || file.Read(buf, want) < 2) return false;
    std::memcpy(&tag, buf, sizeof tag);
    return true;
}

}  // namespace kiv

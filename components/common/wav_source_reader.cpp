#include "components/common/wav_source_reader.h"

#include <algorithm>
#include <cstring>

namespace kiv {

namespace {

// A format record and the extra bytes its cbSize can announce; a larger
// format chunk is not a format.
constexpr std::int64_t kMaxFormatChunk = sizeof(WAVEFORMATEX) + 0xFFFF;

}  // namespace

HRESULT WavSourceReader::Open(const std::string& path) {
    Close();
    if (!file_.Open(path, RiffFile::Mode::Read)) return E_FAIL;
    auto fail = [&] {
        Close();
        return E_FAIL;
    };
    const std::int64_t fileSize = file_.Size();
    if (fileSize < 0) return fail();
    ChunkInfo riff;
    riff.fccType = kFourCC_WAVE;
    if (!file_.Descend(riff, nullptr, RiffFind::Riff)) return fail();
    // A RIFF size beyond the file (a streamed or cut-off file) ends with it.
    const std::int64_t riffEnd = std::min<std::int64_t>(std::int64_t(riff.dwDataOffset) + riff.cksize, fileSize);
    riff.cksize = static_cast<DWORD>(riffEnd - riff.dwDataOffset);
    bool haveFormat = false, haveData = false;
    for (;;) {
        ChunkInfo sub;
        if (!file_.Descend(sub, &riff, RiffFind::Next)) break;
        std::int64_t end = std::int64_t(sub.dwDataOffset) + sub.cksize;
        // Samples run to the end of a file that holds fewer than the data
        // chunk promises.
        const bool firstData = sub.ckid == kFourCC_data && !haveData;
        if (firstData && end > fileSize) end = fileSize;
        if (end > riffEnd) return fail();
        if (sub.ckid == kFourCC_fmt && !haveFormat) {
            if (sub.cksize > kMaxFormatChunk) return fail();
            format_.assign(std::max<std::size_t>(sub.cksize, sizeof(WAVEFORMATEX)), 0);
            if (file_.Read(format_.data(), sub.cksize) != long(sub.cksize)) return fail();
            if (formatPtr()->wFormatTag == WAVE_FORMAT_PCM) formatPtr()->cbSize = 0;
            // Whoever reads the record may read the cbSize bytes it announces.
            format_.resize(std::max<std::size_t>(format_.size(), sizeof(WAVEFORMATEX) + formatPtr()->cbSize), 0);
            haveFormat = true;
        } else if (firstData) {
            dataSize_ = end - sub.dwDataOffset;
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
    // Only the tag is used (and for the extensible record its sub-format);
    // a chunk too short to hold it does not count.
    WAVEFORMATEXTENSIBLE buf{};
    std::size_t want = std::min<std::size_t>(std::max<DWORD>(fmt.cksize, 2), sizeof buf);
    long got = fmt.cksize < 2 ? 0 : file.Read(&buf, want);
    if (got < 2) return false;
    tag = buf.Format.wFormatTag;
    if (tag == WAVE_FORMAT_EXTENSIBLE && got == long(sizeof buf)) {
        // The sub-formats are the plain tags inside the common GUID frame.
        GUID frame = buf.SubFormat;
        frame.Data1 = KSDATAFORMAT_SUBTYPE_PCM.Data1;
        if (frame == KSDATAFORMAT_SUBTYPE_PCM && buf.SubFormat.Data1 <= 0xFFFF) tag = WORD(buf.SubFormat.Data1);
    }
    return true;
}

}  // namespace kiv

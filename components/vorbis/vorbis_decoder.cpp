#include "components/vorbis/vorbis_decoder.h"

#include <fcntl.h>
#include <unistd.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>

#include "components/vorbis/channel_order.h"
#include "components/vorbis/picture_block.h"
#include "components/vorbis/vorbis_comments.h"

namespace kiv {
namespace {

constexpr char16_t kNotVorbis[] = u"Cannot open: not an OggVorbis file.";
constexpr char16_t kNonSeekableDuration[] = u"Cannot detect stream duration. Stream is non-seekable.";
constexpr char16_t kSeekHandle[] = u"Seek error: cannot seek when using application handle.";
constexpr char16_t kNotSeekable[] = u"Cannot seek: stream is not seekable.";
constexpr char16_t kSeekFailed[] = u"Seek error.";
constexpr char16_t kBadSection[] = u"Error: an invalid stream section.";
constexpr char16_t kReadFailed[] = u"Internal error #327.";

constexpr std::size_t kPcmCapacity = 131072;  // 128 KB
constexpr std::size_t kMaxRead = 65536;       // bytes handed out per Read at most
constexpr int kDecodeStep = 16384;            // bytes asked of the library per step

int FdOf(void* source) { return static_cast<int>(reinterpret_cast<std::intptr_t>(source)); }

// The file layer reads through these, so a file of ours and a caller's
// descriptor (a pipe included) are read alike. The library clears errno
// before a read and tells end of data from failure by it.
std::size_t ReadCallback(void* ptr, std::size_t size, std::size_t count, void* source) {
    if (size == 0 || count == 0) return 0;
    for (;;) {
        ssize_t n = ::read(FdOf(source), ptr, size * count);
        if (n < 0 && errno == EINTR) continue;
        return n <= 0 ? 0 : std::size_t(n) / size;
    }
}

// A descriptor that cannot seek (a pipe) answers -1, which makes the file
// layer treat the stream as non-seekable.
int SeekCallback(void* source, ogg_int64_t offset, int whence) {
    return ::lseek(FdOf(source), off_t(offset), whence) < 0 ? -1 : 0;
}

// We close what we opened ourselves; a caller's descriptor stays theirs.
int CloseCallback(void*) { return 0; }

long TellCallback(void* source) { return long(::lseek(FdOf(source), 0, SEEK_CUR)); }

constexpr ov_callbacks kCallbacks{ReadCallback, SeekCallback, CloseCallback, TellCallback};

// The average bitrate of the audio data of the whole stream. The library's
// own figure for a seekable stream stops at the start of the last page, so
// it falls short on short files and is 0 for a file of one audio page; the
// audio here runs from each link's first audio page to the next link, and
// for the last link to the end of the file.
long AverageBitrate(OggVorbis_File& vf) {
    if (!ov_seekable(&vf) || vf.links < 1) return ov_bitrate(&vf, -1);
    const double seconds = ov_time_total(&vf, -1);
    if (!(seconds > 0)) return ov_bitrate(&vf, -1);
    ogg_int64_t bytes = 0;
    for (int i = 0; i < vf.links; ++i) {
        const ogg_int64_t end = i + 1 < vf.links ? vf.offsets[i + 1] : vf.end;
        bytes += std::max<ogg_int64_t>(end - vf.dataoffsets[i], 0);
    }
    return std::lround(double(bytes) * 8 / seconds);
}

}  // namespace

VorbisDecoder::VorbisDecoder() : DecoderObject(kClassVorbisDecoder) {}

VorbisDecoder::~VorbisDecoder() = default;

HRESULT VorbisDecoder::Open(BSTR szFilename) {
    if (HRESULT hr = Close(); FAILED(hr)) return hr;
    if (HRESULT hr = input_.OpenNamed(identity().clsid, szFilename); FAILED(hr)) return hr;
    return OpenStream();
}

HRESULT VorbisDecoder::OpenHandle(void* hSource) {
    if (HRESULT hr = Close(); FAILED(hr)) return hr;
    input_.TakeHandle(hSource);
    return OpenStream();
}

HRESULT VorbisDecoder::OpenStream() {
    ForgetDamage();
    formatChange_.clear();
    auto vf = std::make_unique<OggVorbis_File>();
    if (input_.fd < 0 ||
        ov_open_callbacks(reinterpret_cast<void*>(std::intptr_t(input_.fd)), vf.get(), nullptr, 0, kCallbacks) < 0) {
        // The library has cleared its record itself. A caller's descriptor
        // is left open: it is the caller's to close, and closing it here
        // would let the caller close a reused descriptor later.
        Close();
        return ReportError(kNotVorbis);
    }
    vf_ = std::move(vf);
    // Opening a seekable chain leaves the library at its last link; the
    // audio has to start at the beginning of the first.
    if (ov_seekable(vf_.get()) && ov_streams(vf_.get()) > 1) ov_pcm_seek(vf_.get(), 0);

    const vorbis_info* vi = ov_info(vf_.get(), -1);
    format_ = WAVEFORMATEX{};
    format_.wFormatTag = WAVE_FORMAT_PCM;
    format_.nChannels = WORD(vi->channels);
    format_.nSamplesPerSec = DWORD(vi->rate);
    format_.wBitsPerSample = 16;
    format_.nBlockAlign = WORD(2 * vi->channels);
    format_.nAvgBytesPerSec = format_.nSamplesPerSec * format_.nBlockAlign;

    const long bitrate = AverageBitrate(*vf_);
    bitrate_ = bitrate < 0 ? -1 : LONG(std::min<long>(bitrate, LONG_MAX));
    const double total = ov_time_total(vf_.get(), -1);
    duration_ = total < 0 ? -1.0 : total;

    vorbis::CommentTable table;
    std::vector<TagPicture> pictures;
    if (const vorbis_comment* vc = ov_comment(vf_.get(), -1)) {
        std::vector<std::string_view> comments;
        for (int i = 0; i < vc->comments; ++i)
            comments.emplace_back(vc->user_comments[i], std::size_t(std::max(vc->comment_lengths[i], 0)));
        table = vorbis::BuildCommentTable(vc->vendor ? vc->vendor : "", comments);
        pictures = vorbis::PicturesFromComments(comments);
    }
    SetTags(vorbis::TagsFromCommentTable(table));
    SetFields(vorbis::FieldsFromCommentTable(table));
    SetPictures(std::move(pictures));
    return S_OK;
}

HRESULT VorbisDecoder::get_Position(LONG* value) {
    if (HRESULT hr = CheckGet(value, IsOpen()); FAILED(hr)) return hr;
    // The library's position runs ahead of what Read has handed out by what
    // still waits in the buffer.
    ogg_int64_t frames = ov_pcm_tell(vf_.get());
    if (pcm_ && format_.nBlockAlign) frames -= ogg_int64_t(pcm_->size() / format_.nBlockAlign);
    *value = frames <= 0 || format_.nSamplesPerSec == 0 ? 0 : LONG(frames / format_.nSamplesPerSec);
    return S_OK;
}

HRESULT VorbisDecoder::get_Format(WAVEFORMATEX** value) {
    if (HRESULT hr = CheckGet(value, IsOpen()); FAILED(hr)) return hr;
    *value = &format_;
    return S_OK;
}

HRESULT VorbisDecoder::get_Bitrate(LONG* value) {
    if (HRESULT hr = CheckGet(value, IsOpen()); FAILED(hr)) return hr;
    if (bitrate_ != -1) {
        *value = bitrate_;
    } else {
        const long instant = ov_bitrate_instant(vf_.get());
        *value = instant < 0 ? 0 : LONG(std::min<long>(instant, LONG_MAX));
    }
    return S_OK;
}

HRESULT VorbisDecoder::get_Duration(LONG* value) {
    if (HRESULT hr = CheckGet(value, IsOpen()); FAILED(hr)) return hr;
    if (duration_ == -1.0) return ReportError(kNonSeekableDuration);
    *value = LONG(std::min(duration_, double(LONG_MAX)));
    return S_OK;
}

HRESULT VorbisDecoder::get_Filename(BSTR* value) {
    if (HRESULT hr = CheckGet(value, IsOpen()); FAILED(hr)) return hr;
    *value = SysAllocString(std::u16string_view(input_.fileName));
    return *value ? S_OK : E_OUTOFMEMORY;
}

HRESULT VorbisDecoder::Seek(LONG position) {
    if (!IsOpen()) return ReportError(texts::kDecoderSeekNotOpen);
    if (input_.byHandle) return ReportError(kSeekHandle);
    if (!ov_seekable(vf_.get())) return ReportError(kNotSeekable);
    if (ov_time_seek(vf_.get(), double(position)) != 0) return ReportError(kSeekFailed);
    // What was decoded before the seek belongs to the old position; handing
    // it out now would put stale audio in front of the new position's.
    if (pcm_) pcm_->Clear();
    formatChange_.clear();
    return S_OK;
}

HRESULT VorbisDecoder::Read(BYTE* data, LONG count, LONG* read) {
    if (!data || !read) return E_POINTER;
    *read = 0;
    if (!IsOpen()) return ReportError(texts::kDecoderReadNotOpen);
    if (count < 0) return E_INVALIDARG;
    if (!pcm_) pcm_.emplace(kPcmCapacity);
    const std::size_t want = std::min<std::size_t>(std::size_t(count), kMaxRead);
    // Below `want` there is always room for one more step: want + step is
    // well under the buffer's capacity.
    std::array<char, kDecodeStep> step;
    bool ended = false;
    while (pcm_->size() < want && formatChange_.empty()) {
        int section = 0;
        const ogg_int64_t before = ov_pcm_tell(vf_.get());
        const long n = ov_read(vf_.get(), step.data(), kDecodeStep, 0, 2, 1, &section);
        if (n == 0) {
            ended = true;
            break;
        }
        if (n == OV_HOLE) {
            // Pages lost to damage (a bad checksum, a cut): the library goes
            // on at the next good page, as a player would.
            NoteDamage(0);
            continue;
        }
        if (n < 0) return ReportError(n == OV_EBADLINK ? kBadSection : kReadFailed);
        if (const vorbis_info* vi = ov_info(vf_.get(), -1);
            vi && (vi->channels != format_.nChannels || DWORD(vi->rate) != format_.nSamplesPerSec)) {
            // What came before the change still goes out; the read that
            // finds nothing more fails.
            const ogg_int64_t at = before < 0 ? 0 : before;
            formatChange_ = FormatChangeText(int(format_.nSamplesPerSec), format_.nChannels, int(vi->rate),
                                             vi->channels, long(at / std::max<DWORD>(format_.nSamplesPerSec, 1)));
            break;
        }
        if (format_.nBlockAlign && before >= 0) {
            // The position follows the granule positions of the pages, so
            // where pages were lost (with a hole reported or not) it jumps
            // ahead of the samples handed out by what they held.
            const ogg_int64_t expected = before + n / format_.nBlockAlign;
            const ogg_int64_t now = ov_pcm_tell(vf_.get());
            if (now > expected) NoteDamage(double(now - expected) / format_.nSamplesPerSec);
        }
        // The library hands out whole frames in the stream's own order.
        if (const vorbis_info* vi = ov_info(vf_.get(), -1))
            vorbis::VorbisToWavOrder({reinterpret_cast<std::uint8_t*>(step.data()), std::size_t(n)}, vi->channels);
        pcm_->Push(step.data(), std::size_t(n));
    }
    if (!formatChange_.empty() && pcm_->size() == 0) return ReportError(formatChange_);
    *read = LONG(pcm_->Pop(data, want));
    if (ended && pcm_->size() == 0) pcm_.reset();
    return S_OK;
}

HRESULT VorbisDecoder::Close() {
    if (vf_) ov_clear(vf_.get());
    vf_.reset();
    input_.Reset();
    pcm_.reset();
    format_ = WAVEFORMATEX{};
    bitrate_ = 0;
    duration_ = 0;
    return S_OK;
}

}  // namespace kiv

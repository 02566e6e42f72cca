#include "components/opus/opus_decoder.h"

#include "components/opus/opus_gain.h"

#include <fcntl.h>
#include <opus/opusfile.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>

#include "components/vorbis/channel_order.h"
#include "components/vorbis/picture_block.h"
#include "components/vorbis/vorbis_comments.h"

namespace kiv {
namespace {

constexpr char16_t kNotOpus[] = u"Cannot open: not an Opus file.";
constexpr char16_t kNonSeekableDuration[] = u"Cannot detect stream duration. Stream is non-seekable.";
constexpr char16_t kSeekHandle[] = u"Seek error: cannot seek when using application handle.";
constexpr char16_t kNotSeekable[] = u"Cannot seek: stream is not seekable.";
constexpr char16_t kSeekFailed[] = u"Seek error.";
constexpr char16_t kReadFailed[] = u"Read error: the Opus stream cannot be decoded further.";

constexpr int kRate = 48000;
constexpr std::size_t kMaxRead = 65536;
// A step of the library: 120 ms at 48 kHz, its longest packet, for up to
// eight channels.
constexpr int kStepSamples = 5760 * 8;

int FdOf(void* source) { return static_cast<int>(reinterpret_cast<std::intptr_t>(source)); }

int ReadCallback(void* source, unsigned char* ptr, int bytes) {
    for (;;) {
        const ssize_t n = ::read(FdOf(source), ptr, std::size_t(bytes));
        if (n < 0 && errno == EINTR) continue;
        return n < 0 ? -1 : int(n);
    }
}

int SeekCallback(void* source, opus_int64 offset, int whence) {
    return ::lseek(FdOf(source), off_t(offset), whence) < 0 ? -1 : 0;
}

opus_int64 TellCallback(void* source) { return opus_int64(::lseek(FdOf(source), 0, SEEK_CUR)); }

// A caller's descriptor is left out of the table: without seek and tell
// the library reads it as a stream, as it must for a pipe.
constexpr OpusFileCallbacks kFileCallbacks{ReadCallback, SeekCallback, TellCallback, nullptr};
constexpr OpusFileCallbacks kStreamCallbacks{ReadCallback, nullptr, nullptr, nullptr};

}  // namespace

void opus::FileDeleter::operator()(OggOpusFile* f) const { op_free(f); }

OpusDecoder::OpusDecoder() : DecoderObject(kClassOpusDecoder) {}

OpusDecoder::~OpusDecoder() = default;

HRESULT OpusDecoder::Open(BSTR szFilename) {
    if (HRESULT hr = Close(); FAILED(hr)) return hr;
    if (HRESULT hr = input_.OpenNamed(identity().clsid, szFilename); FAILED(hr)) return hr;
    return OpenStream();
}

HRESULT OpusDecoder::OpenHandle(void* hSource) {
    if (HRESULT hr = Close(); FAILED(hr)) return hr;
    input_.TakeHandle(hSource);
    return OpenStream();
}

HRESULT OpusDecoder::OpenStream() {
    ForgetDamage();
    SetTags(TagRecord{});
    SetFields({});
    SetPictures({});
    int error = 0;
    OggOpusFile* of = nullptr;
    if (input_.fd >= 0)
        of = op_open_callbacks(reinterpret_cast<void*>(std::intptr_t(input_.fd)),
                               input_.byHandle ? &kStreamCallbacks : &kFileCallbacks, nullptr, 0, &error);
    if (!of) {
        Close();
        return ReportError(kNotOpus);
    }
    file_.reset(of);
    const int channels = op_channel_count(of, -1);
    format_ = WAVEFORMATEX{};
    format_.wFormatTag = WAVE_FORMAT_PCM;
    format_.nChannels = WORD(channels);
    format_.nSamplesPerSec = kRate;
    format_.wBitsPerSample = 16;
    format_.nBlockAlign = WORD(2 * channels);
    format_.nAvgBytesPerSec = format_.nSamplesPerSec * format_.nBlockAlign;
    const opus_int64 total = op_seekable(of) ? op_pcm_total(of, -1) : -1;
    totalFrames_ = total < 0 ? -1 : std::int64_t(total);
    const opus_int32 bitrate = op_seekable(of) ? op_bitrate(of, -1) : -1;
    bitrate_ = bitrate < 0 ? 0 : LONG(bitrate);

    if (const OpusTags* tags = op_tags(of, -1)) {
        std::vector<std::string_view> comments;
        for (int i = 0; i < tags->comments; ++i)
            comments.emplace_back(tags->user_comments[i], std::size_t(std::max(tags->comment_lengths[i], 0)));
        const vorbis::CommentTable table = vorbis::BuildCommentTable(tags->vendor ? tags->vendor : "", comments);
        SetTags(vorbis::TagsFromCommentTable(table));
        std::vector<TagField> fields = vorbis::FieldsFromCommentTable(table);
        opus::AddGainFields(table, fields);
        SetFields(std::move(fields));
        SetPictures(vorbis::PicturesFromComments(comments));
    }
    return S_OK;
}

HRESULT OpusDecoder::get_Position(LONG* value) {
    if (HRESULT hr = CheckGet(value, IsOpen()); FAILED(hr)) return hr;
    *value = LONG(std::min<std::int64_t>(position_ / kRate, LONG_MAX));
    return S_OK;
}

HRESULT OpusDecoder::get_Format(WAVEFORMATEX** value) {
    if (HRESULT hr = CheckGet(value, IsOpen()); FAILED(hr)) return hr;
    *value = &format_;
    return S_OK;
}

HRESULT OpusDecoder::get_Bitrate(LONG* value) {
    if (HRESULT hr = CheckGet(value, IsOpen()); FAILED(hr)) return hr;
    if (bitrate_ > 0) {
        *value = bitrate_;
    } else {
        const opus_int32 instant = op_bitrate_instant(file_.get());
        *value = instant < 0 ? 0 : LONG(instant);
    }
    return S_OK;
}

HRESULT OpusDecoder::get_Duration(LONG* value) {
    if (HRESULT hr = CheckGet(value, IsOpen()); FAILED(hr)) return hr;
    if (totalFrames_ < 0) return ReportError(kNonSeekableDuration);
    *value = LONG(std::min<std::int64_t>(totalFrames_ / kRate, LONG_MAX));
    return S_OK;
}

HRESULT OpusDecoder::get_Filename(BSTR* value) {
    if (HRESULT hr = CheckGet(value, IsOpen()); FAILED(hr)) return hr;
    *value = SysAllocString(std::u16string_view(input_.fileName));
    return *value ? S_OK : E_OUTOFMEMORY;
}

HRESULT OpusDecoder::Seek(LONG position) {
    if (!IsOpen()) return ReportError(texts::kDecoderSeekNotOpen);
    if (input_.byHandle) return ReportError(kSeekHandle);
    if (!op_seekable(file_.get())) return ReportError(kNotSeekable);
    if (position < 0) return ReportError(kSeekFailed);
    const std::int64_t target = std::min<std::int64_t>(std::int64_t(position) * kRate, totalFrames_);
    if (op_pcm_seek(file_.get(), target) != 0) return ReportError(kSeekFailed);
    // Samples decoded before the seek belong to the old position.
    pcm_.clear();
    pcmTaken_ = 0;
    position_ = target;
    formatChange_.clear();
    return S_OK;
}

HRESULT OpusDecoder::Read(BYTE* data, LONG count, LONG* read) {
    if (!data || !read) return E_POINTER;
    *read = 0;
    if (!IsOpen()) return ReportError(texts::kDecoderReadNotOpen);
    if (count < 0) return E_INVALIDARG;
    const std::size_t channels = format_.nChannels;
    const std::size_t wantSamples = std::min<std::size_t>(std::size_t(count), kMaxRead) / 2;
    if (step_.empty()) step_.resize(kStepSamples);
    while (pcm_.size() - pcmTaken_ < wantSamples && formatChange_.empty()) {
        if (pcmTaken_ > 0) {
            pcm_.erase(pcm_.begin(), pcm_.begin() + std::ptrdiff_t(pcmTaken_));
            pcmTaken_ = 0;
        }
        const std::size_t at = pcm_.size();
        int link = 0;
        // The library's own 16-bit output adds noise-shaped dither; rounding
        // the float output keeps the samples what the codec decoded.
        const int n = op_read_float(file_.get(), step_.data(), kStepSamples, &link);
        if (n == 0) break;
        if (n == OP_HOLE) {
            // Pages lost to damage: the library goes on at the next good
            // page, as a player would.
            NoteDamage(0);
            continue;
        }
        if (n < 0) {
            if (at > 0) break;
            return ReportError(kReadFailed);
        }
        if (std::size_t(op_channel_count(file_.get(), link)) != channels) {
            formatChange_ = FormatChangeText(kRate, int(channels), kRate, op_channel_count(file_.get(), link),
                                             long((position_ + std::int64_t(at / channels)) / kRate));
            break;
        }
        pcm_.resize(at + std::size_t(n) * channels);
        for (std::size_t i = 0; i < std::size_t(n) * channels; ++i)
            pcm_[at + i] = std::int16_t(std::lrint(std::clamp(step_[i] * 32768.0f, -32768.0f, 32767.0f)));
        // The library hands out the stream's own (Vorbis) channel order.
        vorbis::VorbisToWavOrder({reinterpret_cast<std::uint8_t*>(pcm_.data() + at), std::size_t(n) * channels * 2},
                                 int(channels));
    }
    const std::size_t available = pcm_.size() - pcmTaken_;
    if (available == 0 && !formatChange_.empty()) return ReportError(formatChange_);
    std::size_t n = std::min(wantSamples, available);
    if (n >= channels) n -= n % channels;
    std::memcpy(data, pcm_.data() + pcmTaken_, n * 2);
    pcmTaken_ += n;
    position_ += std::int64_t(n / channels);
    if (pcmTaken_ == pcm_.size()) {
        pcm_.clear();
        pcmTaken_ = 0;
    }
    *read = LONG(n * 2);
    return S_OK;
}

HRESULT OpusDecoder::Close() {
    file_.reset();
    input_.Reset();
    format_ = WAVEFORMATEX{};
    bitrate_ = 0;
    totalFrames_ = -1;
    pcm_.clear();
    pcmTaken_ = 0;
    position_ = 0;
    formatChange_.clear();
    return S_OK;
}

}  // namespace kiv

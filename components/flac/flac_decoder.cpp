#include "components/flac/flac_decoder.h"

#include <FLAC/stream_decoder.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "components/common/decoder_selection.h"
#include "components/vorbis/vorbis_comments.h"

namespace kiv {
namespace {

constexpr char16_t kNotFlac[] = u"Cannot open: not a FLAC file.";
constexpr char16_t kNoDuration[] = u"Cannot detect stream duration: the stream header does not give it.";
constexpr char16_t kSeekHandle[] = u"Seek error: cannot seek when using application handle.";
constexpr char16_t kSeekFailed[] = u"Seek error.";
constexpr char16_t kReadFailed[] = u"Read error: the FLAC stream cannot be decoded further.";

constexpr std::size_t kMaxRead = 65536;

int ContainerBits(unsigned bits) { return bits <= 8 ? 8 : bits <= 16 ? 16 : bits <= 24 ? 24 : 32; }

// Where the FLAC stream of a file begins: behind an ID3v2 tag that some
// taggers put in front of it, else at 0. The library passes over such a tag
// itself, but not over one with a footer; the stream is the library's from
// "fLaC" on, so its offsets (and seek points) count from there.
std::int64_t StartBehindId3v2Tag(int fd, std::int64_t fileSize) {
    std::uint8_t head[10];
    const std::uint64_t tag = ::pread(fd, head, sizeof head, 0) == long(sizeof head) ? Id3v2TagLength(head, 10) : 0;
    std::uint8_t magic[4];
    if (tag == 0 || tag + sizeof magic > std::uint64_t(fileSize) ||
        ::pread(fd, magic, sizeof magic, off_t(tag)) != long(sizeof magic) || std::memcmp(magic, "fLaC", 4) != 0)
        return 0;
    return std::int64_t(tag);
}

}  // namespace

namespace flac {

void DecoderDeleter::operator()(FLAC__StreamDecoder* d) const {
    FLAC__stream_decoder_finish(d);
    FLAC__stream_decoder_delete(d);
}

// The library's callbacks, with the decoder object as client data.
struct DecoderCallbacks {
    static FLAC__StreamDecoderReadStatus Read(const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* bytes,
                                              void* client) {
        auto* self = static_cast<FlacDecoder*>(client);
        if (*bytes == 0) return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
        for (;;) {
            const ssize_t n = ::read(self->input_.fd, buffer, *bytes);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
            *bytes = std::size_t(n);
            return n == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
        }
    }
    static FLAC__StreamDecoderSeekStatus Seek(const FLAC__StreamDecoder*, FLAC__uint64 offset, void* client) {
        auto* self = static_cast<FlacDecoder*>(client);
        if (self->input_.byHandle) return FLAC__STREAM_DECODER_SEEK_STATUS_UNSUPPORTED;
        return ::lseek(self->input_.fd, off_t(self->streamStart_ + offset), SEEK_SET) < 0
                   ? FLAC__STREAM_DECODER_SEEK_STATUS_ERROR
                   : FLAC__STREAM_DECODER_SEEK_STATUS_OK;
    }
    static FLAC__StreamDecoderTellStatus Tell(const FLAC__StreamDecoder*, FLAC__uint64* offset, void* client) {
        auto* self = static_cast<FlacDecoder*>(client);
        if (self->input_.byHandle) return FLAC__STREAM_DECODER_TELL_STATUS_UNSUPPORTED;
        const off_t at = ::lseek(self->input_.fd, 0, SEEK_CUR);
        if (at < 0) return FLAC__STREAM_DECODER_TELL_STATUS_ERROR;
        *offset = FLAC__uint64(at - self->streamStart_);
        return FLAC__STREAM_DECODER_TELL_STATUS_OK;
    }
    static FLAC__StreamDecoderLengthStatus Length(const FLAC__StreamDecoder*, FLAC__uint64* length, void* client) {
        auto* self = static_cast<FlacDecoder*>(client);
        if (self->fileBytes_ < 0) return FLAC__STREAM_DECODER_LENGTH_STATUS_UNSUPPORTED;
        *length = FLAC__uint64(self->fileBytes_);
        return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
    }
    static FLAC__bool Eof(const FLAC__StreamDecoder*, void* client) {
        auto* self = static_cast<FlacDecoder*>(client);
        if (self->fileBytes_ < 0) return false;
        return ::lseek(self->input_.fd, 0, SEEK_CUR) >= self->streamStart_ + self->fileBytes_;
    }

    static FLAC__StreamDecoderWriteStatus Write(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                                const FLAC__int32* const buffer[], void* client) {
        auto* self = static_cast<FlacDecoder*>(client);
        const FLAC__FrameHeader& h = frame->header;
        if (h.channels != self->channels_ || h.sample_rate != self->rate_) {
            self->formatChange_ =
                FormatChangeText(int(self->rate_), int(self->channels_), int(h.sample_rate), int(h.channels),
                                 long((self->position_ + (self->pcm_.size() - self->pcmTaken_) /
                                                             std::max<WORD>(self->format_.record.Format.nBlockAlign, 1)) /
                                      std::max(self->rate_, 1u)));
            return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
        }
        const int container = ContainerBits(self->sourceBits_);
        const int shift = container - int(h.bits_per_sample ? h.bits_per_sample : self->sourceBits_);
        const std::size_t bytesPerSample = std::size_t(container / 8);
        // Drop what was handed out before appending, so the buffer holds
        // no more than one frame beyond the caller's request.
        self->pcm_.erase(self->pcm_.begin(), self->pcm_.begin() + std::ptrdiff_t(self->pcmTaken_));
        self->pcmTaken_ = 0;
        const std::size_t at = self->pcm_.size();
        self->pcm_.resize(at + std::size_t(h.blocksize) * h.channels * bytesPerSample);
        BYTE* out = self->pcm_.data() + at;
        for (unsigned i = 0; i < h.blocksize; ++i) {
            for (unsigned c = 0; c < h.channels; ++c) {
                const std::uint32_t v = std::uint32_t(buffer[c][i]) << (shift > 0 ? shift : 0);
                if (container == 8) {
                    *out++ = BYTE(v + 128);
                } else {
                    for (std::size_t b = 0; b < bytesPerSample; ++b) *out++ = BYTE(v >> (8 * b));
                }
            }
        }
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }

    static void Metadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* m, void* client) {
        auto* self = static_cast<FlacDecoder*>(client);
        if (m->type == FLAC__METADATA_TYPE_STREAMINFO) {
            const FLAC__StreamMetadata_StreamInfo& si = m->data.stream_info;
            self->haveInfo_ = true;
            self->channels_ = si.channels;
            self->rate_ = si.sample_rate;
            self->sourceBits_ = si.bits_per_sample;
            self->totalFrames_ = si.total_samples;
        } else if (m->type == FLAC__METADATA_TYPE_VORBIS_COMMENT) {
            const FLAC__StreamMetadata_VorbisComment& vc = m->data.vorbis_comment;
            std::vector<std::string_view> comments;
            for (FLAC__uint32 i = 0; i < vc.num_comments; ++i)
                comments.emplace_back(reinterpret_cast<const char*>(vc.comments[i].entry), vc.comments[i].length);
            const std::string vendor(reinterpret_cast<const char*>(vc.vendor_string.entry),
                                     vc.vendor_string.entry ? vc.vendor_string.length : 0);
            const vorbis::CommentTable table = vorbis::BuildCommentTable(vendor.c_str(), comments);
            self->SetTags(vorbis::TagsFromCommentTable(table));
            self->SetFields(vorbis::FieldsFromCommentTable(table));
        } else if (m->type == FLAC__METADATA_TYPE_PICTURE) {
            const FLAC__StreamMetadata_Picture& p = m->data.picture;
            if (p.data_length == 0 || !p.data) return;
            TagPicture picture;
            picture.type = long(p.type);
            picture.mimeType = p.mime_type ? p.mime_type : "";
            picture.description = FromUtf8Text(p.description ? reinterpret_cast<const char*>(p.description) : "");
            picture.data.assign(p.data, p.data + p.data_length);
            std::vector<TagPicture> all = self->Pictures();
            all.push_back(std::move(picture));
            self->SetPictures(std::move(all));
        }
    }

    static void Error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status, void* client) {
        auto* self = static_cast<FlacDecoder*>(client);
        // The library goes on at the next frame it can sync to, as a player
        // would; what was passed over goes into the damage account.
        if (self->firstProblem_.empty()) self->firstProblem_ = std::string("flac: ") + FLAC__StreamDecoderErrorStatusString[status];
        self->SetDamage(0, self->firstProblem_);
    }
};

}  // namespace flac

FlacDecoder::FlacDecoder() : DecoderObject(kClassFlacDecoder) {}

FlacDecoder::~FlacDecoder() = default;

HRESULT FlacDecoder::Open(BSTR szFilename) {
    if (HRESULT hr = Close(); FAILED(hr)) return hr;
    if (HRESULT hr = input_.OpenNamed(identity().clsid, szFilename); FAILED(hr)) return hr;
    return OpenStream();
}

HRESULT FlacDecoder::OpenHandle(void* hSource) {
    if (HRESULT hr = Close(); FAILED(hr)) return hr;
    input_.TakeHandle(hSource);
    return OpenStream();
}

HRESULT FlacDecoder::OpenStream() {
    ForgetDamage();
    SetTags(TagRecord{});
    SetFields({});
    SetPictures({});
    struct stat st;
    const bool regular = !input_.byHandle && input_.fd >= 0 && ::fstat(input_.fd, &st) == 0 && S_ISREG(st.st_mode);
    streamStart_ = regular ? StartBehindId3v2Tag(input_.fd, st.st_size) : 0;
    fileBytes_ = regular ? std::int64_t(st.st_size) - streamStart_ : -1;
    if (streamStart_ > 0 && ::lseek(input_.fd, off_t(streamStart_), SEEK_SET) < 0) {
        Close();
        return ReportError(kNotFlac);
    }
    std::unique_ptr<FLAC__StreamDecoder, flac::DecoderDeleter> d(FLAC__stream_decoder_new());
    if (!d || input_.fd < 0) {
        Close();
        return ReportError(kNotFlac);
    }
    FLAC__stream_decoder_set_md5_checking(d.get(), false);
    FLAC__stream_decoder_set_metadata_respond(d.get(), FLAC__METADATA_TYPE_VORBIS_COMMENT);
    FLAC__stream_decoder_set_metadata_respond(d.get(), FLAC__METADATA_TYPE_PICTURE);
    using C = flac::DecoderCallbacks;
    if (FLAC__stream_decoder_init_stream(d.get(), C::Read, C::Seek, C::Tell, C::Length, C::Eof, C::Write, C::Metadata,
                                         C::Error, this) != FLAC__STREAM_DECODER_INIT_STATUS_OK ||
        !FLAC__stream_decoder_process_until_end_of_metadata(d.get()) || !haveInfo_ || channels_ == 0 || rate_ == 0 ||
        sourceBits_ < 4) {
        // A caller's descriptor is left open: it is the caller's to close.
        d.reset();
        Close();
        return ReportError(kNotFlac);
    }
    decoder_ = std::move(d);
    PcmLayout layout;
    layout.channels = WORD(channels_);
    layout.rate = rate_;
    layout.bits = WORD(ContainerBits(sourceBits_));
    format_ = MakePcmFormatRecord(layout);
    // The damage of the metadata (a sync lost before the audio) counts too,
    // but not a file that is no FLAC at all, refused above.
    return S_OK;
}

HRESULT FlacDecoder::get_Position(LONG* value) {
    if (HRESULT hr = CheckGet(value, IsOpen()); FAILED(hr)) return hr;
    *value = LONG(std::min<std::uint64_t>(position_ / std::max(rate_, 1u), LONG_MAX));
    return S_OK;
}

HRESULT FlacDecoder::get_Format(WAVEFORMATEX** value) {
    if (HRESULT hr = CheckGet(value, IsOpen()); FAILED(hr)) return hr;
    *value = format_.get();
    return S_OK;
}

HRESULT FlacDecoder::get_Bitrate(LONG* value) {
    if (HRESULT hr = CheckGet(value, IsOpen()); FAILED(hr)) return hr;
    *value = 0;
    if (fileBytes_ > 0 && totalFrames_ > 0)
        *value = LONG(std::min<double>(double(fileBytes_) * 8 * rate_ / double(totalFrames_), LONG_MAX));
    return S_OK;
}

HRESULT FlacDecoder::get_Duration(LONG* value) {
    if (HRESULT hr = CheckGet(value, IsOpen()); FAILED(hr)) return hr;
    if (totalFrames_ == 0) return ReportError(kNoDuration);
    *value = LONG(std::min<std::uint64_t>(totalFrames_ / rate_, LONG_MAX));
    return S_OK;
}

HRESULT FlacDecoder::get_Filename(BSTR* value) {
    if (HRESULT hr = CheckGet(value, IsOpen()); FAILED(hr)) return hr;
    *value = SysAllocString(std::u16string_view(input_.fileName));
    return *value ? S_OK : E_OUTOFMEMORY;
}

HRESULT FlacDecoder::Seek(LONG position) {
    if (!IsOpen()) return ReportError(texts::kDecoderSeekNotOpen);
    if (input_.byHandle) return ReportError(kSeekHandle);
    if (position < 0) return ReportError(kSeekFailed);
    const std::uint64_t target = std::uint64_t(position) * rate_;
    pcm_.clear();
    pcmTaken_ = 0;
    formatChange_.clear();
    if (totalFrames_ > 0 && target >= totalFrames_) {
        // At or past the end: nothing more to hand out.
        position_ = totalFrames_;
        ended_ = true;
        return S_OK;
    }
    if (!FLAC__stream_decoder_seek_absolute(decoder_.get(), target)) {
        // A failed seek leaves the library needing a flush before it reads on.
        FLAC__stream_decoder_flush(decoder_.get());
        pcm_.clear();
        pcmTaken_ = 0;
        return ReportError(kSeekFailed);
    }
    // The library decodes the frame holding the target and hands out its
    // samples from the target on; they are in the buffer already.
    position_ = target;
    ended_ = false;
    return S_OK;
}

HRESULT FlacDecoder::Read(BYTE* data, LONG count, LONG* read) {
    if (!data || !read) return E_POINTER;
    *read = 0;
    if (!IsOpen()) return ReportError(texts::kDecoderReadNotOpen);
    if (count < 0) return E_INVALIDARG;
    const std::size_t frame = format_.record.Format.nBlockAlign;
    std::size_t want = std::min<std::size_t>(std::size_t(count), kMaxRead);
    while (pcm_.size() - pcmTaken_ < want && !ended_ && formatChange_.empty()) {
        const bool ok = FLAC__stream_decoder_process_single(decoder_.get());
        const FLAC__StreamDecoderState state = FLAC__stream_decoder_get_state(decoder_.get());
        if (state == FLAC__STREAM_DECODER_END_OF_STREAM) ended_ = true;
        else if (!formatChange_.empty()) break;
        else if (!ok || state == FLAC__STREAM_DECODER_ABORTED || state == FLAC__STREAM_DECODER_MEMORY_ALLOCATION_ERROR) {
            if (pcm_.size() > pcmTaken_) break;  // what came before still goes out
            return ReportError(kReadFailed);
        }
    }
    const std::size_t available = pcm_.size() - pcmTaken_;
    if (available == 0 && !formatChange_.empty()) return ReportError(formatChange_);
    std::size_t n = std::min(want, available);
    if (frame > 1) n -= n % frame;
    if (n == 0 && available > 0) n = std::min(want, available);  // a request under one frame
    std::memcpy(data, pcm_.data() + pcmTaken_, n);
    pcmTaken_ += n;
    if (frame) position_ += n / frame;
    if (pcmTaken_ == pcm_.size()) {
        pcm_.clear();
        pcmTaken_ = 0;
    }
    *read = LONG(n);
    return S_OK;
}

HRESULT FlacDecoder::Close() {
    decoder_.reset();
    input_.Reset();
    haveInfo_ = false;
    channels_ = rate_ = sourceBits_ = 0;
    totalFrames_ = 0;
    format_ = PcmFormatRecord{};
    fileBytes_ = -1;
    streamStart_ = 0;
    pcm_.clear();
    pcmTaken_ = 0;
    position_ = 0;
    ended_ = false;
    formatChange_.clear();
    firstProblem_.clear();
    return S_OK;
}

}  // namespace kiv

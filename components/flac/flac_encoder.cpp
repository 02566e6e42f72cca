#include "components/flac/flac_encoder.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <vector>

#include "components/vorbis/picture_block.h"
#include "components/vorbis/vorbis_comments.h"
#include "platform/system/system_error.h"
#include "platform/system/text.h"

namespace kiv {
namespace {

// The lossless format keeps every integer depth a WAV file holds, at any
// rate its stream header can carry.
constexpr WORD kFlacDepths[] = {8, 16, 24, 32};

constexpr EncoderTraits kFlacTraits{
    .extension = u".flac",
    .caption = u"FLAC Encoder Control",
    .checkWfx = true,
    .asyncBlock = 4096,
    .syncBlock = 4096,
    .checkWriteResult = false,
    .maxChannels = 8,
    .depths = kFlacDepths,
    .maxRate = LONG(FLAC__MAX_SAMPLE_RATE),
};

constexpr char16_t kNoCbr[] = u"FLAC doesn't support constant bitrate encoding.";
constexpr char16_t kNoAbr[] = u"FLAC does not support Average Bitrate mode.";
constexpr char16_t kBadQuality[] = u"fQuality must be between 0 and 1.";
constexpr char16_t kSetupFailed[] = u"FLAC encoder set-up failed: %s.";
constexpr char16_t kWriteFailed[] = u"Write error. System error message: %s.";
constexpr char16_t kEncodeFailed[] = u"FLAC encoding failed: %s.";
constexpr char16_t kOutOfMemory[] = u"Out of memory.";
constexpr char16_t kBadBlockAlign[] =
    u"FLAC encoder set-up failed: the input's block alignment does not match its channels and sample size.";

// Frames handed to the library per call.
constexpr std::size_t kBlockFrames = 4608;

FLAC__StreamEncoderWriteStatus WriteCallback(const FLAC__StreamEncoder*, const FLAC__byte buffer[], size_t bytes,
                                             uint32_t, uint32_t, void* client);
FLAC__StreamEncoderSeekStatus SeekCallback(const FLAC__StreamEncoder*, FLAC__uint64 offset, void* client);
FLAC__StreamEncoderTellStatus TellCallback(const FLAC__StreamEncoder*, FLAC__uint64* offset, void* client);

}  // namespace

namespace flac {

struct MetadataDeleter {
    void operator()(FLAC__StreamMetadata* m) const { FLAC__metadata_object_delete(m); }
};
using Metadata = std::unique_ptr<FLAC__StreamMetadata, MetadataDeleter>;

struct EncoderState {
    ~EncoderState() {
        if (encoder) FLAC__stream_encoder_delete(encoder);
    }
    FLAC__StreamEncoder* encoder = nullptr;
    int fd = -1;
    // A caller's pipe cannot seek: the header then keeps the counts it was
    // written with, as the library does for any unseekable output.
    int writeError = 0;
    std::vector<Metadata> blocks;  // must outlive the encoder's use of them
    std::vector<FLAC__int32> samples;
    // While the stream measures its gain: where its comment block and the
    // padding after it lie, to be rewritten with the values at the end.
    long long commentAt = -1;
    std::size_t commentRegion = 0;
    std::vector<vorbis::Comment> comments;  // as written
};

}  // namespace flac

namespace {

FLAC__StreamEncoderWriteStatus WriteCallback(const FLAC__StreamEncoder*, const FLAC__byte buffer[], size_t bytes,
                                             uint32_t, uint32_t, void* client) {
    auto* st = static_cast<flac::EncoderState*>(client);
    if (WriteAll(st->fd, buffer, bytes)) return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
    st->writeError = errno;
    return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
}

FLAC__StreamEncoderSeekStatus SeekCallback(const FLAC__StreamEncoder*, FLAC__uint64 offset, void* client) {
    auto* st = static_cast<flac::EncoderState*>(client);
    if (::lseek(st->fd, off_t(offset), SEEK_SET) < 0)
        return errno == ESPIPE ? FLAC__STREAM_ENCODER_SEEK_STATUS_UNSUPPORTED : FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
    return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
}

FLAC__StreamEncoderTellStatus TellCallback(const FLAC__StreamEncoder*, FLAC__uint64* offset, void* client) {
    auto* st = static_cast<flac::EncoderState*>(client);
    const off_t at = ::lseek(st->fd, 0, SEEK_CUR);
    if (at < 0) return errno == ESPIPE ? FLAC__STREAM_ENCODER_TELL_STATUS_UNSUPPORTED : FLAC__STREAM_ENCODER_TELL_STATUS_ERROR;
    *offset = FLAC__uint64(at);
    return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
}

// Signed little-endian samples of `Bytes` bytes: each is built in the top
// bits of a word, then shifted down arithmetically, which carries the sign.
template <std::size_t Bytes>
void ReadSigned(const BYTE* data, std::size_t count, FLAC__int32* out) {
    for (std::size_t i = 0; i < count; ++i, data += Bytes) {
        std::uint32_t u = 0;
        for (std::size_t b = 0; b < Bytes; ++b) u |= std::uint32_t(data[b]) << (8 * (4 - Bytes + b));
        out[i] = FLAC__int32(std::int32_t(u) >> (8 * (4 - Bytes)));
    }
}

std::u16string StateText(const FLAC__StreamEncoder* e) {
    return FromUtf8Text(FLAC__stream_encoder_get_resolved_state_string(e));
}

constexpr std::size_t kPadding = 4096;
constexpr std::size_t kStreamInfoEnd = 4 + 4 + FLAC__STREAM_METADATA_STREAMINFO_LENGTH;  // "fLaC", STREAMINFO

// A Vorbis comment block as the library writes it (its own vendor string),
// header included, followed by padding up to `region` bytes in all; empty
// when the comments do not leave room for the padding's header.
std::vector<std::uint8_t> CommentBlock(const std::vector<vorbis::Comment>& comments, std::size_t region = 0) {
    std::vector<std::string> entries;
    for (const vorbis::Comment& c : comments) entries.push_back(vorbis::CommentEntry(c));
    std::vector<std::uint8_t> out(4);
    const std::vector<std::uint8_t> list = vorbis::EncodeCommentList(FLAC__VENDOR_STRING, entries);
    out.insert(out.end(), list.begin(), list.end());
    auto header = [&out](std::size_t at, unsigned type, std::size_t length) {
        out[at] = std::uint8_t(type);
        out[at + 1] = std::uint8_t(length >> 16);
        out[at + 2] = std::uint8_t(length >> 8);
        out[at + 3] = std::uint8_t(length);
    };
    header(0, FLAC__METADATA_TYPE_VORBIS_COMMENT, out.size() - 4);
    if (region == 0) return out;
    // The padding is the last block.
    if (out.size() + 4 > region) return {};
    const std::size_t at = out.size();
    out.resize(region, 0);
    header(at, 0x80 | FLAC__METADATA_TYPE_PADDING, region - at - 4);
    return out;
}

}  // namespace

FlacEncoder::FlacEncoder() : CompressedEncoder(kClassFlacEncoder, kFlacTraits) {}

FlacEncoder::~FlacEncoder() = default;

unsigned FlacEncoder::LevelOfQuality(float quality) { return unsigned(std::lround(double(quality) * 8.0)); }

HRESULT FlacEncoder::SetOutputFormatVBR(float fQuality) {
    if (!(fQuality >= 0.0f && fQuality <= 1.0f)) return ReportError(kBadQuality);
    level_ = LevelOfQuality(fQuality);
    return S_OK;
}

HRESULT FlacEncoder::SetOutputFormatABR(LONG) { return ReportError(kNoAbr); }

HRESULT FlacEncoder::SetOutputFormatCBR(LONG) { return ReportError(kNoCbr); }

HRESULT FlacEncoder::PrepareStream() {
    const WAVEFORMATEX& f = inputFormat();
    // Samples are read packed, one after the other: a record whose frames
    // are wider (24 bits in 4 bytes, under the plain tag) would be read as
    // other samples and still make a valid stream.
    if (f.nBlockAlign != f.nChannels * (f.wBitsPerSample / 8u)) return ReportError(kBadBlockAlign);
    auto st = std::make_unique<flac::EncoderState>();
    st->encoder = FLAC__stream_encoder_new();
    if (!st->encoder) return ReportError(kOutOfMemory);
    st->fd = outputFd();
    FLAC__StreamEncoder* e = st->encoder;
    // A rate the frame headers cannot name (above 655350 Hz, or odd above
    // 65535 Hz) is carried by the stream header alone, which takes the
    // stream out of the streamable subset; every decoder still reads it.
    bool ok = FLAC__stream_encoder_set_channels(e, f.nChannels) &&
              FLAC__stream_encoder_set_bits_per_sample(e, f.wBitsPerSample) &&
              FLAC__stream_encoder_set_sample_rate(e, f.nSamplesPerSec) &&
              FLAC__stream_encoder_set_streamable_subset(e, FLAC__format_sample_rate_is_subset(f.nSamplesPerSec)) &&
              FLAC__stream_encoder_set_compression_level(e, level_);

    // Tags and pictures lead the stream; padding lets a tagger edit them
    // later without rewriting the audio. A stream that measures its gain
    // puts its comments last, before the padding, so that they can grow
    // into it when the values are written at the end.
    const std::vector<vorbis::Comment> tagComments = vorbis::CommentsFromTags(Tags(), FieldsToWrite());
    flac::Metadata comments(FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT));
    if (!comments) return ReportError(kOutOfMemory);
    for (const vorbis::Comment& c : tagComments) {
        FLAC__StreamMetadata_VorbisComment_Entry entry;
        if (!FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair(&entry, c.field.c_str(), c.value.c_str()) ||
            !FLAC__metadata_object_vorbiscomment_append_comment(comments.get(), entry, false))
            return ReportError(kOutOfMemory);
    }
    if (!measuringStream()) st->blocks.push_back(std::move(comments));
    std::size_t picturesSize = 0;
    for (const TagPicture& p : Pictures()) {
        if (p.data.empty() || p.data.size() > kMaxTagPictureBytes) continue;
        flac::Metadata picture(FLAC__metadata_object_new(FLAC__METADATA_TYPE_PICTURE));
        if (!picture) return ReportError(kOutOfMemory);
        std::string mime = p.mimeType;
        std::string description = ToUtf8(p.description);
        picture->data.picture.type = FLAC__StreamMetadata_Picture_Type(p.type < 0 || p.type > 20 ? 0 : p.type);
        if (!FLAC__metadata_object_picture_set_mime_type(picture.get(), mime.data(), true) ||
            !FLAC__metadata_object_picture_set_description(picture.get(),
                                                            reinterpret_cast<FLAC__byte*>(description.data()), true) ||
            !FLAC__metadata_object_picture_set_data(picture.get(), const_cast<FLAC__byte*>(p.data.data()),
                                                    FLAC__uint32(p.data.size()), true))
            return ReportError(kOutOfMemory);
        picturesSize += 4 + picture->length;
        st->blocks.push_back(std::move(picture));
    }
    if (measuringStream()) {
        st->blocks.push_back(std::move(comments));
        const off_t start = ::lseek(st->fd, 0, SEEK_CUR);
        if (start >= 0) {
            st->commentAt = start + off_t(kStreamInfoEnd + picturesSize);
            st->commentRegion = CommentBlock(tagComments).size() + 4 + kPadding;
            st->comments = tagComments;
        }
    }
    flac::Metadata padding(FLAC__metadata_object_new(FLAC__METADATA_TYPE_PADDING));
    if (!padding) return ReportError(kOutOfMemory);
    padding->length = kPadding;
    st->blocks.push_back(std::move(padding));
    std::vector<FLAC__StreamMetadata*> list;
    for (auto& b : st->blocks) list.push_back(b.get());
    ok = ok && FLAC__stream_encoder_set_metadata(e, list.data(), unsigned(list.size()));
    if (!ok) return ReportError(FormatMessageText(kSetupFailed, (StateText(e))));

    const FLAC__StreamEncoderInitStatus init =
        FLAC__stream_encoder_init_stream(e, WriteCallback, SeekCallback, TellCallback, nullptr, st.get());
    if (init != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
        if (st->writeError) return ReportError(FormatMessageText(kWriteFailed, SystemErrorText(st->writeError)));
        return ReportError(FormatMessageText(kSetupFailed, FromUtf8Text(FLAC__StreamEncoderInitStatusString[init])));
    }
    st->samples.resize(kBlockFrames * f.nChannels);
    state_ = std::move(st);
    finishFailed_ = false;
    return S_OK;
}

std::size_t FlacEncoder::BlockSize() const {
    const WAVEFORMATEX& f = inputFormat();
    return kBlockFrames * f.nChannels * (f.wBitsPerSample / 8u);
}

bool FlacEncoder::EncodeBlock(const BYTE* data, std::size_t size) {
    const WAVEFORMATEX& f = inputFormat();
    const std::size_t sampleBytes = f.wBitsPerSample / 8u;
    const std::size_t frameBytes = f.nChannels * sampleBytes;
    flac::EncoderState& st = *state_;
    std::size_t frames = size / frameBytes;
    while (frames > 0) {
        const std::size_t n = std::min(frames, kBlockFrames);
        const std::size_t count = n * f.nChannels;
        // FLAC's channel order is WAV's; only the sample form changes:
        // 8-bit WAV samples are unsigned, the deeper ones signed little-endian.
        if (sampleBytes == 1) {
            for (std::size_t i = 0; i < count; ++i) st.samples[i] = FLAC__int32(data[i]) - 128;
        } else if (sampleBytes == 2) {
            ReadSigned<2>(data, count, st.samples.data());
        } else if (sampleBytes == 3) {
            ReadSigned<3>(data, count, st.samples.data());
        } else {
            ReadSigned<4>(data, count, st.samples.data());
        }
        if (!FLAC__stream_encoder_process_interleaved(st.encoder, st.samples.data(), unsigned(n))) {
            FailStream(st.writeError ? FormatMessageText(kWriteFailed, SystemErrorText(st.writeError))
                                     : FormatMessageText(kEncodeFailed, (StateText(st.encoder))));
            return false;
        }
        data += n * frameBytes;
        frames -= n;
    }
    return true;
}

void FlacEncoder::EndOfStream() {
    // The last frame and the header's counts and signature are written on
    // the thread, so Close only closes the file.
    if (state_ && !FLAC__stream_encoder_finish(state_->encoder)) {
        finishFailed_ = true;
        FailStream(state_->writeError ? FormatMessageText(kWriteFailed, SystemErrorText(state_->writeError))
                                      : FormatMessageText(kEncodeFailed, (StateText(state_->encoder))));
    }
}

HRESULT FlacEncoder::FinishStream(bool) {
    if (const std::vector<TagField> values = MeasuredFields(); !values.empty()) {
        // The library has finished the stream; the comments, now with the
        // values, take the place of the old ones and part of the padding.
        bool written = false;
        if (state_ && state_->commentAt >= 0 && !finishFailed_) {
            std::vector<vorbis::Comment> comments = state_->comments;
            for (vorbis::Comment& c : vorbis::CommentsFromTags({}, values)) comments.push_back(std::move(c));
            const std::vector<std::uint8_t> region = CommentBlock(comments, state_->commentRegion);
            written = !region.empty() &&
                      ::pwrite(state_->fd, region.data(), region.size(), off_t(state_->commentAt)) == ssize_t(region.size());
        }
        if (!written) TrackGainNotWritten();
    }
    state_.reset();
    const bool closed = ReleaseOutput();
    const int error = errno;
    if (!closed) return ReportError(FormatMessageText(kWriteFailed, SystemErrorText(error)));
    return S_OK;
}

}  // namespace kiv

#include "components/opus/opus_encoder.h"

#include <opus/opusenc.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <random>
#include <vector>

#include "components/opus/opus_gain.h"
#include "components/vorbis/channel_order.h"
#include "components/vorbis/picture_block.h"
#include "components/vorbis/vorbis_comments.h"
#include "platform/system/system_error.h"
#include "platform/system/text.h"

namespace kiv {
namespace {

constexpr EncoderTraits kOpusTraits{
    .extension = u".opus",
    .caption = u"Opus Encoder Control",
    .checkWfx = true,
    .asyncBlock = 4096,
    .syncBlock = 4096,
    .checkWriteResult = false,
    .maxChannels = vorbis::kMaxChannels,
};

constexpr char16_t kBadQuality[] = u"fQuality must be between 0 and 1.";
constexpr char16_t kBadBitrate[] = u"Bitrate must be between 6000 and 510000 for Opus.";
constexpr char16_t kSetupFailed[] = u"Opus encoder set-up failed: %s.";
constexpr char16_t kEncodeFailed[] = u"Opus encoding failed: %s.";
constexpr char16_t kWriteFailed[] = u"Write error. System error message: %s.";

constexpr long kMinBitrate = 6000, kMaxBitrate = 510000;
constexpr int kBlockFrames = 4096;

int WritePage(void* user, const unsigned char* ptr, opus_int32 len);
int ClosePage(void*) { return 0; }  // Close lets go of the output itself

}  // namespace

namespace opus {

struct EncoderState {
    ~EncoderState() {
        if (encoder) ope_encoder_destroy(encoder);
        if (comments) ope_comments_destroy(comments);
    }
    OggOpusEnc* encoder = nullptr;
    OggOpusComments* comments = nullptr;
    int fd = -1;
    int writeError = 0;
    bool keepHeader = false;  // the stream measures its gain
    vorbis::OggCommentHeader header;
    int channels = 0;
    std::vector<opus_int16> samples;
};

}  // namespace opus

namespace {

int WritePage(void* user, const unsigned char* ptr, opus_int32 len) {
    auto* st = static_cast<opus::EncoderState*>(user);
    if (WriteAll(st->fd, ptr, std::size_t(len))) {
        if (st->keepHeader) st->header.Take(ptr, std::size_t(len));
        return 0;
    }
    st->writeError = errno;
    return 1;
}

std::u16string FailureText(const opus::EncoderState& st, int error) {
    if (st.writeError) return FormatMessageText(kWriteFailed, SystemErrorText(st.writeError));
    return FormatMessageText(kEncodeFailed, FromUtf8Text(ope_strerror(error)));
}

}  // namespace

OpusEncoder::OpusEncoder() : CompressedEncoder(kClassOpusEncoder, kOpusTraits) {}

OpusEncoder::~OpusEncoder() = default;

long OpusEncoder::BitrateOfQuality(float quality, int channels) {
    const double pair = 32000.0 + double(quality) * (256000.0 - 32000.0);
    return std::clamp(std::lround(pair * channels / 2.0), kMinBitrate, kMaxBitrate * channels);
}

HRESULT OpusEncoder::SetOutputFormatVBR(float fQuality) {
    if (!(fQuality >= 0.0f && fQuality <= 1.0f)) return ReportError(kBadQuality);
    mode_ = Mode::Quality;
    quality_ = fQuality;
    return S_OK;
}

HRESULT OpusEncoder::SetOutputFormatABR(LONG nAvgBitrate) {
    if (nAvgBitrate < kMinBitrate || nAvgBitrate > kMaxBitrate) return ReportError(kBadBitrate);
    mode_ = Mode::Average;
    bitrate_ = nAvgBitrate;
    return S_OK;
}

HRESULT OpusEncoder::SetOutputFormatCBR(LONG nBitrate) {
    if (nBitrate < kMinBitrate || nBitrate > kMaxBitrate) return ReportError(kBadBitrate);
    mode_ = Mode::Constant;
    bitrate_ = nBitrate;
    return S_OK;
}

HRESULT OpusEncoder::PrepareStream() {
    const WAVEFORMATEX& f = inputFormat();
    auto st = std::make_unique<opus::EncoderState>();
    st->fd = outputFd();
    st->channels = f.nChannels;
    st->comments = ope_comments_create();
    if (!st->comments) return ReportError(FormatMessageText(kSetupFailed, u"out of memory"));
    std::vector<TagField> fields;
    std::vector<vorbis::Comment> comments;
    opus::SplitGainFields(FieldsToWrite(), fields, comments);
    for (vorbis::Comment& c : vorbis::StreamComments(Tags(), fields, Pictures())) comments.push_back(std::move(c));
    for (const vorbis::Comment& c : comments) ope_comments_add(st->comments, c.field.c_str(), c.value.c_str());
    if (measuringStream()) {
        // The library leaves room after the comments, where the gain goes
        // when the stream ends.
        st->keepHeader = true;
        st->header.Begin(st->fd);
    }
    static const OpusEncCallbacks callbacks{WritePage, ClosePage};
    int error = OPE_OK;
    // Family 1 carries up to eight channels in the Vorbis order.
    st->encoder = ope_encoder_create_callbacks(&callbacks, st.get(), st->comments, opus_int32(f.nSamplesPerSec),
                                               f.nChannels, f.nChannels > 2 ? 1 : 0, &error);
    if (!st->encoder) return ReportError(FormatMessageText(kSetupFailed, FromUtf8Text(ope_strerror(error))));

    long bitrate = 64000L * f.nChannels;  // 128 kbit/s for stereo
    if (mode_ == Mode::Quality) bitrate = BitrateOfQuality(quality_, f.nChannels);
    else if (mode_ == Mode::Average || mode_ == Mode::Constant) bitrate = bitrate_;
    error = ope_encoder_ctl(st->encoder, OPUS_SET_BITRATE(opus_int32(bitrate)));
    if (error == OPE_OK) error = ope_encoder_ctl(st->encoder, OPUS_SET_VBR(mode_ == Mode::Constant ? 0 : 1));
    if (error == OPE_OK && measuringStream()) error = ope_encoder_ctl(st->encoder, OPE_SET_COMMENT_PADDING(512));
    if (error == OPE_OK) {
        // Links of one physical stream must not share a serial number.
        std::random_device rd;
        error = ope_encoder_ctl(st->encoder, OPE_SET_SERIALNO(int(rd() & 0x7FFFFFFF)));
    }
    if (error != OPE_OK) return ReportError(FormatMessageText(kSetupFailed, FromUtf8Text(ope_strerror(error))));
    st->samples.resize(std::size_t(kBlockFrames) * f.nChannels);
    state_ = std::move(st);
    return S_OK;
}

std::size_t OpusEncoder::BlockSize() const {
    const WAVEFORMATEX& f = inputFormat();
    return std::size_t(kBlockFrames) * f.nChannels * (f.wBitsPerSample / 8u);
}

bool OpusEncoder::EncodeBlock(const BYTE* data, std::size_t size) {
    const WAVEFORMATEX& f = inputFormat();
    const int channels = f.nChannels;
    const std::size_t sampleBytes = f.wBitsPerSample / 8u;
    const std::size_t frameBytes = channels * sampleBytes;
    opus::EncoderState& st = *state_;
    // Input arrives in WAV channel order; the stream carries Vorbis order.
    const std::uint8_t* vorbisChannel = vorbis::VorbisChannelOfWav(channels);
    std::size_t frames = size / frameBytes;
    while (frames > 0) {
        const std::size_t n = std::min<std::size_t>(frames, kBlockFrames);
        for (std::size_t i = 0; i < n; ++i) {
            for (int c = 0; c < channels; ++c) {
                const BYTE* s = data + (i * channels + c) * sampleBytes;
                const opus_int16 v = sampleBytes == 1 ? opus_int16((int(s[0]) - 128) << 8)
                                                      : opus_int16(std::uint16_t(s[0] | (s[1] << 8)));
                st.samples[i * channels + (vorbisChannel ? vorbisChannel[c] : c)] = v;
            }
        }
        const int error = ope_encoder_write(st.encoder, st.samples.data(), int(n));
        if (error != OPE_OK || st.writeError) {
            FailStream(FailureText(st, error));
            return false;
        }
        data += n * frameBytes;
        frames -= n;
    }
    return true;
}

void OpusEncoder::EndOfStream() {
    if (!state_ || state_->writeError) return;
    const int error = ope_encoder_drain(state_->encoder);
    if (error != OPE_OK || state_->writeError) FailStream(FailureText(*state_, error));
}

HRESULT OpusEncoder::FinishStream(bool) {
    if (const std::vector<TagField> measured = MeasuredFields(); !measured.empty()) {
        std::vector<TagField> others;
        std::vector<vorbis::Comment> values;
        opus::SplitGainFields(measured, others, values);
        if (!state_ || !state_->header.ReplaceValues(state_->fd, "OpusTags", false, values)) TrackGainNotWritten();
    }
    state_.reset();
    const bool closed = ReleaseOutput();
    const int error = errno;
    if (!closed) return ReportError(FormatMessageText(kWriteFailed, SystemErrorText(error)));
    return S_OK;
}

}  // namespace kiv

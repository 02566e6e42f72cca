#include "components/vorbis/vorbis_encoder.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <chrono>
#include <random>

#include "components/vorbis/channel_order.h"
#include "components/vorbis/ogg_comment_header.h"
#include "components/vorbis/picture_block.h"
#include "components/vorbis/vorbis_comments.h"
#include "platform/system/system_error.h"
#include "platform/system/text.h"

namespace kiv {
namespace {

constexpr EncoderTraits kVorbisTraits{
    .extension = u".ogg",
    .caption = u"OggVorbis Encoder Control",
    .checkWfx = true,
    .asyncBlock = 4096,
    .syncBlock = 4096,
    .checkWriteResult = false,
    .maxChannels = vorbis::kMaxChannels,
};

constexpr char16_t kLogicFault[] = u"Internal Vorbis logic fault";
constexpr char16_t kHeaderFailed[] = u"Failed to write header.";
constexpr char16_t kNoCbr[] = u"OggVorbis doesn't support constant bitrate encoding.";
constexpr char16_t kBadQuality[] = u"fQuality must be between 0 and 1.";
constexpr char16_t kWriteFailed[] = u"Write error. System error message: %s.";

// Frames the analysis takes per call.
constexpr int kAnalysisFrames = 4096;
// Room left in the comment header for the ReplayGain values written at the
// end: "REPLAYGAIN_TRACK_GAIN=-12.34 dB" and "REPLAYGAIN_TRACK_PEAK=1.000000"
// with their lengths take 70 bytes.
constexpr std::size_t kGainRoom = 128;
constexpr char kCommentOpening[] = "\x03vorbis";

// A serial number from the system's entropy source: two streams started in
// the same second (or by two processes at once) must not collide. Zero is
// kept for "not chosen".
std::uint32_t NewSerial() {
    std::uint32_t s = 0;
    try {
        std::random_device rd;
        while (s == 0) s = rd();
    } catch (const std::exception&) {
        static std::atomic<std::uint64_t> counter{0};
        auto t = std::uint64_t(std::chrono::high_resolution_clock::now().time_since_epoch().count());
        std::uint64_t x = t ^ (++counter * 0x9E3779B97F4A7C15ull);
        x ^= x >> 31;
        x *= 0xBF58476D1CE4E5B9ull;
        s = std::uint32_t(x ^ (x >> 32));
        if (s == 0) s = 1;
    }
    return s;
}

struct CommentRecord {
    CommentRecord() { vorbis_comment_init(&vc); }
    ~CommentRecord() { vorbis_comment_clear(&vc); }
    CommentRecord(const CommentRecord&) = delete;
    CommentRecord& operator=(const CommentRecord&) = delete;
    vorbis_comment vc;
};

bool WritePage(int fd, const ogg_page& page) {
    return WriteAll(fd, page.header, std::size_t(page.header_len)) &&
           WriteAll(fd, page.body, std::size_t(page.body_len));
}

}  // namespace

namespace vorbis {

// The libraries' encoder records, cleared in the reverse order of set-up.
struct AnalysisState {
    AnalysisState() { vorbis_info_init(&info); }
    ~AnalysisState() {
        if (streamReady) ogg_stream_clear(&stream);
        if (blockReady) vorbis_block_clear(&block);
        if (dspReady) vorbis_dsp_clear(&dsp);
        vorbis_info_clear(&info);
    }
    AnalysisState(const AnalysisState&) = delete;
    AnalysisState& operator=(const AnalysisState&) = delete;

    vorbis_info info;
    vorbis_dsp_state dsp;
    vorbis_block block;
    ogg_stream_state stream;
    bool dspReady = false, blockReady = false, streamReady = false;
};

}  // namespace vorbis

VorbisEncoder::VorbisEncoder() : CompressedEncoder(kClassVorbisEncoder, kVorbisTraits) {}

VorbisEncoder::~VorbisEncoder() = default;

HRESULT VorbisEncoder::SetOutputFormatVBR(float fQuality) {
    if (!(fQuality >= 0.0f && fQuality <= 1.0f)) return ReportError(kBadQuality);
    mode_ = Mode::Quality;
    quality_ = fQuality;
    return S_OK;
}

HRESULT VorbisEncoder::SetOutputFormatABR(LONG nAvgBitrate) {
    // The library judges the bitrate at the first Write, against the input
    // format in force then.
    mode_ = Mode::AverageBitrate;
    bitrate_ = nAvgBitrate;
    return S_OK;
}

HRESULT VorbisEncoder::SetOutputFormatCBR(LONG) { return ReportError(kNoCbr); }

HRESULT VorbisEncoder::PrepareStream() {
    const WAVEFORMATEX& f = inputFormat();
    auto st = std::make_unique<vorbis::AnalysisState>();
    const int rc = mode_ == Mode::AverageBitrate
                       ? vorbis_encode_init(&st->info, f.nChannels, long(f.nSamplesPerSec), -1, bitrate_, -1)
                       : vorbis_encode_init_vbr(&st->info, f.nChannels, long(f.nSamplesPerSec), quality_);
    if (rc < 0) return ReportError(kLogicFault);
    if (vorbis_analysis_init(&st->dsp, &st->info) != 0) return ReportError(kLogicFault);
    st->dspReady = true;
    vorbis_block_init(&st->dsp, &st->block);
    st->blockReady = true;

    if (serial_ == 0) serial_ = NewSerial();
    ogg_stream_init(&st->stream, static_cast<int>(serial_));
    st->streamReady = true;

    CommentRecord comments;
    for (const vorbis::Comment& c : vorbis::StreamComments(Tags(), FieldsToWrite(), Pictures()))
        vorbis_comment_add_tag(&comments.vc, c.field.c_str(), c.value.c_str());
    ogg_packet header, commentHeader, codeHeader;
    if (vorbis_analysis_headerout(&st->dsp, &comments.vc, &header, &commentHeader, &codeHeader) != 0)
        return ReportError(kLogicFault);
    // A stream that measures its gain leaves room for the values in its
    // comment header, where readers pass over zero bytes after the framing
    // bit; the header is rewritten with them when the stream ends.
    std::vector<unsigned char> roomy;
    header_.Reset();
    if (measuringStream()) {
        roomy.assign(commentHeader.packet, commentHeader.packet + commentHeader.bytes);
        roomy.resize(roomy.size() + kGainRoom, 0);
        commentHeader.packet = roomy.data();
        commentHeader.bytes = long(roomy.size());
        header_.Begin(outputFd());
    }
    ogg_stream_packetin(&st->stream, &header);
    ogg_stream_packetin(&st->stream, &commentHeader);
    ogg_stream_packetin(&st->stream, &codeHeader);
    // The audio starts on a fresh page, as decoders expect.
    ogg_page page;
    while (ogg_stream_flush(&st->stream, &page) != 0) {
        if (!WritePage(outputFd(), page)) return ReportError(kHeaderFailed);
        if (measuringStream()) {
            header_.Take(page.header, std::size_t(page.header_len));
            header_.Take(page.body, std::size_t(page.body_len));
        }
    }

    state_ = std::move(st);
    pageWriteFailed_ = false;
    return S_OK;
}

std::size_t VorbisEncoder::BlockSize() const {
    const WAVEFORMATEX& f = inputFormat();
    return std::size_t(kAnalysisFrames) * f.nChannels * (f.wBitsPerSample / 8u);
}

bool VorbisEncoder::EncodeBlock(const BYTE* data, std::size_t size) {
    const WAVEFORMATEX& f = inputFormat();
    const int channels = f.nChannels;
    const std::size_t sampleBytes = f.wBitsPerSample / 8u;
    const std::size_t frameBytes = channels * sampleBytes;
    std::size_t frames = size / frameBytes;  // bytes beyond whole frames are dropped
    // Input arrives in WAV channel order; the stream carries Vorbis order.
    const std::uint8_t* vorbisChannel = vorbis::VorbisChannelOfWav(channels);
    while (frames > 0) {
        const int n = int(std::min<std::size_t>(frames, kAnalysisFrames));
        float** out = vorbis_analysis_buffer(&state_->dsp, kAnalysisFrames);
        for (int i = 0; i < n; ++i) {
            for (int c = 0; c < channels; ++c) {
                const BYTE* s = data + (std::size_t(i) * channels + c) * sampleBytes;
                out[vorbisChannel ? vorbisChannel[c] : c][i] = sampleBytes == 1 ? (int(s[0]) - 128) / 128.0f
                                             : float(std::int16_t(std::uint16_t(s[0] | (s[1] << 8)))) / 32768.0f;
            }
        }
        vorbis_analysis_wrote(&state_->dsp, n);
        data += std::size_t(n) * frameBytes;
        frames -= std::size_t(n);
        if (!Drain()) return false;
    }
    return true;
}

bool VorbisEncoder::Drain() {
    vorbis::AnalysisState& st = *state_;
    while (vorbis_analysis_blockout(&st.dsp, &st.block) == 1) {
        vorbis_analysis(&st.block, nullptr);
        vorbis_bitrate_addblock(&st.block);
        ogg_packet packet;
        while (vorbis_bitrate_flushpacket(&st.dsp, &packet) == 1) {
            ogg_stream_packetin(&st.stream, &packet);
            ogg_page page;
            while (ogg_stream_pageout(&st.stream, &page) != 0) {
                // A failed write ends the thread; the caller learns of it
                // from the broken pipe at its next Write, or from Close.
                if (!WritePage(outputFd(), page)) {
                    pageWriteFailed_ = true;
                    FailStream(FormatMessageText(kWriteFailed, SystemErrorText(errno)));
                    return false;
                }
            }
        }
    }
    return true;
}

void VorbisEncoder::EndOfStream() {
    if (state_ && !pageWriteFailed_) {
        vorbis_analysis_wrote(&state_->dsp, 0);
        Drain();
    }
    state_.reset();
}

HRESULT VorbisEncoder::FinishStream(bool) {
    // The thread has flushed everything; what is left is the set-up of a
    // stream whose thread never ran.
    state_.reset();
    if (const std::vector<TagField> values = MeasuredFields(); !values.empty()) {
        if (!header_.ReplaceValues(outputFd(), kCommentOpening, true, vorbis::CommentsFromTags({}, values)))
            TrackGainNotWritten();
    }
    header_.Reset();
    const bool closed = ReleaseOutput();
    const int error = errno;
    serial_ = 0;
    if (!closed) return ReportError(FormatMessageText(kWriteFailed, SystemErrorText(error)));
    return S_OK;
}

}  // namespace kiv

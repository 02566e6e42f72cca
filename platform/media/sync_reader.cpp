#include "platform/media/sync_reader.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "platform/media/asf_header.h"
#include "platform/media/av_support.h"
#include "platform/media/header_attributes.h"

namespace kiv::media {

namespace {

constexpr int kIoBufferSize = 65536;
constexpr QWORD kUnknownDuration = ~QWORD{0};
// Enough for a header with several large pictures.
constexpr std::size_t kMaxHeaderBytes = std::size_t{64} << 20;

GUID SubtypeForTag(WORD tag) {
    GUID g = WMMEDIASUBTYPE_PCM;
    g.Data1 = tag;
    return g;
}

struct DecodedStream {
    AVStream* stream = nullptr;
    WORD number = 0;
    bool audio = false;
    bool selected = true;
    av::CodecContextPtr decoder;  // null when FFmpeg cannot decode it
    av::SwrPtr converter;
    int converterFormat = -1;     // input sample format the converter was made for
    int converterChannels = 0;
    WORD outChannels = 0;
    int outRate = 0;
    bool clockKnown = false;
    std::int64_t nextSample = 0;  // output sample index from the start of the file
    // The decoder holds back its first frames, so the first PCM it gives
    // carries the time stamp of a later packet. Sample times count decoded
    // PCM from 0; this is the stamp (in samples) that PCM sample 0 carries.
    bool offsetKnown = false;
    std::int64_t ptsOffset = 0;
};

// A decoded frame's time stamp in output samples from the file's start;
// AV_NOPTS_VALUE when it has none.
std::int64_t FrameSamples(const DecodedStream& d, const AVFrame* frame) {
    std::int64_t pts = frame->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE) return AV_NOPTS_VALUE;
    if (d.stream->start_time != AV_NOPTS_VALUE) pts -= d.stream->start_time;
    return av_rescale_q(pts, d.stream->time_base, AVRational{1, d.outRate});
}

int SeekTo(AVFormatContext* fc, std::int64_t target) {
    if (fc->start_time != AV_NOPTS_VALUE) target += fc->start_time;
    int err = av_seek_frame(fc, -1, target, AVSEEK_FLAG_BACKWARD);
    // Before the first index point the backward search finds nothing; the
    // start of the data is then the right place.
    if (err < 0) err = avformat_seek_file(fc, -1, INT64_MIN, target, target, 0);
    return err;
}

// Decodes from the start of the file up to the first frame to learn the
// stamp that PCM sample 0 carries; the caller seeks afterwards.
void LearnOffset(AVFormatContext* fc, DecodedStream& d, AVPacket* packet, AVFrame* frame) {
    d.offsetKnown = true;
    d.ptsOffset = 0;
    AVCodecContext* dec = d.decoder.get();
    if (SeekTo(fc, 0) < 0) return;
    avcodec_flush_buffers(dec);
    bool found = false;
    while (!found && av_read_frame(fc, packet) >= 0) {
        if (packet->stream_index == d.stream->index && avcodec_send_packet(dec, packet) >= 0 &&
            avcodec_receive_frame(dec, frame) >= 0) {
            std::int64_t at = FrameSamples(d, frame);
            if (at != AV_NOPTS_VALUE) d.ptsOffset = at;
            found = true;
            av_frame_unref(frame);
        }
        av_packet_unref(packet);
    }
    avcodec_flush_buffers(dec);
}

// Where the data packets end: the demuxer leaves the position at the first
// packet, behind the 50-byte head of the data object, whose size is there.
// -1 when the head does not look right; the position is restored.
std::int64_t DataObjectEnd(AVIOContext* pb) {
    static constexpr std::uint8_t kDataObject[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                                     0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    const std::int64_t first = avio_tell(pb);
    if (first < 50 || avio_seek(pb, first - 50, SEEK_SET) < 0) return -1;
    std::uint8_t head[24] = {};
    const int got = avio_read(pb, head, sizeof head);
    avio_seek(pb, first, SEEK_SET);
    if (got != int(sizeof head) || std::memcmp(head, kDataObject, sizeof kDataObject) != 0) return -1;
    std::uint64_t size = 0;
    for (int i = 23; i >= 16; --i) size = (size << 8) | head[i];
    // A data object of unknown size (a live stream) says 0 or too little.
    if (size <= 50 || size > std::uint64_t(INT64_MAX / 2)) return -1;
    return first - 50 + std::int64_t(size);
}

// The attributes of the header, read by us: FFmpeg keeps one value per
// name (the last) and leaves large ones out. The position is restored.
void ReadHeaderAttributes(AVIOContext* pb, HeaderAttributes& out) {
    const std::int64_t resume = avio_tell(pb);
    if (resume < 0 || avio_seek(pb, 0, SEEK_SET) < 0) return;
    const std::vector<BYTE> header = asf::ReadHeaderObject(
        [pb](BYTE* buffer, std::size_t size) -> std::size_t {
            const int got = avio_read(pb, buffer, static_cast<int>(std::min<std::size_t>(size, INT_MAX)));
            return got > 0 ? static_cast<std::size_t>(got) : 0;
        },
        kMaxHeaderBytes);
    asf::ReadAttributes(header, out);
    avio_seek(pb, resume, SEEK_SET);
}

// After the demuxer stopped on damage: sets it going at the packet after
// the last good one (lastPacket) and past the last place it was set going
// (resumedAt, updated). false when there is nothing to go on with.
bool ResumeAfterDamage(AVFormatContext* fc, AVCodecContext* dec, int streamIndex, std::int64_t dataEnd,
                       std::int64_t lastPacket, std::int64_t& resumedAt) {
    const std::int64_t packet = fc->packet_size;
    const std::int64_t size = dataEnd > 0 ? dataEnd : avio_size(fc->pb);
    if (packet <= 0 || size <= 0 || lastPacket < 0) return false;
    // Packets have one size and follow each other from the first; the one
    // after the last good packet is where the damage is.
    const std::int64_t next = std::max(lastPacket + packet, resumedAt + packet);
    if (next + packet > size) return false;
    // A seek to the very start resets the demuxer's packet state (nothing
    // else does); the position is then set to the packet to go on with.
    if (av_seek_frame(fc, streamIndex, 0, 0) < 0) return false;
    if (avio_seek(fc->pb, next, SEEK_SET) < 0) return false;
    avcodec_flush_buffers(dec);
    resumedAt = next;
    return true;
}

int ReadCallback(void* opaque, uint8_t* buffer, int size) {
    auto* source = static_cast<ByteStream*>(opaque);
    ULONG got = 0;
    HRESULT hr = source->Read(buffer, static_cast<ULONG>(size), &got);
    if (FAILED(hr)) return av::ToAvError(hr);
    return got == 0 ? AVERROR_EOF : static_cast<int>(got);
}

int64_t SeekCallback(void* opaque, int64_t offset, int whence) {
    auto* source = static_cast<ByteStream*>(opaque);
    QWORD pos = 0;
    HRESULT hr;
    if (whence & AVSEEK_SIZE) {
        hr = source->Stat(&pos);
    } else {
        DWORD origin = (whence & ~AVSEEK_FORCE) == SEEK_SET   ? STREAM_SEEK_SET
                       : (whence & ~AVSEEK_FORCE) == SEEK_CUR ? STREAM_SEEK_CUR
                                                              : STREAM_SEEK_END;
        hr = source->Seek(offset, origin, &pos);
    }
    if (FAILED(hr)) return av::ToAvError(hr);
    return static_cast<int64_t>(pos);
}

}  // namespace

struct SyncReader::State {
    // Declared in the order of need: the demuxer reads through the I/O
    // context, which reads through the source, so they go in reverse; all
    // of them log into the sink.
    av::LogSink log;
    std::unique_ptr<ByteStream> source;
    av::IoContextPtr io;
    av::InputPtr format;
    Profile profile{WMT_VER_9_0};
    HeaderAttributes attributes;
    std::vector<DecodedStream> streams;
    av::PacketPtr packet;
    av::FramePtr frame;
    bool demuxEnded = false;
    bool flushed = false;
    int readError = 0;  // the source's read failure that ended the demuxing
    bool sinceOpen = true;  // no range set yet: decoding runs from the very start
    QWORD rangeStart = 0;
    QWORD rangeEnd = kUnknownDuration;  // exclusive, 100-ns units

    // Damage read over since the open.
    bool damaged = false;
    QWORD skippedTime = 0;  // 100-ns units
    // Where the last packet that came out whole began, and where the
    // demuxer was set going again after damage: a recovery always moves on.
    std::int64_t lastPacketPos = -1;
    std::int64_t resumedAt = -1;
    std::int64_t dataEnd = -1;  // end of the data packets, when known

    DecodedStream* Find(WORD number) {
        for (auto& s : streams)
            if (s.number == number) return &s;
        return nullptr;
    }
};

HRESULT SyncReader::Create(std::unique_ptr<SyncReader>& out) {
    out = std::make_unique<SyncReader>();
    return S_OK;
}

SyncReader::SyncReader() { av::RouteLog(); }
SyncReader::~SyncReader() = default;

HRESULT SyncReader::Open(std::u16string_view filename) {
    std::lock_guard lock(lock_);
    state_.reset();
    if (filename.empty()) return E_INVALIDARG;
    std::string path = kiv::ToUtf8(filename);
    return OpenLocked(std::make_unique<State>(), path.c_str());
}

HRESULT SyncReader::OpenStream(std::unique_ptr<ByteStream> stream) {
    std::lock_guard lock(lock_);
    state_.reset();
    if (!stream) return E_POINTER;
    auto st = std::make_unique<State>();
    st->source = std::move(stream);
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
    if (buffer == nullptr) return E_OUTOFMEMORY;
    st->io.reset(avio_alloc_context(buffer, kIoBufferSize, 0, st->source.get(), ReadCallback, nullptr, SeekCallback));
    if (!st->io) {
        av_free(buffer);
        return E_OUTOFMEMORY;
    }
    return OpenLocked(std::move(st), nullptr);
}

HRESULT SyncReader::OpenLocked(std::unique_ptr<State> st, const char* url) {
    const AVInputFormat* asf = av_find_input_format("asf");
    if (asf == nullptr) return NS_E_INVALID_DATA;
    AVFormatContext* fc = avformat_alloc_context();
    if (fc == nullptr) return E_OUTOFMEMORY;
    if (st->io) {
        fc->pb = st->io.get();
        fc->flags |= AVFMT_FLAG_CUSTOM_IO;
    }
    fc->opaque = &st->log;
    // On failure avformat_open_input frees the context itself.
    if (int err = avformat_open_input(&fc, url, asf, nullptr); err < 0) return av::ToHResult(err);
    st->format.reset(fc);
    st->dataEnd = DataObjectEnd(fc->pb);
    ReadHeaderAttributes(fc->pb, st->attributes);
    if (int err = avformat_find_stream_info(fc, nullptr); err < 0) return av::ToHResult(err);

    for (unsigned i = 0; i < fc->nb_streams; ++i) {
        AVStream* s = fc->streams[i];
        const AVCodecParameters* par = s->codecpar;
        DecodedStream d;
        d.stream = s;
        d.number = static_cast<WORD>(i + 1);
        d.audio = par->codec_type == AVMEDIA_TYPE_AUDIO;
        GUID type = d.audio ? WMMEDIATYPE_Audio : par->codec_type == AVMEDIA_TYPE_VIDEO ? WMMEDIATYPE_Video : GUID_NULL;
        StreamConfig config(type);
        config.SetStreamNumber(d.number);
        config.SetBitrate(static_cast<DWORD>(std::max<int64_t>(0, std::min<int64_t>(par->bit_rate, UINT32_MAX))));
        if (d.audio) {
            WAVEFORMATEX w{};
            w.wFormatTag = static_cast<WORD>(par->codec_tag);
            w.nChannels = static_cast<WORD>(par->ch_layout.nb_channels);
            w.nSamplesPerSec = static_cast<DWORD>(par->sample_rate);
            w.nAvgBytesPerSec = static_cast<DWORD>(par->bit_rate / 8);
            w.nBlockAlign = static_cast<WORD>(par->block_align);
            w.wBitsPerSample = static_cast<WORD>(par->bits_per_coded_sample);
            std::size_t extra = par->extradata_size > 0 ? static_cast<std::size_t>(par->extradata_size) : 0;
            config.SetMediaType(MediaType::ForWaveFormat(SubtypeForTag(w.wFormatTag), w, par->extradata, extra));

            const AVCodec* codec = avcodec_find_decoder(par->codec_id);
            av::CodecContextPtr dec(codec ? avcodec_alloc_context3(codec) : nullptr);
            if (dec && avcodec_parameters_to_context(dec.get(), par) >= 0) {
                dec->pkt_timebase = s->time_base;
                dec->opaque = &st->log;
                if (avcodec_open2(dec.get(), codec, nullptr) >= 0) d.decoder = std::move(dec);
            }
            d.outChannels = static_cast<WORD>(std::min(par->ch_layout.nb_channels, 2));
            d.outRate = par->sample_rate;
        } else {
            s->discard = AVDISCARD_ALL;
        }
        st->profile.AddStream(config);
        st->streams.push_back(std::move(d));
    }

    st->attributes.SetQword(u"Duration", fc->duration == AV_NOPTS_VALUE || fc->duration < 0
                                             ? kUnknownDuration
                                             : static_cast<QWORD>(fc->duration) * 10);

    st->packet.reset(av_packet_alloc());
    st->frame.reset(av_frame_alloc());
    if (!st->packet || !st->frame) return E_OUTOFMEMORY;
    state_ = std::move(st);
    return S_OK;
}

HRESULT SyncReader::Close() {
    std::lock_guard lock(lock_);
    if (!state_) return NS_E_INVALID_REQUEST;
    state_.reset();
    return S_OK;
}

HRESULT SyncReader::GetProfile(std::unique_ptr<Profile>& out) const {
    std::lock_guard lock(lock_);
    if (!state_) return NS_E_INVALID_REQUEST;
    out = std::make_unique<Profile>(state_->profile);
    return S_OK;
}

HRESULT SyncReader::GetAttributeByName(WORD* streamNumber, std::u16string_view name, AttrType* type, BYTE* value,
                                       WORD* length) const {
    std::lock_guard lock(lock_);
    if (!state_) return NS_E_INVALID_REQUEST;
    return state_->attributes.GetAttributeByName(streamNumber, name, type, value, length);
}

HRESULT SyncReader::GetAttributeIndices(WORD streamNumber, std::u16string_view name,
                                        std::vector<WORD>& indices) const {
    std::lock_guard lock(lock_);
    if (!state_) return NS_E_INVALID_REQUEST;
    return state_->attributes.GetAttributeIndices(streamNumber, name, indices);
}

HRESULT SyncReader::GetAttributeByIndexEx(WORD streamNumber, WORD index, std::u16string* name, AttrType* type,
                                          BYTE* value, DWORD* length) const {
    std::lock_guard lock(lock_);
    if (!state_) return NS_E_INVALID_REQUEST;
    return state_->attributes.GetAttributeByIndexEx(streamNumber, index, name, type, value, length);
}

DWORD SyncReader::GetPacketSize() const {
    std::lock_guard lock(lock_);
    return state_ ? state_->format->packet_size : 0;
}

HRESULT SyncReader::GetOutputNumberForStream(WORD streamNumber, DWORD* output) const {
    std::lock_guard lock(lock_);
    if (output == nullptr) return E_POINTER;
    if (!state_) return NS_E_INVALID_REQUEST;
    if (state_->Find(streamNumber) == nullptr) return E_INVALIDARG;
    *output = streamNumber - 1u;
    return S_OK;
}

HRESULT SyncReader::GetOutputProps(DWORD output, std::unique_ptr<MediaProps>& out) const {
    std::lock_guard lock(lock_);
    if (!state_) return NS_E_INVALID_REQUEST;
    if (output >= state_->streams.size()) return E_INVALIDARG;
    const DecodedStream& d = state_->streams[output];
    if (!d.audio) return NS_E_INVALID_REQUEST;
    if (!d.decoder) return NS_E_AUDIO_CODEC_NOT_INSTALLED;
    WAVEFORMATEX w{};
    w.wFormatTag = WAVE_FORMAT_PCM;
    w.nChannels = d.outChannels;
    w.nSamplesPerSec = static_cast<DWORD>(d.outRate);
    w.wBitsPerSample = 16;
    w.nBlockAlign = static_cast<WORD>(d.outChannels * 2);
    w.nAvgBytesPerSec = w.nSamplesPerSec * w.nBlockAlign;
    out = std::make_unique<MediaProps>(MediaType::ForWaveFormat(WMMEDIASUBTYPE_PCM, w));
    return S_OK;
}

HRESULT SyncReader::SetStreamsSelected(std::span<const StreamSelection> selections) {
    std::lock_guard lock(lock_);
    if (!state_) return NS_E_INVALID_REQUEST;
    for (const auto& s : selections)
        if (state_->Find(s.streamNumber) == nullptr) return E_INVALIDARG;
    for (const auto& s : selections) {
        DecodedStream* d = state_->Find(s.streamNumber);
        d->selected = s.selected;
        if (d->audio) d->stream->discard = s.selected ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    return S_OK;
}

HRESULT SyncReader::SetReadStreamSamples(WORD streamNumber, bool compressed) {
    std::lock_guard lock(lock_);
    if (!state_) return NS_E_INVALID_REQUEST;
    if (state_->Find(streamNumber) == nullptr) return E_INVALIDARG;
    return compressed ? NS_E_INVALID_REQUEST : S_OK;
}

HRESULT SyncReader::SetRange(QWORD start, LONGLONG duration) {
    std::lock_guard lock(lock_);
    if (!state_) return NS_E_INVALID_REQUEST;
    if (duration < 0) return E_INVALIDARG;
    State& st = *state_;
    AVFormatContext* fc = st.format.get();
    for (auto& d : st.streams)
        if (d.decoder && d.selected && !d.offsetKnown) LearnOffset(fc, d, st.packet.get(), st.frame.get());
    // 100-ns units to FFmpeg's microseconds, in 64 bits all the way.
    std::int64_t target = static_cast<std::int64_t>(std::min<QWORD>(start / 10, INT64_MAX / 2));
    // Land early enough for the frames the decoder holds back.
    std::int64_t holdBack = 0;
    for (const auto& d : st.streams)
        if (d.decoder && d.outRate > 0) holdBack = std::max(holdBack, av_rescale(d.ptsOffset, AV_TIME_BASE, d.outRate));
    int err = SeekTo(fc, std::max<std::int64_t>(0, target - holdBack));
    if (err < 0) return av::ToHResult(err);
    st.sinceOpen = false;
    for (auto& d : st.streams) {
        if (d.decoder) avcodec_flush_buffers(d.decoder.get());
        d.clockKnown = false;
    }
    st.lastPacketPos = st.resumedAt = -1;
    // A read failure belongs to where it happened; from here the source is
    // read afresh.
    st.readError = 0;
    fc->pb->error = 0;
    st.demuxEnded = false;
    st.flushed = false;
    st.rangeStart = start;
    st.rangeEnd = duration == 0 ? kUnknownDuration : start + static_cast<QWORD>(duration);
    return S_OK;
}

SyncReader::Damage SyncReader::GetDamage() const {
    std::lock_guard lock(lock_);
    Damage damage;
    if (!state_ || !state_->damaged) return damage;
    damage.damaged = true;
    damage.skippedTime = state_->skippedTime;
    damage.firstComplaint = state_->log.First();
    return damage;
}

HRESULT SyncReader::GetNextSample(WORD streamNumber, std::unique_ptr<SampleBuffer>& sample, QWORD* sampleTime,
                                  QWORD* sampleDuration, WORD* sampleStreamNumber) {
    std::lock_guard lock(lock_);
    if (!state_) return NS_E_INVALID_REQUEST;
    State& st = *state_;
    DecodedStream* d = nullptr;
    if (streamNumber == 0) {
        for (auto& s : st.streams)
            if (s.audio && s.selected) {
                d = &s;
                break;
            }
    } else {
        d = st.Find(streamNumber);
    }
    if (d == nullptr || !d->audio || !d->selected) return NS_E_INVALID_REQUEST;
    if (!d->decoder) return NS_E_AUDIO_CODEC_NOT_INSTALLED;
    AVCodecContext* dec = d->decoder.get();
    AVFrame* frame = st.frame.get();
    const std::int64_t rate = d->outRate;
    auto toSamples = [rate](QWORD t) { return static_cast<std::int64_t>((static_cast<__int128>(t) * rate + 5000000) / 10000000); };
    auto toTime = [rate](std::int64_t samples) { return static_cast<QWORD>((static_cast<__int128>(samples) * 10000000 + rate / 2) / rate); };

    // The end of the stream, or the source's read failure that ended it.
    const auto ending = [&st] { return st.readError < 0 ? av::ToHResult(st.readError) : NS_E_NO_MORE_SAMPLES; };
    for (;;) {
        int err = avcodec_receive_frame(dec, frame);
        if (err == AVERROR_EOF) return ending();
        if (err == AVERROR(EAGAIN)) {
            if (st.demuxEnded) {
                if (st.flushed) return ending();
                avcodec_send_packet(dec, nullptr);
                st.flushed = true;
                continue;
            }
            err = av_read_frame(st.format.get(), st.packet.get());
            if (err < 0 && st.format->pb && st.format->pb->error < 0 && st.format->pb->error != AVERROR_EOF) {
                // The source could not be read: that is no damage to read
                // over, and no end either. What was decoded still comes out.
                st.readError = st.format->pb->error;
                st.demuxEnded = true;
                continue;
            }
            if (err < 0) {
                // Damage in a packet's framing stops the demuxer (often as
                // a false end, having read a length out of the damage); it
                // goes on at the next packet. The true end, or a failure to
                // go on, ends the stream; what was decoded so far still
                // comes out.
                if (err != AVERROR(EIO) &&
                    ResumeAfterDamage(st.format.get(), dec, d->stream->index, st.dataEnd, st.lastPacketPos,
                                      st.resumedAt)) {
                    st.damaged = true;
                    continue;
                }
                st.demuxEnded = true;
                continue;
            }
            if (st.packet->pos >= 0) st.lastPacketPos = st.packet->pos;
            if (st.packet->stream_index == d->stream->index) {
                err = avcodec_send_packet(dec, st.packet.get());
                // A damaged packet costs its own samples, not the rest.
                if (err == AVERROR_INVALIDDATA) st.damaged = true;
                if (err < 0 && err != AVERROR_INVALIDDATA) {
                    av_packet_unref(st.packet.get());
                    return av::ToHResult(err);
                }
            }
            av_packet_unref(st.packet.get());
            continue;
        }
        if (err < 0) {
            st.damaged = true;  // a frame that failed to decode is passed over
            continue;
        }

        const int inChannels = frame->ch_layout.nb_channels;
        if (!d->converter || d->converterFormat != frame->format || d->converterChannels != inChannels) {
            AVChannelLayout in{}, out{};
            if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) av_channel_layout_default(&in, inChannels);
            else av_channel_layout_copy(&in, &frame->ch_layout);
            av_channel_layout_default(&out, d->outChannels);
            SwrContext* swr = nullptr;
            int e2 = swr_alloc_set_opts2(&swr, &out, AV_SAMPLE_FMT_S16, d->outRate, &in,
                                         static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
            av_channel_layout_uninit(&in);
            av_channel_layout_uninit(&out);
            d->converter.reset(swr);
            if (e2 < 0 || (e2 = swr_init(swr)) < 0) {
                av_frame_unref(frame);
                return av::ToHResult(e2);
            }
            d->converterFormat = frame->format;
            d->converterChannels = inChannels;
        }

        if (d->clockKnown) {
            // Packets lost to damage show as a jump in the time stamps; the
            // clock follows it, so times stay those of the file.
            const std::int64_t at = FrameSamples(*d, frame);
            if (at != AV_NOPTS_VALUE && at - d->ptsOffset > d->nextSample + frame->nb_samples) {
                st.damaged = true;
                st.skippedTime += toTime(at - d->ptsOffset - d->nextSample);
                d->nextSample = at - d->ptsOffset;
            }
        } else {
            std::int64_t at = FrameSamples(*d, frame);
            if (st.sinceOpen && !d->offsetKnown) {
                d->ptsOffset = at == AV_NOPTS_VALUE ? 0 : at;
                d->offsetKnown = true;
                d->nextSample = 0;
            } else {
                d->nextSample = at == AV_NOPTS_VALUE ? toSamples(st.rangeStart) : at - d->ptsOffset;
            }
            d->clockKnown = true;
        }
        const std::int64_t first = d->nextSample;
        const std::int64_t count = frame->nb_samples;
        d->nextSample += count;

        std::int64_t from = first, to = first + count;
        const std::int64_t rangeFrom = toSamples(st.rangeStart);
        if (to <= rangeFrom) {
            av_frame_unref(frame);
            continue;
        }
        if (st.rangeEnd != kUnknownDuration) {
            const std::int64_t rangeTo = toSamples(st.rangeEnd);
            if (from >= rangeTo) {
                av_frame_unref(frame);
                st.demuxEnded = st.flushed = true;
                avcodec_flush_buffers(dec);
                return NS_E_NO_MORE_SAMPLES;
            }
            to = std::min(to, rangeTo);
        }
        from = std::max(from, rangeFrom);

        const int blockAlign = d->outChannels * 2;
        std::vector<uint8_t> converted(static_cast<std::size_t>(count) * blockAlign);
        uint8_t* outPtr = converted.data();
        int got = swr_convert(d->converter.get(), &outPtr, static_cast<int>(count),
                              const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
        av_frame_unref(frame);
        if (got < 0) return av::ToHResult(got);
        // Same rate in and out: the converter holds nothing back.
        const std::int64_t skip = from - first;
        const std::int64_t keep = std::min<std::int64_t>(to - from, got - skip);
        if (keep <= 0) continue;
        auto buffer = std::make_unique<SampleBuffer>(static_cast<DWORD>(keep * blockAlign));
        std::memcpy(buffer->GetBuffer(), converted.data() + skip * blockAlign, static_cast<std::size_t>(keep * blockAlign));
        buffer->SetLength(static_cast<DWORD>(keep * blockAlign));
        sample = std::move(buffer);
        if (sampleTime) *sampleTime = toTime(from);
        if (sampleDuration) *sampleDuration = toTime(from + keep) - toTime(from);
        if (sampleStreamNumber) *sampleStreamNumber = d->number;
        return S_OK;
    }
}

}  // namespace kiv::media

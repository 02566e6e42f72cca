#include "platform/media/writer.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/media/asf_header.h"
#include "platform/media/av_support.h"
#include "platform/system/pipe.h"
#include "platform/media/wma_format_table.h"

namespace kiv::media {

struct Writer::Encoding {
    av::OutputPtr format;
    AVStream* stream = nullptr;
    av::CodecContextPtr codec;
    av::SwrPtr resampler;
    av::FifoPtr fifo;
    av::FramePtr frame;
    av::PacketPtr packet;
    std::vector<std::vector<float>> planes;  // resampler output, reused
    std::vector<BYTE> partial;               // bytes of an incomplete input frame
    std::int64_t samplesSent = 0;
    HRESULT failure = S_OK;
};

namespace {

bool ValidPcm(const WAVEFORMATEX& w) {
    return w.wFormatTag == WAVE_FORMAT_PCM && (w.nChannels == 1 || w.nChannels == 2) &&
           (w.wBitsPerSample == 8 || w.wBitsPerSample == 16) && w.nSamplesPerSec >= 1000 &&
           w.nSamplesPerSec <= 384000 && w.nBlockAlign == w.nChannels * (w.wBitsPerSample / 8);
}

WAVEFORMATEX PcmFormat(WORD channels, DWORD rate) {
    WAVEFORMATEX w{};
    w.wFormatTag = WAVE_FORMAT_PCM;
    w.nChannels = channels;
    w.nSamplesPerSec = rate;
    w.wBitsPerSample = 16;
    w.nBlockAlign = static_cast<WORD>(channels * 2);
    w.nAvgBytesPerSec = rate * w.nBlockAlign;
    return w;
}

}  // namespace

HRESULT Writer::Create(std::unique_ptr<Writer>& out) {
    out = std::make_unique<Writer>();
    return S_OK;
}

Writer::Writer() { av::RouteLog(); }

Writer::~Writer() {
    if (enc_) {
        // Finish the file rather than leave it without its index and
        // sizes; nobody is listening any more.
        {
            std::lock_guard lock(callbackLock_);
            callbacks_.clear();
        }
        EndWriting();
    }
}

HRESULT Writer::SetProfile(const Profile& profile) {
    if (enc_) return NS_E_INVALID_REQUEST;
    if (profile.GetStreamCount() != 1) return NS_E_INVALID_OUTPUT_FORMAT;
    std::unique_ptr<StreamConfig> stream;
    if (HRESULT hr = profile.GetStream(0, stream); FAILED(hr)) return hr;
    WAVEFORMATEX w{};
    const MediaType& mt = stream->GetMediaType();
    if (!(stream->GetStreamType() == WMMEDIATYPE_Audio) || !mt.GetWaveFormat(w) ||
        w.wFormatTag != WAVE_FORMAT_WMAUDIO2 || w.nChannels < 1 || w.nChannels > kWmaMaxChannels ||
        w.nSamplesPerSec == 0 || w.nSamplesPerSec > kWmaMaxSampleRate ||
        static_cast<QWORD>(w.nAvgBytesPerSec) * 8 < kWmaMinBitrate ||
        static_cast<QWORD>(w.nAvgBytesPerSec) * 8 > 0x7FFFFFFF)
        return NS_E_INVALID_OUTPUT_FORMAT;
    profile_ = std::make_unique<Profile>(profile);
    output_ = w;
    outputExtra_.assign(mt.format.begin() + sizeof(WAVEFORMATEX), mt.format.end());
    if (!inputSet_) input_ = PcmFormat(w.nChannels, w.nSamplesPerSec);
    return S_OK;
}

HRESULT Writer::SetOutputFilename(std::u16string_view filename) {
    if (enc_) return NS_E_INVALID_REQUEST;
    if (filename.empty()) return E_INVALIDARG;
    filename_.assign(filename);
    return S_OK;
}

HRESULT Writer::GetInputCount(DWORD* count) const {
    if (count == nullptr) return E_POINTER;
    *count = profile_ ? 1 : 0;
    return S_OK;
}

HRESULT Writer::GetInputProps(DWORD input, std::unique_ptr<MediaProps>& out) const {
    if (!profile_) return NS_E_INVALID_REQUEST;
    if (input != 0) return E_INVALIDARG;
    out = std::make_unique<MediaProps>(MediaType::ForWaveFormat(WMMEDIASUBTYPE_PCM, input_));
    return S_OK;
}

HRESULT Writer::SetInputProps(DWORD input, const MediaProps& props) {
    if (enc_) return NS_E_INVALID_REQUEST;
    if (!profile_) return NS_E_INVALID_REQUEST;
    if (input != 0) return E_INVALIDARG;
    const MediaType& mt = props.GetMediaType();
    WAVEFORMATEX w{};
    if (!(mt.majorType == WMMEDIATYPE_Audio) || !(mt.subtype == WMMEDIASUBTYPE_PCM) || !mt.GetWaveFormat(w) ||
        !ValidPcm(w))
        return NS_E_INVALID_INPUT_FORMAT;
    input_ = w;
    inputSet_ = true;
    return S_OK;
}

HRESULT Writer::SetAttribute(WORD streamNumber, std::u16string_view name, AttrType type, const BYTE* value,
                             WORD length) {
    if (enc_) return NS_E_INVALID_REQUEST;  // the header is already in the file
    return attributes_.SetAttribute(streamNumber, name, type, value, length);
}

HRESULT Writer::AddAttribute(WORD streamNumber, std::u16string_view name, WORD* index, AttrType type,
                             const BYTE* value, DWORD length) {
    if (enc_) return NS_E_INVALID_REQUEST;
    return attributes_.AddAttribute(streamNumber, name, index, type, value, length);
}

HRESULT Writer::AddClosingAttribute(std::u16string_view name, AttrType type, const BYTE* value, DWORD length) {
    return attributes_.AddAttribute(0, name, nullptr, type, value, length);
}

HRESULT Writer::GetAttributeIndices(WORD streamNumber, std::u16string_view name, std::vector<WORD>& indices) const {
    return attributes_.GetAttributeIndices(streamNumber, name, indices);
}

HRESULT Writer::GetAttributeByIndexEx(WORD streamNumber, WORD index, std::u16string* name, AttrType* type,
                                      BYTE* value, DWORD* length) const {
    return attributes_.GetAttributeByIndexEx(streamNumber, index, name, type, value, length);
}

HRESULT Writer::BeginWriting() {
    if (enc_ || !profile_ || filename_.empty()) return NS_E_INVALID_REQUEST;
    auto e = std::make_unique<Encoding>();

    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
    if (codec == nullptr) return NS_E_AUDIO_CODEC_NOT_INSTALLED;
    e->codec.reset(avcodec_alloc_context3(codec));
    if (!e->codec) return E_OUTOFMEMORY;
    AVCodecContext* c = e->codec.get();
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    c->sample_rate = static_cast<int>(output_.nSamplesPerSec);
    c->time_base = AVRational{1, c->sample_rate};
    av_channel_layout_default(&c->ch_layout, output_.nChannels);
    c->bit_rate = static_cast<std::int64_t>(output_.nAvgBytesPerSec) * 8;
    if (avcodec_open2(c, codec, nullptr) < 0) return NS_E_INVALID_OUTPUT_FORMAT;

    std::string path = kiv::ToUtf8(filename_);
    AVFormatContext* fc = nullptr;
    if (int err = avformat_alloc_output_context2(&fc, nullptr, "asf", path.c_str()); err < 0)
        return av::ToHResult(err);
    e->format.reset(fc);
    e->stream = avformat_new_stream(fc, nullptr);
    if (e->stream == nullptr) return E_OUTOFMEMORY;
    if (int err = avcodec_parameters_from_context(e->stream->codecpar, c); err < 0) return av::ToHResult(err);
    e->stream->time_base = c->time_base;

    // The muxer keeps one value per name and only short ones: the
    // attributes go into the header once the file is complete.
    if (int err = avio_open(&fc->pb, path.c_str(), AVIO_FLAG_WRITE); err < 0) return Fail(av::ToHResult(err));
    if (int err = avformat_write_header(fc, nullptr); err < 0) return Fail(av::ToHResult(err));
    avio_flush(fc->pb);
    if (fc->pb->error < 0) return Fail(av::ToHResult(fc->pb->error));

    AVChannelLayout inLayout{};
    av_channel_layout_default(&inLayout, input_.nChannels);
    SwrContext* swr = nullptr;
    int err = swr_alloc_set_opts2(&swr, &c->ch_layout, AV_SAMPLE_FMT_FLTP, c->sample_rate, &inLayout,
                                  input_.wBitsPerSample == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16,
                                  static_cast<int>(input_.nSamplesPerSec), 0, nullptr);
    av_channel_layout_uninit(&inLayout);
    e->resampler.reset(swr);
    if (err < 0 || (err = swr_init(swr)) < 0) return av::ToHResult(err);

    e->fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, output_.nChannels, c->frame_size * 2));
    e->frame.reset(av_frame_alloc());
    e->packet.reset(av_packet_alloc());
    if (!e->fifo || !e->frame || !e->packet) return E_OUTOFMEMORY;
    AVFrame* f = e->frame.get();
    f->nb_samples = c->frame_size;
    f->format = c->sample_fmt;
    f->sample_rate = c->sample_rate;
    if (av_channel_layout_copy(&f->ch_layout, &c->ch_layout) < 0 || av_frame_get_buffer(f, 0) < 0)
        return E_OUTOFMEMORY;
    e->planes.resize(output_.nChannels);
    enc_ = std::move(e);
    return S_OK;
}

HRESULT Writer::AllocateSample(DWORD size, std::unique_ptr<SampleBuffer>& out) const {
    out = std::make_unique<SampleBuffer>(size);
    return S_OK;
}

HRESULT Writer::WriteSample(DWORD input, QWORD /*sampleTime*/, DWORD /*flags*/, const SampleBuffer& sample) {
    if (!enc_) return NS_E_INVALID_REQUEST;
    if (input != 0) return E_INVALIDARG;
    if (FAILED(enc_->failure)) return enc_->failure;

    const std::size_t align = input_.nBlockAlign;
    std::vector<BYTE>& pending = enc_->partial;
    const BYTE* data = sample.GetBuffer();
    std::size_t size = sample.GetLength();
    if (!pending.empty()) {
        // Complete the frame that the previous call left unfinished.
        std::size_t take = std::min(size, align - pending.size());
        pending.insert(pending.end(), data, data + take);
        data += take;
        size -= take;
    }
    auto convert = [&](const BYTE* bytes, int frames) -> HRESULT {
        int capacity = swr_get_out_samples(enc_->resampler.get(), frames);
        if (capacity < 0) return av::ToHResult(capacity);
        std::vector<float*> out(enc_->planes.size());
        for (std::size_t ch = 0; ch < out.size(); ++ch) {
            enc_->planes[ch].resize(static_cast<std::size_t>(capacity) + 1);
            out[ch] = enc_->planes[ch].data();
        }
        const uint8_t* in[1] = {bytes};
        int got = swr_convert(enc_->resampler.get(), reinterpret_cast<uint8_t**>(out.data()), capacity,
                              bytes ? in : nullptr, frames);
        if (got < 0) return av::ToHResult(got);
        if (got > 0 && av_audio_fifo_write(enc_->fifo.get(), reinterpret_cast<void**>(out.data()), got) < got)
            return E_OUTOFMEMORY;
        return S_OK;
    };
    if (pending.size() == align) {
        if (HRESULT hr = convert(pending.data(), 1); FAILED(hr)) return Fail(hr);
        pending.clear();
    }
    std::size_t whole = size / align;
    if (whole > 0) {
        if (HRESULT hr = convert(data, static_cast<int>(whole)); FAILED(hr)) return Fail(hr);
    }
    pending.insert(pending.end(), data + whole * align, data + size);
    return EncodeFifo(false);
}

HRESULT Writer::EncodeFifo(bool final) {
    Encoding& e = *enc_;
    const int frameSize = e.codec->frame_size;
    if (final) {
        // The encoder takes whole frames only: complete the last one with
        // silence.
        int rest = av_audio_fifo_size(e.fifo.get()) % frameSize;
        if (rest != 0) {
            std::vector<std::vector<float>> silence(e.planes.size(), std::vector<float>(frameSize - rest, 0.0f));
            std::vector<float*> ptrs;
            for (auto& p : silence) ptrs.push_back(p.data());
            if (av_audio_fifo_write(e.fifo.get(), reinterpret_cast<void**>(ptrs.data()), frameSize - rest) < 0)
                return Fail(E_OUTOFMEMORY);
        }
    }
    while (av_audio_fifo_size(e.fifo.get()) >= frameSize) {
        if (av_frame_make_writable(e.frame.get()) < 0) return Fail(E_OUTOFMEMORY);
        if (av_audio_fifo_read(e.fifo.get(), reinterpret_cast<void**>(e.frame->data), frameSize) < frameSize)
            return Fail(E_UNEXPECTED);
        e.frame->pts = e.samplesSent;
        e.samplesSent += frameSize;
        if (HRESULT hr = EncodeFrame(false); FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT Writer::EncodeFrame(bool flush) {
    Encoding& e = *enc_;
    int err = avcodec_send_frame(e.codec.get(), flush ? nullptr : e.frame.get());
    if (err < 0) return Fail(av::ToHResult(err));
    for (;;) {
        err = avcodec_receive_packet(e.codec.get(), e.packet.get());
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) break;
        if (err < 0) return Fail(av::ToHResult(err));
        e.packet->stream_index = e.stream->index;
        av_packet_rescale_ts(e.packet.get(), e.codec->time_base, e.stream->time_base);
        err = av_interleaved_write_frame(e.format.get(), e.packet.get());
        if (err < 0) return Fail(av::ToHResult(err));
    }
    return FailIfOutputBroken();
}

HRESULT Writer::FailIfOutputBroken() {
    AVIOContext* pb = enc_->format->pb;
    if (pb != nullptr && pb->error < 0) return Fail(av::ToHResult(pb->error));
    return S_OK;
}

HRESULT Writer::EndWriting() {
    if (!enc_) return NS_E_INVALID_REQUEST;
    HRESULT hr = enc_->failure;
    if (SUCCEEDED(hr)) {
        // Whatever the resampler still holds, then the encoder's tail.
        HRESULT step = S_OK;
        if (swr_get_delay(enc_->resampler.get(), input_.nSamplesPerSec) > 0) {
            int capacity = swr_get_out_samples(enc_->resampler.get(), 0);
            if (capacity > 0) {
                std::vector<float*> out(enc_->planes.size());
                for (std::size_t ch = 0; ch < out.size(); ++ch) {
                    enc_->planes[ch].resize(static_cast<std::size_t>(capacity) + 1);
                    out[ch] = enc_->planes[ch].data();
                }
                int got = swr_convert(enc_->resampler.get(), reinterpret_cast<uint8_t**>(out.data()), capacity,
                                      nullptr, 0);
                if (got > 0) av_audio_fifo_write(enc_->fifo.get(), reinterpret_cast<void**>(out.data()), got);
            }
        }
        step = EncodeFifo(true);
        if (SUCCEEDED(step)) step = EncodeFrame(true);
        if (SUCCEEDED(step)) {
            int err = av_write_trailer(enc_->format.get());
            step = err < 0 ? Fail(av::ToHResult(err)) : FailIfOutputBroken();
        }
        hr = step;
    }
    AVFormatContext* fc = enc_->format.get();
    if (fc->pb != nullptr) {
        avio_flush(fc->pb);
        int pbError = fc->pb->error;
        int err = avio_closep(&fc->pb);
        if (SUCCEEDED(hr) && (pbError < 0 || err < 0)) hr = Fail(av::ToHResult(pbError < 0 ? pbError : err));
    }
    if (SUCCEEDED(hr)) hr = WriteAttributes();
    enc_.reset();
    return hr;
}

HRESULT Writer::WriteAttributes() {
    UniqueFd fd(open(kiv::ToUtf8(filename_).c_str(), O_RDWR | O_CLOEXEC));
    if (!fd) return Fail(HRESULT_FROM_WIN32(static_cast<std::uint32_t>(errno)));
    if (HRESULT hr = asf::RewriteAttributes(fd.get(), attributes_); FAILED(hr)) return Fail(hr);
    if (fd.reset() != 0) return Fail(HRESULT_FROM_WIN32(static_cast<std::uint32_t>(errno)));
    return S_OK;
}

HRESULT Writer::Fail(HRESULT hr) {
    if (enc_ && SUCCEEDED(enc_->failure)) enc_->failure = hr;
    std::vector<StatusCallback> targets;
    {
        std::lock_guard lock(callbackLock_);
        for (auto& [cookie, cb] : callbacks_) targets.push_back(cb);
    }
    for (auto& cb : targets) cb(Status::Error, hr);
    return hr;
}

HRESULT Writer::Advise(StatusCallback callback, DWORD* cookie) {
    if (!callback) return E_INVALIDARG;
    std::lock_guard lock(callbackLock_);
    DWORD id = nextCookie_++;
    callbacks_.emplace_back(id, std::move(callback));
    if (cookie != nullptr) *cookie = id;
    return S_OK;
}

HRESULT Writer::Unadvise(DWORD cookie) {
    std::lock_guard lock(callbackLock_);
    auto it = std::find_if(callbacks_.begin(), callbacks_.end(), [&](const auto& p) { return p.first == cookie; });
    if (it == callbacks_.end()) return E_INVALIDARG;
    callbacks_.erase(it);
    return S_OK;
}

}  // namespace kiv::media

// Glue between the runtime's vocabulary and FFmpeg: owners for FFmpeg
// objects, error translation and text conversion. Internal to kivmedia.
#pragma once

#include "platform/system/text.h"

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
}

#include "platform/com/types.h"

namespace kiv::media::av {

struct CodecContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwrDeleter {
    void operator()(SwrContext* s) const { swr_free(&s); }
};
struct FifoDeleter {
    void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};
struct InputDeleter {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
// An output context whose file was opened with avio_open: the file is
// closed (if still open) before the context goes.
struct OutputDeleter {
    void operator()(AVFormatContext* f) const {
        if (f->pb && !(f->oformat->flags & AVFMT_NOFILE)) avio_closep(&f->pb);
        avformat_free_context(f);
    }
};
// A custom I/O context together with its buffer (which FFmpeg may replace).
struct IoContextDeleter {
    void operator()(AVIOContext* io) const {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;
using FifoPtr = std::unique_ptr<AVAudioFifo, FifoDeleter>;
using InputPtr = std::unique_ptr<AVFormatContext, InputDeleter>;
using OutputPtr = std::unique_ptr<AVFormatContext, OutputDeleter>;
using IoContextPtr = std::unique_ptr<AVIOContext, IoContextDeleter>;

// FFmpeg writes its complaints to stderr unless told otherwise; this
// runtime lives inside other programs and must not write on their terminal.
// Once routed (RouteLog, idempotent), lines go nowhere unless the context
// that logs them carries a LogSink as its `opaque` pointer: then warnings
// and errors about that context's data are kept there for its owner.
// A sink is known to the log while it lives, so an `opaque` pointer that a
// host program's own FFmpeg contexts carry is never taken for one.
struct LogSink {
    LogSink();
    ~LogSink();
    LogSink(const LogSink&) = delete;
    LogSink& operator=(const LogSink&) = delete;

    std::mutex lock;
    std::string first;  // the first complaint, "name: text"
    int count = 0;

    void Add(std::string line);
    std::string First() {
        std::lock_guard guard(lock);
        return first;
    }
};
void RouteLog();

// FFmpeg's errors in the runtime's terms: system errors keep their errno
// (as HRESULT_FROM_WIN32 of it), the end of data is NS_E_NO_MORE_SAMPLES,
// anything about the data itself is NS_E_INVALID_DATA.
HRESULT ToHResult(int averror);

// The errno behind an HRESULT made by ToHResult, or EIO for anything else;
// used when a callback has to hand a failure back into FFmpeg.
int ToAvError(HRESULT hr);


}  // namespace kiv::media::av

#include "platform/media/av_support.h"

#include <cerrno>
#include <cstdarg>

#include "platform/media/media_types.h"

namespace kiv::media::av {

namespace {

// Finds the sink of the context that logs; only format and codec contexts
// can carry one (any other object's first member is its class, too, but
// its opaque pointer, if any, is not ours).
LogSink* SinkOf(void* object) {
    if (object == nullptr) return nullptr;
    const AVClass* cls = *static_cast<const AVClass* const*>(object);
    if (cls == avformat_get_class()) return static_cast<LogSink*>(static_cast<AVFormatContext*>(object)->opaque);
    if (cls == avcodec_get_class()) return static_cast<LogSink*>(static_cast<AVCodecContext*>(object)->opaque);
    return nullptr;
}

void LogCallback(void* object, int level, const char* format, va_list args) {
    if (level > AV_LOG_WARNING) return;
    LogSink* sink = SinkOf(object);
    if (sink == nullptr) return;
    char text[512];
    int prefix = 0;
    va_list copy;
    va_copy(copy, args);
    av_log_format_line2(object, level, format, copy, text, sizeof text, &prefix);
    va_end(copy);
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.empty()) return;
    const AVClass* cls = *static_cast<const AVClass* const*>(object);
    const char* name = cls->item_name ? cls->item_name(object) : nullptr;
    sink->Add(name && *name ? std::string(name) + ": " + line : line);
}

}  // namespace

void LogSink::Add(std::string line) {
    std::lock_guard guard(lock);
    if (count++ == 0) first = std::move(line);
}

void RouteLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(LogCallback); });
}

HRESULT ToHResult(int averror) {
    if (averror >= 0) return S_OK;
    if (averror == AVERROR_EOF) return NS_E_NO_MORE_SAMPLES;
    if (averror == AVERROR(ENOMEM)) return E_OUTOFMEMORY;
    // AVERROR(e) is -e for the system's error numbers, which are small;
    // FFmpeg's own codes are tags far outside that range.
    int e = -averror;
    if (e > 0 && e < 4096) return HRESULT_FROM_WIN32(static_cast<std::uint32_t>(e));
    return NS_E_INVALID_DATA;
}

int ToAvError(HRESULT hr) {
    auto u = static_cast<std::uint32_t>(hr);
    if ((u & 0xFFFF0000u) == 0x80070000u && (u & 0xFFFFu) != 0) return AVERROR(static_cast<int>(u & 0xFFFFu));
    if (hr == E_OUTOFMEMORY) return AVERROR(ENOMEM);
    return AVERROR(EIO);
}


}  // namespace kiv::media::av

#include "platform/media/av_support.h"

#include <cerrno>
#include <cstdarg>
#include <unordered_set>

#include "platform/media/media_types.h"

namespace kiv::media::av {

namespace {

// The sinks alive now; the lock also keeps a sink from going while a line
// is added to it.
std::mutex& SinksLock() {
    static std::mutex lock;
    return lock;
}
std::unordered_set<LogSink*>& Sinks() {
    static std::unordered_set<LogSink*> sinks;
    return sinks;
}

// Finds the sink of the context that logs; only format and codec contexts
// can carry one (any other object's first member is its class, too, but
// its opaque pointer, if any, is not ours).
LogSink* SinkOf(void* object) {
    if (object == nullptr) return nullptr;
    const AVClass* cls = *static_cast<const AVClass* const*>(object);
    void* opaque = nullptr;
    if (cls == avformat_get_class()) opaque = static_cast<AVFormatContext*>(object)->opaque;
    else if (cls == avcodec_get_class()) opaque = static_cast<AVCodecContext*>(object)->opaque;
    auto* sink = static_cast<LogSink*>(opaque);
    return sink && Sinks().count(sink) ? sink : nullptr;
}

void LogCallback(void* object, int level, const char* format, va_list args) {
    if (level > AV_LOG_WARNING) return;
    std::lock_guard known(SinksLock());
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

LogSink::LogSink() {
    std::lock_guard known(SinksLock());
    Sinks().insert(this);
}

LogSink::~LogSink() {
    std::lock_guard known(SinksLock());
    Sinks().erase(this);
}

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

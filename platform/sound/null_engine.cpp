#include "platform/sound/null_engine.h"

#include <algorithm>
#include <chrono>
#include <limits>

#include "platform/sound/null_sound_control.h"

namespace kiv::sound {

namespace {

// Frames that play in `ns` nanoseconds, computed without overflow for any
// realistic duration and without drift: callers always measure from an
// anchor, never add up rounded steps.
std::uint64_t FramesIn(std::int64_t ns, DWORD rate) {
    if (ns <= 0) return 0;
    const auto n = static_cast<std::uint64_t>(ns);
    constexpr std::uint64_t kSecond = 1'000'000'000;
    return (n / kSecond) * rate + (n % kSecond) * rate / kSecond;
}

}  // namespace

std::shared_ptr<NullEngine> NullEngine::Instance() {
    static const auto engine = std::make_shared<NullEngine>();
    return engine;
}

std::int64_t NullEngine::Now() const {
    if (clock_) return clock_();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool NullEngine::Capturing(const BufferState& b) const {
    return b.captureGeneration != 0 && b.captureGeneration == capture_.Generation();
}

void NullEngine::Advance() {
    const std::int64_t now = Now();
    for (BufferState* b : buffers_) {
        if (!b->playing) continue;
        const std::uint64_t total = FramesIn(now - b->anchorNs, b->format.rate);
        if (total <= b->framesSinceAnchor) continue;
        const std::uint64_t frames = total - b->framesSinceAnchor;
        b->framesSinceAnchor = total;
        Consume(*b, frames);
    }
    FlushPlayed();
}

void NullEngine::Consume(BufferState& b, std::uint64_t frames) {
    auto pos = static_cast<std::uint64_t>(b.playFrame);
    if (!b.looping) frames = std::min<std::uint64_t>(frames, b.frames - pos);
    if (Capturing(b)) {
        const WORD channels = b.format.channels;
        const std::size_t sampleBytes = b.format.bits / 8;
        // A buffer that loops many times between two calls plays the same
        // bytes each time, since its memory only changes under Lock.
        for (std::uint64_t i = 0; i < frames; ++i) {
            const BYTE* frame = b.memory.data() + ((pos + i) % b.frames) * b.format.BlockAlign();
            for (WORD c = 0; c < channels; ++c)
                capture_.Add(b.captureFrame, c, b.gain * ReadSample(b.format, frame + c * sampleBytes));
            ++b.captureFrame;
        }
    }
    pos += frames;
    if (!b.looping && pos >= b.frames) {
        // A one-shot play ends at the end of the buffer; the cursor is then
        // at the end, which is offset 0.
        b.playFrame = 0;
        b.playing = false;
        Stopped(b);
        return;
    }
    b.playFrame = static_cast<double>(pos % b.frames);
}

void NullEngine::FlushPlayed() {
    // Frames are final once every buffer still feeding the capture has
    // moved past them.
    std::uint64_t frontier = std::numeric_limits<std::uint64_t>::max();
    for (const BufferState* b : buffers_)
        if (b->playing && Capturing(*b)) frontier = std::min(frontier, b->captureFrame);
    if (frontier == std::numeric_limits<std::uint64_t>::max())
        capture_.FlushAll();
    else
        capture_.FlushBefore(frontier);
}

void NullEngine::Attach(BufferState& buffer) { buffers_.push_back(&buffer); }

void NullEngine::Detach(BufferState& buffer) { std::erase(buffers_, &buffer); }

void NullEngine::Started(BufferState& b) {
    b.anchorNs = Now();
    b.framesSinceAnchor = 0;
    if (Capturing(b)) return;  // moved while playing: it goes on where it is
    b.captureGeneration = 0;
    if (!capture_.Accepts(b.format)) return;
    b.captureGeneration = capture_.Generation();
    // Join the others where they are now (Advance has brought them up to
    // the present); alone, continue the recording where it ends.
    b.captureFrame = capture_.EndFrame();
    for (const BufferState* other : buffers_)
        if (other != &b && other->playing && Capturing(*other)) {
            b.captureFrame = other->captureFrame;
            break;
        }
}

void NullEngine::Stopped(BufferState& b) {
    b.captureGeneration = 0;
    FlushPlayed();
}

DWORD NullEngine::WriteLeadFrames(const BufferState& b) const {
    // Like a software mixer that reads ahead in 10 ms periods.
    return std::max<DWORD>(1, b.format.rate / 100);
}

void NullEngine::UseCapture(const std::string& path) {
    std::lock_guard lock(Mutex());
    Advance();
    capture_.Use(path);
}

void NullEngine::SetClock(std::function<std::int64_t()> clock) {
    std::lock_guard lock(Mutex());
    Advance();
    clock_ = std::move(clock);
    // Cursors continue from where they are under the new clock.
    const std::int64_t now = Now();
    for (BufferState* b : buffers_) {
        b->anchorNs = now;
        b->framesSinceAnchor = 0;
    }
}

void NullEngine::LoseAllBuffers() {
    std::lock_guard lock(Mutex());
    Advance();
    for (BufferState* b : buffers_) {
        b->lost = true;
        if (b->playing) {
            b->playing = false;
            Stopped(*b);
        }
    }
    FlushPlayed();
}

void NullEngine::Flush() {
    std::lock_guard lock(Mutex());
    Advance();
}

void SetNullSoundClock(std::function<std::int64_t()> clock) { NullEngine::Instance()->SetClock(std::move(clock)); }

void LoseNullSoundBuffers() { NullEngine::Instance()->LoseAllBuffers(); }

void FlushNullSoundCapture() { NullEngine::Instance()->Flush(); }

}  // namespace kiv::sound

// A player's way into the sound engine: holds the block last read from the
// decoder and pushes it into a stream of the process's device, making a new
// stream whenever the format changes.
//
// All channels share one lock, taken before the device's lock. The device is
// made by the first channel that needs a stream and goes with the last
// channel, so a later channel simply makes a new one.
#pragma once

#include <memory>
#include <vector>

#include "components/player/sound_stream.h"

namespace kiv {

class SoundChannel {
public:
    enum class PumpResult { Done, NotDone, Failure };

    explicit SoundChannel(sound::WindowHandle window);
    ~SoundChannel();
    SoundChannel(const SoundChannel&) = delete;
    SoundChannel& operator=(const SoundChannel&) = delete;

    void Load(const BYTE* data, std::size_t count, DWORD rate, WORD channels, WORD bits, bool isFloat = false);
    PumpResult Pump();
    void FadePause(bool pause);
    // Fades the stream out and lets it go; the next stream fades in.
    void Stop();
    void PlayNow();
    // Audio handed to the stream and not yet played.
    std::size_t QueuedBytes();
    // The output could not be opened, or the stream's buffer not made.
    bool OutputFailed();

private:
    bool CreateStream();
    void ForgetStream();

    sound::WindowHandle window_;
    std::vector<BYTE> pending_;
    std::size_t pendingCount_ = 0, pushed_ = 0;
    StreamFormat blockFormat_;
    std::shared_ptr<SoundStream> stream_;
    bool fadeInNext_ = false;
};

}  // namespace kiv

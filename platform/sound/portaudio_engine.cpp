#include "platform/sound/portaudio_engine.h"

#include <portaudio.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace kiv::sound {

namespace {

int Callback(const void* /*input*/, void* output, unsigned long frames, const PaStreamCallbackTimeInfo* /*time*/,
             PaStreamCallbackFlags /*flags*/, void* user) {
    static_cast<PortAudioEngine*>(user)->Render(static_cast<float*>(output), frames);
    return paContinue;
}

}  // namespace

void PortAudioEngine::StreamCloser::operator()(void* stream) const {
    Pa_StopStream(stream);
    Pa_CloseStream(stream);
}

PortAudioEngine::Library::~Library() {
    if (initialized) Pa_Terminate();
}

HRESULT PortAudioEngine::Open(std::shared_ptr<PortAudioEngine>& out) {
    std::shared_ptr<PortAudioEngine> engine;
    try {
        engine.reset(new PortAudioEngine());
    } catch (const std::bad_alloc&) {
        return DSERR_OUTOFMEMORY;
    }
    if (Pa_Initialize() != paNoError) return DSERR_NODRIVER;
    engine->library_.initialized = true;

    const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
    if (device == paNoDevice) return DSERR_NODRIVER;
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    if (info == nullptr || info->maxOutputChannels < 1) return DSERR_NODRIVER;

    PaStreamParameters params{};
    params.device = device;
    params.channelCount = std::min(2, info->maxOutputChannels);
    params.sampleFormat = paFloat32;
    // The streaming engine keeps about a second queued, so a roomy device
    // latency costs nothing and survives a busy machine.
    params.suggestedLatency = info->defaultHighOutputLatency;
    engine->rate_ = info->defaultSampleRate > 0 ? info->defaultSampleRate : 44100.0;
    engine->channels_ = params.channelCount;

    PaStream* stream = nullptr;
    if (Pa_OpenStream(&stream, nullptr, &params, engine->rate_, paFramesPerBufferUnspecified, paNoFlag, Callback,
                      engine.get()) != paNoError)
        return DSERR_NODRIVER;
    engine->stream_.reset(stream);
    if (const PaStreamInfo* si = Pa_GetStreamInfo(stream)) engine->latencySeconds_ = si->outputLatency;
    if (Pa_StartStream(stream) != paNoError) return DSERR_NODRIVER;
    out = std::move(engine);
    return DS_OK;
}

PortAudioEngine::~PortAudioEngine() {
    // Stop the callback before the buffer list it reads goes away.
    stream_.reset();
}

void PortAudioEngine::Attach(BufferState& buffer) { buffers_.push_back(&buffer); }

void PortAudioEngine::Detach(BufferState& buffer) { std::erase(buffers_, &buffer); }

DWORD PortAudioEngine::WriteLeadFrames(const BufferState& b) const {
    return static_cast<DWORD>(std::ceil((latencySeconds_ + 0.01) * b.format.rate));
}

void PortAudioEngine::Render(float* out, unsigned long frames) {
    std::memset(out, 0, sizeof(float) * frames * channels_);
    std::lock_guard lock(Mutex());
    for (BufferState* b : buffers_)
        if (b->playing) MixBuffer(*b, out, frames);
    for (unsigned long i = 0; i < frames * channels_; ++i) out[i] = std::clamp(out[i], -1.0f, 1.0f);
}

void PortAudioEngine::MixBuffer(BufferState& b, float* out, unsigned long frames) {
    const PcmFormat& f = b.format;
    const double step = f.rate / rate_;
    const double scale = b.gain / FullScale(f);
    const std::size_t sampleBytes = f.bits / 8;
    auto sample = [&](std::uint64_t frame, int channel) {
        return ReadSample(f, b.memory.data() + frame * f.BlockAlign() + channel * sampleBytes);
    };
    // Mono output takes the average; otherwise output channel c plays input
    // channel c, and a mono buffer plays on every output channel.
    auto input = [&](std::uint64_t frame, int c) {
        if (channels_ == 1) {
            double sum = 0;
            for (int i = 0; i < f.channels; ++i) sum += sample(frame, i);
            return sum / f.channels;
        }
        return sample(frame, f.channels == 1 ? 0 : c % f.channels);
    };

    double pos = b.playFrame;
    for (unsigned long i = 0; i < frames; ++i) {
        const auto i0 = static_cast<std::uint64_t>(pos);
        const double frac = pos - static_cast<double>(i0);
        std::uint64_t i1 = i0 + 1;
        if (i1 >= b.frames) i1 = b.looping ? 0 : i0;
        for (int c = 0; c < channels_; ++c) {
            const double a = input(i0, c);
            const double v = frac == 0 ? a : a + (input(i1, c) - a) * frac;
            out[i * channels_ + c] += static_cast<float>(v * scale);
        }
        pos += step;
        if (pos >= b.frames) {
            if (!b.looping) {
                b.playing = false;
                pos = 0;
                break;
            }
            pos -= b.frames;
        }
    }
    b.playFrame = pos;
}

}  // namespace kiv::sound

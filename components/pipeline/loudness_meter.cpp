#include "components/pipeline/loudness_meter.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

namespace kiv {
namespace {

std::u16string Ascii(const char* text) {
    std::u16string out;
    for (; *text; ++text) out += char16_t(static_cast<unsigned char>(*text));
    return out;
}

}  // namespace

std::u16string TrackGain::GainText() const {
    char text[32];
    std::snprintf(text, sizeof text, "%+.2f dB", gainDb);
    return Ascii(text);
}

std::u16string TrackGain::PeakText() const {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", peak);
    return Ascii(text);
}

struct LoudnessMeter::State {
    explicit State(ebur128_state* s) : st(s) {}
    ~State() { ebur128_destroy(&st); }
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    ebur128_state* st;
};

LoudnessMeter::LoudnessMeter() = default;
LoudnessMeter::~LoudnessMeter() = default;

namespace {

// Where each WAV speaker sounds, in the mask's bit order.
constexpr int kSpeakerPlaces[] = {
    EBUR128_Mp030, EBUR128_Mm030, EBUR128_Mp000, EBUR128_UNUSED,  // front L, R, centre, low frequency
    EBUR128_Mp110, EBUR128_Mm110, EBUR128_MpSC,  EBUR128_MmSC,    // back L, R, front L/R of centre
    EBUR128_Mp180, EBUR128_Mp090, EBUR128_Mm090, EBUR128_Up000,   // back centre, side L, R, top centre
    EBUR128_Up030, EBUR128_Up000, EBUR128_Um030, EBUR128_Up135,   // top front L, C, R, top back L
    EBUR128_Up180, EBUR128_Um135,                                 // top back C, R
};

}  // namespace

bool LoudnessMeter::Start(unsigned channels, unsigned long rate, unsigned bits, std::uint32_t speakers) {
    state_.reset();
    if (channels == 0 || (bits != 8 && bits != 16 && bits != 24 && bits != 32)) return false;
    if (ebur128_state* st = ebur128_init(channels, rate, EBUR128_MODE_I | EBUR128_MODE_SAMPLE_PEAK))
        state_ = std::make_unique<State>(st);
    // Mono and stereo keep the library's map (mono counted once, as
    // ffmpeg's meter does); more channels go by their speakers, the
    // channels beyond the mask's as front centre.
    if (state_ && channels > 2) {
        unsigned c = 0;
        for (unsigned bit = 0; bit < std::size(kSpeakerPlaces) && c < channels; ++bit)
            if (speakers & (1u << bit)) ebur128_set_channel(state_->st, c++, kSpeakerPlaces[bit]);
        for (; c < channels; ++c) ebur128_set_channel(state_->st, c, EBUR128_Mp000);
    }
    channels_ = channels;
    bits_ = bits;
    return state_ != nullptr;
}

void LoudnessMeter::Add(const std::uint8_t* data, std::size_t size) {
    if (!state_) return;
    const std::size_t sampleBytes = bits_ / 8;
    const std::size_t frames = size / (sampleBytes * channels_);
    const std::size_t count = frames * channels_;
    if (count == 0) return;
    // Every depth goes in as 32-bit samples, the library's widest integer.
    wide_.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* s = data + i * sampleBytes;
        std::uint32_t v = 0;
        switch (bits_) {
            case 8: v = std::uint32_t(std::uint8_t(s[0] - 128)) << 24; break;
            case 16: v = std::uint32_t(s[0]) << 16 | std::uint32_t(s[1]) << 24; break;
            case 24: v = std::uint32_t(s[0]) << 8 | std::uint32_t(s[1]) << 16 | std::uint32_t(s[2]) << 24; break;
            default:
                v = std::uint32_t(s[0]) | std::uint32_t(s[1]) << 8 | std::uint32_t(s[2]) << 16 | std::uint32_t(s[3]) << 24;
        }
        wide_[i] = int(std::int32_t(v));
    }
    if (ebur128_add_frames_int(state_->st, wide_.data(), frames) != EBUR128_SUCCESS) state_.reset();
}

std::optional<TrackGain> LoudnessMeter::Finish() {
    if (!state_) return std::nullopt;
    std::optional<TrackGain> result;
    double loudness = 0;
    if (ebur128_loudness_global(state_->st, &loudness) == EBUR128_SUCCESS && std::isfinite(loudness)) {
        TrackGain g;
        g.gainDb = kReplayGainReference - loudness;
        for (unsigned c = 0; c < channels_; ++c) {
            double peak = 0;
            if (ebur128_sample_peak(state_->st, c, &peak) == EBUR128_SUCCESS) g.peak = std::max(g.peak, peak);
        }
        result = g;
    }
    state_.reset();
    return result;
}

}  // namespace kiv

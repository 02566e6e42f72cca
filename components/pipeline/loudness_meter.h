// The loudness of a stream as ReplayGain states it: the gain that brings
// its integrated loudness (EBU R128, libebur128) to -18 LUFS, and its
// sample peak. Fed with the encoder's input PCM as it passes.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <cstdint>

namespace kiv {

struct TrackGain {
    double gainDb = 0;  // to add to reach -18 LUFS
    double peak = 0;    // largest sample, 1.0 = full scale

    // The forms the tags carry: "-7.23 dB", "0.988312".
    std::u16string GainText() const;
    std::u16string PeakText() const;
};

// The reference loudness of ReplayGain (version 2) in LUFS.
inline constexpr double kReplayGainReference = -18.0;

class LoudnessMeter {
public:
    LoudnessMeter();
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    // Integer PCM of 8 (unsigned), 16, 24 or 32 bits in WAV's interleaved
    // channel order; `speakers` is the WAV channel mask of more than two
    // channels (0: the usual layout of the count), which weighs each
    // channel by where it sounds (surrounds count more, the low-frequency
    // channel not at all). False when the library cannot measure that format.
    bool Start(unsigned channels, unsigned long rate, unsigned bits, std::uint32_t speakers = 0);
    // Whole frames of the format given to Start; bytes beyond them are
    // ignored.
    void Add(const std::uint8_t* data, std::size_t size);
    // The values of everything added; none when nothing was added or the
    // stream is too short or too quiet to have a loudness. Ends the
    // measurement.
    std::optional<TrackGain> Finish();
    bool active() const { return state_ != nullptr; }

private:
    struct State;  // the library's measurement
    std::unique_ptr<State> state_;
    unsigned channels_ = 0, bits_ = 0;
    std::vector<int> wide_;  // samples widened to 32 bits
};

}  // namespace kiv

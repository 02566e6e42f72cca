// Fits a source's PCM to what the destination encoder takes. Every encoder
// says what it takes by accepting or refusing a format record in
// SetInputFormatWFX; the converter offers the source's own format first and,
// only when that is refused, the reductions below, so an encoder that learns
// to take more gets more without a change here.
//
// Reductions, in the order offered (each only where it changes something):
//   1. 32-bit float, same channels (keeps the depth of 24- and 32-bit input);
//   2. 16-bit integer, same channels, with TPDF dither;
//   3. a standard downmix to stereo, as float, then as dithered 16-bit.
// The downmix places channels by the source's speaker mask (the usual layout
// for its channel count when it names none): fronts to their side, centres
// to both at -3 dB, surrounds to their side at -3 dB, the low-frequency
// channel left out, and every row scaled so that no sum can clip.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "components/common/interfaces.h"
#include "platform/riff/pcm_layout.h"

namespace kiv {

class PcmReduction {
public:
    // Sets the encoder's input format: the source's own when the encoder
    // takes it, else the first reduction it takes. When it takes none, the
    // encoder's refusal of the source's own format is returned (with its
    // error info), so the reason names the source as it is.
    HRESULT Negotiate(IKivAudioEncoder* encoder, const WAVEFORMATEX* source);

    // A reduction is in force: blocks must go through Convert.
    bool active() const { return active_; }
    // What was reduced, for the log: "The source's 24-bit 6-channel audio is
    // converted as 16-bit stereo (dithered), as the destination format cannot
    // hold it."
    std::u16string Describe() const;
    // The channels are mixed down: the loudness of the result is not the
    // source's.
    bool mixesChannels() const { return active_ && from_.channels != to_.channels; }

    // Converts the whole frames of `data`; the bytes of an incomplete frame
    // wait for the next block. The result stays valid until the next call.
    std::span<const BYTE> Convert(const BYTE* data, std::size_t size);

    // Chooses a reduction without an encoder (for tests and for callers
    // that know their target).
    void Setup(const PcmLayout& from, const PcmLayout& to);

private:
    double NextDither();

    bool active_ = false;
    bool dither_ = false;
    PcmLayout from_, to_;
    std::vector<double> matrix_;  // to_.channels rows of from_.channels weights
    std::vector<BYTE> carry_;     // an incomplete frame from the last block
    std::vector<BYTE> out_;
    std::vector<double> frame_;
    std::uint32_t seed_ = 0x2545F491u;
};

}  // namespace kiv

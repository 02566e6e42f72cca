#include "components/converter/pcm_reduction.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "components/common/component.h"

namespace kiv {
namespace {

// A sample as a value in [-1, 1).
double ReadNormalised(const PcmLayout& f, const BYTE* p) {
    if (f.isFloat) {
        float v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    switch (f.bits) {
        case 8: return (int(p[0]) - 128) / 128.0;
        case 16: return std::int16_t(std::uint16_t(p[0] | (p[1] << 8))) / 32768.0;
        case 24: {
            std::int32_t v = std::int32_t(std::uint32_t(p[0]) << 8 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 24);
            return v / 2147483648.0;
        }
        default: {
            std::uint32_t u = std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                              std::uint32_t(p[3]) << 24;
            return std::int32_t(u) / 2147483648.0;
        }
    }
}

// Weights of one speaker position in the left and right of a stereo mix.
struct StereoWeights {
    double left, right;
};

StereoWeights WeightsFor(DWORD speaker) {
    constexpr double kMinus3dB = 0.7071067811865476;
    switch (speaker) {
        case kSpeakerFrontLeft:
        case kSpeakerFrontLeftOfCenter: return {1, 0};
        case kSpeakerFrontRight:
        case kSpeakerFrontRightOfCenter: return {0, 1};
        case kSpeakerFrontCenter: return {kMinus3dB, kMinus3dB};
        case kSpeakerLowFrequency: return {0, 0};
        case kSpeakerBackLeft:
        case kSpeakerSideLeft:
        case 0x1000:   // top front left
        case 0x8000:   // top back left
            return {kMinus3dB, 0};
        case kSpeakerBackRight:
        case kSpeakerSideRight:
        case 0x4000:   // top front right
        case 0x20000:  // top back right
            return {0, kMinus3dB};
        default: return {0.5, 0.5};  // centres above and behind, and channels without a position
    }
}

const char16_t* ChannelsText(WORD channels, std::u16string& buffer) {
    if (channels == 1) return u"mono";
    if (channels == 2) return u"stereo";
    buffer.clear();
    for (char c : std::to_string(channels)) buffer += char16_t(c);
    buffer += u"-channel";
    return buffer.c_str();
}

std::u16string DepthText(const PcmLayout& f) {
    std::u16string s;
    for (char c : std::to_string(f.bits)) s += char16_t(c);
    s += f.isFloat ? u"-bit float" : u"-bit";
    return s;
}

}  // namespace

void PcmReduction::Setup(const PcmLayout& from, const PcmLayout& to) {
    from_ = from;
    to_ = to;
    active_ = true;
    carry_.clear();
    matrix_.assign(std::size_t(to.channels) * from.channels, 0.0);
    bool mixing = false;
    if (to.channels == from.channels) {
        for (WORD c = 0; c < to.channels; ++c) matrix_[std::size_t(c) * from.channels + c] = 1.0;
    } else {
        // Channels are stored in the order of their mask bits; channels
        // beyond the named ones have no position.
        mixing = true;
        DWORD mask = from.EffectiveMask();
        double sumLeft = 0, sumRight = 0;
        for (WORD c = 0; c < from.channels; ++c) {
            DWORD speaker = mask ? (mask & (~mask + 1)) : 0;
            mask &= mask - 1;
            StereoWeights w = WeightsFor(speaker);
            matrix_[c] = w.left;
            matrix_[from.channels + c] = w.right;
            sumLeft += w.left;
            sumRight += w.right;
        }
        // One scale for both sides keeps the balance; no sum can clip.
        const double scale = std::max({sumLeft, sumRight, 1.0});
        for (double& m : matrix_) m /= scale;
    }
    // Dither where the 16-bit result has more precision to lose.
    dither_ = !to.isFloat && to.bits == 16 && (mixing || from.isFloat || from.bits > 16);
    frame_.assign(to.channels, 0.0);
}

HRESULT PcmReduction::Negotiate(IKivAudioEncoder* encoder, const WAVEFORMATEX* source) {
    active_ = false;
    HRESULT own = encoder->SetInputFormatWFX(const_cast<WAVEFORMATEX*>(source));
    if (SUCCEEDED(own)) return own;
    const std::optional<PcmLayout> from = source ? ReadPcmLayout(*source) : std::nullopt;
    if (!from) return own;

    std::vector<PcmLayout> offers;
    auto offer = [&](WORD channels, bool isFloat) {
        PcmLayout to{channels, from->rate, WORD(isFloat ? 32 : 16), isFloat, 0};
        if (channels == from->channels) to.channelMask = from->channelMask;
        if (!(to == *from)) offers.push_back(to);
    };
    const bool deep = from->isFloat || from->bits > 16;
    if (deep) offer(from->channels, true);
    offer(from->channels, false);
    if (from->channels > 2) {
        if (deep) offer(2, true);
        offer(2, false);
    }
    for (const PcmLayout& to : offers) {
        PcmFormatRecord record = MakePcmFormatRecord(to);
        if (SUCCEEDED(encoder->SetInputFormatWFX(record.get()))) {
            SetErrorInfo(0, nullptr);
            Setup(*from, to);
            return S_OK;
        }
    }
    // The reason given is the refusal of the source as it is.
    return encoder->SetInputFormatWFX(const_cast<WAVEFORMATEX*>(source));
}

std::u16string PcmReduction::Describe() const {
    std::u16string a, b;
    std::u16string text = u"The source's ";
    text += DepthText(from_) + u" " + ChannelsText(from_.channels, a);
    text += u" audio is converted as " + DepthText(to_) + u" " + ChannelsText(to_.channels, b);
    if (dither_) text += u" (dithered)";
    text += u", as the destination format cannot hold it.";
    return text;
}

double PcmReduction::NextDither() {
    // Triangular noise of one step peak: the sum of two uniform values.
    auto uniform = [this] {
        seed_ ^= seed_ << 13;
        seed_ ^= seed_ >> 17;
        seed_ ^= seed_ << 5;
        return double(seed_) / 4294967296.0 - 0.5;
    };
    return uniform() + uniform();
}

std::span<const BYTE> PcmReduction::Convert(const BYTE* data, std::size_t size) {
    const std::size_t inFrame = from_.FrameBytes(), outFrame = to_.FrameBytes();
    const BYTE* src = data;
    std::size_t avail = size;
    if (!carry_.empty()) {
        const std::size_t need = std::min(inFrame - carry_.size(), size);
        carry_.insert(carry_.end(), data, data + need);
        src += need;
        avail -= need;
    }
    const std::size_t frames = (carry_.size() == inFrame ? 1 : 0) + avail / inFrame;
    out_.resize(frames * outFrame);
    BYTE* out = out_.data();
    const std::size_t inBytes = from_.bits / 8;
    auto convertFrame = [&](const BYTE* in) {
        for (WORD o = 0; o < to_.channels; ++o) {
            const double* row = &matrix_[std::size_t(o) * from_.channels];
            double v = 0;
            for (WORD c = 0; c < from_.channels; ++c)
                if (row[c] != 0) v += row[c] * ReadNormalised(from_, in + c * inBytes);
            frame_[o] = v;
        }
        for (WORD o = 0; o < to_.channels; ++o) {
            if (to_.isFloat) {
                const float f = float(frame_[o]);
                std::memcpy(out, &f, sizeof f);
                out += sizeof f;
            } else {
                double s = frame_[o] * 32768.0;
                if (dither_) s += NextDither();
                const auto i = std::int16_t(std::clamp(std::nearbyint(s), -32768.0, 32767.0));
                out[0] = BYTE(std::uint16_t(i));
                out[1] = BYTE(std::uint16_t(i) >> 8);
                out += 2;
            }
        }
    };
    if (carry_.size() == inFrame) {
        convertFrame(carry_.data());
        carry_.clear();
    }
    while (avail >= inFrame) {
        convertFrame(src);
        src += inFrame;
        avail -= inFrame;
    }
    carry_.insert(carry_.end(), src, src + avail);
    return {out_.data(), std::size_t(out - out_.data())};
}

}  // namespace kiv

#include "runtime/lame_enc/encoder_stream.h"

#include <lame/lame.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>

namespace kiv::lame_enc {
namespace {

// libmp3lame prints progress and warnings on stderr by default; a library
// inside someone else's process must stay quiet.
void Silent(const char*, va_list) {}

constexpr DWORD kMinKbps = 8;
constexpr DWORD kMaxKbps = 320;

bool KbpsInRange(DWORD kbps) { return kbps >= kMinKbps && kbps <= kMaxKbps; }

// Everything the record can say, in libmp3lame terms, checked before any
// encoder exists.
struct Settings {
    DWORD sampleRate = 0;
    DWORD outputRate = 0;
    int channels = 2;
    MPEG_mode mode = JOINT_STEREO;
    int preset = 0;  // libmp3lame preset, 0 = none
    std::optional<int> quality;
    std::optional<vbr_mode> vbr;  // unset: as the preset or libmp3lame decides
    int cbrKbps = 0;
    int meanKbps = 0;
    int minKbps = 0;
    int maxKbps = 0;
    int vbrQuality = 4;
    bool privateBit = false;
    bool crc = false;
    bool copyright = false;
    bool original = true;
    bool noReservoir = false;
    bool strictIso = false;
    bool vbrHeader = false;
};

BE_ERR ModeFromRecord(LONG nMode, Settings& s) {
    switch (nMode) {
    case BE_MP3_MODE_STEREO:
    // libmp3lame has no dual-channel coding; independent stereo is the
    // nearest thing that still keeps the channels apart.
    case BE_MP3_MODE_DUALCHANNEL:
        s.mode = STEREO;
        s.channels = 2;
        return BE_ERR_SUCCESSFUL;
    case BE_MP3_MODE_JSTEREO:
        s.mode = JOINT_STEREO;
        s.channels = 2;
        return BE_ERR_SUCCESSFUL;
    case BE_MP3_MODE_MONO:
        s.mode = MONO;
        s.channels = 1;
        return BE_ERR_SUCCESSFUL;
    default:
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }
}

BE_ERR FromMp3Form(const BE_CONFIG_MP3_FORM& r, Settings& s) {
    s.sampleRate = r.dwSampleRate;
    if (BE_ERR err = ModeFromRecord(r.byMode, s); err != BE_ERR_SUCCESSFUL) {
        return err;
    }
    if (!KbpsInRange(r.wBitrate)) {
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }
    s.cbrKbps = r.wBitrate;
    s.privateBit = r.bPrivate != 0;
    s.crc = r.bCRC != 0;
    s.copyright = r.bCopyright != 0;
    s.original = r.bOriginal != 0;
    s.vbrHeader = false;
    return BE_ERR_SUCCESSFUL;
}

// Plain bitrate fields, used when no preset fixes the bitrate.
BE_ERR BitrateFromFields(const BE_CONFIG_LHV1& r, Settings& s) {
    if (r.bEnableVBR != 0) {
        if (r.nVBRQuality < 0 || r.nVBRQuality > 9) {
            return BE_ERR_INVALID_FORMAT_PARAMETERS;
        }
        s.vbrQuality = r.nVBRQuality;
        if (r.dwBitrate != 0) {
            if (!KbpsInRange(r.dwBitrate)) return BE_ERR_INVALID_FORMAT_PARAMETERS;
            s.minKbps = static_cast<int>(r.dwBitrate);
        }
        if (r.dwMaxBitrate != 0) {
            if (!KbpsInRange(r.dwMaxBitrate)) return BE_ERR_INVALID_FORMAT_PARAMETERS;
            s.maxKbps = static_cast<int>(r.dwMaxBitrate);
        }
        switch (r.nVbrMethod) {
        case VBR_METHOD_NONE:
            s.vbr = vbr_off;
            s.cbrKbps = s.minKbps;
            s.minKbps = 0;
            s.maxKbps = 0;
            return BE_ERR_SUCCESSFUL;
        case VBR_METHOD_OLD:
            s.vbr = vbr_rh;
            break;
        case VBR_METHOD_DEFAULT:
        case VBR_METHOD_NEW:
        case VBR_METHOD_MTRH:
            s.vbr = vbr_mtrh;
            break;
        case VBR_METHOD_ABR:
            if (r.dwVbrAbr_bps == 0) return BE_ERR_INVALID_FORMAT_PARAMETERS;
            break;
        default:
            return BE_ERR_INVALID_FORMAT_PARAMETERS;
        }
    }
    if (r.dwVbrAbr_bps != 0) {
        // An average bitrate given in bits per second takes precedence over
        // the quality scale, as the field's name promises.
        const DWORD kbps = (r.dwVbrAbr_bps + 500) / 1000;
        if (!KbpsInRange(kbps)) return BE_ERR_INVALID_FORMAT_PARAMETERS;
        s.vbr = vbr_abr;
        s.meanKbps = static_cast<int>(kbps);
        return BE_ERR_SUCCESSFUL;
    }
    if (r.bEnableVBR == 0) {
        if (r.dwBitrate != 0 && !KbpsInRange(r.dwBitrate)) return BE_ERR_INVALID_FORMAT_PARAMETERS;
        s.vbr = vbr_off;
        s.cbrKbps = static_cast<int>(r.dwBitrate);
    }
    return BE_ERR_SUCCESSFUL;
}

BE_ERR FromLameForm(const BE_CONFIG_LHV1& r, Settings& s) {
    if (r.dwStructVersion < CURRENT_STRUCT_VERSION || r.dwStructSize < CURRENT_STRUCT_SIZE) {
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }
    s.sampleRate = r.dwSampleRate;
    s.outputRate = r.dwReSampleRate;
    // Left to itself libmp3lame moves low bitrates to a lower sample rate
    // (MPEG-2). A caller that asks for MPEG-1 and gives an MPEG-1 rate gets
    // its own rate kept, so the file plays at the rate it was given.
    const bool mpeg1Rate = r.dwSampleRate == 32000 || r.dwSampleRate == 44100 || r.dwSampleRate == 48000;
    if (s.outputRate == 0 && r.dwMpegVersion == MPEG1 && mpeg1Rate) s.outputRate = r.dwSampleRate;
    if (BE_ERR err = ModeFromRecord(r.nMode, s); err != BE_ERR_SUCCESSFUL) {
        return err;
    }
    s.privateBit = r.bPrivate != 0;
    s.crc = r.bCRC != 0;
    s.copyright = r.bCopyright != 0;
    s.original = r.bOriginal != 0;
    s.noReservoir = r.bNoRes != 0;
    s.strictIso = r.bStrictIso != 0;
    s.vbrHeader = r.bWriteVBRHeader != 0;

    switch (r.nPreset) {
    case LQP_NOPRESET:
    case LQP_NORMAL_QUALITY:
    case LQP_VOICE_QUALITY:
        break;
    case LQP_LOW_QUALITY:
        s.quality = 7;
        break;
    case LQP_HIGH_QUALITY:
        s.quality = 2;
        break;
    case LQP_VERYHIGH_QUALITY:
        s.quality = 0;
        break;
    case LQP_R3MIX:
        s.preset = R3MIX;
        break;
    case LQP_STANDARD:
        s.preset = STANDARD;
        break;
    case LQP_FAST_STANDARD:
        s.preset = STANDARD_FAST;
        break;
    case LQP_EXTREME:
        s.preset = EXTREME;
        break;
    case LQP_FAST_EXTREME:
        s.preset = EXTREME_FAST;
        break;
    case LQP_INSANE:
        s.preset = INSANE;
        break;
    case LQP_MEDIUM:
        s.preset = MEDIUM;
        break;
    case LQP_FAST_MEDIUM:
        s.preset = MEDIUM_FAST;
        break;
    case LQP_ABR: {
        const DWORD kbps = (r.dwVbrAbr_bps + 500) / 1000;
        if (!KbpsInRange(kbps)) return BE_ERR_INVALID_FORMAT_PARAMETERS;
        // libmp3lame reads a preset number between 8 and 320 as the tuned
        // average-bitrate setting for that many kbps.
        s.preset = static_cast<int>(kbps);
        s.vbr = vbr_abr;
        s.meanKbps = static_cast<int>(kbps);
        break;
    }
    case LQP_CBR:
        if (!KbpsInRange(r.dwBitrate)) return BE_ERR_INVALID_FORMAT_PARAMETERS;
        s.preset = static_cast<int>(r.dwBitrate);
        s.vbr = vbr_off;
        s.cbrKbps = static_cast<int>(r.dwBitrate);
        break;
    default:
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }

    const bool presetFixesBitrate = s.preset != 0;
    if (!presetFixesBitrate) {
        if (BE_ERR err = BitrateFromFields(r, s); err != BE_ERR_SUCCESSFUL) {
            return err;
        }
    }
    // Algorithm quality: only a value whose high byte is the complement of
    // its low byte counts, so an all-zero record keeps the default.
    const unsigned low = r.nQuality & 0xFFu;
    const unsigned high = (r.nQuality >> 8) & 0xFFu;
    if (high == (~low & 0xFFu)) {
        if (low > 9) return BE_ERR_INVALID_FORMAT_PARAMETERS;
        s.quality = static_cast<int>(low);
    }
    return BE_ERR_SUCCESSFUL;
}

BE_ERR ReadSettings(const BE_CONFIG& config, Settings& s) {
    BE_ERR err = BE_ERR_INVALID_FORMAT;
    if (config.dwConfig == BE_CONFIG_LAME) {
        err = FromLameForm(config.format.LHV1, s);
    } else if (config.dwConfig == BE_CONFIG_MP3) {
        err = FromMp3Form(config.format.mp3, s);
    }
    if (err != BE_ERR_SUCCESSFUL) return err;
    // libmp3lame resamples what it cannot code directly; outside this range
    // the record is simply wrong.
    if (s.sampleRate < 8000 || s.sampleRate > 192000) return BE_ERR_INVALID_FORMAT_PARAMETERS;
    if (s.outputRate != 0 && (s.outputRate < 8000 || s.outputRate > 48000)) {
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }
    return BE_ERR_SUCCESSFUL;
}

bool Apply(lame_global_flags* lame, const Settings& s) {
    bool ok = true;
    auto check = [&ok](int result) { ok = ok && result >= 0; };
    check(lame_set_errorf(lame, Silent));
    check(lame_set_debugf(lame, Silent));
    check(lame_set_msgf(lame, Silent));
    check(lame_set_in_samplerate(lame, static_cast<int>(s.sampleRate)));
    check(lame_set_num_channels(lame, s.channels));
    if (s.outputRate != 0) check(lame_set_out_samplerate(lame, static_cast<int>(s.outputRate)));
    if (s.preset != 0) check(lame_set_preset(lame, s.preset));
    check(lame_set_mode(lame, s.mode));
    if (s.vbr == vbr_off) {
        check(lame_set_VBR(lame, vbr_off));
        if (s.cbrKbps != 0) check(lame_set_brate(lame, s.cbrKbps));
    } else if (s.vbr == vbr_abr) {
        check(lame_set_VBR(lame, vbr_abr));
        check(lame_set_VBR_mean_bitrate_kbps(lame, s.meanKbps));
    } else if (s.vbr) {
        check(lame_set_VBR(lame, *s.vbr));
        check(lame_set_VBR_q(lame, s.vbrQuality));
    }
    if (s.minKbps != 0) check(lame_set_VBR_min_bitrate_kbps(lame, s.minKbps));
    if (s.maxKbps != 0) check(lame_set_VBR_max_bitrate_kbps(lame, s.maxKbps));
    if (s.quality) check(lame_set_quality(lame, *s.quality));
    check(lame_set_extension(lame, s.privateBit ? 1 : 0));
    check(lame_set_error_protection(lame, s.crc ? 1 : 0));
    check(lame_set_copyright(lame, s.copyright ? 1 : 0));
    check(lame_set_original(lame, s.original ? 1 : 0));
    check(lame_set_disable_reservoir(lame, s.noReservoir ? 1 : 0));
    check(lame_set_strict_ISO(lame, s.strictIso ? 1 : 0));
    check(lame_set_bWriteVbrTag(lame, s.vbrHeader ? 1 : 0));
    // Tags are the caller's business; the stream holds MPEG audio only.
    lame_set_write_id3tag_automatic(lame, 0);
    return ok && lame_init_params(lame) >= 0;
}

}  // namespace

void EncoderStream::LameCloser::operator()(lame_global_struct* flags) const { lame_close(flags); }

EncoderStream::EncoderStream(LamePtr lame, int channels, bool wantsHeader)
    : lame_(std::move(lame)), channels_(channels), wantsHeader_(wantsHeader) {
    const int frameSize = lame_get_framesize(lame_.get());
    samplesPerChunk_ = static_cast<DWORD>(frameSize * channels_);
    // libmp3lame's own worst case for one call is 1.25 bytes per sample
    // frame plus 7200; a carried half frame may add one sample frame.
    outputBufferSize_ = static_cast<DWORD>((frameSize + 1) * 5 / 4 + 7200 + 1);
    staging_.resize(samplesPerChunk_ + 1);
}

EncoderStream::~EncoderStream() = default;

BE_ERR EncoderStream::Create(const BE_CONFIG& config, std::unique_ptr<EncoderStream>& stream) {
    stream.reset();
    Settings settings;
    if (BE_ERR err = ReadSettings(config, settings); err != BE_ERR_SUCCESSFUL) {
        return err;
    }
    LamePtr lame(lame_init());
    if (!lame) return BE_ERR_NO_MORE_HANDLES;
    if (!Apply(lame.get(), settings)) return BE_ERR_INVALID_FORMAT_PARAMETERS;
    // The caller asked for a header, but libmp3lame may decline one (for
    // example with a free-format stream); then there is no placeholder.
    const bool header = settings.vbrHeader && lame_get_bWriteVbrTag(lame.get()) != 0;
    stream = std::make_unique<EncoderStream>(std::move(lame), settings.channels, header);
    return BE_ERR_SUCCESSFUL;
}

BE_ERR EncoderStream::Encode(DWORD sampleCount, const std::int16_t* samples, BYTE* output, DWORD* outputBytes) {
    if (outputBytes == nullptr || output == nullptr || (samples == nullptr && sampleCount != 0)) {
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }
    *outputBytes = 0;
    if (finished_) return BE_ERR_INVALID_HANDLE;
    // The output buffer the caller holds is sized for one chunk.
    if (sampleCount > samplesPerChunk_) return BE_ERR_BUFFER_TOO_SMALL;
    if (sampleCount == 0) return BE_ERR_SUCCESSFUL;

    std::size_t staged = 0;
    if (carry_) {
        staging_[staged++] = *carry_;
        carry_.reset();
    }
    std::memcpy(staging_.data() + staged, samples, sampleCount * sizeof(std::int16_t));
    staged += sampleCount;
    if (channels_ == 2 && staged % 2 != 0) {
        carry_ = staging_[--staged];
    }
    const int frames = static_cast<int>(staged) / channels_;
    if (frames == 0) return BE_ERR_SUCCESSFUL;

    int produced;
    if (channels_ == 2) {
        produced = lame_encode_buffer_interleaved(lame_.get(), staging_.data(), frames, output,
                                                  static_cast<int>(outputBufferSize_));
    } else {
        produced = lame_encode_buffer(lame_.get(), staging_.data(), staging_.data(), frames, output,
                                      static_cast<int>(outputBufferSize_));
    }
    if (produced < 0) {
        return produced == -1 ? BE_ERR_BUFFER_TOO_SMALL : BE_ERR_INVALID_FORMAT_PARAMETERS;
    }
    fingerprint_.Add(output, static_cast<std::size_t>(produced));
    *outputBytes = static_cast<DWORD>(produced);
    return BE_ERR_SUCCESSFUL;
}

BE_ERR EncoderStream::Finish(BYTE* output, DWORD* outputBytes) {
    if (outputBytes == nullptr || output == nullptr) return BE_ERR_INVALID_FORMAT_PARAMETERS;
    *outputBytes = 0;
    if (finished_) return BE_ERR_INVALID_HANDLE;
    finished_ = true;
    // A lone left sample has no partner any more: pad the frame with silence
    // rather than lose it.
    if (carry_) {
        std::int16_t frame[2] = {*carry_, 0};
        carry_.reset();
        const int produced =
            lame_encode_buffer_interleaved(lame_.get(), frame, 1, output, static_cast<int>(outputBufferSize_));
        if (produced < 0) return BE_ERR_BUFFER_TOO_SMALL;
        fingerprint_.Add(output, static_cast<std::size_t>(produced));
        *outputBytes = static_cast<DWORD>(produced);
    }
    const int flushed = lame_encode_flush(lame_.get(), output + *outputBytes,
                                          static_cast<int>(outputBufferSize_ - *outputBytes));
    if (flushed < 0) return BE_ERR_BUFFER_TOO_SMALL;
    fingerprint_.Add(output + *outputBytes, static_cast<std::size_t>(flushed));
    *outputBytes += static_cast<DWORD>(flushed);

    if (wantsHeader_) {
        FinishedTag tag;
        tag.fingerprint = fingerprint_;
        tag.frame.resize(2880);  // largest Layer III frame
        const std::size_t size = lame_get_lametag_frame(lame_.get(), tag.frame.data(), tag.frame.size());
        if (size > 0 && size <= tag.frame.size()) {
            tag.frame.resize(size);
            finishedTag_ = std::move(tag);
        }
    }
    return BE_ERR_SUCCESSFUL;
}

std::optional<FinishedTag> EncoderStream::TakeFinishedTag() {
    std::optional<FinishedTag> tag = std::move(finishedTag_);
    finishedTag_.reset();
    return tag;
}

}  // namespace kiv::lame_enc

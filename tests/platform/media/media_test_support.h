// Helpers shared by the media runtime tests: a private temporary folder,
// child processes for the reference tools, generated PCM, and a writer
// driven the way the WMA encoder component drives it.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/media/profile_manager.h"
#include "platform/media/writer.h"

namespace kiv::media::test {

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kivmedia-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

struct CommandResult {
    int status;
    std::string output;
};

inline CommandResult Run(const std::string& command) {
    CommandResult r{-1, {}};
    FILE* p = popen((command + " 2>/dev/null").c_str(), "r");
    if (p == nullptr) return r;
    char buffer[65536];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) r.output.append(buffer, n);
    r.status = pclose(p);
    return r;
}

inline bool HaveTool(const std::string& name) { return Run("command -v " + name).status == 0; }

#define KIV_REQUIRE_TOOL(name) \
    if (!::kiv::media::test::HaveTool(name)) GTEST_SKIP() << name " is not installed"

// `ffprobe` key=value lines ("TAG:title=..." included) as a map.
inline std::map<std::string, std::string> Probe(const std::string& file) {
    auto r = Run("ffprobe -v error -show_entries "
                 "format=duration:format_tags:stream=codec_name,sample_rate,channels,bit_rate "
                 "-of default=nw=1 '" + file + "'");
    std::map<std::string, std::string> out;
    std::size_t pos = 0;
    while (pos < r.output.size()) {
        std::size_t end = r.output.find('\n', pos);
        if (end == std::string::npos) end = r.output.size();
        std::string line = r.output.substr(pos, end - pos);
        auto eq = line.find('=');
        if (eq != std::string::npos) out.emplace(line.substr(0, eq), line.substr(eq + 1));
        pos = end + 1;
    }
    return out;
}

// Interleaved 16-bit samples of what `ffmpeg` decodes, at the file's own
// rate and channel count.
inline std::vector<int16_t> DecodeWithFfmpeg(const std::string& file) {
    auto r = Run("ffmpeg -v error -i '" + file + "' -f s16le -");
    std::vector<int16_t> pcm(r.output.size() / 2);
    std::memcpy(pcm.data(), r.output.data(), pcm.size() * 2);
    return pcm;
}

// A sine wave, interleaved; the right channel a fifth above the left so a
// swap or a lost channel shows.
inline std::vector<int16_t> Sine(double seconds, DWORD rate, WORD channels, double freq = 440.0) {
    auto frames = static_cast<std::size_t>(seconds * rate);
    std::vector<int16_t> pcm(frames * channels);
    for (std::size_t i = 0; i < frames; ++i)
        for (WORD c = 0; c < channels; ++c)
            pcm[i * channels + c] =
                static_cast<int16_t>(12000 * std::sin(2 * M_PI * freq * (c == 0 ? 1.0 : 1.5) * i / rate));
    return pcm;
}

// Rising crossings of one channel per second, measured between the first
// and the last crossing so silence around the tone does not count: the
// tone's frequency. The hysteresis keeps coding noise near zero out.
inline double Frequency(const std::vector<int16_t>& pcm, WORD channels, WORD channel, DWORD rate) {
    std::size_t frames = pcm.size() / channels, crossings = 0, first = 0, last = 0;
    bool low = false;
    for (std::size_t i = 0; i < frames; ++i) {
        int v = pcm[i * channels + channel];
        if (v < -1000) {
            low = true;
        } else if (v > 1000 && low) {
            low = false;
            if (crossings++ == 0) first = i;
            last = i;
        }
    }
    return crossings > 1 ? (crossings - 1) * double(rate) / double(last - first) : 0;
}

inline std::vector<BYTE> WideBytes(const std::u16string& s) {
    std::vector<BYTE> b((s.size() + 1) * 2, 0);
    for (std::size_t i = 0; i < s.size(); ++i) {
        b[2 * i] = static_cast<BYTE>(s[i] & 0xFF);
        b[2 * i + 1] = static_cast<BYTE>(s[i] >> 8);
    }
    return b;
}

// The one-stream profile the WMA encoder builds: for a bitrate, the format
// within 249 bit/s of it (the largest block wins, the later on a tie); for
// a quality, the lowest level above 100 × q − 1. Null when none matches.
inline std::unique_ptr<Profile> BuildProfile(bool vbr, double bitrateOrQuality, WORD channels, DWORD rate) {
    std::unique_ptr<ProfileManager> pm;
    ProfileManager::Create(pm);
    std::unique_ptr<Profile> profile;
    if (FAILED(pm->CreateEmptyProfile(WMT_VER_9_0, profile))) return nullptr;
    profile->SetName(u"Custom profile");
    CodecInfo& ci = pm->GetCodecInfo();
    DWORD codecs = 0;
    ci.GetCodecInfoCount(WMMEDIATYPE_Audio, &codecs);
    std::unique_ptr<StreamConfig> best;
    int bestD = 200;
    WORD bestAlign = 0;
    for (DWORD c = 0; c < codecs; ++c) {
        std::int32_t flag = vbr ? 1 : 0;
        ci.SetCodecEnumerationSetting(WMMEDIATYPE_Audio, c, u"_VBRENABLED", AttrType::Bool,
                                      reinterpret_cast<BYTE*>(&flag), 4);
        DWORD formats = 0;
        ci.GetCodecFormatCount(WMMEDIATYPE_Audio, c, &formats);
        for (DWORD f = 0; f < formats; ++f) {
            std::unique_ptr<StreamConfig> sc;
            ci.GetCodecFormat(WMMEDIATYPE_Audio, c, f, sc);
            WAVEFORMATEX w{};
            if (!sc->GetMediaType().GetWaveFormat(w) || w.wFormatTag != 0x161 || w.nChannels != channels ||
                w.nSamplesPerSec != rate)
                continue;
            if (vbr) {
                auto q = static_cast<float>(bitrateOrQuality);
                int d = static_cast<int>((w.nAvgBytesPerSec & 0xFF) - 100 * q);
                if (d < 0) d += 100;
                if (d < bestD) {
                    bestD = d;
                    best = std::move(sc);
                }
            } else if (std::abs(8.0 * w.nAvgBytesPerSec - bitrateOrQuality) <= 249 && w.nBlockAlign >= bestAlign) {
                bestAlign = w.nBlockAlign;
                best = std::move(sc);
            }
        }
    }
    if (!best) return nullptr;
    std::unique_ptr<StreamConfig> stream;
    profile->CreateNewStream(WMMEDIATYPE_Audio, stream);
    stream->SetStreamNumber(1);
    stream->SetStreamName(u"Audio Stream");
    stream->SetConnectionName(u"Audio");
    if (!vbr) stream->SetBitrate(best->GetBitrate());
    stream->SetMediaType(best->GetMediaType());
    profile->AddStream(*stream);
    return profile;
}

inline WAVEFORMATEX PcmFormat(WORD channels, DWORD rate, WORD bits = 16) {
    WAVEFORMATEX w{};
    w.wFormatTag = WAVE_FORMAT_PCM;
    w.nChannels = channels;
    w.nSamplesPerSec = rate;
    w.wBitsPerSample = bits;
    w.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    w.nAvgBytesPerSec = rate * w.nBlockAlign;
    return w;
}

}  // namespace kiv::media::test

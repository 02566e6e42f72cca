#include "components/wma/profile_builder.h"

#include <cstring>
#include <vector>

#include "platform/media/profile_manager.h"

namespace kiv::wma {

using namespace kiv::media;

namespace {

bool Fits(const WAVEFORMATEX& w, WORD channels, DWORD rate) {
    return w.wFormatTag == WAVE_FORMAT_WMAUDIO2 && w.nChannels == channels && w.nSamplesPerSec == rate;
}

// One enumerated format: where it sits in the enumeration and its record.
struct Candidate {
    DWORD codec;
    DWORD format;
    WAVEFORMATEX wfx;
};

// Walks every audio codec with "_VBRENABLED" set as asked and collects the
// formats whose format block is a WAVEFORMATEX.
HRESULT Enumerate(CodecInfo& info, bool vbr, std::vector<Candidate>& out) {
    DWORD codecs = 0;
    if (HRESULT hr = info.GetCodecInfoCount(WMMEDIATYPE_Audio, &codecs); FAILED(hr)) return hr;
    for (DWORD c = 0; c < codecs; ++c) {
        const std::int32_t flag = vbr ? 1 : 0;
        BYTE value[4];
        std::memcpy(value, &flag, 4);
        if (HRESULT hr = info.SetCodecEnumerationSetting(WMMEDIATYPE_Audio, c, u"_VBRENABLED", AttrType::Bool, value,
                                                         4);
            FAILED(hr))
            return hr;
        DWORD formats = 0;
        if (HRESULT hr = info.GetCodecFormatCount(WMMEDIATYPE_Audio, c, &formats); FAILED(hr)) return hr;
        for (DWORD f = 0; f < formats; ++f) {
            std::unique_ptr<StreamConfig> config;
            if (HRESULT hr = info.GetCodecFormat(WMMEDIATYPE_Audio, c, f, config); FAILED(hr)) return hr;
            WAVEFORMATEX w{};
            if (config->GetMediaType().GetWaveFormat(w)) out.push_back({c, f, w});
        }
    }
    return S_OK;
}

HRESULT NewProfile(ProfileManager& manager, std::unique_ptr<Profile>& profile) {
    if (HRESULT hr = manager.CreateEmptyProfile(WMT_VER_9_0, profile); FAILED(hr)) return hr;
    return profile->SetName(u"Custom profile");
}

HRESULT AddAudioStream(Profile& profile, const MediaType& type, std::optional<DWORD> bitrate) {
    std::unique_ptr<StreamConfig> stream;
    if (HRESULT hr = profile.CreateNewStream(WMMEDIATYPE_Audio, stream); FAILED(hr)) return hr;
    if (HRESULT hr = stream->SetStreamNumber(1); FAILED(hr)) return hr;
    if (HRESULT hr = stream->SetStreamName(u"Audio Stream"); FAILED(hr)) return hr;
    if (HRESULT hr = stream->SetConnectionName(u"Audio"); FAILED(hr)) return hr;
    if (bitrate) {
        if (HRESULT hr = stream->SetBitrate(*bitrate); FAILED(hr)) return hr;
    }
    if (HRESULT hr = stream->SetMediaType(type); FAILED(hr)) return hr;
    return profile.AddStream(*stream);
}

std::vector<WAVEFORMATEX> Records(const std::vector<Candidate>& candidates) {
    std::vector<WAVEFORMATEX> records;
    records.reserve(candidates.size());
    for (const auto& c : candidates) records.push_back(c.wfx);
    return records;
}

}  // namespace

std::optional<std::size_t> ChooseConstantBitrateFormat(std::span<const WAVEFORMATEX> formats, DWORD bitrate,
                                                       WORD channels, DWORD rate) {
    std::optional<std::size_t> best;
    for (std::size_t i = 0; i < formats.size(); ++i) {
        const WAVEFORMATEX& w = formats[i];
        if (!Fits(w, channels, rate)) continue;
        const std::int64_t diff = std::int64_t{8} * w.nAvgBytesPerSec - std::int64_t{bitrate};
        if (diff > 249 || diff < -249) continue;
        if (!best || w.nBlockAlign >= formats[*best].nBlockAlign) best = i;
    }
    return best;
}

std::optional<DWORD> NearestConstantBitrate(std::span<const WAVEFORMATEX> formats, DWORD bitrate, WORD channels,
                                           DWORD rate) {
    std::optional<DWORD> nearest;
    for (const WAVEFORMATEX& w : formats) {
        if (!Fits(w, channels, rate)) continue;
        const DWORD offered = DWORD{8} * w.nAvgBytesPerSec;
        const auto distance = [bitrate](DWORD b) { return b > bitrate ? b - bitrate : bitrate - b; };
        if (!nearest || distance(offered) < distance(*nearest) ||
            (distance(offered) == distance(*nearest) && offered < *nearest))
            nearest = offered;
    }
    return nearest;
}

std::optional<std::size_t> ChooseQualityFormat(std::span<const WAVEFORMATEX> formats, float quality, WORD channels,
                                               DWORD rate) {
    // The level distance is taken from the stored single-precision quality
    // as it is, so 0.6 (stored a hair below) still selects level 75.
    const float wanted = 100.0f * quality;
    std::optional<std::size_t> best, highest;
    long bestDistance = 0;
    for (std::size_t i = 0; i < formats.size(); ++i) {
        const WAVEFORMATEX& w = formats[i];
        if (!Fits(w, channels, rate)) continue;
        const int level = static_cast<int>(w.nAvgBytesPerSec & 0xFF);
        if (!highest || level > static_cast<int>(formats[*highest].nAvgBytesPerSec & 0xFF)) highest = i;
        const float over = static_cast<float>(level) - wanted;
        if (!(over > -1.0f)) continue;  // the level lies below what was asked for
        const long distance = static_cast<long>(over);  // toward zero: 0 for anything within one level
        if (!best || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best ? best : highest;
}

HRESULT BuildConstantBitrateProfile(DWORD bitrate, WORD channels, DWORD rate, std::unique_ptr<Profile>& out,
                                    DWORD* used) {
    std::unique_ptr<ProfileManager> manager;
    if (HRESULT hr = ProfileManager::Create(manager); FAILED(hr)) return hr;
    std::unique_ptr<Profile> profile;
    if (HRESULT hr = NewProfile(*manager, profile); FAILED(hr)) return hr;
    std::vector<Candidate> candidates;
    if (HRESULT hr = Enumerate(manager->GetCodecInfo(), false, candidates); FAILED(hr)) return hr;
    const auto records = Records(candidates);
    auto chosen = ChooseConstantBitrateFormat(records, bitrate, channels, rate);
    // A bitrate the codec lacks for this input (320 kbit/s for mono at
    // 22050 Hz, say) takes the nearest one it has, rather than failing the
    // first write and so the whole file.
    if (!chosen) {
        if (const auto nearest = NearestConstantBitrate(records, bitrate, channels, rate))
            chosen = ChooseConstantBitrateFormat(records, *nearest, channels, rate);
    }
    if (!chosen) return kNoMatchingFormat;

    std::unique_ptr<StreamConfig> config;
    const Candidate& c = candidates[*chosen];
    if (HRESULT hr = manager->GetCodecInfo().GetCodecFormat(WMMEDIATYPE_Audio, c.codec, c.format, config); FAILED(hr))
        return hr;
    // The stream's type is built from the chosen record and its setup bytes:
    // the codec's sub-type, fixed samples of one block each.
    const MediaType& codecType = config->GetMediaType();
    GUID subtype = WMMEDIASUBTYPE_PCM;
    subtype.Data1 = WAVE_FORMAT_WMAUDIO2;
    const BYTE* extra = codecType.format.data() + sizeof(WAVEFORMATEX);
    const std::size_t extraSize = codecType.format.size() - sizeof(WAVEFORMATEX);
    MediaType type = MediaType::ForWaveFormat(subtype, c.wfx, extraSize ? extra : nullptr, extraSize);
    if (HRESULT hr = AddAudioStream(*profile, type, DWORD{8} * c.wfx.nAvgBytesPerSec); FAILED(hr)) return hr;
    if (used) *used = DWORD{8} * c.wfx.nAvgBytesPerSec;
    out = std::move(profile);
    return S_OK;
}

HRESULT BuildQualityProfile(float quality, WORD channels, DWORD rate, std::unique_ptr<Profile>& out) {
    std::unique_ptr<ProfileManager> manager;
    if (HRESULT hr = ProfileManager::Create(manager); FAILED(hr)) return hr;
    std::unique_ptr<Profile> profile;
    if (HRESULT hr = NewProfile(*manager, profile); FAILED(hr)) return hr;
    std::vector<Candidate> candidates;
    if (HRESULT hr = Enumerate(manager->GetCodecInfo(), true, candidates); FAILED(hr)) return hr;
    const auto records = Records(candidates);
    const auto chosen = ChooseQualityFormat(records, quality, channels, rate);
    if (!chosen) return kNoMatchingFormat;

    std::unique_ptr<StreamConfig> config;
    const Candidate& c = candidates[*chosen];
    if (HRESULT hr = manager->GetCodecInfo().GetCodecFormat(WMMEDIATYPE_Audio, c.codec, c.format, config); FAILED(hr))
        return hr;
    // A quality stream keeps the codec's own media type and sets no bitrate.
    if (HRESULT hr = AddAudioStream(*profile, config->GetMediaType(), std::nullopt); FAILED(hr)) return hr;
    out = std::move(profile);
    return S_OK;
}

}  // namespace kiv::wma

#include "components/opus/opus_gain.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

#include "platform/system/text.h"

namespace kiv::opus {
namespace {

constexpr double kReferenceStep = 5.0;  // -18 LUFS against -23 LUFS

struct GainPair {
    std::u16string_view field;  // REPLAYGAIN_*_GAIN
    std::u16string_view r128;
    std::u16string_view peak;   // dropped
};

constexpr GainPair kPairs[] = {
    {kTrackGainField, u"R128_TRACK_GAIN", kTrackPeakField},
    {kAlbumGainField, u"R128_ALBUM_GAIN", kAlbumPeakField},
};

// "-7.23 dB" -> -7.23; the unit is optional, anything else is no gain.
bool ParseGain(std::u16string_view text, double& gain) {
    std::string ascii;
    for (char16_t c : text) {
        if (c > 0x7F) return false;
        ascii += char(c);
    }
    const char* begin = ascii.c_str();
    while (*begin == ' ') ++begin;
    if (*begin == '+') ++begin;
    char* end = nullptr;
    gain = std::strtod(begin, &end);
    if (end == begin || !std::isfinite(gain)) return false;
    std::string_view tail(end);
    while (!tail.empty() && tail.front() == ' ') tail.remove_prefix(1);
    return tail.empty() || tail == "dB" || tail == "db" || tail == "DB";
}

}  // namespace

void SplitGainFields(const std::vector<TagField>& fields, std::vector<TagField>& others,
                     std::vector<vorbis::Comment>& r128) {
    others.clear();
    r128.clear();
    for (const TagField& f : fields) {
        const GainPair* pair = nullptr;
        bool peak = false;
        for (const GainPair& p : kPairs) {
            if (f.name == p.field) pair = &p;
            if (f.name == p.peak) peak = true;
        }
        if (peak) continue;
        if (!pair) {
            others.push_back(f);
            continue;
        }
        double gain = 0;
        if (!ParseGain(f.value, gain)) continue;
        const long q = std::clamp(std::lround((gain - kReferenceStep) * 256.0), -32768L, 32767L);
        r128.push_back({ToUtf8(pair->r128), std::to_string(q)});
    }
}

void AddGainFields(const vorbis::CommentTable& table, std::vector<TagField>& fields) {
    for (const GainPair& p : kPairs) {
        auto it = table.find(std::u16string(p.r128));
        if (it == table.end()) continue;
        const std::string text = ToUtf8(it->second);
        int q = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), q);
        if (ec != std::errc() || end != text.data() + text.size() || q < -32768 || q > 32767) continue;
        char gain[32];
        std::snprintf(gain, sizeof gain, "%+.2f dB", q / 256.0 + kReferenceStep);
        std::erase_if(fields, [&](const TagField& f) { return f.name == p.field; });
        fields.push_back({std::u16string(p.field), std::u16string(gain, gain + std::char_traits<char>::length(gain))});
    }
}

}  // namespace kiv::opus

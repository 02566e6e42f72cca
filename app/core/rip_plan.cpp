#include "app/core/rip_plan.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "platform/system/text.h"

namespace kiv::app {

const RipFormat* FindRipFormat(std::string_view name) {
    static const RipFormat formats[] = {
        {"wav", ".wav", &kClassWaveEncoder},
        {"mp3", ".mp3", &kClassMp3Encoder},
        {"ogg", ".ogg", &kClassVorbisEncoder},
        {"wma", ".wma", &kClassWmaEncoder},
        {"flac", ".flac", &kClassFlacEncoder},
        {"opus", ".opus", &kClassOpusEncoder},
    };
    for (const RipFormat& f : formats)
        if (EqualsNoCase(name, std::string_view(f.name))) return &f;
    return nullptr;
}

namespace {

std::optional<int> Number(std::string_view text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

}  // namespace

std::optional<std::vector<int>> ParseTrackList(std::string_view text, int trackCount) {
    std::vector<int> tracks;
    while (!text.empty()) {
        const auto comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        if (comma != std::string_view::npos && text.empty()) return std::nullopt;  // a trailing comma
        const auto dash = item.find('-');
        const auto first = Number(item.substr(0, dash));
        const auto last = dash == std::string_view::npos ? first : Number(item.substr(dash + 1));
        if (!first || !last || *first < 1 || *last > trackCount || *first > *last) return std::nullopt;
        for (int t = *first; t <= *last; ++t)
            if (std::find(tracks.begin(), tracks.end(), t) == tracks.end()) tracks.push_back(t);
    }
    if (tracks.empty()) return std::nullopt;
    return tracks;
}

std::string UnnamedTrack(int number) {
    char text[32];
    std::snprintf(text, sizeof text, "Track %02d", number);
    return text;
}

}  // namespace kiv::app

#include "app/core/rip_plan.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>

#include "platform/scsi/sg_device_ops.h"
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

std::optional<int> DriveNumberForDevice(const std::string& device, const std::vector<std::string>& devices) {
    std::string name = device;
    int number = 0;
    const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), number);
    if (ec == std::errc() && end == name.data() + name.size() && !name.empty())
        return number >= 1 && number <= static_cast<int>(devices.size()) ? std::optional<int>(number) : std::nullopt;
    // cdda://sr0/ names the device by its node's name; cdda:///dev/sr0 by its path.
    constexpr std::string_view kScheme = "cdda://";
    if (name.size() > kScheme.size() && EqualsNoCase(std::string_view(name).substr(0, kScheme.size()), kScheme)) {
        name.erase(0, kScheme.size());
        while (name.size() > 1 && name.back() == '/') name.pop_back();
        if (!name.empty() && name.front() != '/') name = "/dev/" + name;
    }
    if (name.empty()) return std::nullopt;
    namespace fs = std::filesystem;
    auto same = [](const std::string& a, const std::string& b) {
        std::error_code ec1, ec2;
        const fs::path ca = fs::canonical(a, ec1), cb = fs::canonical(b, ec2);
        return ec1 || ec2 ? a == b : ca == cb;
    };
    for (std::size_t i = 0; i < devices.size(); ++i)
        if (same(name, devices[i])) return static_cast<int>(i + 1);
    return std::nullopt;
}

std::vector<std::string> SystemCdDevices() { return scsi::MakeSystemSgDeviceOps()->ListDevices(); }

}  // namespace kiv::app

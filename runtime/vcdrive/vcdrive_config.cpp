#include "runtime/vcdrive/vcdrive_config.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <set>
#include <sstream>
#include <tuple>

namespace kiv::vcd {

namespace {

std::string Trim(const std::string& text) {
    const auto begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return {};
    const auto end = text.find_last_not_of(" \t\r\n");
    return text.substr(begin, end - begin + 1);
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

template <typename T>
bool ParseNumber(const std::string& text, T* value) {
    const char* end = text.data() + text.size();
    const auto [at, ec] = std::from_chars(text.data(), end, *value);
    return ec == std::errc() && at == end;
}

std::string Resolve(const std::string& folder, const std::string& name) {
    if (name.empty() || name.front() == '/') return name;
    return folder + name;
}

class Parser {
public:
    Parser(std::string path, std::string* error) : path_(std::move(path)), error_(error) {
        const auto slash = path_.rfind('/');
        folder_ = slash == std::string::npos ? std::string() : path_.substr(0, slash + 1);
    }

    std::optional<VcdConfig> Run() {
        std::ifstream in(path_);
        if (!in) return Fail("cannot read the file");
        std::string line;
        while (std::getline(in, line)) {
            ++line_;
            line = Trim(line);
            if (line.empty() || line[0] == '#' || line[0] == ';') continue;
            if (line.front() == '[') {
                if (!Section(Lower(line))) return std::nullopt;
                continue;
            }
            const auto equals = line.find('=');
            if (equals == std::string::npos) return Fail("expected key = value");
            if (!Key(Lower(Trim(line.substr(0, equals))), Trim(line.substr(equals + 1)))) return std::nullopt;
        }
        return Finish();
    }

private:
    std::optional<VcdConfig> Fail(const std::string& why) {
        if (error_) *error_ = path_ + ":" + std::to_string(line_) + ": " + why;
        return std::nullopt;
    }

    bool Section(const std::string& name) {
        if (name == "[drive]") {
            config_.drives.emplace_back();
            config_.drives.back().discs.emplace_back();
            explicitAddress_.push_back(false);
            return true;
        }
        if (name == "[disc]") {
            if (config_.drives.empty()) return !Fail("[disc] before any [drive]");
            config_.drives.back().discs.emplace_back();
            return true;
        }
        return !Fail("unknown section " + name);
    }

    bool Key(const std::string& key, const std::string& value) {
        if (config_.drives.empty()) return !Fail("key outside a [drive] section");
        DriveSetup& drive = config_.drives.back();
        DiscSetup& disc = drive.discs.back();
        auto number = [&](auto* target) { return ParseNumber(value, target) || !Fail("bad number for " + key); };

        if (key == "vendor") {
            drive.vendor = value;
        } else if (key == "product") {
            drive.product = value;
        } else if (key == "revision") {
            drive.revision = value;
        } else if (key == "device_type") {
            if (!number(&drive.deviceType)) return false;
            if (drive.deviceType != 4 && drive.deviceType != 5) return !Fail("device_type must be 4 or 5");
        } else if (key == "adapter" || key == "target" || key == "lun") {
            std::uint8_t* field = key == "adapter" ? &drive.adapter : key == "target" ? &drive.target : &drive.lun;
            if (!number(field)) return false;
            if (key != "adapter" && *field > 7) return !Fail(key + " must be 0 to 7");
            explicitAddress_.back() = true;
        } else if (key == "track") {
            disc.tracks.push_back(DiscSetup::Track{true, Resolve(folder_, value), 0});
        } else if (key == "data") {
            DiscSetup::Track track{false, {}, 0};
            if (!number(&track.frames)) return false;
            if (track.frames <= 0) return !Fail("a data track needs frames");
            disc.tracks.push_back(track);
        } else if (key == "cue") {
            disc.cuePath = Resolve(folder_, value);
        } else if (key == "session2") {
            if (!number(&disc.session2Frames)) return false;
            if (disc.session2Frames <= 0) return !Fail("session2 needs frames");
        } else if (key == "tray") {
            const std::string state = Lower(value);
            if (state == "open") {
                disc.tray = DiscSetup::Tray::Open;
            } else if (state == "empty") {
                disc.tray = DiscSetup::Tray::Empty;
            } else if (state == "closed") {
                disc.tray = DiscSetup::Tray::Closed;
            } else {
                return !Fail("tray is open, empty or closed");
            }
        } else if (key == "jitter") {
            if (!number(&drive.jitterSamples)) return false;
            if (drive.jitterSamples < 0) return !Fail("jitter cannot be negative");
        } else if (key == "offset") {
            if (!number(&drive.offsetSamples)) return false;
            if (drive.offsetSamples < -44100 || drive.offsetSamples > 44100)
                return !Fail("offset lies between -44100 and 44100 samples");
        } else if (key == "seed") {
            return number(&drive.seed);
        } else if (key == "unreadable") {
            return Unreadable(drive, value);
        } else if (key == "change_after") {
            if (!number(&drive.changeAfter)) return false;
            if (drive.changeAfter < 0) return !Fail("change_after cannot be negative");
        } else if (key == "slow") {
            if (!number(&drive.slowMs)) return false;
            if (drive.slowMs < 0) return !Fail("slow cannot be negative");
        } else {
            return !Fail("unknown key " + key);
        }
        return true;
    }

    bool Unreadable(DriveSetup& drive, const std::string& value) {
        std::istringstream words(value);
        std::string frames, count, extra;
        words >> frames >> count >> extra;
        if (frames.empty() || count.empty() || !extra.empty()) return !Fail("unreadable = FRAME[-FRAME] COUNT|always");
        UnreadableRange range;
        const auto dash = frames.find('-', 1);
        if (!ParseNumber(frames.substr(0, dash), &range.first)) return !Fail("bad frame in unreadable");
        range.last = range.first;
        if (dash != std::string::npos && !ParseNumber(frames.substr(dash + 1), &range.last)) {
            return !Fail("bad frame in unreadable");
        }
        if (range.last < range.first) return !Fail("unreadable range ends before it starts");
        if (Lower(count) == "always") {
            range.always = true;
        } else if (!ParseNumber(count, &range.failures) || range.failures < 0) {
            return !Fail("bad count in unreadable");
        }
        drive.unreadable.push_back(range);
        return true;
    }

    std::optional<VcdConfig> Finish() {
        std::set<std::tuple<int, int, int>> taken;
        for (std::size_t i = 0; i < config_.drives.size(); ++i) {
            DriveSetup& drive = config_.drives[i];
            if (!explicitAddress_[i]) {
                drive.adapter = static_cast<std::uint8_t>(i / 8);
                drive.target = static_cast<std::uint8_t>(i % 8);
                drive.lun = 0;
            }
            if (!taken.emplace(drive.adapter, drive.target, drive.lun).second) {
                line_ = 0;
                return Fail("two drives at adapter " + std::to_string(drive.adapter) + " target " +
                            std::to_string(drive.target) + " lun " + std::to_string(drive.lun));
            }
            for (const DiscSetup& disc : drive.discs) {
                if (!disc.cuePath.empty() && !disc.tracks.empty()) {
                    line_ = 0;
                    return Fail("a disc has either a cue sheet or tracks, not both");
                }
            }
        }
        return std::move(config_);
    }

    std::string path_;
    std::string folder_;
    std::string* error_;
    int line_ = 0;
    VcdConfig config_;
    std::vector<bool> explicitAddress_;
};

}  // namespace

std::optional<VcdConfig> LoadVcdConfig(const std::string& path, std::string* error) {
    return Parser(path, error).Run();
}

}  // namespace kiv::vcd

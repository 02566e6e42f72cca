#include "components/cdrip/cddb/disc_toc.h"

#include <cstdio>

namespace kiv::cddb {
namespace {

constexpr std::int32_t kLeadIn = 150;  // frames before LBA 0
constexpr std::int32_t kFramesPerSecond = 75;

std::int32_t Seconds(std::int32_t lba) { return (lba + kLeadIn) / kFramesPerSecond; }

int DigitSum(std::int32_t n) {
    int sum = 0;
    for (; n > 0; n /= 10) sum += n % 10;
    return sum;
}

}  // namespace

bool DiscToc::IsUsable() const {
    if (trackStarts.empty() || trackStarts.size() > 99) return false;
    std::int32_t previous = -1;
    for (std::int32_t start : trackStarts) {
        if (start < 0 || start <= previous) return false;
        previous = start;
    }
    return leadOut > previous;
}

std::uint32_t DiscId(const DiscToc& toc) {
    std::uint32_t n = 0;
    for (std::int32_t start : toc.trackStarts) n += static_cast<std::uint32_t>(DigitSum(Seconds(start)));
    // The per-track lengths telescope to lead-out minus first track.
    const std::int32_t first = toc.trackStarts.empty() ? Seconds(0) : Seconds(toc.trackStarts.front());
    const std::uint32_t t = static_cast<std::uint32_t>(Seconds(toc.leadOut) - first);
    return ((n % 255) << 24) | ((t & 0xFFFF) << 8) | static_cast<std::uint32_t>(toc.trackStarts.size() & 0xFF);
}

std::string DiscIdText(std::uint32_t id) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(id));
    return text;
}

std::string QueryCommand(const DiscToc& toc) {
    std::string command = "cddb query " + DiscIdText(DiscId(toc)) + " " + std::to_string(toc.trackStarts.size());
    for (std::int32_t start : toc.trackStarts) command += " " + std::to_string(start + kLeadIn);
    command += " " + std::to_string(Seconds(toc.leadOut));
    return command;
}

}  // namespace kiv::cddb

#include "app/core/tips.h"

#include <chrono>
#include <memory>
#include <random>

#include "platform/system/profile.h"

namespace kiv::app {

TipPicker ClockSeededPicker() {
    auto engine = std::make_shared<std::mt19937>(
        static_cast<std::mt19937::result_type>(std::chrono::system_clock::now().time_since_epoch().count()));
    return [engine](int n) { return std::uniform_int_distribution<int>(1, n)(*engine); };
}

Tip PickTip(const std::string& tipsFile, const TipPicker& pick) {
    Tip tip;
    long count = GetPrivateProfileInt("Count", "Value", 0, tipsFile);
    if (count <= 0) return tip;
    if (count > 1000000) count = 1000000;  // a damaged file cannot ask for a silly range
    int k = pick(int(count));
    if (k < 1 || k > count) k = 1;
    std::string section = std::to_string(k);
    tip.shown = true;
    tip.title = GetPrivateProfileString(section, "Title", "No title available.", tipsFile);
    tip.content = GetPrivateProfileString(section, "Content", "No content available.", tipsFile);
    return tip;
}

}  // namespace kiv::app

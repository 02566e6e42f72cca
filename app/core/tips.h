// Everyday tips: one tip picked from "Tips.ini" ([Count] Value=N, then
// sections "1" to "N" with Title and Content).
#pragma once

#include <functional>
#include <string>

namespace kiv::app {

struct Tip {
    bool shown = false;  // false: no tip (no file, or a count of 0)
    std::string title, content;
};

// Picks a number from 1 to n, each equally likely.
using TipPicker = std::function<int(int n)>;
// A picker seeded from the clock.
TipPicker ClockSeededPicker();

// The tip `pick` chooses; a chosen section without its keys gives "No title
// available." and "No content available.".
Tip PickTip(const std::string& tipsFile, const TipPicker& pick);

}  // namespace kiv::app

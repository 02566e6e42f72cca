// The keys a host of the player reads from a terminal, and how the bytes a
// terminal sends for them are told apart.
//
// Header only: the programs that use it link no part of the player module.
#pragma once

#include <cstddef>
#include <string_view>

namespace kiv {

enum class PlayerKey {
    None,         // a key without a meaning here; skipped
    PauseResume,  // space
    SeekBack,     // left arrow
    SeekForward,  // right arrow
    VolumeUp,     // up arrow
    VolumeDown,   // down arrow
    Next,         // n
    Quit,         // q or Escape
};

struct DecodedKey {
    PlayerKey key = PlayerKey::None;
    std::size_t length = 0;  // bytes taken from the input; 0 only for none
};

// Decodes the first key press in `bytes`, as one read of a terminal in
// non-canonical mode delivers them (several presses may come together).
// Arrow keys come as CSI ("ESC [") or SS3 ("ESC O") sequences, the CSI form
// possibly with parameters (modifiers: "ESC [ 1 ; 5 C" is still right); an
// escape sequence that means nothing here is skipped whole, so its tail is
// never read as keys. An ESC that starts no sequence is the Escape key.
inline DecodedKey DecodeKey(std::string_view bytes) {
    if (bytes.empty()) return {};
    const char first = bytes[0];
    if (first != '\x1b') {
        switch (first) {
            case ' ': return {PlayerKey::PauseResume, 1};
            case 'q':
            case 'Q': return {PlayerKey::Quit, 1};
            case 'n':
            case 'N': return {PlayerKey::Next, 1};
            default: return {PlayerKey::None, 1};
        }
    }
    if (bytes.size() < 2 || (bytes[1] != '[' && bytes[1] != 'O')) return {PlayerKey::Quit, 1};

    std::size_t end = 2;
    if (bytes[1] == '[') {
        // Parameter and intermediate bytes, then one final byte.
        while (end < bytes.size() && bytes[end] >= 0x20 && bytes[end] <= 0x3F) ++end;
    }
    if (end >= bytes.size()) return {PlayerKey::None, bytes.size()};  // cut short: dropped
    const char code = bytes[end];
    const std::size_t length = end + 1;
    switch (code) {
        case 'A': return {PlayerKey::VolumeUp, length};
        case 'B': return {PlayerKey::VolumeDown, length};
        case 'C': return {PlayerKey::SeekForward, length};
        case 'D': return {PlayerKey::SeekBack, length};
        default: return {PlayerKey::None, length};
    }
}

}  // namespace kiv

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/player/player_keys.h"

namespace kiv::test {
namespace {

// Every key press in `bytes`, decoded one after the other as the player's
// host does with what one read of the terminal gave.
std::vector<PlayerKey> Keys(std::string_view bytes) {
    std::vector<PlayerKey> keys;
    while (!bytes.empty()) {
        DecodedKey k = DecodeKey(bytes);
        if (k.length == 0 || k.length > bytes.size()) {
            ADD_FAILURE() << "took " << k.length << " of " << bytes.size() << " bytes";
            break;
        }
        keys.push_back(k.key);
        bytes.remove_prefix(k.length);
    }
    return keys;
}

TEST(PlayerKeysTest, DecodesEachKeyOfTheTerminal) {
    using K = PlayerKey;
    const struct {
        std::string bytes;
        std::vector<PlayerKey> keys;
    } cases[] = {
        {" ", {K::PauseResume}},
        {"q", {K::Quit}},
        {"Q", {K::Quit}},
        {"n", {K::Next}},
        {"\x1b", {K::Quit}},
        {"\x1b[A", {K::VolumeUp}},
        {"\x1b[B", {K::VolumeDown}},
        {"\x1b[C", {K::SeekForward}},
        {"\x1b[D", {K::SeekBack}},
        // Application cursor mode, and arrows with a modifier.
        {"\x1bOD", {K::SeekBack}},
        {"\x1b[1;5C", {K::SeekForward}},
        // Several presses in one read.
        {"\x1b[C\x1b[C n", {K::SeekForward, K::SeekForward, K::PauseResume, K::Next}},
        // Escape followed by another key: Escape, then the key.
        {"\x1bq", {K::Quit, K::Quit}},
        // Sequences of other keys (F5, Delete, Home) are skipped whole; their
        // bytes must not turn into presses of q, n or space.
        {"\x1b[15~ \x1b[3~\x1bOH", {K::None, K::PauseResume, K::None, K::None}},
        {"x\x7f", {K::None, K::None}},
    };
    for (const auto& c : cases) EXPECT_EQ(Keys(c.bytes), c.keys) << "bytes: " << testing::PrintToString(c.bytes);
}

TEST(PlayerKeysTest, ASequenceCutShortIsDroppedWhole) {
    for (std::string_view bytes : {"\x1b[", "\x1b[1;5", "\x1bO"}) {
        DecodedKey k = DecodeKey(bytes);
        EXPECT_EQ(k.key, PlayerKey::None) << testing::PrintToString(bytes);
        EXPECT_EQ(k.length, bytes.size()) << testing::PrintToString(bytes);
    }
    EXPECT_EQ(DecodeKey("").length, 0u);
}

}  // namespace
}  // namespace kiv::test

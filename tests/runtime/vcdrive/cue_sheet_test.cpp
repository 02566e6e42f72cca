// Cue sheet times: every time that parses gives the frames it says, and
// times outside mm:ss:ff (hostile or mistyped) are refused with the line.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "runtime/vcdrive/cue_sheet.h"
#include "tests/support/test_env.h"

namespace {

struct TimeCase {
    const char* time;
    int frames;  // -1: refused as a bad time
};

class CueSheetTime : public ::testing::TestWithParam<TimeCase> {};

TEST_P(CueSheetTime, ParsesOrRefusesTheIndexTime) {
    kiv::test::TempDir dir;
    const std::string path = dir / "disc.cue";
    std::ofstream(path) << "FILE \"disc.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 " << GetParam().time << "\n";
    std::string error;
    const auto sheet = kiv::vcd::ParseCueSheet(path, &error);
    if (GetParam().frames < 0) {
        ASSERT_FALSE(sheet.has_value());
        EXPECT_EQ(error, path + ":3: bad time " + GetParam().time);
    } else {
        ASSERT_TRUE(sheet.has_value()) << error;
        ASSERT_EQ(sheet->tracks.size(), 1u);
        EXPECT_EQ(sheet->tracks[0].index1, GetParam().frames);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Times, CueSheetTime,
    ::testing::Values(TimeCase{"00:00:00", 0}, TimeCase{"03:58:70", (3 * 60 + 58) * 75 + 70},
                      TimeCase{"999:59:74", (999 * 60 + 59) * 75 + 74}, TimeCase{"00:60:00", -1},
                      TimeCase{"00:00:75", -1}, TimeCase{"-1:00:00", -1}, TimeCase{"1000:00:00", -1},
                      // Found by fuzzing: minutes whose frame count overflows.
                      TimeCase{"428329252:00:00", -1}, TimeCase{"0999999999999:0:0", -1},
                      TimeCase{"00:00:001", -1}));

}  // namespace

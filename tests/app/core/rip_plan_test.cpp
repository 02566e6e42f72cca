// Which drive the audio-CD handler's argument names.
#include "app/core/rip_plan.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/test_env.h"

namespace kiv::app {
namespace {

TEST(DriveForDevice, NumbersPathsLinksAndCddaUris) {
    kiv::test::TempDir dir;
    const std::string sr0 = dir / "sr0", sr1 = dir / "sr1", link = dir / "cdrom";
    std::ofstream(sr0).put('x');
    std::ofstream(sr1).put('x');
    std::filesystem::create_symlink(sr1, link);
    const std::vector<std::string> devices = {sr0, sr1};
    struct Case {
        std::string device;
        std::optional<int> drive;
    } cases[] = {
        {"1", 1}, {"2", 2}, {"3", std::nullopt}, {"0", std::nullopt},
        {sr0, 1}, {sr1, 2}, {link, 2},
        {"cdda://" + sr1, 2}, {"CDDA://" + sr1 + "/", 2},
        {dir / "sr2", std::nullopt}, {"", std::nullopt}, {"cdda://", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(DriveNumberForDevice(c.device, devices), c.drive) << c.device;
    // The desktop's form names the node only, under /dev.
    EXPECT_EQ(DriveNumberForDevice("cdda://sr7/", {"/dev/sr6", "/dev/sr7"}), 2);
    EXPECT_EQ(DriveNumberForDevice("cdda://sr7", {"/dev/sr6"}), std::nullopt);
}

}  // namespace
}  // namespace kiv::app

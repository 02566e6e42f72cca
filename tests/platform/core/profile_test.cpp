#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/system/profile.h"
#include "tests/support/test_env.h"

namespace kiv {
namespace {

std::string Slurp(const std::string& p) {
    std::ifstream in(p);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(Profile, ReadsKeysWithoutRegardToCase) {
    test::TempDir dir;
    const std::string ini = dir / "Option.ini";
    {
        std::ofstream(ini) << "; settings\n[General]\nVersion=3.0\n\n[Conversion]\r\nKeepTag = 0\r\nDelete=abc\n";
    }
    EXPECT_EQ(GetPrivateProfileString("general", "VERSION", "x", ini), "3.0");
    EXPECT_EQ(GetPrivateProfileInt("Conversion", "keeptag", 1, ini), 0);
    EXPECT_EQ(GetPrivateProfileInt("Conversion", "Delete", 7, ini), 7) << "not a number: the default";
    EXPECT_EQ(GetPrivateProfileInt("Conversion", "Missing", 5, ini), 5);
    EXPECT_EQ(GetPrivateProfileString("Nowhere", "Version", "dflt", ini), "dflt");
    EXPECT_EQ(GetPrivateProfileString("General", "Version", "dflt", dir / "absent.ini"), "dflt");
}

TEST(Profile, AWriteChangesOnlyItsKeyAndKeepsEveryOtherLine) {
    test::TempDir dir;
    const std::string ini = dir / "Option.ini";
    {
        std::ofstream(ini) << "; keep me\n[General]\nVersion=3.0\n\n[Rip]\nEject=0\n; trailing note\n";
    }
    ASSERT_TRUE(WritePrivateProfileString("rip", "EJECT", "1", ini));
    ASSERT_TRUE(WritePrivateProfileString("Rip", "OpenDir", "1", ini));
    ASSERT_TRUE(WritePrivateProfileString("Advanced", "RecordSettings", "2", ini));
    EXPECT_EQ(Slurp(ini),
              "; keep me\n[General]\nVersion=3.0\n\n[Rip]\nEject=1\nOpenDir=1\n; trailing note\n"
              "[Advanced]\nRecordSettings=2\n");
    ASSERT_TRUE(WritePrivateProfileString("Rip", "Eject", nullptr, ini));
    EXPECT_FALSE(ReadProfileString(ini, "Rip", "Eject").has_value());
    ASSERT_TRUE(WritePrivateProfileString("General", nullptr, nullptr, ini));
    EXPECT_FALSE(ReadProfileString(ini, "General", "Version").has_value());
    EXPECT_EQ(GetPrivateProfileString("Rip", "OpenDir", "", ini), "1");
}

TEST(Profile, FirstWriteCreatesTheFileAndAFailedOneLeavesNothing) {
    test::TempDir dir;
    const std::string ini = dir / "new.ini";
    ASSERT_TRUE(WritePrivateProfileString("ConverterStep2", "RenameRule", "%_copy", ini));
    EXPECT_EQ(Slurp(ini), "[ConverterStep2]\nRenameRule=%_copy\n");
    EXPECT_FALSE(WritePrivateProfileString("A", "B", "C", dir / "no/such/folder/x.ini"));
}

}  // namespace
}  // namespace kiv

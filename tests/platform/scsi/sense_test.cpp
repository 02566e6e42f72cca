#include "platform/scsi/sense.h"

#include <gtest/gtest.h>

#include <vector>

namespace kiv::scsi {
namespace {

TEST(ScsiSense, DecodesFixedAndDescriptorFormats) {
    struct Case {
        const char* what;
        std::vector<BYTE> bytes;
        BYTE key, asc, ascq;
        bool infoValid;
        std::uint32_t info;
    };
    const Case cases[] = {
        {"fixed, medium error at lba 1200",
         {0xF0, 0, 0x03, 0, 0, 0x04, 0xB0, 10, 0, 0, 0, 0, 0x11, 0x00, 0, 0, 0, 0}, 0x3, 0x11, 0, true, 1200},
        {"fixed, cut to the 14 bytes the component asks for",
         {0x70, 0, 0x06, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x28, 0x00}, 0x6, 0x28, 0, false, 0},
        {"fixed, deferred error code", {0x71, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x3A, 0x02}, 0x2, 0x3A, 2, false, 0},
        {"fixed, additional length ends before the ASC", {0x70, 0, 0x05, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x24, 0x01}, 0x5, 0, 0,
         false, 0},
        {"descriptor with information",
         {0x72, 0x03, 0x11, 0x05, 0, 0, 0, 12, 0x00, 0x0A, 0x80, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x00}, 0x3, 0x11, 5, true,
         256},
    };
    for (const Case& c : cases) {
        const auto sense = ParseSense(c.bytes);
        ASSERT_TRUE(sense) << c.what;
        EXPECT_EQ(sense->key, c.key) << c.what;
        EXPECT_EQ(sense->asc, c.asc) << c.what;
        EXPECT_EQ(sense->ascq, c.ascq) << c.what;
        EXPECT_EQ(sense->infoValid, c.infoValid) << c.what;
        EXPECT_EQ(sense->info, c.info) << c.what;
    }
}

TEST(ScsiSense, RejectsWhatIsNotSense) {
    EXPECT_FALSE(ParseSense({}));
    const std::vector<BYTE> zeros(18, 0);
    EXPECT_FALSE(ParseSense(zeros));  // a command that left the area untouched
    const std::vector<BYTE> vendor = {0x7F, 0, 0x03};
    EXPECT_FALSE(ParseSense(vendor));
}

TEST(ScsiSense, MadeSenseReadsBackAndClassifies) {
    const SenseData made{SENSE_UNIT_ATTENTION, ASC_MEDIUM_MAY_HAVE_CHANGED, 0, true, 77};
    const auto bytes = MakeFixedSense(made);
    const auto back = ParseSense(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->key, made.key);
    EXPECT_EQ(back->asc, made.asc);
    EXPECT_EQ(back->info, 77u);
    EXPECT_TRUE(back->IsUnitAttention());
    EXPECT_FALSE(back->IsMediumNotPresent());
    EXPECT_TRUE((SenseData{SENSE_NOT_READY, ASC_MEDIUM_NOT_PRESENT, 2}).IsMediumNotPresent());
    EXPECT_EQ((SenseData{SENSE_MEDIUM_ERROR, 0x11, 0}).Describe(), "MEDIUM ERROR (11/00)");
}

}  // namespace
}  // namespace kiv::scsi

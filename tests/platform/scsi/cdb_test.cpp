#include "platform/scsi/cdb.h"

#include <gtest/gtest.h>

#include <vector>

namespace kiv::scsi {
namespace {

std::vector<BYTE> Bytes(const Cdb& cdb) { return {cdb.view().begin(), cdb.view().end()}; }

TEST(ScsiCdb, BuildersProduceTheWireBytes) {
    struct Case {
        const char* what;
        Cdb cdb;
        std::vector<BYTE> expected;
    };
    const Case cases[] = {
        {"test unit ready", TestUnitReady(), {0x00, 0, 0, 0, 0, 0}},
        {"inquiry, lun 1", Inquiry(1), {0x12, 0x20, 0, 0, 36, 0}},
        {"open tray", StartStopUnit(0, false), {0x1B, 0, 0, 0, 0x02, 0}},
        {"close tray", StartStopUnit(2, true), {0x1B, 0x40, 0, 0, 0x03, 0}},
        {"toc from track 1", ReadToc(0, TOC_FORMAT_TOC, 1, 2048), {0x43, 0, 0, 0, 0, 0, 1, 0x08, 0x00, 0}},
        {"session info, msf", ReadToc(0, TOC_FORMAT_SESSION_INFO, 0, 12, true), {0x43, 0x02, 1, 0, 0, 0, 0, 0, 12, 0}},
        {"read cd, full frames", ReadCd(0, 0x012345, 26), {0xBE, 0, 0, 0x01, 0x23, 0x45, 0, 0, 26, 0xF8, 0, 0}},
        {"read cd, cd-da only, big count", ReadCd(1, 1000, 0x10203, SECTOR_CDDA, READ_CD_USER_DATA),
         {0xBE, 0x24, 0, 0, 0x03, 0xE8, 0x01, 0x02, 0x03, 0x10, 0, 0}},
        {"read cd, pregap lba", ReadCd(0, -150, 1), {0xBE, 0, 0xFF, 0xFF, 0xFF, 0x6A, 0, 0, 1, 0xF8, 0, 0}},
        {"speed 4x", SetCdSpeed(0, 704, 704), {0xBB, 0, 0x02, 0xC0, 0x02, 0xC0, 0, 0, 0, 0, 0, 0}},
        {"speed max", SetCdSpeed(0, 0xFFFF, 0xFFFF), {0xBB, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) EXPECT_EQ(Bytes(c.cdb), c.expected) << c.what;
}

TEST(ScsiCdb, LbaAndMsfConvertBothWays) {
    struct Case {
        std::int32_t lba;
        Msf msf;
    };
    const Case cases[] = {{-150, {0, 0, 0}}, {0, {0, 2, 0}}, {74, {0, 2, 74}}, {75, {0, 3, 0}},
                          {4350, {1, 0, 0}}, {449849, {99, 59, 74}}};
    for (const Case& c : cases) {
        EXPECT_EQ(LbaToMsf(c.lba), c.msf) << c.lba;
        EXPECT_EQ(MsfToLba(c.msf), c.lba) << c.lba;
    }
}

TEST(ScsiCdb, InquiryKeepsPaddingInTheName) {
    std::vector<BYTE> data(36, 0);
    data[0] = 0x05;
    const std::string text = "ABCD    PRODUCT16CHARSXX1.0a";
    std::copy(text.begin(), text.end(), data.begin() + 8);
    const auto inquiry = ParseInquiry(data);
    ASSERT_TRUE(inquiry);
    EXPECT_EQ(inquiry->deviceType, DTYPE_CDROM);
    EXPECT_EQ(inquiry->Name(), "ABCD    PRODUCT16CHARSXX");
    EXPECT_EQ(inquiry->Name().size(), 24u);
    EXPECT_EQ(inquiry->revision, "1.0a");
    EXPECT_FALSE(ParseInquiry(std::span<const BYTE>(data.data(), 35)));
}

TEST(ScsiCdb, TocParserTrustsOnlyTheBytesItGot) {
    // Two tracks and the lead-out; the length field counts 26 bytes.
    const std::vector<BYTE> full = {0, 26, 1, 2,                           //
                                    0, 0x10, 1, 0, 0, 0, 0, 0,             //
                                    0, 0x14, 2, 0, 0, 0, 0x3A, 0x98,       //
                                    0, 0x14, 0xAA, 0, 0, 0, 0x4E, 0x20};
    const auto toc = ParseToc(full);
    ASSERT_TRUE(toc);
    EXPECT_EQ(toc->firstTrack, 1);
    EXPECT_EQ(toc->lastTrack, 2);
    const std::vector<TocEntry> expected = {{0x10, 1, 0}, {0x14, 2, 15000}, {0x14, kLeadOutTrack, 20000}};
    EXPECT_EQ(toc->entries, expected);
    EXPECT_TRUE(toc->entries[1].IsData());

    // Cut short by a small allocation length: whole descriptors only.
    const auto cut = ParseToc(std::span<const BYTE>(full.data(), 19));
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->entries.size(), 1u);

    // Bytes after the declared length are not descriptors.
    std::vector<BYTE> padded = full;
    padded[1] = 10;
    padded.resize(64, 0xEE);
    EXPECT_EQ(ParseToc(padded)->entries.size(), 1u);
    EXPECT_FALSE(ParseToc(std::span<const BYTE>(full.data(), 3)));
}

TEST(ScsiCdb, SessionInfoAndFullTocParse) {
    const std::vector<BYTE> session = {0, 10, 1, 2, 0, 0x14, 3, 0, 0, 0, 0x3A, 0x98};
    const auto info = ParseSessionInfo(session);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->lastSession, 2);
    EXPECT_EQ(info->firstTrackOfLastSession, 3);
    EXPECT_EQ(info->lastSessionStart, 15000);

    const std::vector<BYTE> full = {0, 24, 1, 1,                                  //
                                    1, 0x10, 0, 0xA2, 0, 0, 0, 0, 3, 20, 5,       //
                                    1, 0x10, 0, 1, 0, 0, 0, 0, 0, 2, 0};
    const auto toc = ParseFullToc(full);
    ASSERT_TRUE(toc);
    ASSERT_EQ(toc->entries.size(), 2u);
    EXPECT_EQ(toc->entries[0], (FullTocEntry{1, 0x10, 0xA2, Msf{3, 20, 5}}));
    EXPECT_EQ(toc->entries[1], (FullTocEntry{1, 0x10, 1, Msf{0, 2, 0}}));
}

}  // namespace
}  // namespace kiv::scsi

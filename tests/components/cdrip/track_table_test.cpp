// Track boundaries from READ TOC answers: every frame of a track belongs to
// it, the frame before the next track included.
#include <gtest/gtest.h>

#include <vector>

#include "components/cdrip/output_folders.h"
#include "components/cdrip/track_table.h"
#include "platform/scsi/cdb.h"
#include "tests/support/test_env.h"

namespace kiv::cdrip {
namespace {

struct Entry {
    BYTE control, number;
    std::int32_t start;
};

std::vector<BYTE> Toc(const std::vector<Entry>& entries) {
    std::vector<BYTE> toc(kTocBufferSize);
    scsi::PutBE16(toc.data(), static_cast<std::uint32_t>(2 + entries.size() * 8));
    toc[2] = entries.front().number;
    toc[3] = entries.size() > 1 ? entries[entries.size() - 2].number : 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        BYTE* d = &toc[4 + i * 8];
        d[1] = entries[i].control;
        d[2] = entries[i].number;
        scsi::PutBE32(d + 4, static_cast<std::uint32_t>(entries[i].start));
    }
    return toc;
}

TEST(TrackTable, BoundsOfAudioAndEnhancedDiscs) {
    const auto audio = TrackTable::FromToc(Toc({{0x10, 1, 0}, {0x10, 2, 15000}, {0x10, 3, 30000}, {0x10, 0xAA, 45000}}).data());
    // Audio session of 45000 frames, data track in a second session.
    const auto enhanced = TrackTable::FromToc(
        Toc({{0x10, 1, 0}, {0x10, 2, 20000}, {0x14, 3, 45000 + kSessionGap}, {0x14, 0xAA, 60000}}).data());
    struct Case {
        const TrackTable* table;
        int index;
        std::int32_t start, end;
    };
    const Case cases[] = {
        {&audio, 0, 0, 15000},          {&audio, 1, 15000, 30000},   {&audio, 2, 30000, 45000},
        {&enhanced, 1, 20000, 45000},  // ends at the audio session's lead-out
        {&enhanced, 2, 45000 + kSessionGap, 60000},
    };
    for (const Case& c : cases) {
        const auto b = c.table->BoundsOf(c.index);
        ASSERT_TRUE(b) << c.index;
        EXPECT_EQ(b->start, c.start) << c.index;
        EXPECT_EQ(b->end, c.end) << c.index;
    }
    EXPECT_EQ(audio.TrackCount(), 3);
    EXPECT_FALSE(audio.BoundsOf(3));
    EXPECT_FALSE(audio.BoundsOf(-1));
    EXPECT_TRUE(enhanced.IsAudio(1));
    EXPECT_FALSE(enhanced.IsAudio(2));
    EXPECT_TRUE(enhanced.HasAudio());
}

TEST(TrackTable, EmptyAndOversizedAnswers) {
    std::vector<BYTE> zeros(kTocBufferSize);
    const auto empty = TrackTable::FromToc(zeros.data());
    EXPECT_EQ(empty.TrackCount(), 0);
    EXPECT_FALSE(empty.HasAudio());

    std::vector<BYTE> huge(kTocBufferSize);
    scsi::PutBE16(huge.data(), 0xFFFF);  // claims more than the buffer holds
    EXPECT_LE(TrackTable::FromToc(huge.data()).count, static_cast<int>(kMaxTocEntries));

    std::vector<BYTE> data = Toc({{0x14, 1, 0}, {0x14, 0xAA, 1000}});
    EXPECT_FALSE(TrackTable::FromToc(data.data()).HasAudio());
}

TEST(OutputFolders, CreatesNestedFoldersWithoutMovingTheCurrentDirectory) {
    test::TempDir dir;
    const auto before = std::filesystem::current_path();
    CreateParentFolders(dir / "a b/c/track.wav");
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "a b" / "c"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "a b" / "c" / "track.wav"));
    EXPECT_EQ(std::filesystem::current_path(), before);
}

}  // namespace
}  // namespace kiv::cdrip

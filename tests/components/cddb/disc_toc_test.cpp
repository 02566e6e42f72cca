#include "components/cdrip/cddb/disc_toc.h"

#include <gtest/gtest.h>

namespace kiv::cddb {
namespace {

struct IdCase {
    const char* name;
    DiscToc toc;
    std::uint32_t id;
    const char* query;
};

// Expected values worked out by hand from the algorithm:
// - 0/15000/30000, lead-out 45000: seconds 2, 202, 402 -> digit sums 12;
//   602 - 2 = 600 = 0x258 playing seconds.
// - 0/20000/40000/61234, lead-out 80000: seconds 2, 268, 535, 818 ->
//   2 + 16 + 13 + 17 = 48 = 0x30; 1068 - 2 = 1066 = 0x42a.
// - one track at 183 (hidden pre-gap), lead-out 200000: second 4; 2668 - 4
//   = 2664 = 0xa68.
const IdCase kIdCases[] = {
    {"three_tracks", {{0, 15000, 30000}, 45000}, 0x0c025803u, "cddb query 0c025803 3 150 15150 30150 602"},
    {"four_tracks", {{0, 20000, 40000, 61234}, 80000}, 0x30042a04u,
     "cddb query 30042a04 4 150 20150 40150 61384 1068"},
    {"first_track_late", {{183}, 200000}, 0x040a6801u, "cddb query 040a6801 1 333 2668"},
};

TEST(CddbDiscTocTest, IdAndQueryOfKnownDiscs) {
    for (const IdCase& c : kIdCases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(c.toc.IsUsable());
        EXPECT_EQ(DiscId(c.toc), c.id);
        EXPECT_EQ(QueryCommand(c.toc), c.query);
    }
}

TEST(CddbDiscTocTest, DigitSumWrapsModulo255) {
    // Start seconds 8999, 9899, 9989, 9998, 9999, 18999, 19899, 19989:
    // digit sums 35 * 4 + 36 * 4 = 284, and 284 mod 255 = 29 = 0x1d;
    // lead-out at second 20000: 20000 - 8999 = 11001 = 0x2af9.
    DiscToc toc;
    for (int second : {8999, 9899, 9989, 9998, 9999, 18999, 19899, 19989}) toc.trackStarts.push_back(second * 75 - 150);
    toc.leadOut = 20000 * 75 - 150;
    EXPECT_EQ(DiscId(toc), 0x1d2af908u);
}

TEST(CddbDiscTocTest, IdTextIsEightLowerCaseDigits) {
    EXPECT_EQ(DiscIdText(0xAB), "000000ab");
    EXPECT_EQ(DiscIdText(0xFEDCBA98u), "fedcba98");
}

TEST(CddbDiscTocTest, UnusableTocs) {
    const DiscToc bad[] = {
        {{}, 1000},                   // no tracks
        {{0, 500, 400}, 1000},        // starts not rising
        {{0, 500}, 500},              // lead-out on the last track
        {{-10, 500}, 1000},           // negative address
        {std::vector<std::int32_t>(100), 1000},  // more than 99 tracks
    };
    for (const DiscToc& toc : bad) EXPECT_FALSE(toc.IsUsable());
}

}  // namespace
}  // namespace kiv::cddb

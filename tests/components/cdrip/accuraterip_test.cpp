// AccurateRip checksums, disc ids and database reading, and reading with a
// read offset, checked against values worked out here by the published
// definitions rather than by the code under test.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "components/cdrip/accuraterip/accuraterip.h"
#include "components/cdrip/offset_reader.h"
#include "tests/components/cdrip/accuraterip_reference.h"

namespace kiv::accuraterip {
namespace {

TrackChecksums ByDefinition(const std::vector<std::uint8_t>& pcm, bool first, bool last) {
    const test::ReferenceSums r = test::ReferenceChecksums(pcm, first, last);
    return {r.crc32, r.v1, r.v2};
}

std::vector<std::uint8_t> Noise(std::size_t samples, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> pcm(samples * 4);
    for (auto& b : pcm) b = static_cast<std::uint8_t>(random());
    return pcm;
}

TEST(AccurateRip, Crc32OfTheStandardCheckInput) {
    // The check value of the CRC-32 used by zip and PNG for the nine
    // ASCII digits (catalogued in "A Painless Guide to CRC Error Detection
    // Algorithms", Williams, 1993, and the CRC RevEng catalogue: 0xCBF43926).
    const char* text = "123456789";
    const auto sums = Checksums(reinterpret_cast<const std::uint8_t*>(text), 9, false, false);
    EXPECT_EQ(sums.crc32, 0xCBF43926u);
}

TEST(AccurateRip, ChecksumsFollowTheDefinitionWhereverTheInputIsCut) {
    // 3 seconds: long enough that the skipped ends leave samples, with
    // words large enough that products overflow 32 bits.
    const auto pcm = Noise(3 * 44100, 7);
    for (const bool first : {false, true}) {
        for (const bool last : {false, true}) {
            const TrackChecksums expected = ByDefinition(pcm, first, last);
            Checksummer sums(pcm.size() / 4, first, last);
            // Pieces of odd sizes cut samples in two.
            for (std::size_t at = 0, piece = 1; at < pcm.size(); at += piece, piece = piece * 3 % 10007 + 1)
                sums.Add(pcm.data() + at, std::min(piece, pcm.size() - at));
            const TrackChecksums got = sums.Result();
            EXPECT_EQ(got.v1, expected.v1) << first << last;
            EXPECT_EQ(got.v2, expected.v2) << first << last;
            EXPECT_EQ(got.crc32, expected.crc32);
            EXPECT_NE(got.v1, got.v2);
        }
    }
    // A track shorter than the two skipped ends counts nothing.
    const auto tiny = Noise(1000, 1);
    EXPECT_EQ(Checksums(tiny.data(), tiny.size(), true, true).v1, 0u);
}

TEST(AccurateRip, SlidingV1MatchesEveryShiftedTrack) {
    const std::size_t count = 20000, shifts = 301;
    const auto pcm = Noise(count + shifts - 1, 3);
    std::vector<std::uint32_t> words(pcm.size() / 4);
    std::memcpy(words.data(), pcm.data(), pcm.size());
    for (const bool first : {false, true}) {
        for (const bool last : {false, true}) {
            const auto v1 = SlidingV1(words, count, shifts, first, last);
            ASSERT_EQ(v1.size(), shifts);
            for (std::size_t o = 0; o < shifts; o += 37) {
                const std::vector<std::uint8_t> window(pcm.begin() + static_cast<long>(o * 4),
                                                       pcm.begin() + static_cast<long>((o + count) * 4));
                EXPECT_EQ(v1[o], ByDefinition(window, first, last).v1) << "shift " << o;
            }
        }
    }
}

TEST(AccurateRip, DiscIdsAndDatabaseAddress) {
    // Tracks at 0, 1000 and 2500, audio ending at 4000:
    // id1 = 0 + 1000 + 2500 + 4000 = 7500 = 0x1d4c,
    // id2 = 1*1 + 1000*2 + 2500*3 + 4000*4 = 25501 = 0x639d.
    const DiscIds ids = IdsOf({0, 1000, 2500}, 4000, 0x1e02b203);
    EXPECT_EQ(ids.id1, 0x1d4cu);
    EXPECT_EQ(ids.id2, 0x639du);
    EXPECT_EQ(DatabasePath(ids), "/accuraterip/c/4/d/dBAR-003-00001d4c-0000639d-1e02b203.bin");
    EXPECT_EQ(ParseFileName(FileName(ids)), ids);
    for (const char* bad : {"", "dBAR-003-00001d4c-0000639d-1e02b203.bim", "dBAR-000-00001d4c-0000639d-1e02b203.bin",
                            "dBAR-003-00001d4c-0000639d-1e02b20.bin", "xBAR-003-00001d4c-0000639d-1e02b203.bin"})
        EXPECT_FALSE(ParseFileName(bad)) << bad;
}

void Put32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (8 * i));
}

std::string EntryBytes(const DiscIds& ids, const std::vector<std::pair<int, std::uint32_t>>& tracks) {
    std::string out(1, static_cast<char>(tracks.size()));
    Put32(out, ids.id1);
    Put32(out, ids.id2);
    Put32(out, ids.cddbId);
    for (const auto& [confidence, crc] : tracks) {
        out += static_cast<char>(confidence);
        Put32(out, crc);
        Put32(out, 0);
    }
    return out;
}

TEST(AccurateRip, DatabaseIsReadOnlyAsFarAsItIsWhole) {
    const DiscIds ids{2, 0x100, 0x200, 0x02000102};
    const std::string v1Entry = EntryBytes(ids, {{5, 0x11111111}, {4, 0x22222222}});
    const std::string v2Entry = EntryBytes(ids, {{3, 0x33333333}, {2, 0x44444444}});
    struct Case {
        std::string bytes;
        std::size_t entries;
        bool damaged;
    } cases[] = {
        {"", 0, false},
        {v1Entry + v2Entry, 2, false},
        {v1Entry + v2Entry.substr(0, 12), 1, true},   // cut inside a header
        {v1Entry + v2Entry.substr(0, 20), 1, true},   // cut inside the tracks
        {v1Entry + std::string(13, '\0'), 1, true},   // an entry of no tracks
        {std::string(1, '\xff') + v1Entry.substr(1), 0, true},  // more tracks than a disc has
    };
    for (const Case& c : cases) {
        const Database db = ParseDatabase(c.bytes);
        EXPECT_EQ(db.entries.size(), c.entries) << c.bytes.size();
        EXPECT_EQ(!db.error.empty(), c.damaged) << db.error;
    }

    const Database db = ParseDatabase(v1Entry + v2Entry + v1Entry);
    // v1 matches in two entries: their confidences add up.
    Verdict v = Verify(db, ids, 1, {0, 0x11111111, 0x99999999});
    EXPECT_EQ(v.kind, Verdict::Kind::Accurate);
    EXPECT_EQ(v.confidenceV1, 10);
    EXPECT_EQ(VerdictText(v), "accurately ripped (confidence 10)");
    v = Verify(db, ids, 2, {0, 0x99999999, 0x44444444});
    EXPECT_EQ(v.confidenceV2, 2);
    EXPECT_EQ(VerdictText(v), "accurately ripped (confidence 2)");
    EXPECT_EQ(VerdictText(Verify(db, ids, 2, {0, 0x11111111, 0x33333333})), "mismatch");
    DiscIds other = ids;
    other.id2 += 1;
    EXPECT_EQ(VerdictText(Verify(db, other, 1, {0, 0x11111111, 0})), "not in database");
    EXPECT_EQ(VerdictText(Verify(db, ids, 3, {0, 0x11111111, 0})), "not in database");
}

}  // namespace
}  // namespace kiv::accuraterip

namespace kiv::cdrip {
namespace {

TEST(OffsetReader, ShiftsByWholeSamplesAndReadsZerosOutsideTheAudio) {
    // Frames 0..9 of audio whose sample s holds s + 1.
    const std::vector<FrameSpan> audio{{0, 9}};
    int reads = 0;
    const FrameReader read = [&](std::int32_t lba, std::uint32_t frames, BYTE* buffer) {
        ++reads;
        EXPECT_GE(lba, 0);
        EXPECT_LE(lba + static_cast<std::int32_t>(frames), 10) << "asked the drive for frames beyond the audio";
        for (std::uint32_t i = 0; i < frames * 588; ++i) {
            const std::uint32_t v = static_cast<std::uint32_t>(lba) * 588 + i + 1;
            std::memcpy(buffer + i * 4, &v, 4);
        }
        return true;
    };
    auto sampleAt = [](const std::vector<BYTE>& b, std::size_t i) {
        std::uint32_t v;
        std::memcpy(&v, &b[i * 4], 4);
        return v;
    };
    struct Case {
        std::int32_t offset, lba;
        std::uint32_t frames;
    } cases[] = {{6, 2, 3}, {-6, 2, 3}, {-6, 0, 2}, {6, 8, 2}, {600, 3, 1}, {0, 4, 2}, {-1200, 0, 1}};
    for (const Case& c : cases) {
        std::vector<BYTE> out(c.frames * kFrameBytes);
        ASSERT_TRUE(ReadWithOffset(read, audio, c.offset, c.lba, c.frames, out.data()));
        for (std::size_t i = 0; i < c.frames * 588u; ++i) {
            const std::int64_t disc = std::int64_t{c.lba} * 588 + static_cast<std::int64_t>(i) + c.offset;
            const std::uint32_t expected = disc < 0 || disc >= 10 * 588 ? 0 : static_cast<std::uint32_t>(disc + 1);
            ASSERT_EQ(sampleAt(out, i), expected) << "offset " << c.offset << " lba " << c.lba << " sample " << i;
        }
    }
    EXPECT_GT(reads, 0);
    // A drive failure is passed on.
    std::vector<BYTE> out(kFrameBytes);
    EXPECT_FALSE(ReadWithOffset([](std::int32_t, std::uint32_t, BYTE*) { return false; }, audio, 3, 1, 1, out.data()));
}

}  // namespace
}  // namespace kiv::cdrip

// AccurateRip checksums and disc ids worked out by their published
// definitions, one sample at a time, for tests to compare the ripper's with.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace kiv::test {

struct ReferenceSums {
    std::uint32_t crc32 = 0, v1 = 0, v2 = 0;
};

// Sample i (from 1) as a little-endian word: v1 adds the low 32 bits of
// word * i, v2 adds its low and high halves; the disc's first 5 * 588 - 1
// and last 5 * 588 samples are left out. CRC-32 bit by bit (reflected
// polynomial 0xEDB88320, as in zip).
inline ReferenceSums ReferenceChecksums(const std::vector<unsigned char>& pcm, bool first, bool last) {
    ReferenceSums sums;
    const std::uint64_t n = pcm.size() / 4;
    for (std::uint64_t i = 1; i <= n; ++i) {
        if (first && i < 2940) continue;
        if (last && i + 2940 > n) continue;
        std::uint32_t word;
        std::memcpy(&word, &pcm[(i - 1) * 4], 4);
        const unsigned __int128 product = static_cast<unsigned __int128>(word) * i;
        const auto low = static_cast<std::uint32_t>(static_cast<std::uint64_t>(product));
        const auto high = static_cast<std::uint32_t>(static_cast<std::uint64_t>(product) >> 32);
        sums.v1 += low;
        sums.v2 += low + high;
    }
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : pcm) {
        crc ^= byte;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    sums.crc32 = ~crc;
    return sums;
}

// The database path of a disc of audio tracks of these lengths (frames),
// the first at LBA 0: id1 the sum of the starts and the lead-out, id2 each
// start (at least 1) times its track number plus the lead-out times the
// count + 1, and the freedb id (digit sums of the start seconds with the
// 2-second lead-in, the disc's seconds, the count).
inline std::string ReferenceDatabasePath(const std::vector<int>& frames, std::uint32_t* id1Out = nullptr,
                                         std::uint32_t* id2Out = nullptr, std::uint32_t* cddbOut = nullptr) {
    std::uint32_t id1 = 0, id2 = 0, digits = 0;
    std::uint32_t start = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        id1 += start;
        id2 += (start ? start : 1) * static_cast<std::uint32_t>(i + 1);
        for (std::uint32_t s = (start + 150) / 75; s > 0; s /= 10) digits += s % 10;
        start += static_cast<std::uint32_t>(frames[i]);
    }
    id1 += start;
    id2 += start * static_cast<std::uint32_t>(frames.size() + 1);
    const std::uint32_t seconds = (start + 150) / 75 - 150 / 75;
    const std::uint32_t cddb = (digits % 255) << 24 | seconds << 8 | static_cast<std::uint32_t>(frames.size());
    if (id1Out) *id1Out = id1;
    if (id2Out) *id2Out = id2;
    if (cddbOut) *cddbOut = cddb;
    char text[128];
    std::snprintf(text, sizeof text, "/accuraterip/%x/%x/%x/dBAR-%03zu-%08x-%08x-%08x.bin", id1 & 0xF, (id1 >> 4) & 0xF,
                  (id1 >> 8) & 0xF, frames.size(), id1, id2, cddb);
    return text;
}

// The database file of that disc with these tracks' PCM, as a server gives
// it: one entry of v1 checksums (confidence 7), one of v2 (confidence 3);
// its path on the server in `path`.
inline std::string ReferenceDatabase(const std::vector<int>& frames, const std::vector<std::vector<unsigned char>>& pcm,
                                     std::string* path) {
    auto put32 = [](std::string& out, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (8 * i));
    };
    std::uint32_t id1 = 0, id2 = 0, cddb = 0;
    *path = ReferenceDatabasePath(frames, &id1, &id2, &cddb);
    std::string database;
    for (int kind = 0; kind < 2; ++kind) {
        database += static_cast<char>(frames.size());
        put32(database, id1);
        put32(database, id2);
        put32(database, cddb);
        for (std::size_t t = 0; t < pcm.size(); ++t) {
            const ReferenceSums sums = ReferenceChecksums(pcm[t], t == 0, t + 1 == pcm.size());
            database += static_cast<char>(kind == 0 ? 7 : 3);
            put32(database, kind == 0 ? sums.v1 : sums.v2);
            put32(database, 0);
        }
    }
    return database;
}

}  // namespace kiv::test

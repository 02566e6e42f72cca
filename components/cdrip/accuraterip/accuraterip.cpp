#include "components/cdrip/accuraterip/accuraterip.h"

#include <zlib.h>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <tuple>

namespace kiv::accuraterip {
namespace {

std::uint32_t Le32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

// The 1-based sample numbers a track's checksum counts: [from, to].
std::pair<std::uint64_t, std::uint64_t> CountedRange(std::uint64_t samples, bool firstTrack, bool lastTrack) {
    const std::uint64_t from = firstTrack ? kSkipSamples : 1;
    const std::uint64_t to = lastTrack ? (samples > kSkipSamples ? samples - kSkipSamples : 0) : samples;
    return {from, to};
}

}  // namespace

Checksummer::Checksummer(std::uint64_t samples, bool firstTrack, bool lastTrack)
    : crc32_(static_cast<std::uint32_t>(::crc32(0L, Z_NULL, 0))) {
    std::tie(from_, to_) = CountedRange(samples, firstTrack, lastTrack);
}

void Checksummer::AddSample(std::uint32_t sample) {
    const std::uint64_t i = ++index_;
    if (i < from_ || i > to_) return;
    const std::uint64_t product = std::uint64_t{sample} * (i & 0xFFFFFFFFu);
    v1_ += static_cast<std::uint32_t>(product);
    v2_ += static_cast<std::uint32_t>(product) + static_cast<std::uint32_t>(product >> 32);
}

void Checksummer::Add(const std::uint8_t* data, std::size_t size) {
    // zlib takes at most a uInt at a time.
    for (std::size_t done = 0; done < size;) {
        const std::size_t piece = std::min<std::size_t>(size - done, 1u << 30);
        crc32_ = static_cast<std::uint32_t>(::crc32(crc32_, data + done, static_cast<uInt>(piece)));
        done += piece;
    }
    std::size_t at = 0;
    while (partialSize_ > 0 && partialSize_ < 4 && at < size) partial_[partialSize_++] = data[at++];
    if (partialSize_ == 4) {
        AddSample(Le32(partial_));
        partialSize_ = 0;
    }
    for (; at + 4 <= size; at += 4) AddSample(Le32(data + at));
    while (at < size) partial_[partialSize_++] = data[at++];
}

TrackChecksums Checksummer::Result() const { return {crc32_, v1_, v2_}; }

TrackChecksums Checksums(const std::uint8_t* data, std::size_t size, bool firstTrack, bool lastTrack) {
    Checksummer sums(size / 4, firstTrack, lastTrack);
    sums.Add(data, size);
    return sums.Result();
}

std::vector<std::uint32_t> SlidingV1(const std::vector<std::uint32_t>& words, std::size_t count, std::size_t shifts,
                                     bool firstTrack, bool lastTrack) {
    std::vector<std::uint32_t> out(shifts, 0);
    if (shifts == 0 || words.size() < count + shifts - 1) return out;
    const auto [from, to] = CountedRange(count, firstTrack, lastTrack);
    if (from > to) return out;
    const std::size_t a = static_cast<std::size_t>(from), b = static_cast<std::size_t>(to);
    std::uint32_t sum = 0, window = 0;
    for (std::size_t i = a; i <= b; ++i) {
        sum += static_cast<std::uint32_t>(i) * words[i - 1];
        window += words[i - 1];
    }
    for (std::size_t o = 0; o < shifts; ++o) {
        out[o] = sum;
        if (o + 1 == shifts) break;
        // Moving the track one sample on: every weight drops by one, the
        // sample leaving had weight a, the one arriving gets weight b.
        const std::uint32_t leaving = words[o + a - 1], arriving = words[o + b];
        sum = sum - window + static_cast<std::uint32_t>(1 - a) * leaving + static_cast<std::uint32_t>(b) * arriving;
        window = window - leaving + arriving;
    }
    return out;
}

DiscIds IdsOf(const std::vector<std::int32_t>& audioStarts, std::int32_t audioEnd, std::uint32_t cddbId) {
    DiscIds ids;
    ids.audioTracks = static_cast<int>(audioStarts.size());
    ids.cddbId = cddbId;
    for (std::size_t i = 0; i < audioStarts.size(); ++i) {
        const auto start = static_cast<std::uint32_t>(audioStarts[i]);
        ids.id1 += start;
        ids.id2 += (start ? start : 1u) * static_cast<std::uint32_t>(i + 1);
    }
    ids.id1 += static_cast<std::uint32_t>(audioEnd);
    ids.id2 += static_cast<std::uint32_t>(audioEnd) * static_cast<std::uint32_t>(audioStarts.size() + 1);
    return ids;
}

std::string FileName(const DiscIds& ids) {
    char text[64];
    std::snprintf(text, sizeof text, "dBAR-%03d-%08x-%08x-%08x.bin", ids.audioTracks, ids.id1, ids.id2, ids.cddbId);
    return text;
}

std::string DatabasePath(const DiscIds& ids) {
    char text[32];
    std::snprintf(text, sizeof text, "/accuraterip/%x/%x/%x/", ids.id1 & 0xF, (ids.id1 >> 4) & 0xF,
                  (ids.id1 >> 8) & 0xF);
    return text + FileName(ids);
}

std::optional<DiscIds> ParseFileName(std::string_view name) {
    DiscIds ids;
    unsigned tracks = 0;
    char rest[8] = {};
    const std::string copy(name);
    if (name.size() != 39 ||
        std::sscanf(copy.c_str(), "dBAR-%3u-%8x-%8x-%8x%4s", &tracks, &ids.id1, &ids.id2, &ids.cddbId, rest) != 5 ||
        std::strcmp(rest, ".bin") != 0 || tracks < 1 || tracks > 99)
        return std::nullopt;
    ids.audioTracks = static_cast<int>(tracks);
    return ids;
}

Database ParseDatabase(std::string_view bytes) {
    constexpr std::size_t kHeader = 13, kTrack = 9;
    Database db;
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (bytes.size() - at < kHeader) {
            db.error = "the file ends inside an entry's header (byte " + std::to_string(at) + ")";
            break;
        }
        Entry entry;
        const int count = p[at];
        if (count == 0 || count > 99) {
            db.error = "an entry claims " + std::to_string(count) + " tracks (byte " + std::to_string(at) + ")";
            break;
        }
        entry.ids.audioTracks = count;
        entry.ids.id1 = Le32(p + at + 1);
        entry.ids.id2 = Le32(p + at + 5);
        entry.ids.cddbId = Le32(p + at + 9);
        const std::size_t need = kHeader + kTrack * static_cast<std::size_t>(count);
        if (bytes.size() - at < need) {
            db.error = "the file ends inside an entry of " + std::to_string(count) + " tracks (byte " +
                       std::to_string(at) + ")";
            break;
        }
        for (int t = 0; t < count; ++t) {
            const std::uint8_t* q = p + at + kHeader + kTrack * static_cast<std::size_t>(t);
            entry.tracks.push_back({q[0], Le32(q + 1), Le32(q + 5)});
        }
        db.entries.push_back(std::move(entry));
        at += need;
    }
    return db;
}

Verdict Verify(const Database& db, const DiscIds& ids, int track, const TrackChecksums& sums) {
    Verdict verdict;
    bool known = false, matched = false;
    for (const Entry& entry : db.entries) {
        if (!(entry.ids == ids) || track < 1 || track > static_cast<int>(entry.tracks.size())) continue;
        known = true;
        const Entry::Track& t = entry.tracks[static_cast<std::size_t>(track - 1)];
        if (t.crc == sums.v1) {
            verdict.confidenceV1 += t.confidence;
            matched = true;
        }
        if (t.crc == sums.v2) {
            verdict.confidenceV2 += t.confidence;
            matched = true;
        }
    }
    verdict.kind = !known ? Verdict::Kind::NotInDatabase : matched ? Verdict::Kind::Accurate : Verdict::Kind::Mismatch;
    return verdict;
}

std::string VerdictText(const Verdict& verdict) {
    switch (verdict.kind) {
        case Verdict::Kind::Accurate:
            return "accurately ripped (confidence " + std::to_string(verdict.Confidence()) + ")";
        case Verdict::Kind::Mismatch: return "mismatch";
        case Verdict::Kind::NotInDatabase: break;
    }
    return "not in database";
}

}  // namespace kiv::accuraterip

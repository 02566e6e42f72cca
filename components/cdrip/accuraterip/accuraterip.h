// AccurateRip: the checksums of a track's audio that rippers everywhere
// submit to a shared database, the disc's identity in that database, and
// the reading of the database's answer for one disc.
//
// Checksums (over the track's 16-bit stereo samples, each taken as one
// little-endian 32-bit word s_i, i counted from 1 within the track):
//   v1 = sum of s_i * i                     (mod 2^32)
//   v2 = sum of hi32(s_i * i) + lo32(s_i * i)  (64-bit product, mod 2^32)
// The disc's first 5 * 588 - 1 samples and its last 5 * 588 samples are
// left out (drives cannot all reach them), so on the first track the sum
// starts at i = 2940 and on the last it stops at i = N - 2940.
//
// The database file for a disc is a run of entries, each a header (track
// count byte, disc id 1, disc id 2, freedb id, little-endian 32-bit) and
// per track a confidence byte, the track's checksum and a second checksum
// that rippers use to find offsets (9 bytes). v1 and v2 checksums are in
// entries of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kiv::accuraterip {

constexpr std::uint32_t kSkipSamples = 5 * 588;

struct TrackChecksums {
    std::uint32_t crc32 = 0;  // of the track's bytes, as a file comparison tool shows it
    std::uint32_t v1 = 0;
    std::uint32_t v2 = 0;
    bool operator==(const TrackChecksums&) const = default;
};

// Fed the track's bytes in order (any cut); the sample count is known up
// front so the last track's end can be left out.
class Checksummer {
public:
    Checksummer(std::uint64_t samples, bool firstTrack, bool lastTrack);
    void Add(const std::uint8_t* data, std::size_t size);
    TrackChecksums Result() const;

private:
    void AddSample(std::uint32_t sample);
    std::uint64_t from_;
    std::uint64_t to_;
    std::uint64_t index_ = 0;  // samples seen
    std::uint32_t crc32_;
    std::uint32_t v1_ = 0;
    std::uint32_t v2_ = 0;
    std::uint8_t partial_[4] = {};
    std::size_t partialSize_ = 0;
};

// The whole track at once.
TrackChecksums Checksums(const std::uint8_t* data, std::size_t size, bool firstTrack, bool lastTrack);

// v1 of the track whose samples are words[o .. o + count) for every o in
// [0, shifts): one pass, for trying read offsets.
std::vector<std::uint32_t> SlidingV1(const std::vector<std::uint32_t>& words, std::size_t count,
                                     std::size_t shifts, bool firstTrack, bool lastTrack);

struct DiscIds {
    int audioTracks = 0;
    std::uint32_t id1 = 0;
    std::uint32_t id2 = 0;
    std::uint32_t cddbId = 0;
    bool operator==(const DiscIds&) const = default;
};

// From the audio tracks' first frames (LBA) and the end of the audio (the
// lead-out, or the first session's lead-out before a data session), with
// the disc's freedb id.
DiscIds IdsOf(const std::vector<std::int32_t>& audioStarts, std::int32_t audioEnd, std::uint32_t cddbId);

// "dBAR-003-0001a2b3-0004c5d6-1e02b203.bin"
std::string FileName(const DiscIds& ids);
// "/accuraterip/3/b/2/dBAR-....bin": the path under the server's address.
std::string DatabasePath(const DiscIds& ids);
// The same, parsed back from the file name (as a host receives it).
std::optional<DiscIds> ParseFileName(std::string_view name);

struct Entry {
    DiscIds ids;
    struct Track {
        std::uint8_t confidence = 0;
        std::uint32_t crc = 0;
        std::uint32_t frame450 = 0;
    };
    std::vector<Track> tracks;
};

struct Database {
    std::vector<Entry> entries;  // the entries read before any damage
    std::string error;           // empty when the whole file was read
};

// Every entry is checked against the bytes present: a cut or damaged file
// keeps the entries before the damage and says what is wrong.
Database ParseDatabase(std::string_view bytes);

// How one track's checksums compare with the database's entries for the
// same disc (entries of another disc, or with another track count, are
// not looked at).
struct Verdict {
    enum class Kind { NotInDatabase, Accurate, Mismatch } kind = Kind::NotInDatabase;
    int confidenceV1 = 0;  // summed over the entries that match
    int confidenceV2 = 0;
    int Confidence() const { return confidenceV2 > confidenceV1 ? confidenceV2 : confidenceV1; }
};
// `track` is 1-based among the disc's audio tracks.
Verdict Verify(const Database& db, const DiscIds& ids, int track, const TrackChecksums& sums);

// "accurately ripped (confidence 5)", "not in database", "mismatch".
std::string VerdictText(const Verdict& verdict);

}  // namespace kiv::accuraterip

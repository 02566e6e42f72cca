// Verified ripping: each ripped track's checksums (CRC32 and AccurateRip
// v1 and v2, which the CD control computes while it reads) compared with
// the AccurateRip database entry of the disc, fetched once per batch from
// the server named by ONDALO_ACCURATERIP_URL (default the public server).
// A disc the database does not know is a normal answer, and a server that
// cannot be reached or a damaged file costs the verdicts, never the rip.
#pragma once

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "components/cdrip/accuraterip/accuraterip.h"
#include "components/cdrip/cdrip_interfaces.h"
#include "platform/msg/message_queue.h"

namespace kiv::app {

constexpr char kAccurateRipServer[] = "http://www.accuraterip.com";

// ONDALO_ACCURATERIP_URL when set, else the public server; no trailing '/'.
std::string AccurateRipServer();

// The database of one disc as the server gave it.
struct AccurateRipLookup {
    bool idsKnown = false;
    accuraterip::DiscIds ids;
    bool found = false;  // the server had a file for the disc
    accuraterip::Database database;
    // One line for the log: what was asked and what came back.
    std::string line;
};

// Asks `server` for the disc whose database file name is `fileName` (as
// IDrive::AccurateRipId gives it). Raising `cancel` from another thread
// abandons the request within about a second.
AccurateRipLookup LookUpAccurateRip(const std::string& server, const std::string& fileName,
                                    const std::atomic<bool>* cancel = nullptr);

// Read offsets whose rip of a track the database confirms. `words` are the
// track's samples as read with offset `from`, followed by (to - from) more
// samples, so that window o - from is the rip with offset o; `count` is
// the track's length in samples. Only v1 checksums are tried at every
// offset (they follow one another in a single pass); the result is sorted
// by confidence, highest first.
struct OffsetMatch {
    int offset = 0;
    int confidence = 0;
};
std::vector<OffsetMatch> FindReadOffsets(const accuraterip::Database& database, const accuraterip::DiscIds& ids,
                                         int audioTrack, bool firstTrack, bool lastTrack,
                                         const std::vector<std::uint32_t>& words, std::size_t count, int from, int to);

// A track's checksums and their verdict.
struct TrackCheck {
    int track = 0;       // number on the disc
    int audioTrack = 0;  // 1-based among the audio tracks (AccurateRip's numbering)
    bool haveSums = false;
    accuraterip::TrackChecksums sums;
    accuraterip::Verdict verdict;
};

// The checksums the control kept for the track's last whole extraction
// (no verdict yet); `number` is the track's number on the disc.
TrackCheck ReadChecksums(IDrive* drive, ITrack* track, int number);

// "CRC32 1A2B3C4D  AccurateRip v1 ... v2 ...: accurately ripped (confidence 3)"
std::string TrackCheckText(const TrackCheck& check);

// The verification of one batch: the disc's database, fetched on a worker
// thread of its own when the owner asks (a slow server takes up to half a
// minute, which no window may wait for), and every track's outcome.
class RipVerifier {
public:
    RipVerifier(IDrive* drive, std::string server);
    // A lookup still in flight is cancelled and its thread waited for
    // (about a second at most).
    ~RipVerifier();
    RipVerifier(const RipVerifier&) = delete;
    RipVerifier& operator=(const RipVerifier&) = delete;

    // Starts the database lookup, once. The worker posts `message` to
    // `window` when it is over; the owner then calls LookupArrived on its
    // own thread.
    void StartLookup(HWND window, UINT message);
    bool lookupStarted() const { return started_; }
    // LookupArrived took the answer: tracks can be judged.
    bool lookupDone() const { return done_; }
    // Takes the worker's answer (on the owner's thread, once the message
    // came); nothing when no lookup is outstanding.
    void LookupArrived();
    // A lookup in flight gives up within about a second (it then arrives
    // as "could not be fetched: cancelled").
    void CancelLookup() { cancel_ = true; }

    // The checksums of the track's rip just finished, and their verdict
    // against the database that arrived.
    TrackCheck Check(ITrack* track, int number);
    // The log line of the database lookup (empty before it arrived).
    const std::string& LookupLine() const { return lookup_.line; }
    const AccurateRipLookup& lookup() const { return lookup_; }
    const std::vector<TrackCheck>& checks() const { return checks_; }
    // "AccurateRip: 2 of 3 tracks accurately ripped, 1 mismatch" and the like.
    std::string SummaryText() const;

private:
    ComPtr<IDrive> drive_;
    std::string server_;
    bool started_ = false;
    bool done_ = false;
    AccurateRipLookup lookup_;
    // Written by the worker before it posts; read after the join.
    AccurateRipLookup arrived_;
    std::atomic<bool> cancel_{false};
    std::thread worker_;
    std::vector<TrackCheck> checks_;
};

}  // namespace kiv::app

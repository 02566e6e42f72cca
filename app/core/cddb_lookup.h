// The CDDB lookup of a rip: the drive's LoadCDDBData and the first record's
// raw text run on a worker thread of their own, so the window that asked
// never freezes while a slow server answers; the outcome comes back on the
// owner's thread through its message queue. The texts a window's status bar
// and a terminal show, and when a failure also earns a message box, are
// decided here once for both.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/core/rip_batch.h"
#include "components/cdrip/cdrip_interfaces.h"

namespace kiv::app {

// What one lookup brought.
struct CddbLookupResult {
    bool ok = false;
    std::string error;    // the component's reason when !ok
    std::string rawData;  // the first record's text when ok
};

// What a view shows for a lookup.
struct CddbReport {
    std::string status;        // the status text (panel 0); empty: cleared
    bool showMessage = false;  // also a message box with kNoRecordText ("Information")
    bool takeInformation = false;  // put `information` into the CD boxes
    bool clearInformation = false; // empty the CD boxes
    CdInformation information;
};

// Hands the source of track names ("CDDB", "MusicBrainz" or "Both", any
// case) to the CD component, which reads it from the environment like its
// servers' addresses (ONDALO_LOOKUP).
void ApplyLookupSource(const std::string& source);

class CddbLookup {
public:
    static constexpr const char* kLoadingText = "Loading CDDB data, please wait...";
    static constexpr const char* kFinishedText = "Load CDDB data finished.";
    static constexpr const char* kNoRecordText = "No record for this CD found.";

    using Done = std::function<void(const CddbLookupResult&)>;

    // Creates the helper window on the calling (owner's) thread.
    CddbLookup();
    // Waits for lookups still running (the client's own time limits end
    // them); their results are dropped.
    ~CddbLookup();
    CddbLookup(const CddbLookup&) = delete;
    CddbLookup& operator=(const CddbLookup&) = delete;

    // Starts a lookup on `drive`. An earlier lookup still running is not
    // waited for: it goes on, and its result is dropped. `done` runs on the
    // owner's thread while it pumps its queue, for the newest lookup only.
    void Start(IDrive* drive, Done done);
    // A lookup started last has not reported yet.
    bool running() const { return pending_; }

    // Runs the lookup on the calling thread (what the worker does).
    static CddbLookupResult Run(IDrive* drive);

    // The view's reaction: `trackListEmpty` after the list was refilled;
    // `automatic` the lookup the window started on its own ("Auto load
    // CDDB"); `informFailed` the option "Show message if manual loading
    // CDDB data failed."; `previous` the boxes' current values, which a
    // record without a line for a value keeps.
    static CddbReport Judge(const CddbLookupResult& result, bool trackListEmpty, bool automatic, bool informFailed,
                            const CdInformation& previous);

private:
    struct Worker;
    void Delivered(unsigned generation);

    HWND window_ = nullptr;
    unsigned generation_ = 0;
    bool pending_ = false;
    Done done_;
    std::vector<std::unique_ptr<Worker>> workers_;
};

}  // namespace kiv::app

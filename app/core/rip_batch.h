// The ripping batch: extracts the checked tracks of a CD, one after
// another, each straight into a new encoder through the CD extraction
// control, driven by the control's events on the owning thread. It keeps
// the rows, counters, panels, log and progress that a window or a terminal
// shows, honours pause and stop between tracks (stop also cancels the track
// in work), and runs the post-actions, the eject first, when the batch ends.
//
// Like the conversion batch, each track is written under a temporary name
// beside its destination and moved into place only when the control ended
// it without an error, so a failed, cancelled or interrupted track never
// leaves a file that looks complete. A track the control reports both an
// error and an end for is counted once, as failed.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/core/batch_core.h"
#include "app/core/output_planning.h"
#include "app/core/rip_verification.h"
#include "app/core/settings.h"
#include "components/cdrip/cdrip_interfaces.h"
#include "platform/com/connection_point.h"

namespace kiv::app {

// --- the track list of the chosen drive

// One row of the track list.
struct TrackListRow {
    std::string title;      // "Title"
    int track = 0;          // "Track", 1-based
    std::string startTime;  // "Start Time", h:m:s
    std::string length;     // "Track Length", h:m:s
    long long lengthSeconds = 0;
    std::string size;                 // "Size": "42 Mb"
    std::string status = "Ready";     // "Status"
    std::string advancedFormat;       // the per-track format of the advanced mode, empty until chosen
    bool checked = false;
    bool audio = true;  // false: a data track (of an enhanced or mixed-mode disc), which is not ripped
};

// The start time of each track from the lengths in seconds: the first at
// 0:0:0, each next one at the previous start + the previous length + 1 s.
std::vector<std::string> StartTimes(const std::vector<long long>& lengthSeconds);

// round(bytes / 1048576) + " Mb".
std::string MegabyteText(long long bytes);

// The rows of the drive's tracks: titles from the active CDDB record
// ("%2") when the drive has records, else "Track 01" ...; all unchecked.
// `hasCddb` tells whether the drive had records.
std::vector<TrackListRow> ReadTrackList(IDrive* drive, bool* hasCddb = nullptr);

// The name of the rip log and cue sheet from the drive's active record
// ("%1 - %3" of its first track); empty when the drive has no record.
std::string ReportNameOf(IDrive* drive);

// --- the CD information of a record

struct CdInformation {
    std::string artist, album, year, genre;
};

// Reads a record's raw text line by line onto `previous`: a line holding
// "DTITLE" gives artist (before the first '/') and album (after it), both
// trimmed; else one holding "DYEAR" the year, else one holding "DGENRE" the
// genre, each the text after the first '='. A later line overwrites an
// earlier one; a value without its line keeps the previous value.
CdInformation ParseCdInformation(const std::string& rawData, CdInformation previous = {});

// --- the status list

// One row of the ripping status list.
struct RipStatusRow {
    RowIcon icon = RowIcon::Ready;
    std::string title;              // "Title"
    int track = 0;                  // "Track", 1-based
    std::string length;             // "Length", h:m:s
    long long lengthSeconds = 0;
    std::string destinationFile;    // "Destination File": title + "." + format in lower case
    std::string destinationPath;    // "Destination Path": ends in '/' (or is empty)
    std::string destinationFormat;  // "Destination Format": empty in advanced mode without a choice
    std::string status = "Ready";   // "Status": "Ready", "Ripping", "Skip", "Failed", "Done"

    std::string DestinationFilePath() const { return destinationPath + destinationFile; }
};

// One status row per checked track, in list order. The folder is the
// application directory (Default) or the custom folder; the format the
// normal mode's or the track's own. A title that names folders ("Artist/01
// Intro", from a template whose own '/' make folders) puts them into the
// destination path, so the file column holds a file name only.
std::vector<RipStatusRow> BuildRipStatusList(const std::vector<TrackListRow>& tracks, const Step2Settings& step2,
                                             const std::string& applicationDirectory);

// --- the batch

struct RipSettings : OutputChoices {
    bool writeTags = true;
    bool eject = false;
    // The standard beep that ends every batch of the wizard.
    bool beepAtEnd = true;
    // A front cover for every track, given to encoders whose format keeps
    // pictures (with the tags, so only when writeTags).
    std::shared_ptr<const TagPicture> cover;
    // Each ripped track's checksums compared with the AccurateRip database
    // (server: AccurateRipServer() when empty).
    bool verify = false;
    std::string accurateRipServer;
    // A rip log and a cue sheet beside the first ripped file, named
    // reportName + ".log" / ".cue" (default "Disc " + the freedb id).
    bool writeReport = false;
    std::string reportName;
    std::string programName = "Ondalo";

    // The page's choices and the options dialog's, in one.
    static RipSettings From(const Step2Settings& step2, const Options& options);
};

class RipBatch {
public:
    enum class StartResult { Started, EmptyList, MissingFormat, NoDrive, Busy };

    RipBatch(BatchView& view, PostActions& actions, BatchCore::Clock clock = LocalTimeText);
    ~RipBatch();
    RipBatch(const RipBatch&) = delete;
    RipBatch& operator=(const RipBatch&) = delete;

    // The control and the 1-based number of the drive whose tracks the rows
    // name. The batch listens to the control's events from here on.
    void Attach(IKivCDRipper* ripper, LONG driveNumber);

    // Shows the page: clears the progress, writes the banner, takes the
    // rows and their total length.
    void Prepare(std::vector<RipStatusRow> rows, const std::string& applicationTitle);

    // EmptyList: "Pleaes select tracks to be exacted firstly."; MissingFormat:
    // the advanced-mode message (both through the view's Inform); NoDrive:
    // nothing attached; Busy: a track of an earlier batch is still ending.
    StartResult Start(const RipSettings& settings);
    // "P&ause" / "R&esume".
    void Pause();
    // "S&top": the track in work is cancelled and returns to "Ready".
    void Stop();
    // One second of the progress clock (the batch's own timer calls it).
    void Tick();

    BatchState state() const { return core_.state(); }
    // No track of this batch is in work any more, nor a track's
    // verification waiting for the AccurateRip database.
    bool Idle() const { return !job_ && !awaiting_; }
    // The batch ended (summary written) and nothing is in work.
    bool Finished() const { return core_.ended() && Idle(); }

    const std::vector<RipStatusRow>& rows() const { return rows_; }
    const BatchCore& core() const { return core_; }
    // The verification of the last batch that asked for one.
    const RipVerifier* verifier() const { return verifier_.get(); }

    static constexpr const char* kEmptyListMessage = "Pleaes select tracks to be exacted firstly.";
    static constexpr const char* kMissingFormatMessage = BatchCore::kMissingFormatMessage;

    // How often and how long a refused extraction is asked for again while
    // the control is still ending its previous run.
    static constexpr unsigned kRetryMs = 200;
    static constexpr unsigned kRetryLimitMs = 30000;

private:
    struct Job;

    void Advance();
    void RequestContinue();
    void Continue();
    void HandleRow(std::size_t index);
    void StartExtraction(std::size_t index, const std::string& destination, bool replace);
    void TryExtract();
    void WatchRun();
    void FinishJob();
    // Judges a finished track, or holds the batch until the database has
    // arrived from the worker that fetches it.
    void VerifyTrack(std::size_t row, int track, ITrack* item);
    void LookupArrived();
    void LogVerification(std::size_t row, int track, ITrack* item);
    bool IsDataTrack(int number) const;
    void WriteReport();
    void MarkSkipped(std::size_t index);
    void MarkFailed(std::size_t index, const std::string& message);
    void RowFinished();
    void EndBatch();
    bool ControlBusy() const;

    void OnProgress(int percent);
    void OnError(const std::string& message);
    void OnEnd();

    BatchCore core_;
    std::vector<RipStatusRow> rows_;
    RipSettings settings_;
    ComPtr<IKivCDRipper> ripper_;
    ComPtr<IDrive> drive_;
    ComPtr<DispatchSink> sink_;
    EventConnection events_;
    std::unique_ptr<Job> job_;
    HWND window_ = nullptr;
    bool continuePosted_ = false;
    std::size_t next_ = 0;
    std::size_t lastHandled_ = 0;
    bool advancing_ = false;
    // Folders already rid of the leftovers of killed runs in this batch.
    std::set<std::string> swept_;
    std::unique_ptr<RipVerifier> verifier_;
    // The finished track whose verdict waits for the database.
    struct AwaitedCheck {
        std::size_t row = 0;
        int track = 0;
        ComPtr<ITrack> item;
    };
    std::optional<AwaitedCheck> awaiting_;
    // What the rip log tells of each row: its finished file, its failure,
    // its checksums.
    struct RowReport {
        std::string file;
        std::string error;
        bool dataTrack = false;
        std::optional<TrackCheck> check;
    };
    std::map<std::size_t, RowReport> reports_;
};

}  // namespace kiv::app

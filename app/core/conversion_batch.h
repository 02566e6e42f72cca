// The batch conversion runner: converts the rows of a status list through
// the converter component, one after another (or up to `jobs` at once, each
// through its own converter), driven by the converter's events on the
// owning thread. It keeps the rows, counters, panels, log and progress that
// a window or a terminal shows, honours pause and stop between files, and
// runs the post-actions when the batch ends.
//
// Each file is written under a temporary name beside its destination and
// moved into place only when its conversion succeeded, so a failed or
// interrupted file never leaves a destination that looks complete; the
// source is deleted (when asked) only after that.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/core/batch_core.h"
#include "app/core/output_planning.h"
#include "app/core/settings.h"

namespace kiv::app {

struct ConversionSettings : OutputChoices {
    bool keepTags = true;
    bool deleteSource = false;
    // Files converted at once; 1 is the classic one-after-another runner.
    int jobs = 1;
    // Destination folders that do not exist are made (the folder tree is
    // kept below the output folder); otherwise such a file fails.
    bool createFolders = false;

    // The page's choices and the options dialog's, in one.
    static ConversionSettings From(const Step2Settings& step2, const Options& options);
};

class ConversionBatch {
public:
    enum class StartResult { Started, EmptyList, MissingFormat, Busy };

    ConversionBatch(BatchView& view, PostActions& actions, BatchCore::Clock clock = LocalTimeText);
    ~ConversionBatch();
    ConversionBatch(const ConversionBatch&) = delete;
    ConversionBatch& operator=(const ConversionBatch&) = delete;

    // Shows the page: clears the progress and the log, writes the banner,
    // takes the rows and their total size.
    void Prepare(std::vector<StatusRow> rows, const std::string& applicationTitle);

    // Starts the batch. EmptyList: "Pleaes add source files to Task List.";
    // MissingFormat: the advanced-mode message (both shown through the view's
    // Inform); Busy: files of an earlier batch are still being finished.
    StartResult Start(const ConversionSettings& settings);
    // "P&ause" / "R&esume".
    void Pause();
    // "S&top": ends the batch at once; files in work are finished by their
    // converters and still update their rows.
    void Stop();
    // Stops the batch, if it runs, and cancels the files in work: their
    // converters stop early, nothing of them is kept and their rows go back
    // to "Ready".
    void Cancel();
    // One second of the progress clock (the batch's own timer calls it).
    void Tick();

    BatchState state() const { return core_.state(); }
    // No conversion of this batch is in work any more.
    bool Idle() const;
    // The batch ended (summary written) and nothing is in work.
    bool Finished() const { return core_.ended() && Idle(); }

    const std::vector<StatusRow>& rows() const { return rows_; }
    const BatchCore& core() const { return core_; }
    // The percent of each row in work (for a per-file display).
    int RowPercent(std::size_t row) const;
    // The whole batch's progress right now, in percent of the total size:
    // the files handled and the parts done of those in work (the clock's
    // bar moves once a second).
    int LivePercent() const;

    static constexpr const char* kEmptyListMessage = "Pleaes add source files to Task List.";
    static constexpr const char* kMissingFormatMessage = BatchCore::kMissingFormatMessage;

private:
    struct Job;

    void Advance();
    void RequestContinue();
    void Continue();
    void HandleRow(std::size_t index);
    void FinishFile(std::size_t index, Job& job);
    bool TryStartConversion(std::size_t index, const std::string& destination, bool replace, bool withQuality,
                            std::string& error);
    bool StartConversion(std::size_t index, const std::string& destination, bool replace, bool withQuality,
                         std::string& error);
    void OnProgress(Job& job, int percent);
    void OnError(Job& job, const std::string& message);
    void OnFinish(Job& job);
    void MarkSkipped(std::size_t index);
    void MarkFailed(std::size_t index, const std::string& message);
    void RowFinished(std::size_t index);
    void EndBatch();
    bool Reserved(const std::string& path) const;
    bool DestinationTaken(const std::string& path) const;
    long long RunningUnits() const;
    std::string RowSource(std::size_t index) const;
    Job& NewJob();
    std::size_t JobsInWork() const;

    BatchCore core_;
    std::vector<StatusRow> rows_;
    ConversionSettings settings_;
    std::vector<std::unique_ptr<Job>> jobs_;
    HWND window_ = nullptr;
    bool advancePosted_ = false;
    std::size_t next_ = 0;
    std::size_t lastHandled_ = 0;
    bool advancing_ = false;
    // Folders already rid of the leftovers of killed runs in this batch.
    std::set<std::string> swept_;
};

}  // namespace kiv::app

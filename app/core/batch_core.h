// What the conversion batch and the ripping batch share: the batch state,
// the counters and the status-bar panels they feed, the coloured log with its
// time stamps, banner and summary, the one-second progress clock with its
// elapsed and remaining times, and the post-actions at the end of a batch.
// Everything runs on the thread that owns the batch; the components' events
// reach it there while that thread pumps its message queue.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/core/settings.h"
#include "platform/msg/message_queue.h"

namespace kiv::app {

// "Stoped", "Converting" (or "Ripping"), "Paused".
enum class BatchState { Stopped, Running, Paused };

// The state icon of a status row.
enum class RowIcon : int { Ready = 0, Working = 1, Skipped = 2, Failed = 3, Done = 4 };

inline bool IsFinal(RowIcon icon) {
    return icon == RowIcon::Skipped || icon == RowIcon::Failed || icon == RowIcon::Done;
}

enum class LogColour { Navy, Blue, Green, Orange, Red, White };
struct Rgb {
    int r, g, b;
};
Rgb ColourOf(LogColour colour);

struct LogLine {
    LogColour colour;
    std::string text;
};

// What shows a batch: a window, a terminal, a test.
class BatchView {
public:
    virtual ~BatchView() = default;
    virtual void AppendLog(const LogLine& line) = 0;
    // A yes/no question ("Query"); true for Yes.
    virtual bool Ask(const std::string& text, const std::string& caption) = 0;
    // A message with an OK button.
    virtual void Inform(const std::string& /*text*/, const std::string& /*caption*/) {}
    // Panel 0 messages, 1 current percent, 2 total, 3 done, 4 remaining,
    // 5 skipped, 6 failed.
    virtual void PanelChanged(int /*panel*/, const std::string& /*text*/) {}
    virtual void RowChanged(std::size_t /*row*/) {}
    // The bars, the finished amount or the times changed.
    virtual void ProgressChanged() {}
    // The batch has ended (summary written), before the post-actions.
    virtual void BatchEnded() {}
};

// The effects at the end of a batch that leave the program. Tests replace
// every one of them; nothing here may run for real in a test.
class PostActions {
public:
    virtual ~PostActions() = default;
    virtual void OpenFolder(const std::string& folder) = 0;
    virtual void ExitProgram() = 0;
    virtual void PowerOff() = 0;
    virtual void Beep() = 0;
    // Failures are swallowed.
    virtual void PlaySound(const std::string& path) = 0;
};

// The real effects: xdg-open, _exit(4), power-off through logind, the
// terminal bell, the sound file through the player component.
class SystemPostActions : public PostActions {
public:
    void OpenFolder(const std::string& folder) override;
    void ExitProgram() override;
    void PowerOff() override;
    void Beep() override;
    void PlaySound(const std::string& path) override;
};

// The current time in the user's long time format (strftime "%X").
std::string LocalTimeText();

// Seconds as hours:minutes:seconds without leading zeros (0:1:5).
std::string HoursMinutesSeconds(long long seconds);

// Rounds to the nearest integer, ties to even.
long long RoundEven(double value);

struct BatchCounters {
    int total = 0, done = 0, skipped = 0, failed = 0;
    int remaining() const { return total - done - failed - skipped; }
};

class BatchCore {
public:
    using Clock = std::function<std::string()>;

    BatchCore(BatchView& view, PostActions& actions, Clock clock = LocalTimeText);
    ~BatchCore();
    BatchCore(const BatchCore&) = delete;
    BatchCore& operator=(const BatchCore&) = delete;

    BatchView& view() { return view_; }
    PostActions& actions() { return actions_; }

    // --- state
    BatchState state() const { return state_; }
    void SetState(BatchState state) { state_ = state; }

    // --- the batch's life
    // The refusals before a batch starts, told through the view: no rows
    // (`emptyMessage`), or a row without a destination format (advanced
    // mode with a file or track left without one).
    static constexpr const char* kMissingFormatMessage =
        "You select Advance Mode in Step2. But the destination formate of one or more files has not been "
        "selected correctly. Please check it out.";
    enum class RowsCheck { Ok, Empty, MissingFormat };
    template <class Row>
    RowsCheck CheckRows(const std::vector<Row>& rows, const char* emptyMessage) {
        if (rows.empty()) {
            view_.Inform(emptyMessage, "Information");
            return RowsCheck::Empty;
        }
        for (const Row& row : rows) {
            if (row.destinationFormat.empty()) {
                view_.Inform(kMissingFormatMessage, "Information");
                return RowsCheck::MissingFormat;
            }
        }
        return RowsCheck::Ok;
    }
    // A new batch of `rows` rows: counters and clock from zero, state
    // Running, the one-second timer calling `onTick`.
    void Begin(int rows, std::function<void()> onTick);
    // False between Begin and End.
    bool ended() const { return ended_; }
    // "P&ause" / "R&esume": Running becomes Paused with the notice that the
    // work in hand is finished first; Paused becomes Running with
    // `resumeText`. False when there is no batch to pause.
    bool TogglePause(const char* resumeText);
    // Once nothing is in work while paused: " Paused." (once per pause).
    void NotePaused();
    // The end of the batch: the total bar, "Task finished", the summary,
    // the timer stopped, state Stoped, the view told.
    void End();

    // --- log
    // A line of its own: ">>> " + time + text when timed (text begins with a
    // space), else the text as it is.
    void Log(LogColour colour, const std::string& text, bool timed = true);
    // The same, kept with the other lines of `row` while rows are grouped.
    void LogFor(std::size_t row, LogColour colour, const std::string& text, bool timed = true);
    // Grouping keeps each row's lines together when several rows run at
    // once: a row's lines are held until FlushRow.
    void SetGrouping(bool on) { grouping_ = on; }
    void FlushRow(std::size_t row);
    // The banner in navy: ">>> " + title, our own line, 49 hyphens.
    void Banner(const std::string& applicationTitle);
    // " Task finished.", the white empty line, "Summary" and the counters.
    void Summary();
    std::string TimeText() const { return clock_(); }

    // --- counters and panels
    BatchCounters& counters() { return counters_; }
    const BatchCounters& counters() const { return counters_; }
    const std::string& panel(int index) const { return panels_.at(static_cast<std::size_t>(index)); }
    void SetPanel(int index, const std::string& text);
    // Panels 2 to 6 for a new batch of `total` rows.
    void ResetCounters(int total);
    // The panels after a skip, a failure and a success. The remaining panel
    // reads "Remaning:" after a skip or failure and "Remaining:" after a
    // success, as the program always showed it.
    void CountSkip();
    void CountFailure();
    void CountSuccess();

    // --- progress, in the batch's unit (kilobytes or seconds)
    void ResetProgress(long long totalUnits);
    long long totalUnits() const { return totalUnits_; }
    long long finishedUnits() const { return finishedUnits_; }
    long long finishedNow() const { return finishedNow_; }
    void SetFinishedUnits(long long units);
    int currentBar() const { return currentBar_; }
    void SetCurrentBar(int percent);
    int totalBar() const { return totalBar_; }
    // The total bar from the finished units (only when there is a total).
    void UpdateTotalBar(long long finished);
    long long elapsedSeconds() const { return elapsed_; }
    long long remainingSeconds() const { return remaining_; }
    // One second of the clock: elapsed + 1, remaining from the total bar's
    // last position, finished now = finished units + `runningUnits` (what
    // the rows in work have done so far), and the total bar from it.
    void Tick(long long runningUnits);
    // The one-second timer on the owning thread's queue; it calls `onTick`.
    void StartTimer(std::function<void()> onTick);
    void StopTimer();
    bool timerRunning() const { return timerId_ != 0; }

    // --- end of batch
    // Open folder (when it exists), exit, power off, sound, in this order;
    // `beforeOthers` runs first (the ripping batch's eject).
    void RunPostActions(const Options::PostActions& choice, const std::string& lastFolder,
                        const std::function<void()>& beforeOthers = {});

private:
    void Emit(const LogLine& line);
    LogLine Make(LogColour colour, const std::string& text, bool timed) const;

    BatchView& view_;
    PostActions& actions_;
    Clock clock_;
    BatchState state_ = BatchState::Stopped;
    bool ended_ = true;
    bool pausedLogged_ = false;
    bool grouping_ = false;
    std::map<std::size_t, std::vector<LogLine>> held_;
    BatchCounters counters_;
    std::vector<std::string> panels_ = std::vector<std::string>(7);
    long long totalUnits_ = 0, finishedUnits_ = 0, finishedNow_ = 0;
    int currentBar_ = 0, totalBar_ = 0;
    long long elapsed_ = 0, remaining_ = 0;
    HWND timerWindow_ = nullptr;
    UINT_PTR timerId_ = 0;
    std::function<void()> onTick_;
};

}  // namespace kiv::app

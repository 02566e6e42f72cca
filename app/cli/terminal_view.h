// A batch shown on a terminal: the log on standard output (in its colours
// when that is a terminal and NO_COLOR is not set), questions through the
// message-box provider (a prompt on the terminal, else the safe answer), and
// one progress line on standard error when that is a terminal.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "app/core/batch_core.h"

namespace kiv {

class TerminalBatchView : public app::BatchView {
public:
    // Quiet: no progress line, and of the log only failures, refusals and
    // the summary.
    explicit TerminalBatchView(bool quiet);
    ~TerminalBatchView() override;

    // The text of the progress line, asked for whenever it is redrawn.
    void SetProgressText(std::function<std::string()> text) { progressText_ = std::move(text); }

    void AppendLog(const app::LogLine& line) override;
    bool Ask(const std::string& text, const std::string& caption) override;
    void Inform(const std::string& text, const std::string& caption) override;
    void ProgressChanged() override { Redraw(false); }
    void PanelChanged(int, const std::string&) override { Redraw(false); }

    // Draws the progress line now (force) or when it is due.
    void Redraw(bool force);
    // Takes the progress line off the screen.
    void ClearProgress();

private:
    bool quiet_;
    bool colours_;
    bool trueColour_;
    bool progress_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
    std::function<std::string()> progressText_;
};

// Counts Ctrl-C presses while it lives; the `limit`-th press ends the
// program the default way (the user wants out; what is left behind is
// removed by the next batch writing to that folder). SIGTERM and SIGHUP
// count as the presses up to the one before the last: the work in hand is
// cancelled and cleaned up. One at a time.
class InterruptCounter {
public:
    explicit InterruptCounter(int limit);
    ~InterruptCounter();
    InterruptCounter(const InterruptCounter&) = delete;
    InterruptCounter& operator=(const InterruptCounter&) = delete;
    int count() const;
};

// Pumps the thread's queue and redraws the progress line until `finished`
// says so, calling `onInterrupt(n)` once for the n-th Ctrl-C. Returns the
// number of Ctrl-C presses seen.
int RunUntilFinished(TerminalBatchView& view, const InterruptCounter& interrupts,
                     const std::function<bool()>& finished, const std::function<void(int)>& onInterrupt);

// "[=========>          ]" for a percent, `width` characters inside.
std::string ProgressBar(int percent, int width);

}  // namespace kiv

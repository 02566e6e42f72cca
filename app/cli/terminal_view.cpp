#include "app/cli/terminal_view.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/msg/message_queue.h"
#include "platform/system/message_box.h"
#include "platform/system/text.h"

namespace kiv {

namespace {

bool WantColours() {
    const char* noColour = std::getenv("NO_COLOR");
    return ::isatty(STDOUT_FILENO) && !(noColour && *noColour);
}

bool TrueColourTerminal() {
    const char* c = std::getenv("COLORTERM");
    return c && (std::strcmp(c, "truecolor") == 0 || std::strcmp(c, "24bit") == 0);
}

// The nearest of the 16 basic colours, for terminals without 24-bit colour.
const char* BasicColour(app::LogColour colour) {
    switch (colour) {
        case app::LogColour::Navy: return "\033[34m";
        case app::LogColour::Blue: return "\033[94m";
        case app::LogColour::Green: return "\033[32m";
        case app::LogColour::Orange: return "\033[33m";
        case app::LogColour::Red: return "\033[31m";
        case app::LogColour::White: return "";
    }
    return "";
}

}  // namespace

namespace {

std::atomic<int> gInterrupts{0};
std::atomic<int> gInterruptLimit{1};

std::atomic<bool> gTerminateSeen{false};

extern "C" void OnInterrupt(int) {
    if (gInterrupts.fetch_add(1) + 1 >= gInterruptLimit.load()) {
        ::signal(SIGINT, SIG_DFL);
        ::raise(SIGINT);
    }
}

// SIGTERM and SIGHUP (a shutdown, a closed terminal) ask for the same as
// the last Ctrl-C before the one that ends at once: cancel the work in hand
// and clean up. A second such signal ends the program the default way.
extern "C" void OnTerminate(int sig) {
    if (gTerminateSeen.exchange(true)) {
        ::signal(sig, SIG_DFL);
        ::raise(sig);
        return;
    }
    const int wanted = gInterruptLimit.load() - 1;
    int seen = gInterrupts.load();
    while (seen < wanted && !gInterrupts.compare_exchange_weak(seen, wanted)) {
    }
}

constexpr int kTerminateSignals[] = {SIGTERM, SIGHUP};

}  // namespace

InterruptCounter::InterruptCounter(int limit) {
    gInterrupts = 0;
    gInterruptLimit = limit;
    gTerminateSeen = false;
    ::signal(SIGINT, OnInterrupt);
    for (int sig : kTerminateSignals) ::signal(sig, OnTerminate);
}

InterruptCounter::~InterruptCounter() {
    ::signal(SIGINT, SIG_DFL);
    for (int sig : kTerminateSignals) ::signal(sig, SIG_DFL);
}

int InterruptCounter::count() const { return gInterrupts.load(); }

int RunUntilFinished(TerminalBatchView& view, const InterruptCounter& interrupts,
                     const std::function<bool()>& finished, const std::function<void(int)>& onInterrupt) {
    int handled = 0;
    while (!finished()) {
        const int seen = interrupts.count();
        if (seen > handled) {
            while (handled < seen) onInterrupt(++handled);
            continue;
        }
        WaitMessage(200);
        PumpPendingMessages();
        view.Redraw(false);
    }
    view.ClearProgress();
    return handled;
}

std::string ProgressBar(int percent, int width) {
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    const int filled = percent * width / 100;
    std::string bar = "[";
    bar.append(std::size_t(filled), '=');
    if (filled < width) {
        bar += '>';
        bar.append(std::size_t(width - filled - 1), ' ');
    }
    return bar + "]";
}

TerminalBatchView::TerminalBatchView(bool quiet)
    : quiet_(quiet),
      colours_(WantColours()),
      trueColour_(TrueColourTerminal()),
      progress_(!quiet && ::isatty(STDERR_FILENO)) {}

TerminalBatchView::~TerminalBatchView() { ClearProgress(); }

void TerminalBatchView::AppendLog(const app::LogLine& line) {
    if (quiet_) {
        const bool summary = line.text.rfind("Total Files: ", 0) == 0;
        if (line.colour != app::LogColour::Red && line.colour != app::LogColour::Orange && !summary) return;
    }
    ClearProgress();
    if (colours_ && line.colour != app::LogColour::White && !line.text.empty()) {
        if (trueColour_) {
            const app::Rgb rgb = app::ColourOf(line.colour);
            std::printf("\033[38;2;%d;%d;%dm%s\033[0m\n", rgb.r, rgb.g, rgb.b, line.text.c_str());
        } else {
            std::printf("%s%s\033[0m\n", BasicColour(line.colour), line.text.c_str());
        }
    } else {
        std::printf("%s\n", line.text.c_str());
    }
    std::fflush(stdout);
    Redraw(true);
}

bool TerminalBatchView::Ask(const std::string& text, const std::string& caption) {
    ClearProgress();
    const bool yes = MessageBox(nullptr, FromUtf8(text), FromUtf8(caption), MB_YESNO | MB_ICONQUESTION) == IDYES;
    Redraw(true);
    return yes;
}

void TerminalBatchView::Inform(const std::string& text, const std::string& caption) {
    ClearProgress();
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

void TerminalBatchView::Redraw(bool force) {
    if (!progress_ || !progressText_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && drawn_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    std::string text = progressText_();
    if (text.empty()) return;
    std::fprintf(stderr, "\r\033[K%s", text.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

void TerminalBatchView::ClearProgress() {
    if (!drawn_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    drawn_ = false;
}

}  // namespace kiv

#include "app/core/batch_core.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <ctime>
#include <thread>

#include "components/player/player_interface.h"
#include "platform/com/class_registry.h"
#include "platform/com/connection_point.h"
#include "platform/system/text.h"

extern char** environ;

namespace kiv::app {

Rgb ColourOf(LogColour colour) {
    switch (colour) {
        case LogColour::Navy: return {0, 0, 128};
        case LogColour::Blue: return {0, 0, 255};
        case LogColour::Green: return {0, 128, 0};
        case LogColour::Orange: return {255, 128, 0};
        case LogColour::Red: return {255, 0, 0};
        case LogColour::White: return {255, 255, 255};
    }
    return {0, 0, 0};
}

std::string LocalTimeText() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    if (std::strftime(text, sizeof text, "%X", &local) == 0) return {};
    return text;
}

std::string HoursMinutesSeconds(long long seconds) {
    if (seconds < 0) seconds = 0;
    return std::to_string(seconds / 3600) + ":" + std::to_string(seconds % 3600 / 60) + ":" +
           std::to_string(seconds % 60);
}

long long RoundEven(double value) { return static_cast<long long>(std::nearbyint(value)); }

// --- real post-actions

namespace {

// Runs a program without a shell and without waiting for it.
void Launch(std::vector<std::string> argv) {
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) == 0) {
        // Reap it in the background so it never lingers as a zombie.
        std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
    }
}

}  // namespace

void SystemPostActions::OpenFolder(const std::string& folder) { Launch({"xdg-open", folder}); }

void SystemPostActions::ExitProgram() { ::_exit(4); }

void SystemPostActions::PowerOff() { Launch({"systemctl", "poweroff"}); }

void SystemPostActions::Beep() {
    if (::isatty(STDERR_FILENO)) {
        [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, "\a", 1);
    }
}

void SystemPostActions::PlaySound(const std::string& path) {
    ComPtr<IKivAudioPlayer> player;
    if (FAILED(CoCreateInstance(kClassAudioPlayer.clsid, nullptr, CLSCTX_ALL, IID_IKivAudioPlayer,
                                player.put_void())))
        return;
    Bstr name(FromUtf8(path));
    if (FAILED(player->CreateDecoderFor(name.get()))) return;
    bool finished = false;
    auto sink = DispatchSink::Create(DIID_IKivAudioPlayerEvents, [&](DISPID id, DISPPARAMS&) {
        if (id == DISPID_OnPlayFinish) finished = true;
    });
    EventConnection events;
    events.Connect(player.get(), DIID_IKivAudioPlayerEvents, sink.get());
    if (FAILED(player->Start())) return;
    while (!finished) {
        MSG m;
        if (!GetMessage(&m, nullptr, 0, 0)) break;
        DispatchMessage(&m);
    }
}

// --- the shared batch machinery

BatchCore::BatchCore(BatchView& view, PostActions& actions, Clock clock)
    : view_(view), actions_(actions), clock_(std::move(clock)) {}

BatchCore::~BatchCore() {
    StopTimer();
    if (timerWindow_) DestroyWindow(timerWindow_);
}

LogLine BatchCore::Make(LogColour colour, const std::string& text, bool timed) const {
    // File names are bytes; those that are not UTF-8 are shown escaped.
    const std::string shown = EscapeInvalidUtf8(text);
    return {colour, timed ? ">>> " + clock_() + shown : shown};
}

void BatchCore::Emit(const LogLine& line) { view_.AppendLog(line); }

void BatchCore::Log(LogColour colour, const std::string& text, bool timed) { Emit(Make(colour, text, timed)); }

void BatchCore::LogFor(std::size_t row, LogColour colour, const std::string& text, bool timed) {
    if (grouping_) held_[row].push_back(Make(colour, text, timed));
    else Emit(Make(colour, text, timed));
}

void BatchCore::FlushRow(std::size_t row) {
    auto it = held_.find(row);
    if (it == held_.end()) return;
    std::vector<LogLine> lines = std::move(it->second);
    held_.erase(it);
    for (const LogLine& line : lines) Emit(line);
}

void BatchCore::Banner(const std::string& applicationTitle) {
    Log(LogColour::Navy, ">>> " + applicationTitle, false);
    Log(LogColour::Navy, ">>> Free audio conversion and CD ripping for Linux", false);
    Log(LogColour::Navy, std::string(49, '-'), false);
}

void BatchCore::Summary() {
    Log(LogColour::Green, " Task finished.");
    Log(LogColour::White, "", false);
    Log(LogColour::Navy, "Summary", false);
    const BatchCounters& c = counters_;
    Log(LogColour::Navy,
        "Total Files: " + std::to_string(c.total) + "   Done: " + std::to_string(c.done) +
            "   Remaining: " + std::to_string(c.remaining()) + "   Skip: " + std::to_string(c.skipped) +
            "   Failed: " + std::to_string(c.failed),
        false);
}

void BatchCore::Begin(int rows, std::function<void()> onTick) {
    ResetCounters(rows);
    ResetProgress(totalUnits_);
    ended_ = false;
    pausedLogged_ = false;
    state_ = BatchState::Running;
    StartTimer(std::move(onTick));
}

bool BatchCore::TogglePause(const char* resumeText) {
    if (ended_) return false;
    if (state_ == BatchState::Running) {
        state_ = BatchState::Paused;
        pausedLogged_ = false;
        Log(LogColour::Green, " Finishing current converting before pasue. Please wait...");
        return true;
    }
    if (state_ == BatchState::Paused) {
        state_ = BatchState::Running;
        Log(LogColour::Blue, resumeText);
        return true;
    }
    return false;
}

void BatchCore::NotePaused() {
    if (ended_ || state_ != BatchState::Paused || pausedLogged_) return;
    pausedLogged_ = true;
    Log(LogColour::Blue, " Paused.");
    SetPanel(0, "Paused");
}

void BatchCore::End() {
    ended_ = true;
    UpdateTotalBar(finishedUnits_);
    SetPanel(0, "Task finished");
    SetPanel(1, "");
    Summary();
    StopTimer();
    // Nothing is left to wait for, whatever the clock last guessed.
    remaining_ = 0;
    view_.ProgressChanged();
    state_ = BatchState::Stopped;
    view_.BatchEnded();
}

void BatchCore::SetPanel(int index, const std::string& text) {
    panels_.at(static_cast<std::size_t>(index)) = text;
    view_.PanelChanged(index, text);
}

void BatchCore::ResetCounters(int total) {
    counters_ = BatchCounters{total, 0, 0, 0};
    SetPanel(2, "Total: " + std::to_string(total));
    SetPanel(3, "Done:0");
    SetPanel(4, "Remaning:" + std::to_string(total));
    SetPanel(5, "Skip:0");
    SetPanel(6, "Failed:0");
}

void BatchCore::CountSkip() {
    ++counters_.skipped;
    SetPanel(4, "Remaning:" + std::to_string(counters_.remaining()));
    SetPanel(5, "Skip:" + std::to_string(counters_.skipped));
}

void BatchCore::CountFailure() {
    ++counters_.failed;
    SetPanel(0, "Error.");
    SetPanel(4, "Remaning:" + std::to_string(counters_.remaining()));
    SetPanel(6, "Failed:" + std::to_string(counters_.failed));
}

void BatchCore::CountSuccess() {
    ++counters_.done;
    SetPanel(3, "Done:" + std::to_string(counters_.done));
    SetPanel(4, "Remaining:" + std::to_string(counters_.remaining()));
    SetPanel(6, "Failed:" + std::to_string(counters_.failed));
}

void BatchCore::ResetProgress(long long totalUnits) {
    totalUnits_ = totalUnits;
    finishedUnits_ = finishedNow_ = 0;
    currentBar_ = totalBar_ = 0;
    elapsed_ = remaining_ = 0;
    view_.ProgressChanged();
}

void BatchCore::SetFinishedUnits(long long units) {
    finishedUnits_ = units;
    finishedNow_ = units;
    view_.ProgressChanged();
}

void BatchCore::SetCurrentBar(int percent) {
    currentBar_ = percent;
    view_.ProgressChanged();
}

void BatchCore::UpdateTotalBar(long long finished) {
    if (totalUnits_ > 0) totalBar_ = static_cast<int>(RoundEven(double(finished) / double(totalUnits_) * 100.0));
    view_.ProgressChanged();
}

void BatchCore::Tick(long long runningUnits) {
    ++elapsed_;
    // The estimate uses the bar as the previous tick (or the batch's end) left it.
    if (totalBar_ > 0) remaining_ = RoundEven(double(elapsed_) / totalBar_ * (100 - totalBar_));
    finishedNow_ = finishedUnits_ + runningUnits;
    UpdateTotalBar(finishedNow_);
}

void BatchCore::StartTimer(std::function<void()> onTick) {
    onTick_ = std::move(onTick);
    if (!timerWindow_) {
        timerWindow_ = CreateHelperWindow(u"Batch clock", [this](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
            if (msg != WM_TIMER || timerId_ == 0) return 0;
            // The next tick is scheduled only after this one's work, so
            // ticks never overlap.
            KillTimer(timerWindow_, timerId_);
            if (onTick_) onTick_();
            if (timerId_ != 0) SetTimer(timerWindow_, timerId_, 1000);
            return 0;
        });
    }
    if (!timerWindow_) return;
    timerId_ = 1;
    SetTimer(timerWindow_, timerId_, 1000);
}

void BatchCore::StopTimer() {
    if (timerWindow_ && timerId_ != 0) KillTimer(timerWindow_, timerId_);
    timerId_ = 0;
}

void BatchCore::RunPostActions(const Options::PostActions& choice, const std::string& lastFolder,
                               const std::function<void()>& beforeOthers) {
    if (beforeOthers) beforeOthers();
    struct stat st;
    if (choice.openFolder && !lastFolder.empty() && ::stat(lastFolder.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        actions_.OpenFolder(lastFolder);
    if (choice.exitProgram) {
        actions_.ExitProgram();
        return;  // the program ends here; nothing after it runs
    }
    if (choice.shutDown) actions_.PowerOff();
    if (choice.playSound) {
        if (choice.soundDefault) actions_.Beep();
        else actions_.PlaySound(choice.customSound);
    }
}

}  // namespace kiv::app

// The step-3 page of both wizards: the status list, the progress group,
// the coloured log with Save (rich text) and Print, and the batch buttons
// (Start, Pause/Resume, Stop, Previous Step; after a batch New Task, Done &
// Close and Open destination folder). The page runs no batch itself: a
// wizard drives it from its batch's view (`BatchPageView`) and hears the
// buttons through the hooks.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

#include "app/core/batch_core.h"

class QLabel;
class QPrinter;
class QProgressBar;
class QPushButton;
class QTextEdit;
class QTreeWidget;

namespace kiv::gui {

struct AppContext;
class MediaPlayer;

// The end-of-batch effects of the desktop program: the folder through the
// desktop's file manager, the end of the program and the power-off through
// the context's replaceable actions (a context without a power-off action
// powers nothing off), the beep, and a sound file through the options
// dialog's media player (failures swallowed).
class WizardPostActions : public app::PostActions {
public:
    // `player`: the options dialog's media player (may be null while the
    // windows are still being made).
    WizardPostActions(const AppContext& context, std::function<MediaPlayer*()> player)
        : context_(context), player_(std::move(player)) {}
    void OpenFolder(const std::string& folder) override;
    void ExitProgram() override;
    void PowerOff() override;
    void Beep() override;
    void PlaySound(const std::string& path) override;

private:
    const AppContext& context_;
    std::function<MediaPlayer*()> player_;
};

// What differs between the wizards' step-3 pages.
struct BatchPageTexts {
    QString startCaption = "&Start";
    QString pauseCaption = "P&ause";
    QString resumeCaption = "R&esume";
    QString stopCaption = "S&top";
    QString previousCaption = "&Previous Step";
    QStringList statusColumns;
    // The "Total:" and "Finished:" amounts (kilobytes by default).
    std::function<QString(long long)> unitText;
};

class BatchPage : public QWidget {
public:
    explicit BatchPage(const BatchPageTexts& texts, QWidget* parent = nullptr);

    // --- status list: one row per batch row, a state icon in column 0
    void SetStatusRows(const std::vector<QStringList>& rows);
    void SetStatusRow(int row, app::RowIcon icon, const QStringList& texts);
    app::RowIcon statusIcon(int row) const;
    // The icon of each state (ready, working, skipped, failed, done).
    static QIcon IconOf(app::RowIcon icon);

    // --- log
    void AppendLog(const app::LogLine& line);
    void ClearLog();
    const std::vector<app::LogLine>& logLines() const { return lines_; }
    // Writes the log as rich text; false (after a message) when it cannot.
    bool SaveLog(const QString& path);
    // Prints the log on a printer that is set up.
    void PrintLog(QPrinter& printer) const;
    // "Save", "Print", "Clear".
    void btnSaveClick();
    void btnPrintClick();
    void btnClearClick();

    // --- progress group
    // Shows the page's start: finished 0, times empty, bars 0, "0%".
    void ResetProgress(long long totalUnits);
    // Shows what the batch's clock and counters say now.
    void ShowProgress(const app::BatchCore& core);

    // --- buttons
    // Ready for a batch: Previous, Start (enabled), Pause and Stop (disabled)
    // shown; the end-of-task buttons hidden.
    void ShowReady();
    // A batch runs: Start and Previous disabled, Pause and Stop enabled.
    void ShowRunning();
    // The batch has ended: the four batch buttons hidden, Open destination
    // folder, New Task and Done & Close shown.
    void ShowEnded();
    // The pause button's caption for a paused or a running batch.
    void ShowPaused(bool paused);
    bool endOfTaskShown() const;

    // The buttons' hooks.
    std::function<void()> onStart, onPause, onStop, onPrevious, onNewTask, onDone, onOpenFolder;
    // Tests answer the save dialog here, and confirm (or refuse) printing
    // on the printer given instead of the set-up and print dialogs; empty:
    // the real dialogs.
    std::function<QString(const QString& title, const QString& filter)> chooseSaveFile;
    std::function<bool(QPrinter&)> confirmPrint;

    QTreeWidget* ltvStatus;
    QTextEdit* rchLog;
    QLabel *labTotal, *labFinished, *labElapse, *labRemain, *labCurrentPercent, *labTotalPercent;
    QProgressBar *pbCurrent, *pbTotal;
    QPushButton *btnStart, *btnPause, *btnStop, *btnPrevious, *btnNewTask, *btnClose, *btnOpenFolder;
    QPushButton *btnSave, *btnPrint, *btnClear;

private:
    QWidget* BuildProgressGroup();
    QString Units(long long units) const;

    BatchPageTexts texts_;
    std::vector<app::LogLine> lines_;
};

// A batch's view onto a page: log lines, progress, questions and messages
// go to the page and the program's message boxes; panels, rows and the
// end of the batch to the wizard through the hooks.
class BatchPageView : public app::BatchView {
public:
    explicit BatchPageView(BatchPage& page) : page_(&page) {}

    // Cuts the view off the page and the wizard: a batch that still
    // finishes a file after the page moved on to a new batch shows nothing.
    void Detach();

    std::function<const app::BatchCore*()> core;
    std::function<void(int, const std::string&)> onPanel;
    std::function<void(std::size_t)> onRow;
    std::function<void()> onEnded;

    void AppendLog(const app::LogLine& line) override {
        if (page_) page_->AppendLog(line);
    }
    bool Ask(const std::string& text, const std::string& caption) override;
    void Inform(const std::string& text, const std::string& caption) override;
    void PanelChanged(int panel, const std::string& text) override {
        if (onPanel) onPanel(panel, text);
    }
    void RowChanged(std::size_t row) override {
        if (onRow) onRow(row);
    }
    void ProgressChanged() override;
    void BatchEnded() override {
        if (onEnded) onEnded();
    }

private:
    BatchPage* page_;
};

}  // namespace kiv::gui

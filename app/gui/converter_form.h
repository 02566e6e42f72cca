// The conversion wizard: three pages (the task list with its explorer pane,
// the output settings, the batch), menus, the page-1 tool bar, the task
// list's pop-up menu and a status bar of seven panels. What the window
// does is the core's (task list, output planning, conversion batch,
// settings); the window shows it and forwards the user's actions.
#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "app/core/conversion_batch.h"
#include "app/core/task_list.h"
#include "app/gui/batch_page.h"
#include "app/gui/media_player.h"
#include "app/gui/output_page.h"
#include "app/gui/wizard_shell.h"

class QAction;
class QFileSystemModel;
class QFrame;
class QLabel;
class QMenu;
class QMenuBar;
class QMimeData;
class QPushButton;
class QStandardItemModel;
class QTabWidget;
class QTimer;
class QToolBar;
class QTreeView;

namespace kiv::gui {

struct AppContext;
class TAboutForm;
class TConvertAdvanceForm;
class TDialogForm;
class TOptionForm;
class TaskListModel;

class TConverterForm : public WizardShell {
public:
    explicit TConverterForm(AppContext& context);
    ~TConverterForm() override;

    // The windows this one reaches; set once they exist.
    void setWindows(TDialogForm* query, TOptionForm* options, TAboutForm* about);

    // The explorer pane's folder (General/InitialDir).
    void SelectFolder(const QString& folder);
    QString selectedFolder() const;

    // --- page 1
    bool AddFile(const QString& path);
    // Asks about sub-folders (or follows the options) and searches inside
    // the searching panel; returns the rows added.
    int AddFolder(const QString& folder);
    void tbtnAddFileClick();
    void tbtnAddFolderClick();
    void tbtnRemoveClick();
    void tbtnClearClick();
    void btnSearchingCancelClick();
    bool searching() const { return searching_; }
    // Drops onto the task list: from the explorer pane, or file and folder
    // addresses (text/uri-list) from other programs; false when refused.
    bool CanDrop(const QObject* source, const QMimeData* data) const;
    void DropOnList(const QObject* source, const QMimeData* data);
    // The explorer's "Drives" level in the file list.
    void ShowDrives();
    bool showingDrives() const;
    // Preview of the selected row.
    void sbtnPlayClick();
    void sbtnPauseClick();
    void sbtnStopClick();
    const QString& previewState() const { return previewState_; }
    // Task files.
    void NewTaskClick();
    void OpenTaskClick();
    void SaveTaskClick();

    // --- page 2
    void btnAdvanceClick();
    // The advanced-mode dialog; null until first opened.
    TConvertAdvanceForm* advanceForm() const { return advance_.get(); }

    // --- page 3
    void TabSheet3Show();
    void btnStartClick();
    void btnPauseClick();
    void btnStopClick();
    void btnNewTaskClick();
    void btnCloseClick();
    void btnOpenFolderClick();
    // The page guard when a page tab is clicked: true when the change may go on.
    bool PageChangeAllowed();
    // Changes the page as a click on its tab does (through the guard).
    bool ClickPageTab(int index);

    app::TaskList& tasks() { return tasks_; }
    const app::ConversionBatch& batch() const { return *batch_; }
    QString panel(int index) const;

    // Tests and the screenshot tool answer the file and folder dialogs
    // here; empty: the real dialogs.
    std::function<QStringList(const QString& title, const QString& filter)> chooseOpenFiles;
    std::function<QString(const QString& title)> chooseFolder;
    std::function<QString(const QString& title, const QString& filter)> chooseSaveFile;

    QMenuBar* menuBar;
    QMenu *mnuTask, *mnuFiles, *mnuHelp, *popList;
    QAction *actNewTask, *actOpenTask, *actSaveTask, *actClose, *actAddFiles, *actAddFolders, *actRemove, *actClear;
    QAction *actContents, *actContact, *actWebsite, *actAbout;
    QAction *popRemove, *popClear, *popPlay, *popPause, *popStop;
    QToolBar* tbrPage1;
    QTabWidget* pgcConverter;
    QTreeView* ltvList;
    QTreeView* DirList;
    QTreeView* FileList;
    QPushButton* btnDrives;
    QPushButton* btnNext1;
    QFrame* pnlSearching;
    QLabel* labSearchingFolder;
    QPushButton* btnSearchingCancel;
    OutputPage* output;
    BatchPage* page3;
    std::array<QLabel*, 7> panels;

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class Host;
    QWidget* BuildPage1();
    QWidget* BuildExplorer();
    void BuildMenus();
    void SetPanel(int index, const QString& text);
    void TaskListChanged();
    void SetSearching(bool on);
    void PlaceSearchingPanel();
    QStringList StatusTexts(std::size_t row) const;
    void ShowStatusRow(std::size_t row);
    void ShowRunningPercents();
    int PreviewRow() const;
    // Connects the batch's view to the window.
    void HookView();
    void ReleaseRetired();
    app::ConversionSettings BatchSettings() const;
    void OpenUrl(const QString& url);

    AppContext& context_;
    TDialogForm* query_ = nullptr;
    TOptionForm* options_ = nullptr;
    TAboutForm* about_ = nullptr;
    app::TaskList tasks_;
    std::unique_ptr<Host> host_;
    TaskListModel* model_;
    QFileSystemModel *dirModel_, *fileModel_;
    QStandardItemModel* drivesModel_;
    std::unique_ptr<TConvertAdvanceForm> advance_;
    std::unique_ptr<BatchPageView> view_;
    std::unique_ptr<WizardPostActions> actions_;
    std::unique_ptr<app::ConversionBatch> batch_;
    QTimer* percents_;
    // Stopped batches still finishing a file, kept until they are idle.
    struct Retired {
        std::unique_ptr<BatchPageView> view;  // outlives its batch
        std::unique_ptr<app::ConversionBatch> batch;
    };
    std::vector<Retired> retired_;
    QTimer* retiredWatch_;
    MediaPlayer preview_;
    QString requestedFolder_;
    QString previewState_ = "Stoped";
    int previewRow_ = -1;
    bool searching_ = false;
    bool cancelSearch_ = true;
};

}  // namespace kiv::gui

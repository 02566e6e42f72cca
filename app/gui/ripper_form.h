// The ripping wizard: page 1 lists the tracks of the disc in the chosen
// drive and names them from a CDDB lookup that runs on its own thread;
// page 2 is the shared output page; page 3 runs the core's ripping batch on
// the shared batch page. The CD extraction control lives as long as the
// window; its disc-change event refreshes the track list while no track is
// being ripped.
#pragma once

#include <QString>

#include <memory>
#include <vector>

#include "app/core/cddb_lookup.h"
#include "app/core/rip_batch.h"
#include "app/gui/wizard_shell.h"
#include "components/cdrip/cdrip_interfaces.h"
#include "platform/com/connection_point.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QStatusBar;
class QTabWidget;
class QTimer;
class QToolButton;
class QTreeWidget;

namespace kiv::gui {

struct AppContext;
class BatchPage;
class BatchPageView;
class OutputPage;
class TOptionForm;
class TRipAdvanceForm;
class WizardPostActions;

// "Audio CD Ripper - WIZARD".
class TRipperForm : public WizardShell {
public:
    TRipperForm(AppContext& context, TOptionForm& options);
    ~TRipperForm() override;

    // The drive asked for on the command line (--rip DEVICE): a drive
    // number, a device such as /dev/sr0, or a cdda:// URI; empty: any. Taken
    // when the window is shown next.
    void RequestDrive(const QString& device) { requestedDrive_ = device; }
    const QString& requestedDrive() const { return requestedDrive_; }

    // --- page 1
    void cmbDriveClick();
    // The read offset of the chosen drive, kept for it in the settings.
    void spnReadOffsetChange(int samples);
    void SpeedButton1Click();  // "&Eject"
    void SpeedButton2Click();  // "&Options"
    void btnSelectAllClick();
    void btnDeselectAllClick();
    // "&Load CDDB Data": the lookup on its own thread; a failure shows a
    // message box only when "Auto load CDDB" is cleared (the user asked)
    // and the options say so.
    void btnCDDBClick();
    void btnNext1Click();
    void FillTrackList();

    // --- page 2
    // "Click to use Advance Mode": the per-track formats.
    void btnAdvanceClick();
    TRipAdvanceForm& advanceForm();

    // --- page 3
    void TabSheet3Show();
    void btnStartClick();
    void btnPauseClick();
    void btnStopClick();
    void btnNewTaskClick();
    void btnOpenFolderClick();
    // The page guard for a click on page tab `index`.
    bool pgcRipperChanging(int index);
    const app::RipBatch& batch() const { return *batch_; }

    // The control and its state (tests look at them).
    IKivCDRipper* ripper() const { return ripper_.get(); }
    int driveNumber() const { return driveNumber_; }
    bool hasCddb() const { return hasCddb_; }
    bool lookupRunning() const { return lookup_.running(); }
    const std::vector<app::TrackListRow>& tracks() const { return tracks_; }
    // The status bar's panel `index` (0 messages, 1 percent, 2..6 counters).
    QString panelText(int index) const;

    QTabWidget* pgcRipper;
    QWidget *TabSheet1, *TabSheet2, *TabSheet3;
    // page 1
    QComboBox* cmbDrive;
    QSpinBox* spnReadOffset;  // the chosen drive's read offset correction, in samples
    QToolButton *SpeedButton1, *SpeedButton2;
    QLabel* labDisc;
    QTreeWidget* ltvList;
    QPushButton *btnSelectAll, *btnDeselectAll, *btnCDDB, *btnNext1;
    QLineEdit *edtAlbumn, *edtArtist, *edtYear, *edtGenre;
    QCheckBox *chkAutoCDDB, *chkJitter;
    QTimer* TimerSelectDri;
    QStatusBar* stbStatus;
    OutputPage* page2;
    BatchPage* page3;

protected:
    void showEvent(QShowEvent* e) override;
    // A rip in progress is stopped only when the user says so.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormShow();
    void CreateControl();
    QWidget* BuildPage1();
    void BuildPage2();
    void BuildPage3();
    void ShowStatusRow(std::size_t row);
    void BatchEnded();
    void LookupDone(const app::CddbLookupResult& result, bool automatic);
    void Ripper1DiskChanged();
    void ShowDiscState();
    void ShowReadOffset();
    // The chosen drive's name as it reports it; empty without a drive.
    std::string ChosenDriveName() const;
    void SetPanel(int index, const QString& text);
    ComPtr<IDrive> ChosenDrive() const;
    // The checks of the list's rows into `tracks_`.
    void TakeChecks();
    // The batch has a track in work: the drive must be left alone.
    bool Extracting() const;

    AppContext& context_;
    TOptionForm& options_;
    QString requestedDrive_;
    std::vector<QLabel*> panels_;

    ComPtr<IKivCDRipper> ripper_;
    ComPtr<DispatchSink> sink_;
    EventConnection events_;
    QString controlError_;
    int driveNumber_ = 0;
    bool hasCddb_ = false;
    bool filling_ = false;
    bool discChangedMeanwhile_ = false;
    std::unique_ptr<BatchPageView> view_;
    std::unique_ptr<WizardPostActions> actions_;
    std::unique_ptr<app::RipBatch> batch_;
    std::unique_ptr<TRipAdvanceForm> advance_;
    std::vector<app::TrackListRow> tracks_;
    app::CddbLookup lookup_;
};

}  // namespace kiv::gui

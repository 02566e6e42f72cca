#include "app/gui/ripper_form.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStatusBar>
#include <QMouseEvent>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/core/rip_plan.h"
#include "app/gui/app_context.h"
#include "app/gui/batch_page.h"
#include "app/gui/options_form.h"
#include "app/gui/output_page.h"
#include "app/gui/rip_advance_form.h"
#include "app/gui/widgets.h"
#include "platform/com/class_registry.h"
#include "platform/com/error_info.h"
#include "platform/system/message_box.h"
#include "platform/system/text.h"

namespace kiv::gui {

namespace {

constexpr int kPanels = 7;
// The hidden column of the track list: the advanced mode's format.
constexpr int kFormatColumn = 6;

QString Q(const std::string& text) { return QString::fromStdString(text); }

QLineEdit* ReadOnlyBox(QWidget* parent, const char* name) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setReadOnly(true);
    return e;
}

}  // namespace

TRipperForm::TRipperForm(AppContext& context, TOptionForm& options)
    : WizardShell("TRipperForm", "Audio CD Ripper - WIZARD"), context_(context), options_(options) {
    auto* layout = new QVBoxLayout(this);
    pgcRipper = new QTabWidget(this);
    pgcRipper->setObjectName("pgcRipper");
    TabSheet1 = BuildPage1();
    BuildPage2();
    BuildPage3();
    pgcRipper->addTab(TabSheet1, "Step1. Select CD Tracks");
    pgcRipper->addTab(TabSheet2, "Step2. Select ripping settings");
    pgcRipper->addTab(TabSheet3, "  Step3. Start Ripping  ");
    layout->addWidget(pgcRipper, 1);
    pgcRipper->tabBar()->installEventFilter(this);
    connect(pgcRipper, &QTabWidget::currentChanged, this, [this](int index) {
        if (index == 2) TabSheet3Show();
    });

    stbStatus = new QStatusBar(this);
    stbStatus->setObjectName("stbStatus");
    stbStatus->setSizeGripEnabled(false);
    for (int i = 0; i < kPanels; ++i) {
        auto* panel = new QLabel(stbStatus);
        panel->setObjectName(QString("panel%1").arg(i));
        panel->setMinimumWidth(i == 0 ? 240 : 64);
        stbStatus->addWidget(panel, i == 0 ? 1 : 0);
        panels_.push_back(panel);
    }
    layout->addWidget(stbStatus);

    TimerSelectDri = new QTimer(this);
    TimerSelectDri->setObjectName("TimerSelectDri");
    TimerSelectDri->setSingleShot(true);
    TimerSelectDri->setInterval(1500);
    connect(TimerSelectDri, &QTimer::timeout, this, [this] {
        TimerSelectDri->stop();
        if (chkAutoCDDB->isChecked()) btnCDDBClick();
    });
    resize(780, 560);
}

TRipperForm::~TRipperForm() {
    // The batch lets go of the control's events and of a track still in work first.
    batch_.reset();
    events_.Disconnect();
}

void TRipperForm::BuildPage2() {
    OutputPageTexts texts;
    texts.folderGroup = "Output Path";
    texts.defaultCaption = "Default - Application path";
    texts.sameFolderChoice = false;
    texts.folderTip = "Tip: All selected tracks will be ripped into the Custom Folder";
    texts.normalNote = "- Rip all selected tracks as the same  format";
    texts.advancedNote = "- You can choose the output format for each track";
    texts.formatNote = "Tip: Normal Mode is recommended, because Advance Mode is a\nlittle complex";
    texts.editClicksSelect = false;
    texts.keepFoldersChoice = false;
    texts.sliderLow = 150;
    page2 = new OutputPage(texts, this);
    TabSheet2 = page2;
    TabSheet2->setObjectName("TabSheet2");
    auto* more = new QToolButton(page2);
    more->setObjectName("Label7");
    more->setText("(Click here to know more)");
    more->setAutoRaise(true);
    more->setCursor(Qt::PointingHandCursor);
    connect(more, &QToolButton::clicked, this, [this] { context_.OpenHelp("CDRipperWizard-AdvancedMo"); });
    page2->extraArea()->addWidget(more, 0, Qt::AlignLeft);
    page2->onAdvanced = [this] { btnAdvanceClick(); };
    page2->onPrevious = [this] { pgcRipper->setCurrentIndex(0); };
    page2->onNext = [this] { pgcRipper->setCurrentIndex(2); };
}

void TRipperForm::BuildPage3() {
    BatchPageTexts texts;
    texts.startCaption = "Start";
    texts.previousCaption = "Previous Step";
    texts.statusColumns = {"", "Title", "Track", "Length", "Destination File", "Destination Path",
                           "Destination Format", "Status"};
    texts.unitText = [](long long seconds) { return Q(app::HoursMinutesSeconds(seconds)); };
    page3 = new BatchPage(texts, this);
    TabSheet3 = page3;
    TabSheet3->setObjectName("TabSheet3");
    view_ = std::make_unique<BatchPageView>(*page3);
    actions_ = std::make_unique<WizardPostActions>(context_, [this] { return &options_.mediaPlayer(); });
    batch_ = std::make_unique<app::RipBatch>(*view_, *actions_);
    view_->core = [this] { return &batch_->core(); };
    view_->onPanel = [this](int panel, const std::string& text) { SetPanel(panel, Q(text)); };
    view_->onRow = [this](std::size_t row) { ShowStatusRow(row); };
    view_->onEnded = [this] { BatchEnded(); };
    page3->onStart = [this] { btnStartClick(); };
    page3->onPause = [this] { btnPauseClick(); };
    page3->onStop = [this] { btnStopClick(); };
    page3->onPrevious = [this] { pgcRipper->setCurrentIndex(1); };
    page3->onNewTask = [this] { btnNewTaskClick(); };
    page3->onDone = [this] { close(); };
    page3->onOpenFolder = [this] { btnOpenFolderClick(); };
}

QWidget* TRipperForm::BuildPage1() {
    auto* page = new QWidget(this);
    page->setObjectName("TabSheet1");
    auto* v = new QVBoxLayout(page);

    auto* driveRow = new QHBoxLayout;
    auto* driveLabel = new QLabel("CD Drive:", page);
    cmbDrive = new QComboBox(page);
    cmbDrive->setObjectName("cmbDrive");
    cmbDrive->setMinimumWidth(260);
    driveLabel->setBuddy(cmbDrive);
    SpeedButton1 = new QToolButton(page);
    SpeedButton1->setObjectName("SpeedButton1");
    SpeedButton1->setText("&Eject");
    SpeedButton2 = new QToolButton(page);
    SpeedButton2->setObjectName("SpeedButton2");
    SpeedButton2->setText("&Options");
    auto* offsetLabel = new QLabel("Read offset:", page);
    spnReadOffset = new QSpinBox(page);
    spnReadOffset->setObjectName("spnReadOffset");
    spnReadOffset->setRange(-app::kMaxReadOffset, app::kMaxReadOffset);
    spnReadOffset->setSuffix(" samples");
    // Typing "-472" must not save -4 and -47 on the way.
    spnReadOffset->setKeyboardTracking(false);
    spnReadOffset->setToolTip(
        "How many samples early (negative) or late this drive delivers the audio; every rip from it is\n"
        "corrected by this much, and it is kept for this drive (ondalo-cli offset find finds it)");
    spnReadOffset->setEnabled(false);
    offsetLabel->setBuddy(spnReadOffset);
    driveRow->addWidget(driveLabel);
    driveRow->addWidget(cmbDrive, 1);
    driveRow->addWidget(offsetLabel);
    driveRow->addWidget(spnReadOffset);
    driveRow->addWidget(SpeedButton1);
    driveRow->addWidget(SpeedButton2);
    v->addLayout(driveRow);

    // An empty tray, a data disc or a missing drive is said here, plainly.
    labDisc = new QLabel(page);
    labDisc->setObjectName("labDisc");
    labDisc->setVisible(false);
    v->addWidget(labDisc);

    ltvList = new QTreeWidget(page);
    ltvList->setObjectName("ltvList");
    ltvList->setRootIsDecorated(false);
    ltvList->setHeaderLabels({"Title", "Track", "Start Time", "Track Length", "Size", "Status", "Format"});
    ltvList->setColumnHidden(kFormatColumn, true);
    ltvList->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    ltvList->header()->setStretchLastSection(false);
    ltvList->setContextMenuPolicy(Qt::CustomContextMenu);
    v->addWidget(ltvList, 1);

    auto* menu = new QMenu(ltvList);
    menu->addAction("Select &All", this, [this] { btnSelectAll->click(); });
    menu->addAction("&Deselect All", this, [this] { btnDeselectAll->click(); });
    connect(ltvList, &QWidget::customContextMenuRequested, this,
            [this, menu](const QPoint& at) { menu->popup(ltvList->viewport()->mapToGlobal(at)); });

    auto* listButtons = new QHBoxLayout;
    btnSelectAll = MakeButton(page, "btnSelectAll", "Select &All");
    btnDeselectAll = MakeButton(page, "btnDeselectAll", "&Deselect All");
    chkJitter = new QCheckBox("Jitter correction (slower; for drives that need it)", page);
    chkJitter->setObjectName("chkJitter");
    chkJitter->setChecked(true);
    listButtons->addWidget(btnSelectAll);
    listButtons->addWidget(btnDeselectAll);
    listButtons->addStretch(1);
    listButtons->addWidget(chkJitter);
    v->addLayout(listButtons);

    auto* info = new QGroupBox("CD information (Read-only)", page);
    info->setObjectName("grpCDInfo");
    auto* g = new QGridLayout(info);
    edtAlbumn = ReadOnlyBox(info, "edtAlbumn");
    edtArtist = ReadOnlyBox(info, "edtArtist");
    edtYear = ReadOnlyBox(info, "edtYear");
    edtGenre = ReadOnlyBox(info, "edtGenre");
    g->addWidget(new QLabel("Album:", info), 0, 0);
    g->addWidget(edtAlbumn, 0, 1);
    g->addWidget(new QLabel("Artist:", info), 0, 2);
    g->addWidget(edtArtist, 0, 3);
    g->addWidget(new QLabel("Year:", info), 1, 0);
    g->addWidget(edtYear, 1, 1);
    g->addWidget(new QLabel("Genre:", info), 1, 2);
    g->addWidget(edtGenre, 1, 3);
    btnCDDB = MakeButton(info, "btnCDDB", "&Load CDDB Data");
    chkAutoCDDB = new QCheckBox("Auto load CDDB", info);
    chkAutoCDDB->setObjectName("chkAutoCDDB");
    g->addWidget(btnCDDB, 0, 4);
    g->addWidget(chkAutoCDDB, 1, 4);
    v->addWidget(info);

    auto* nav = new QHBoxLayout;
    nav->addStretch(1);
    btnNext1 = MakeButton(page, "btnNext1", "&Next Step");
    nav->addWidget(btnNext1);
    v->addLayout(nav);

    connect(cmbDrive, &QComboBox::activated, this, [this](int) { cmbDriveClick(); });
    connect(spnReadOffset, &QSpinBox::valueChanged, this, &TRipperForm::spnReadOffsetChange);
    connect(SpeedButton1, &QToolButton::clicked, this, &TRipperForm::SpeedButton1Click);
    connect(SpeedButton2, &QToolButton::clicked, this, &TRipperForm::SpeedButton2Click);
    connect(btnSelectAll, &QPushButton::clicked, this, &TRipperForm::btnSelectAllClick);
    connect(btnDeselectAll, &QPushButton::clicked, this, &TRipperForm::btnDeselectAllClick);
    connect(btnCDDB, &QPushButton::clicked, this, &TRipperForm::btnCDDBClick);
    connect(btnNext1, &QPushButton::clicked, this, &TRipperForm::btnNext1Click);
    return page;
}

void TRipperForm::CreateControl() {
    if (ripper_ || !controlError_.isEmpty()) return;
    const HRESULT hr =
        CoCreateInstance(kClassCdRipper.clsid, nullptr, CLSCTX_ALL, IID_IKivCDRipper, ripper_.put_void());
    if (FAILED(hr) || !ripper_) {
        ripper_.reset();
        const std::u16string why = TakeErrorDescription();
        controlError_ = "No CD drive can be used" +
                        (why.empty() ? QString(".") : ": " + QString::fromStdU16String(why));
        return;
    }
    sink_ = DispatchSink::Create(DIID_IKivCDRipperEvents, [this](DISPID id, DISPPARAMS&) {
        if (id == DISPID_OnDiskChanged) Ripper1DiskChanged();
    });
    events_.Connect(ripper_.get(), DIID_IKivCDRipperEvents, sink_.get());
    LONG count = 0;
    ripper_->GetDriveNumber(&count);
    cmbDrive->clear();
    for (LONG i = 1; i <= count; ++i) {
        ComPtr<IDrive> drive;
        Bstr name;
        if (SUCCEEDED(ripper_->GetDrive(i, drive.put())) && drive) drive->get_Name(name.put());
        const QString text = QString::fromStdU16String(std::u16string(name.view())).simplified();
        cmbDrive->addItem(text.isEmpty() ? QString("Drive %1").arg(i) : text);
    }
    cmbDrive->setCurrentIndex(-1);
    driveNumber_ = 0;
}

void TRipperForm::showEvent(QShowEvent* e) {
    WizardShell::showEvent(e);
    if (!e->spontaneous()) FormShow();
}

void TRipperForm::FormShow() {
    CreateControl();
    pgcRipper->setCurrentIndex(0);
    for (app::TrackListRow& row : tracks_) row.checked = false;
    for (int i = 0; i < ltvList->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = ltvList->topLevelItem(i);
        if (item->flags() & Qt::ItemIsUserCheckable) item->setCheckState(0, Qt::Unchecked);
    }
    chkAutoCDDB->setChecked(options_.chkRipLoadCDDB->isChecked());
    page2->setApplicationDirectory(Q(context_.applicationDirectory));
    page3->ShowReady();

    int chosen = 0;
    if (ripper_ && !requestedDrive_.isEmpty()) {
        const std::string asked = requestedDrive_.toStdString();
        bool isNumber = false;
        const int number = requestedDrive_.toInt(&isNumber);
        if (isNumber) {
            if (number >= 1 && number <= cmbDrive->count()) chosen = number;
        } else if (auto n = app::DriveNumberForDevice(asked, app::SystemCdDevices());
                   n && *n <= cmbDrive->count()) {
            chosen = *n;
        }
        if (chosen == 0) SetPanel(0, "There is no drive " + requestedDrive_ + ".");
    }
    if (ripper_ && chosen == 0 && options_.chkRipSelectDri->isChecked()) {
        for (int i = 1; i <= cmbDrive->count() && chosen == 0; ++i) {
            ComPtr<IDrive> drive;
            VARIANT_BOOL audio = 0;
            if (SUCCEEDED(ripper_->GetDrive(i, drive.put())) && drive && SUCCEEDED(drive->HasAudioCD(&audio)) &&
                audio)
                chosen = i;
        }
    }
    if (chosen > 0) {
        cmbDrive->setCurrentIndex(chosen - 1);
        driveNumber_ = chosen;
        FillTrackList();
        if (chkAutoCDDB->isChecked()) TimerSelectDri->start();
    } else {
        ShowDiscState();
    }
    const int record = options_.cmbRecord->currentIndex();
    page2->setSettings(context_.store.RestoreStep2IfRecorded(record, app::Wizard::Rip, page2->settings()));
}

ComPtr<IDrive> TRipperForm::ChosenDrive() const {
    ComPtr<IDrive> drive;
    if (!ripper_) return drive;
    if (FAILED(ripper_->GetDrive(driveNumber_ < 1 ? 1 : driveNumber_, drive.put()))) {
        TakeErrorDescription();
        drive.reset();
    }
    return drive;
}

void TRipperForm::FillTrackList() {
    filling_ = true;
    ComPtr<IDrive> drive = ChosenDrive();
    tracks_ = app::ReadTrackList(drive.get(), &hasCddb_);
    ltvList->clear();
    for (const app::TrackListRow& row : tracks_) {
        auto* item = new QTreeWidgetItem(ltvList);
        item->setText(0, Q(row.title));
        item->setText(1, QString::number(row.track));
        item->setText(2, Q(row.startTime));
        item->setText(3, Q(row.length));
        item->setText(4, Q(row.size));
        item->setText(5, row.audio ? Q(row.status) : QString("Data track"));
        item->setText(kFormatColumn, Q(row.advancedFormat));
        if (row.audio) {
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(0, Qt::Unchecked);
        } else {
            // A data track holds no sound: it is shown, never ripped.
            item->setFlags(item->flags() & ~(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled));
        }
    }
    for (int c = 1; c < kFormatColumn; ++c) ltvList->resizeColumnToContents(c);
    filling_ = false;
    ShowDiscState();
    ShowReadOffset();
}

std::string TRipperForm::ChosenDriveName() const {
    ComPtr<IDrive> drive = driveNumber_ > 0 ? ChosenDrive() : ComPtr<IDrive>();
    Bstr name;
    if (!drive || FAILED(drive->get_Name(name.put()))) {
        TakeErrorDescription();
        return {};
    }
    return ToUtf8(name.view());
}

void TRipperForm::ShowReadOffset() {
    const std::string name = ChosenDriveName();
    const QSignalBlocker quiet(spnReadOffset);
    spnReadOffset->setValue(name.empty() ? 0 : context_.store.ReadOffsetOf(name));
    spnReadOffset->setEnabled(!name.empty());
}

void TRipperForm::spnReadOffsetChange(int samples) {
    const std::string name = ChosenDriveName();
    if (name.empty()) return;
    if (!context_.store.WriteReadOffset(name, samples))
        MessageBox(nullptr, u"The read offset could not be saved to " + FromUtf8(context_.store.path()) + u".",
                   u"Information", MB_OK | MB_ICONERROR);
}

void TRipperForm::ShowDiscState() {
    QString text;
    if (!controlError_.isEmpty()) {
        text = controlError_;
    } else if (cmbDrive->count() == 0) {
        text = "No CD drive found.";
    } else if (driveNumber_ == 0 && tracks_.empty()) {
        text = "Choose a drive.";
    } else if (tracks_.empty()) {
        text = "There is no disc in the drive.";
    } else if (std::none_of(tracks_.begin(), tracks_.end(), [](const app::TrackListRow& r) { return r.audio; })) {
        text = "The disc in the drive holds no audio tracks.";
    }
    labDisc->setText(text);
    labDisc->setVisible(!text.isEmpty());
}

void TRipperForm::TakeChecks() {
    for (int i = 0; i < ltvList->topLevelItemCount() && i < static_cast<int>(tracks_.size()); ++i) {
        QTreeWidgetItem* item = ltvList->topLevelItem(i);
        tracks_[static_cast<std::size_t>(i)].checked =
            tracks_[static_cast<std::size_t>(i)].audio && item->checkState(0) == Qt::Checked;
    }
}

void TRipperForm::cmbDriveClick() {
    driveNumber_ = cmbDrive->currentIndex() + 1;
    // Another disc: the boxes no longer describe it.
    for (QLineEdit* e : {edtAlbumn, edtArtist, edtYear, edtGenre}) e->clear();
    FillTrackList();
    if (chkAutoCDDB->isChecked()) btnCDDB->click();
}

void TRipperForm::Ripper1DiskChanged() {
    // The drive is left alone while a track is read; the batch's end
    // refreshes the list when the disc changed meanwhile.
    if (Extracting()) {
        discChangedMeanwhile_ = true;
        return;
    }
    for (QLineEdit* e : {edtAlbumn, edtArtist, edtYear, edtGenre}) e->clear();
    FillTrackList();
    if (chkAutoCDDB->isChecked()) btnCDDB->click();
}

void TRipperForm::SpeedButton1Click() {
    if (driveNumber_ == 0 || Extracting()) return;
    if (ComPtr<IDrive> drive = ChosenDrive()) {
        if (FAILED(drive->Eject())) TakeErrorDescription();
    }
}

void TRipperForm::SpeedButton2Click() {
    options_.ShowDialog();
    options_.pages->setCurrentIndex(1);
}

void TRipperForm::btnSelectAllClick() {
    for (int i = 0; i < ltvList->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = ltvList->topLevelItem(i);
        if (item->flags() & Qt::ItemIsUserCheckable) item->setCheckState(0, Qt::Checked);
    }
}

void TRipperForm::btnDeselectAllClick() {
    for (int i = 0; i < ltvList->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = ltvList->topLevelItem(i);
        if (item->flags() & Qt::ItemIsUserCheckable) item->setCheckState(0, Qt::Unchecked);
    }
}

void TRipperForm::btnCDDBClick() {
    if (tracks_.empty()) {
        SetPanel(0, QString());
        return;
    }
    ComPtr<IDrive> drive = ChosenDrive();
    if (!drive) return;
    // The box's state when asked decides whether a failure earns a message.
    const bool automatic = chkAutoCDDB->isChecked();
    SetPanel(0, app::CddbLookup::kLoadingText);
    // The options' source of names, once chosen (else the environment's stands).
    const std::string source = options_.lookupSource().toStdString();
    if (source != app::Options::Rip().lookupSource || !context_.store.ReadString("Rip", "LookupSource", "").empty())
        app::ApplyLookupSource(source);
    lookup_.Start(drive.get(), [this, automatic](const app::CddbLookupResult& r) { LookupDone(r, automatic); });
}

void TRipperForm::LookupDone(const app::CddbLookupResult& result, bool automatic) {
    // The titles come from the records the lookup left, unless a track is
    // being ripped under the names it had.
    if (!Extracting()) FillTrackList();
    const app::CdInformation shown{edtArtist->text().toStdString(), edtAlbumn->text().toStdString(),
                                   edtYear->text().toStdString(), edtGenre->text().toStdString()};
    const app::CddbReport report = app::CddbLookup::Judge(result, tracks_.empty(), automatic,
                                                          options_.chkShowCDDBFailed->isChecked(), shown);
    SetPanel(0, Q(report.status));
    if (report.takeInformation) {
        edtArtist->setText(Q(report.information.artist));
        edtAlbumn->setText(Q(report.information.album));
        edtYear->setText(Q(report.information.year));
        edtGenre->setText(Q(report.information.genre));
    } else if (report.clearInformation) {
        for (QLineEdit* e : {edtAlbumn, edtArtist, edtYear, edtGenre}) e->clear();
    }
    if (report.showMessage)
        MessageBox(nullptr, FromUtf8(app::CddbLookup::kNoRecordText), u"Information", MB_OK | MB_ICONINFORMATION);
}

void TRipperForm::btnNext1Click() {
    TakeChecks();
    pgcRipper->setCurrentIndex(1);
}

void TRipperForm::SetPanel(int index, const QString& text) {
    if (index >= 0 && index < static_cast<int>(panels_.size())) panels_[static_cast<std::size_t>(index)]->setText(text);
}

QString TRipperForm::panelText(int index) const {
    return index >= 0 && index < static_cast<int>(panels_.size()) ? panels_[static_cast<std::size_t>(index)]->text()
                                                                   : QString();
}

bool TRipperForm::Extracting() const { return batch_ && !batch_->Idle(); }

TRipAdvanceForm& TRipperForm::advanceForm() {
    if (!advance_) {
        advance_ = std::make_unique<TRipAdvanceForm>(this);
        advance_->onOK = [this](const std::vector<std::pair<int, std::string>>& formats) {
            for (const auto& [track, format] : formats) {
                for (std::size_t i = 0; i < tracks_.size(); ++i) {
                    if (tracks_[i].track != track) continue;
                    tracks_[i].advancedFormat = format;
                    if (QTreeWidgetItem* item = ltvList->topLevelItem(static_cast<int>(i)))
                        item->setText(kFormatColumn, Q(format));
                }
            }
        };
    }
    return *advance_;
}

void TRipperForm::btnAdvanceClick() {
    page2->rdbAdvance->setChecked(true);
    TakeChecks();
    advanceForm().ShowFor(tracks_);
}

void TRipperForm::TabSheet3Show() {
    if (!batch_->core().ended()) return;  // a batch in work keeps its page
    TakeChecks();
    page3->ClearLog();
    page3->ResetProgress(0);
    const app::Step2Settings step2 = page2->settings();
    std::vector<app::RipStatusRow> rows = app::BuildRipStatusList(tracks_, step2, context_.applicationDirectory);
    std::vector<QStringList> texts;
    for (const app::RipStatusRow& r : rows)
        texts.push_back({QString(), Q(r.title), QString::number(r.track), Q(r.length), Q(r.destinationFile),
                         Q(r.destinationPath), Q(r.destinationFormat), Q(r.status)});
    page3->SetStatusRows(texts);
    batch_->Attach(ripper_.get(), driveNumber_ < 1 ? 1 : driveNumber_);
    batch_->Prepare(std::move(rows), context_.title().toStdString());
    page3->ResetProgress(batch_->core().totalUnits());
}

void TRipperForm::ShowStatusRow(std::size_t index) {
    const app::RipStatusRow& r = batch_->rows().at(index);
    page3->SetStatusRow(static_cast<int>(index), r.icon,
                        {QString(), Q(r.title), QString::number(r.track), Q(r.length), Q(r.destinationFile),
                         Q(r.destinationPath), Q(r.destinationFormat), Q(r.status)});
}

void TRipperForm::btnStartClick() {
    if (!ripper_) {
        MessageBox(nullptr, controlError_.toStdU16String(), u"Information", MB_OK | MB_ICONINFORMATION);
        return;
    }
    const app::Options options = options_.OptionsFromControls();
    const app::Step2Settings step2 = page2->settings();
    ripper_->put_JitterCorrection(chkJitter->isChecked() ? VARIANT_TRUE : VARIANT_FALSE);
    app::RipSettings settings = app::RipSettings::From(step2, options);
    if (ComPtr<IDrive> drive = ChosenDrive()) {
        if (FAILED(drive->put_ReadOffset(spnReadOffset->value()))) {
            MessageBox(nullptr, u"The read offset cannot be used: " + TakeErrorDescription(), u"Information",
                       MB_OK | MB_ICONINFORMATION);
            return;
        }
        settings.reportName = app::ReportNameOf(drive.get());
    }
    const QString version = QCoreApplication::applicationVersion();
    settings.programName = version.isEmpty() ? "Ondalo" : "Ondalo " + version.toStdString();
    page3->ShowRunning();
    switch (batch_->Start(settings)) {
        case app::RipBatch::StartResult::Started:
            context_.store.SaveStep2OnStart(options.recordSettings, app::Wizard::Rip, step2);
            return;
        case app::RipBatch::StartResult::EmptyList:
            page3->ShowReady();
            pgcRipper->setCurrentIndex(0);
            return;
        case app::RipBatch::StartResult::MissingFormat:
            page3->ShowReady();
            page2->btnAdvance->click();
            return;
        case app::RipBatch::StartResult::NoDrive:
        case app::RipBatch::StartResult::Busy:
            page3->ShowReady();
            return;
    }
}

void TRipperForm::btnPauseClick() {
    batch_->Pause();
    page3->ShowPaused(batch_->state() == app::BatchState::Paused);
}

void TRipperForm::btnStopClick() { batch_->Stop(); }

void TRipperForm::BatchEnded() {
    page3->ShowEnded();
    if (discChangedMeanwhile_) {
        discChangedMeanwhile_ = false;
        // The change is seen once the last track has let go of the drive.
        QTimer::singleShot(0, this, [this] {
            if (!Extracting()) Ripper1DiskChanged();
        });
    }
}

void TRipperForm::btnNewTaskClick() {
    btnDeselectAllClick();
    pgcRipper->setCurrentIndex(0);
    page3->ShowReady();
}

void TRipperForm::btnOpenFolderClick() {
    if (batch_->rows().empty()) return;
    if (context_.openFolder) context_.openFolder(Q(batch_->rows().front().destinationPath));
}

bool TRipperForm::pgcRipperChanging(int index) {
    if (index == pgcRipper->currentIndex()) return true;
    if (page2->rdbCustom->isChecked() && !page2->CheckCustomFolder()) return false;
    if (page3->endOfTaskShown()) {
        MessageBox(nullptr,
                   u"Current task is finished.\n\rClick \"New Task\" to create a new task.\n\rClick \"Done && Close\" to close.",
                   u"Information", MB_OK | MB_ICONINFORMATION);
        return false;
    }
    return page3->btnStart->isEnabled();
}

bool TRipperForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == pgcRipper->tabBar() && event->type() == QEvent::MouseButtonPress) {
        const int index = pgcRipper->tabBar()->tabAt(static_cast<QMouseEvent*>(event)->position().toPoint());
        if (index >= 0 && !pgcRipperChanging(index)) return true;
    }
    return WizardShell::eventFilter(watched, event);
}

}  // namespace kiv::gui

#include "app/gui/converter_form.h"

#include <QAbstractTableModel>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QStandardItemModel>
#include <QStorageInfo>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <set>

#include "app/core/data_paths.h"
#include "app/core/output_planning.h"
#include "app/gui/about_form.h"
#include "app/gui/app_context.h"
#include "app/gui/convert_advance_form.h"
#include "app/gui/options_form.h"
#include "app/gui/query_form.h"
#include "components/common/identities.h"
#include "platform/system/message_box.h"
#include "platform/system/text.h"

namespace kiv::gui {
namespace {

constexpr int kPanelWidths[] = {280, 50, 120, 100, 100, 100, 100};
constexpr int kDrivePathRole = Qt::UserRole + 1;
// Where the "here" link of the WMA tip leads: the codec libraries our WMA
// support stands on.
constexpr char kWmaRuntimeAddress[] = "https://ffmpeg.org/download.html";

QString Q(const std::string& s) { return QString::fromStdString(s); }

void Inform(const QString& text, UINT icon = MB_ICONINFORMATION) {
    MessageBox(nullptr, FromUtf8(text.toStdString()), u"Information", MB_OK | icon);
}

bool AskQuery(const QString& text) {
    return MessageBox(nullptr, FromUtf8(text.toStdString()), u"Query", MB_YESNO | MB_ICONQUESTION) == IDYES;
}

// "Caption|mask;mask|..." as a Qt file-dialog filter ("Caption (mask mask);;...").
QString DialogFilter(const QString& pairs) {
    const QStringList parts = pairs.split('|');
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString caption = parts[i];
        if (caption.endsWith(')') && caption.contains('(')) caption = caption.left(caption.lastIndexOf('(')).trimmed();
        filters << caption + " (" + QString(parts[i + 1]).replace(';', ' ') + ")";
    }
    return filters.join(";;");
}

// A file system worth offering at the "Drives" level: a real device's,
// not the kernel's own views (proc, sysfs, cgroups, tmpfs and the like).
bool IsUserVolume(const QStorageInfo& v) {
    static const std::set<QByteArray> pseudo = {"proc",   "sysfs",   "devpts", "cgroup",   "cgroup2",  "securityfs",
                                                "pstore", "debugfs", "tracefs", "configfs", "fusectl", "mqueue",
                                                "bpf",    "hugetlbfs", "autofs", "binfmt_misc", "devtmpfs", "tmpfs",
                                                "overlay", "squashfs", "nsfs", "efivarfs", "ramfs", "rpc_pipefs"};
    if (!v.isValid() || !v.isReady()) return false;
    if (pseudo.count(v.fileSystemType())) return false;
    const QString root = v.rootPath();
    return root != "/" && !root.startsWith("/proc") && !root.startsWith("/sys") && !root.startsWith("/dev") &&
           !root.startsWith("/run/user") && !root.startsWith("/snap");
}

}  // namespace

// The task list as the list view sees it. Rows are only ever appended
// while a search runs (Sync announces them); any other change resets.
class TaskListModel : public QAbstractTableModel {
public:
    TaskListModel(const app::TaskList& list, QObject* parent) : QAbstractTableModel(parent), list_(list) {}

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : shown_; }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 4; }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid() || index.row() >= shown_) return {};
        const app::TaskRow& row = list_.rows()[static_cast<std::size_t>(index.row())];
        switch (index.column()) {
            case 0: return Q(row.fileName);
            case 1: return Q(row.folder);
            case 2: return Q(row.sizeText);
            case 3: return Q(row.format);
            default: return {};
        }
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        static const char* captions[] = {"File Name", "Path", "Size", "Format"};
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section > 3) return {};
        return QString(captions[section]);
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
    }

    void Sync() {
        const int n = static_cast<int>(list_.size());
        if (n > shown_) {
            beginInsertRows({}, shown_, n - 1);
            shown_ = n;
            endInsertRows();
        } else if (n < shown_) {
            Reset();
        }
    }
    void Reset() {
        beginResetModel();
        shown_ = static_cast<int>(list_.size());
        endResetModel();
    }

private:
    const app::TaskList& list_;
    int shown_ = 0;
};

// What the task list asks of the window while files and folders come in.
class TConverterForm::Host : public app::TaskListHost {
public:
    explicit Host(TConverterForm& form) : form_(form) {}
    void Inform(const std::string& text, const std::string& caption) override {
        MessageBox(nullptr, FromUtf8(text), FromUtf8(caption), MB_OK | MB_ICONINFORMATION);
    }
    bool Ask(const std::string& question, const std::string& caption) override {
        if (form_.query_) return form_.query_->Ask(&form_, Q(question), Q(caption)) == "Yes";
        return MessageBox(nullptr, FromUtf8(question), FromUtf8(caption), MB_YESNO | MB_ICONQUESTION) == IDYES;
    }
    void ProcessEvents() override {
        form_.model_->Sync();
        form_.TaskListChanged();
        QApplication::processEvents();
    }
    bool SearchCancelled() override { return form_.searching_ && form_.cancelSearch_; }
    void SearchingFolder(const std::string& folder) override {
        form_.labSearchingFolder->setText("Searching Folder: " + Q(folder));
    }

private:
    TConverterForm& form_;
};

TConverterForm::TConverterForm(AppContext& context)
    : WizardShell("TConverterForm", "Audio Converter - WIZARD"), context_(context) {
    host_ = std::make_unique<Host>(*this);
    resize(900, 640);

    BuildMenus();
    pgcConverter = new QTabWidget(this);
    pgcConverter->setObjectName("pgcConverter");
    pgcConverter->tabBar()->setFocusPolicy(Qt::NoFocus);
    pgcConverter->tabBar()->installEventFilter(this);
    pgcConverter->installEventFilter(this);
    pgcConverter->addTab(BuildPage1(), "Step1. Add input files ");

    output = new OutputPage(OutputPageTexts{}, this);
    output->onPrevious = [this] { pgcConverter->setCurrentIndex(0); };
    output->onNext = [this] { pgcConverter->setCurrentIndex(2); };
    output->onAdvanced = [this] { btnAdvanceClick(); };
    pgcConverter->addTab(output, "Step2. Select output setting");

    BatchPageTexts texts;
    texts.statusColumns = {"Source File",      "Source Path",        "Source Size", "Source Format", "Destination File",
                           "Destination Path", "Destination Size", "Destination Format", "Status"};
    page3 = new BatchPage(texts, this);
    page3->onStart = [this] { btnStartClick(); };
    page3->onPause = [this] { btnPauseClick(); };
    page3->onStop = [this] { btnStopClick(); };
    page3->onPrevious = [this] { pgcConverter->setCurrentIndex(1); };
    page3->onNewTask = [this] { btnNewTaskClick(); };
    page3->onDone = [this] { btnCloseClick(); };
    page3->onOpenFolder = [this] { btnOpenFolderClick(); };
    pgcConverter->addTab(page3, "Step3. Start converting");
    connect(pgcConverter, &QTabWidget::currentChanged, this, [this](int index) {
        if (index == 2) TabSheet3Show();
    });

    auto* statusBar = new QFrame(this);
    statusBar->setObjectName("StatusBar1");
    auto* sb = new QHBoxLayout(statusBar);
    sb->setContentsMargins(2, 0, 2, 0);
    for (std::size_t i = 0; i < panels.size(); ++i) {
        panels[i] = new QLabel(statusBar);
        panels[i]->setObjectName(QString("panel%1").arg(i));
        panels[i]->setFrameShape(QFrame::StyledPanel);
        panels[i]->setFixedWidth(kPanelWidths[i]);
        sb->addWidget(panels[i]);
    }
    sb->addStretch();

    auto* v = new QVBoxLayout(this);
    v->setMenuBar(menuBar);
    v->addWidget(pgcConverter, 1);
    v->addWidget(statusBar);

    // The searching panel floats over the window while a search runs.
    pnlSearching = new QFrame(this);
    pnlSearching->setObjectName("pnlSearching");
    pnlSearching->setFrameShape(QFrame::Panel);
    pnlSearching->setFrameShadow(QFrame::Raised);
    pnlSearching->setAutoFillBackground(true);
    auto* searchingText = new QLabel(
        "Ondalo is searching and adding all available audio files to Task List.  Please wait...", pnlSearching);
    searchingText->setWordWrap(true);
    labSearchingFolder = new QLabel("Searching Folder: ", pnlSearching);
    labSearchingFolder->setObjectName("labSearchingFolder");
    btnSearchingCancel = new QPushButton("&Cancel", pnlSearching);
    btnSearchingCancel->setObjectName("btnSearchingCancel");
    auto* pv = new QVBoxLayout(pnlSearching);
    pv->addWidget(searchingText);
    pv->addWidget(labSearchingFolder);
    pv->addWidget(btnSearchingCancel, 0, Qt::AlignRight);
    pnlSearching->hide();
    connect(btnSearchingCancel, &QPushButton::clicked, this, &TConverterForm::btnSearchingCancelClick);

    view_ = std::make_unique<BatchPageView>(*page3);
    actions_ = std::make_unique<WizardPostActions>(
        context_, [this]() -> MediaPlayer* { return options_ ? &options_->mediaPlayer() : nullptr; });
    batch_ = std::make_unique<app::ConversionBatch>(*view_, *actions_);
    HookView();
    retiredWatch_ = new QTimer(this);
    retiredWatch_->setInterval(200);
    connect(retiredWatch_, &QTimer::timeout, this, &TConverterForm::ReleaseRetired);
    percents_ = new QTimer(this);
    percents_->setInterval(250);
    connect(percents_, &QTimer::timeout, this, &TConverterForm::ShowRunningPercents);

    preview_.onProgress = [this](int percent) { SetPanel(1, QString::number(percent) + "%"); };
    // The player is let go only after its own event has returned.
    preview_.onFinish = [this] { QTimer::singleShot(0, this, &TConverterForm::sbtnStopClick); };
    TaskListChanged();
}

TConverterForm::~TConverterForm() {
    // Closing belongs to the living window (it writes settings); the
    // program's end only takes it down.
    setOnClose({});
    hide();
    // The batches (and the player) go before the views they report to.
    preview_.Stop();
    batch_.reset();
    retired_.clear();
}

void TConverterForm::setWindows(TDialogForm* query, TOptionForm* options, TAboutForm* about) {
    query_ = query;
    options_ = options;
    about_ = about;
}

void TConverterForm::BuildMenus() {
    menuBar = new QMenuBar(this);
    menuBar->setObjectName("MainMenu1");
    mnuTask = menuBar->addMenu("Task");
    mnuTask->setObjectName("Task1");
    actNewTask = mnuTask->addAction("New Task", this, &TConverterForm::NewTaskClick);
    actOpenTask = mnuTask->addAction("Open Task", this, &TConverterForm::OpenTaskClick);
    actSaveTask = mnuTask->addAction("Save Task", this, &TConverterForm::SaveTaskClick);
    mnuTask->addSeparator();
    actClose = mnuTask->addAction("Close", this, &QWidget::close);
    mnuFiles = menuBar->addMenu("Files");
    mnuFiles->setObjectName("Files1");
    actAddFiles = mnuFiles->addAction("Add Files", this, &TConverterForm::tbtnAddFileClick);
    actAddFolders = mnuFiles->addAction("Add Folders", this, &TConverterForm::tbtnAddFolderClick);
    actRemove = mnuFiles->addAction("Remove", this, &TConverterForm::tbtnRemoveClick);
    actClear = mnuFiles->addAction("Clear", this, &TConverterForm::tbtnClearClick);
    mnuHelp = menuBar->addMenu("Help");
    mnuHelp->setObjectName("Help1");
    actContents = mnuHelp->addAction("Contents", this, [this] { context_.OpenHelp("Welcome"); });
    actContact = mnuHelp->addAction("Contact us", this, [this] { context_.OpenHelp("AboutOndalo"); });
    actWebsite = mnuHelp->addAction("Visit our website", this, [this] { context_.OpenHelp("AboutOndalo"); });
    mnuHelp->addSeparator();
    actAbout = mnuHelp->addAction("About", this, [this] {
        if (about_) about_->show();
    });

    popList = new QMenu(this);
    popList->setObjectName("popList");
    popRemove = popList->addAction("&Remove", this, &TConverterForm::tbtnRemoveClick);
    popClear = popList->addAction("&Clear", this, &TConverterForm::tbtnClearClick);
    popList->addSeparator();
    popPlay = popList->addAction("&Play", this, &TConverterForm::sbtnPlayClick);
    popPause = popList->addAction("P&ause / Resume", this, &TConverterForm::sbtnPauseClick);
    popStop = popList->addAction("Stop", this, &TConverterForm::sbtnStopClick);
}

QWidget* TConverterForm::BuildPage1() {
    auto* page = new QWidget(this);
    page->setObjectName("TabSheet1");
    tbrPage1 = new QToolBar(page);
    tbrPage1->setObjectName("ToolBar1");
    tbrPage1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    auto tool = [this](QAction* action, QStyle::StandardPixmap icon) {
        action->setIcon(style()->standardIcon(icon));
        tbrPage1->addAction(action);
    };
    tool(actAddFiles, QStyle::SP_FileIcon);
    tool(actAddFolders, QStyle::SP_DirIcon);
    tool(actRemove, QStyle::SP_DialogDiscardButton);
    tool(actClear, QStyle::SP_TrashIcon);
    tbrPage1->addSeparator();
    QAction* options = tbrPage1->addAction(style()->standardIcon(QStyle::SP_FileDialogDetailedView), "Options");
    connect(options, &QAction::triggered, this, [this] {
        if (!options_) return;
        options_->ShowDialog();
        options_->pages->setCurrentIndex(0);
    });
    QAction* help = tbrPage1->addAction(style()->standardIcon(QStyle::SP_DialogHelpButton), "Help [F1]");
    help->setShortcut(Qt::Key_F1);
    connect(help, &QAction::triggered, this, [this] { context_.OpenHelp("Welcome"); });
    QAction* about = tbrPage1->addAction(style()->standardIcon(QStyle::SP_MessageBoxInformation), "About");
    connect(about, &QAction::triggered, this, [this] {
        if (about_) about_->show();
    });

    auto* listBox = new QGroupBox("Task List - Drop files && folders into the list  ( Double click to play )", page);
    listBox->setObjectName("grpTaskList");
    model_ = new TaskListModel(tasks_, this);
    ltvList = new QTreeView(listBox);
    ltvList->setObjectName("ltvList");
    ltvList->setModel(model_);
    ltvList->setRootIsDecorated(false);
    ltvList->setUniformRowHeights(true);
    ltvList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ltvList->setSelectionBehavior(QAbstractItemView::SelectRows);
    ltvList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ltvList->setAcceptDrops(true);
    ltvList->viewport()->setAcceptDrops(true);
    ltvList->setDragDropMode(QAbstractItemView::DropOnly);
    ltvList->viewport()->installEventFilter(this);
    ltvList->header()->resizeSection(0, 170);
    ltvList->header()->resizeSection(1, 210);
    ltvList->header()->resizeSection(2, 70);
    ltvList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ltvList, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { popList->popup(ltvList->viewport()->mapToGlobal(pos)); });
    connect(ltvList, &QTreeView::clicked, this, [this] {
        const QModelIndexList rows = ltvList->selectionModel()->selectedRows();
        if (!rows.isEmpty()) previewRow_ = rows.first().row();
    });
    auto* tip = new QLabel(
        "Tips: If you have trouble in opening or converting WMA files, please click <a href=\"download\">here</a> "
        "to download Windows Media Runtime and install it. <a href=\"help\">(Click here to get more information "
        "about that)</a>",
        listBox);
    tip->setObjectName("labWmaTip");
    tip->setWordWrap(true);
    connect(tip, &QLabel::linkActivated, this, [this](const QString& link) {
        if (link == "download") OpenUrl(kWmaRuntimeAddress);
        else context_.OpenHelp("WMAconversion(EncodeandDec");
    });
    auto* lv = new QVBoxLayout(listBox);
    lv->addWidget(ltvList, 1);
    lv->addWidget(tip);

    auto* split = new QSplitter(Qt::Horizontal, page);
    split->addWidget(BuildExplorer());
    split->addWidget(listBox);
    split->setStretchFactor(0, 2);
    split->setStretchFactor(1, 3);
    split->setSizes({300, 560});

    btnNext1 = new QPushButton("&Next Step", page);
    btnNext1->setObjectName("btnNext1");
    connect(btnNext1, &QPushButton::clicked, this, [this] { pgcConverter->setCurrentIndex(1); });
    auto* v = new QVBoxLayout(page);
    v->addWidget(tbrPage1);
    v->addWidget(split, 1);
    v->addWidget(btnNext1, 0, Qt::AlignRight);
    return page;
}

QWidget* TConverterForm::BuildExplorer() {
    auto* box = new QGroupBox("Explorer - Drag  files && folder here", this);
    box->setObjectName("grpExplorer");
    btnDrives = new QPushButton("Drives", box);
    btnDrives->setObjectName("btnDrives");
    btnDrives->setIcon(style()->standardIcon(QStyle::SP_DriveHDIcon));
    btnDrives->setToolTip("The file system root, your home folder and the mounted volumes");

    dirModel_ = new QFileSystemModel(this);
    dirModel_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden);
    dirModel_->setRootPath("/");
    DirList = new QTreeView(box);
    DirList->setObjectName("DirList");
    DirList->setModel(dirModel_);
    DirList->setHeaderHidden(true);
    for (int c = 1; c < 4; ++c) DirList->hideColumn(c);
    DirList->setDragEnabled(true);
    DirList->setDragDropMode(QAbstractItemView::DragOnly);
    DirList->setSelectionMode(QAbstractItemView::SingleSelection);

    fileModel_ = new QFileSystemModel(this);
    fileModel_->setFilter(QDir::AllDirs | QDir::Files | QDir::NoDotAndDotDot);
    fileModel_->setNameFilters(QString(app::kSupportedSourceMask).split(';'));
    fileModel_->setNameFilterDisables(false);
    drivesModel_ = new QStandardItemModel(this);
    drivesModel_->setHorizontalHeaderLabels({"Name", "Size"});
    FileList = new QTreeView(box);
    FileList->setObjectName("FileList");
    FileList->setModel(fileModel_);
    FileList->setRootIsDecorated(false);
    FileList->setItemsExpandable(false);
    FileList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    FileList->setDragEnabled(true);
    FileList->setDragDropMode(QAbstractItemView::DragOnly);
    FileList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int c = 2; c < 4; ++c) FileList->hideColumn(c);
    FileList->header()->resizeSection(0, 180);

    connect(DirList->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid()) SelectFolder(dirModel_->filePath(current));
            });
    connect(btnDrives, &QPushButton::clicked, this, &TConverterForm::ShowDrives);
    // Opening a drive or a folder in the file list shows it in both.
    connect(FileList, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) {
        if (showingDrives()) SelectFolder(index.siblingAtColumn(0).data(kDrivePathRole).toString());
        else if (fileModel_->isDir(index)) SelectFolder(fileModel_->filePath(index));
    });

    auto* v = new QVBoxLayout(box);
    v->addWidget(btnDrives, 0, Qt::AlignLeft);
    auto* split = new QSplitter(Qt::Vertical, box);
    split->addWidget(DirList);
    split->addWidget(FileList);
    v->addWidget(split, 1);
    return box;
}

void TConverterForm::SelectFolder(const QString& folder) {
    // A folder that is gone is still remembered: the setting keeps it.
    requestedFolder_ = folder;
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) return;
    const QString path = QDir(folder).absolutePath();
    const QModelIndex dirIndex = dirModel_->index(path);
    if (dirIndex.isValid()) {
        DirList->setCurrentIndex(dirIndex);
        DirList->scrollTo(dirIndex);
    }
    if (FileList->model() != fileModel_) FileList->setModel(fileModel_);
    FileList->setRootIndex(fileModel_->setRootPath(path));
    for (int c = 2; c < 4; ++c) FileList->hideColumn(c);
}

QString TConverterForm::selectedFolder() const {
    const QModelIndex index = DirList->currentIndex();
    return index.isValid() ? dirModel_->filePath(index) : requestedFolder_;
}

void TConverterForm::ShowDrives() {
    drivesModel_->removeRows(0, drivesModel_->rowCount());
    auto add = [this](const QString& caption, const QString& path, QStyle::StandardPixmap icon) {
        auto* item = new QStandardItem(style()->standardIcon(icon), caption + " (" + path + ")");
        item->setData(path, kDrivePathRole);
        item->setEditable(false);
        auto* size = new QStandardItem();
        size->setEditable(false);
        drivesModel_->appendRow({item, size});
    };
    add("File System", "/", QStyle::SP_DriveHDIcon);
    add("Home", QDir::homePath(), QStyle::SP_DirHomeIcon);
    for (const QStorageInfo& v : QStorageInfo::mountedVolumes())
        if (IsUserVolume(v))
            add(v.displayName().isEmpty() ? v.rootPath() : v.displayName(), v.rootPath(), QStyle::SP_DriveHDIcon);
    FileList->setModel(drivesModel_);
    FileList->setRootIndex({});
}

bool TConverterForm::showingDrives() const { return FileList->model() == drivesModel_; }

QString TConverterForm::panel(int index) const { return panels.at(static_cast<std::size_t>(index))->text(); }

void TConverterForm::SetPanel(int index, const QString& text) {
    if (index >= 0 && index < static_cast<int>(panels.size())) panels[static_cast<std::size_t>(index)]->setText(text);
}

void TConverterForm::TaskListChanged() { SetPanel(2, "Total Files: " + QString::number(tasks_.size())); }

// --- page 1: adding, removing

bool TConverterForm::AddFile(const QString& path) {
    const bool added = tasks_.AddFile(path.toStdString(), *host_);
    model_->Sync();
    TaskListChanged();
    return added;
}

int TConverterForm::AddFolder(const QString& folder) {
    if (searching_) return 0;
    SetSearching(true);
    const int added = tasks_.AddFolder(folder.toStdString(), *host_, context_.store);
    SetSearching(false);
    model_->Sync();
    TaskListChanged();
    return added;
}

void TConverterForm::SetSearching(bool on) {
    searching_ = on;
    cancelSearch_ = !on;
    pgcConverter->setEnabled(!on);
    mnuTask->menuAction()->setEnabled(!on);
    mnuHelp->menuAction()->setEnabled(!on);
    labSearchingFolder->setText("Searching Folder: ");
    if (on) {
        PlaceSearchingPanel();
        pnlSearching->show();
        pnlSearching->raise();
    } else {
        pnlSearching->hide();
    }
}

void TConverterForm::PlaceSearchingPanel() {
    pnlSearching->setGeometry((width() - 500) / 2, (height() - 120) / 2 - 30, 500, 120);
}

void TConverterForm::resizeEvent(QResizeEvent* e) {
    WizardShell::resizeEvent(e);
    PlaceSearchingPanel();
}

void TConverterForm::btnSearchingCancelClick() {
    cancelSearch_ = true;
    pnlSearching->hide();
}

void TConverterForm::tbtnAddFileClick() {
    const QString title = "Add Files";
    const QString filter = DialogFilter(app::kAddFilesFilter);
    const QStringList files =
        chooseOpenFiles ? chooseOpenFiles(title, filter) : QFileDialog::getOpenFileNames(this, title, selectedFolder(), filter);
    for (const QString& f : files) {
        QApplication::processEvents();
        AddFile(f);
    }
}

void TConverterForm::tbtnAddFolderClick() {
    const QString title = "Please select a folder.";
    const QString folder =
        chooseFolder ? chooseFolder(title) : QFileDialog::getExistingDirectory(this, title, selectedFolder());
    if (!folder.isNull()) AddFolder(folder);
}

void TConverterForm::tbtnRemoveClick() {
    const QModelIndexList selected = ltvList->selectionModel()->selectedRows();
    if (selected.isEmpty()) return;
    std::vector<std::size_t> rows;
    for (const QModelIndex& i : selected) rows.push_back(static_cast<std::size_t>(i.row()));
    tasks_.Remove(rows);
    model_->Reset();
    previewRow_ = -1;
    TaskListChanged();
}

void TConverterForm::tbtnClearClick() {
    if (tasks_.empty() || !AskQuery("Are you sure to clear Task List?")) return;
    tasks_.Clear();
    model_->Reset();
    previewRow_ = -1;
    TaskListChanged();
}

// --- page 1: drag and drop

bool TConverterForm::CanDrop(const QObject* source, const QMimeData* data) const {
    if (source == DirList || source == FileList) return true;
    // From another program: addresses of local files and folders only.
    if (source || !data || !data->hasUrls()) return false;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) return true;
    return false;
}

void TConverterForm::DropOnList(const QObject* source, const QMimeData* data) {
    if (!CanDrop(source, data)) return;
    if (source == DirList) {
        AddFolder(selectedFolder());
        return;
    }
    if (source == FileList) {
        QModelIndexList entries = FileList->selectionModel()->selectedRows();
        std::sort(entries.begin(), entries.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
        const bool drives = showingDrives();
        for (const QModelIndex& e : entries) {
            if (drives) AddFolder(e.data(kDrivePathRole).toString());
            else if (fileModel_->isDir(e)) AddFolder(fileModel_->filePath(e));
            else AddFile(fileModel_->filePath(e));
        }
        return;
    }
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile()) continue;
        const QString path = url.toLocalFile();
        if (QFileInfo(path).isDir()) AddFolder(path);
        else AddFile(path);
    }
}

bool TConverterForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ltvList->viewport()) {
        switch (event->type()) {
            case QEvent::DragEnter:
            case QEvent::DragMove: {
                auto* e = static_cast<QDropEvent*>(event);
                if (CanDrop(e->source(), e->mimeData())) {
                    e->setDropAction(Qt::CopyAction);
                    e->accept();
                } else {
                    e->ignore();
                }
                return true;
            }
            case QEvent::Drop: {
                auto* e = static_cast<QDropEvent*>(event);
                if (!CanDrop(e->source(), e->mimeData())) {
                    e->ignore();
                    return true;
                }
                e->setDropAction(Qt::CopyAction);
                e->accept();
                // The drag's source must not wait for a search to end.
                auto copy = std::make_shared<QMimeData>();
                if (e->mimeData()->hasUrls()) copy->setUrls(e->mimeData()->urls());
                const QObject* src = e->source();
                QTimer::singleShot(0, this, [this, copy, src] { DropOnList(src, copy.get()); });
                return true;
            }
            default: break;
        }
    }
    if (watched == pgcConverter->tabBar()) {
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
            auto* e = static_cast<QMouseEvent*>(event);
            const int index = pgcConverter->tabBar()->tabAt(e->position().toPoint());
            if (index >= 0 && index != pgcConverter->currentIndex()) ClickPageTab(index);
            return true;
        }
        if (event->type() == QEvent::Wheel) return true;
    }
    if (watched == pgcConverter && event->type() == QEvent::KeyPress) {
        auto* e = static_cast<QKeyEvent*>(event);
        // Ctrl+Tab and Ctrl+PageUp/Down would change pages past the guard.
        if (e->modifiers() & Qt::ControlModifier &&
            (e->key() == Qt::Key_Tab || e->key() == Qt::Key_Backtab || e->key() == Qt::Key_PageUp ||
             e->key() == Qt::Key_PageDown))
            return true;
    }
    return WizardShell::eventFilter(watched, event);
}

// --- page 1: preview

int TConverterForm::PreviewRow() const {
    const QModelIndexList rows = ltvList->selectionModel()->selectedRows();
    if (rows.isEmpty()) return -1;
    if (previewRow_ >= 0 && previewRow_ < static_cast<int>(tasks_.size())) return previewRow_;
    return rows.first().row();
}

void TConverterForm::sbtnPlayClick() {
    const int index = PreviewRow();
    if (index < 0) return;
    previewRow_ = index;
    const app::TaskRow& row = tasks_.rows()[static_cast<std::size_t>(index)];
    const QString path = Q(row.Path());
    const CLSID* decoder = nullptr;
    if (row.format == "WAV" || row.format == "WAVE") decoder = &kClassWaveDecoder.clsid;
    else if (row.format == "MP3") decoder = &kClassMp3Decoder.clsid;
    else if (row.format == "WMA") decoder = &kClassWmaDecoder.clsid;
    else if (row.format == "OGG" || row.format == "OGA") decoder = &kClassVorbisDecoder.clsid;
    if (!decoder || !preview_.PlayWith(*decoder, path)) {
        Inform("Open " + path + " failed. Please check it out.");
        return;
    }
    SetPanel(0, "Playing " + Q(row.fileName));
    previewState_ = "Playing";
}

void TConverterForm::sbtnPauseClick() {
    // The name is what followed the first word of the message.
    const QString text = panel(0);
    const QString name = text.mid(text.indexOf(' ') + 1);
    if (previewState_ == "Playing") {
        preview_.Pause();
        SetPanel(0, "Paused " + name);
        previewState_ = "Paused";
    } else if (previewState_ == "Paused") {
        preview_.Resume();
        SetPanel(0, "Playing " + name);
        previewState_ = "Playing";
    }
}

void TConverterForm::sbtnStopClick() {
    if (previewState_ == "Stoped") return;
    preview_.Stop();
    SetPanel(0, QString());
    previewState_ = "Stoped";
}

// --- task files

void TConverterForm::NewTaskClick() { btnNewTaskClick(); }

void TConverterForm::OpenTaskClick() {
    const QString title = "Open Task";
    const QString filter = DialogFilter("Ondalo Task (*.otk)|*.otk");
    QString path;
    if (chooseOpenFiles) {
        const QStringList files = chooseOpenFiles(title, filter);
        if (!files.isEmpty()) path = files.first();
    } else {
        QFileDialog dialog(this, title, selectedFolder(), filter);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setDefaultSuffix("otk");
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) path = dialog.selectedFiles().first();
    }
    if (path.isEmpty()) return;
    const std::string error = app::LoadTaskFile(path.toStdString(), tasks_, *host_);
    model_->Sync();
    TaskListChanged();
    if (!error.empty()) Inform(Q(error), MB_ICONERROR);
}

void TConverterForm::SaveTaskClick() {
    const QString title = "Save Task";
    const QString filter = DialogFilter("Ondalo Task (*.otk)|*.otk");
    QString path;
    if (chooseSaveFile) {
        path = chooseSaveFile(title, filter);
    } else {
        QFileDialog dialog(this, title, selectedFolder(), filter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix("otk");
        // The task file is replaced without a question, as it always was.
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) path = dialog.selectedFiles().first();
    }
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += ".otk";
    const std::string error = app::SaveTaskFile(path.toStdString(), tasks_);
    if (!error.empty()) Inform(Q(error), MB_ICONERROR);
}

// --- page 2

void TConverterForm::btnAdvanceClick() {
    output->rdbAdvance->setChecked(true);
    if (!advance_) advance_ = std::make_unique<TConvertAdvanceForm>(tasks_, this);
    advance_->ShowDialog();
}

// --- page 3

void TConverterForm::TabSheet3Show() {
    // A stopped batch may still be finishing a file: it goes on alone,
    // showing nothing, and a new batch takes the page.
    if (!batch_->Idle()) {
        view_->Detach();
        retired_.push_back({std::move(view_), std::move(batch_)});
        view_ = std::make_unique<BatchPageView>(*page3);
        batch_ = std::make_unique<app::ConversionBatch>(*view_, *actions_);
        HookView();
        retiredWatch_->start();
    }
    percents_->stop();
    page3->ClearLog();
    page3->ResetProgress(0);
    auto rows = app::BuildStatusList(tasks_.rows(), output->settings(), app::DefaultDestinationFolder());
    batch_->Prepare(std::move(rows), context_.title().toStdString());
    std::vector<QStringList> texts;
    for (std::size_t i = 0; i < batch_->rows().size(); ++i) texts.push_back(StatusTexts(i));
    page3->SetStatusRows(texts);
    page3->ResetProgress(batch_->core().totalUnits());
}

void TConverterForm::HookView() {
    view_->core = [this] { return &batch_->core(); };
    view_->onPanel = [this](int panel, const std::string& text) { SetPanel(panel, Q(text)); };
    view_->onRow = [this](std::size_t row) { ShowStatusRow(row); };
    view_->onEnded = [this] {
        percents_->stop();
        ShowRunningPercents();
        page3->ShowEnded();
    };
}

void TConverterForm::ReleaseRetired() {
    std::erase_if(retired_, [](const Retired& r) { return r.batch->Idle(); });
    if (retired_.empty()) retiredWatch_->stop();
}

QStringList TConverterForm::StatusTexts(std::size_t index) const {
    const app::StatusRow& r = batch_->rows()[index];
    QString status = Q(r.status);
    // Each file in work shows how far it is (several may run at once).
    if (r.icon == app::RowIcon::Working) {
        const int percent = batch_->RowPercent(index);
        if (percent > 0) status += " " + QString::number(percent) + "%";
    }
    return {Q(r.sourceFile),      Q(r.sourcePath),      Q(r.sourceSize),        Q(r.sourceFormat), Q(r.destinationFile),
            Q(r.destinationPath), Q(r.destinationSize), Q(r.destinationFormat), status};
}

void TConverterForm::ShowStatusRow(std::size_t index) {
    if (index >= batch_->rows().size()) return;
    page3->SetStatusRow(static_cast<int>(index), batch_->rows()[index].icon, StatusTexts(index));
}

void TConverterForm::ShowRunningPercents() {
    for (std::size_t i = 0; i < batch_->rows().size(); ++i)
        if (batch_->rows()[i].icon == app::RowIcon::Working) ShowStatusRow(i);
}

app::ConversionSettings TConverterForm::BatchSettings() const {
    const app::Options o = options_ ? options_->OptionsFromControls() : context_.store.Load();
    app::ConversionSettings s = app::ConversionSettings::From(output->settings(), o);
    s.jobs = o.filesAtOnce;
    return s;
}

void TConverterForm::btnStartClick() {
    const auto& rows = batch_->rows();
    const bool acceptable =
        !rows.empty() && std::none_of(rows.begin(), rows.end(), [](const app::StatusRow& r) { return r.destinationFormat.empty(); });
    if (acceptable) {
        page3->ShowRunning();
        const int record = options_ ? options_->cmbRecord->currentIndex() : context_.store.Load().recordSettings;
        context_.store.SaveStep2OnStart(record, app::Wizard::Conversion, output->settings());
        percents_->start();
    }
    switch (batch_->Start(BatchSettings())) {
        case app::ConversionBatch::StartResult::Started: break;
        case app::ConversionBatch::StartResult::EmptyList:
            pgcConverter->setCurrentIndex(0);
            break;
        case app::ConversionBatch::StartResult::MissingFormat: btnAdvanceClick(); break;
        case app::ConversionBatch::StartResult::Busy:
            page3->ShowReady();
            percents_->stop();
            break;
    }
}

void TConverterForm::btnPauseClick() {
    batch_->Pause();
    page3->ShowPaused(batch_->state() == app::BatchState::Paused);
}

void TConverterForm::btnStopClick() { batch_->Stop(); }

void TConverterForm::btnNewTaskClick() {
    tasks_.Clear();
    model_->Reset();
    previewRow_ = -1;
    TaskListChanged();
    pgcConverter->setCurrentIndex(0);
    page3->ShowReady();
}

void TConverterForm::btnCloseClick() { close(); }

void TConverterForm::btnOpenFolderClick() {
    if (batch_->rows().empty() || !context_.openFolder) return;
    context_.openFolder(Q(batch_->rows().front().destinationPath));
}

bool TConverterForm::PageChangeAllowed() {
    if (!output->CheckCustomFolder()) return false;
    if (page3->endOfTaskShown()) {
        Inform("Current task is finished.\n\rClick \"New Task\" to create a new task.\n\rClick \"Done && Close\" to close.");
        return false;
    }
    return page3->btnStart->isEnabled();
}

bool TConverterForm::ClickPageTab(int index) {
    if (index == pgcConverter->currentIndex() || !PageChangeAllowed()) return false;
    pgcConverter->setCurrentIndex(index);
    return true;
}

void TConverterForm::OpenUrl(const QString& url) { QDesktopServices::openUrl(QUrl(url)); }

// --- showing and closing

void TConverterForm::showEvent(QShowEvent* e) {
    WizardShell::showEvent(e);
    if (e->spontaneous()) return;
    page3->btnStart->setEnabled(true);
    pgcConverter->setCurrentIndex(0);
    tasks_.Clear();
    model_->Reset();
    previewRow_ = -1;
    TaskListChanged();
    output->setApplicationDirectory(Q(app::DefaultDestinationFolder()));
    page3->ShowReady();
    const int record = options_ ? options_->cmbRecord->currentIndex() : context_.store.Load().recordSettings;
    if (app::RecordsStep2(record, app::Wizard::Conversion))
        output->setSettings(context_.store.LoadStep2(app::Wizard::Conversion, output->settings()));
}

void TConverterForm::closeEvent(QCloseEvent* e) {
    page3->btnStart->setEnabled(true);
    sbtnStopClick();
    context_.store.WriteString("General", "InitialDir", selectedFolder().toStdString());
    if (options_ && options_->mediaPlayer().mode() != MediaPlayer::Mode::Stopped) options_->mediaPlayer().Stop();
    if (advance_ && advance_->isVisible()) advance_->reject();
    WizardShell::closeEvent(e);
}

}  // namespace kiv::gui

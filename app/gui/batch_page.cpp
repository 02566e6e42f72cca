#include "app/gui/batch_page.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/core/log_rtf.h"
#include "app/gui/app_context.h"
#include "app/gui/media_player.h"
#include "app/gui/widgets.h"
#include "platform/system/message_box.h"
#include "platform/system/text.h"

namespace kiv::gui {
namespace {

constexpr int kIconRole = Qt::UserRole + 1;

QLabel* Value(QWidget* parent, const char* name) {
    auto* l = new QLabel(parent);
    l->setObjectName(name);
    l->setMinimumWidth(80);
    return l;
}

QColor ColorOf(app::LogColour colour) {
    const app::Rgb rgb = app::ColourOf(colour);
    return QColor(rgb.r, rgb.g, rgb.b);
}

}  // namespace

BatchPage::BatchPage(const BatchPageTexts& texts, QWidget* parent) : QWidget(parent), texts_(texts) {
    setObjectName("BatchPage");
    if (!texts_.unitText) texts_.unitText = [](long long kb) { return QString::number(kb) + "KB"; };

    auto* statusBox = new QGroupBox("Status List && Log", this);
    statusBox->setObjectName("grpStatus");
    ltvStatus = new QTreeWidget(statusBox);
    ltvStatus->setObjectName("ltvStatus");
    ltvStatus->setRootIsDecorated(false);
    ltvStatus->setUniformRowHeights(true);
    ltvStatus->setSelectionMode(QAbstractItemView::SingleSelection);
    ltvStatus->setHeaderLabels(texts_.statusColumns);
    ltvStatus->header()->setStretchLastSection(true);

    rchLog = new QTextEdit(statusBox);
    rchLog->setObjectName("rchLog");
    rchLog->setReadOnly(true);
    rchLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont arial("Arial");
    arial.setPixelSize(12);
    rchLog->document()->setDefaultFont(arial);
    btnSave = MakeButton(statusBox, "btnSave", "Save");
    btnPrint = MakeButton(statusBox, "btnPrint", "Print");
    btnClear = MakeButton(statusBox, "btnClear", "Clear");
    auto* logButtons = new QVBoxLayout;
    for (QPushButton* b : {btnSave, btnPrint, btnClear}) logButtons->addWidget(b);
    logButtons->addStretch();
    auto* logRow = new QHBoxLayout;
    logRow->addWidget(rchLog, 1);
    logRow->addLayout(logButtons);
    auto* sv = new QVBoxLayout(statusBox);
    sv->addWidget(ltvStatus, 3);
    sv->addLayout(logRow, 2);

    btnPrevious = MakeButton(this, "btnPrevious3", texts_.previousCaption);
    btnStart = MakeButton(this, "btnStart", texts_.startCaption);
    btnPause = MakeButton(this, "btnPause", texts_.pauseCaption);
    btnStop = MakeButton(this, "btnStop", texts_.stopCaption);
    btnOpenFolder = MakeButton(this, "btnOpenFolder", "Open destination folder");
    btnNewTask = MakeButton(this, "btnNewTask", "&New Task");
    btnClose = MakeButton(this, "btnClose", "&Done && Close");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnOpenFolder);
    buttons->addStretch();
    for (QPushButton* b : {btnPrevious, btnStart, btnPause, btnStop, btnNewTask, btnClose}) buttons->addWidget(b);

    auto* v = new QVBoxLayout(this);
    v->addWidget(BuildProgressGroup());
    v->addWidget(statusBox, 1);
    v->addLayout(buttons);

    auto hook = [this](QPushButton* b, std::function<void()> BatchPage::*member) {
        connect(b, &QPushButton::clicked, this, [this, member] {
            if (this->*member) (this->*member)();
        });
    };
    hook(btnStart, &BatchPage::onStart);
    hook(btnPause, &BatchPage::onPause);
    hook(btnStop, &BatchPage::onStop);
    hook(btnPrevious, &BatchPage::onPrevious);
    hook(btnNewTask, &BatchPage::onNewTask);
    hook(btnClose, &BatchPage::onDone);
    hook(btnOpenFolder, &BatchPage::onOpenFolder);
    connect(btnSave, &QPushButton::clicked, this, &BatchPage::btnSaveClick);
    connect(btnPrint, &QPushButton::clicked, this, &BatchPage::btnPrintClick);
    connect(btnClear, &QPushButton::clicked, this, &BatchPage::btnClearClick);
    ShowReady();
    ResetProgress(0);
}

QWidget* BatchPage::BuildProgressGroup() {
    auto* box = new QGroupBox("Progress", this);
    box->setObjectName("grpProgress");
    labTotal = Value(box, "labTotal");
    labFinished = Value(box, "labFinished");
    labElapse = Value(box, "labElapse");
    labRemain = Value(box, "labRemain");
    pbCurrent = new QProgressBar(box);
    pbCurrent->setObjectName("pbCurrent");
    pbTotal = new QProgressBar(box);
    pbTotal->setObjectName("pbTotal");
    for (QProgressBar* bar : {pbCurrent, pbTotal}) {
        bar->setRange(0, 100);
        bar->setTextVisible(false);
    }
    labCurrentPercent = Value(box, "labCurrentPercent");
    labTotalPercent = Value(box, "labTotalPercent");
    auto* g = new QGridLayout(box);
    g->addWidget(new QLabel("Total:", box), 0, 0);
    g->addWidget(labTotal, 0, 1);
    g->addWidget(new QLabel("Finished:", box), 0, 2);
    g->addWidget(labFinished, 0, 3);
    g->addWidget(new QLabel("Time Elapsed:", box), 0, 4);
    g->addWidget(labElapse, 0, 5);
    g->addWidget(new QLabel("Time remaining:", box), 0, 6);
    g->addWidget(labRemain, 0, 7);
    g->addWidget(new QLabel("Current Progress:", box), 1, 0);
    g->addWidget(pbCurrent, 1, 1, 1, 6);
    g->addWidget(labCurrentPercent, 1, 7);
    g->addWidget(new QLabel("Total Progress:", box), 2, 0);
    g->addWidget(pbTotal, 2, 1, 1, 6);
    g->addWidget(labTotalPercent, 2, 7);
    return box;
}

QString BatchPage::Units(long long units) const { return texts_.unitText(units); }

QIcon BatchPage::IconOf(app::RowIcon icon) {
    static const QColor colours[] = {QColor(160, 160, 160), QColor(0, 0, 255), QColor(255, 128, 0), QColor(255, 0, 0),
                                     QColor(0, 128, 0)};
    QPixmap pixmap(12, 12);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(colours[static_cast<int>(icon)]);
    p.drawEllipse(1, 1, 10, 10);
    p.end();
    return QIcon(pixmap);
}

void BatchPage::SetStatusRows(const std::vector<QStringList>& rows) {
    ltvStatus->clear();
    QList<QTreeWidgetItem*> items;
    for (const QStringList& texts : rows) {
        auto* item = new QTreeWidgetItem(texts);
        item->setIcon(0, IconOf(app::RowIcon::Ready));
        item->setData(0, kIconRole, static_cast<int>(app::RowIcon::Ready));
        items.append(item);
    }
    ltvStatus->addTopLevelItems(items);
    for (int c = 0; c + 1 < ltvStatus->columnCount(); ++c) ltvStatus->resizeColumnToContents(c);
}

void BatchPage::SetStatusRow(int row, app::RowIcon icon, const QStringList& texts) {
    QTreeWidgetItem* item = ltvStatus->topLevelItem(row);
    if (!item) return;
    if (item->data(0, kIconRole).toInt() != static_cast<int>(icon)) {
        item->setIcon(0, IconOf(icon));
        item->setData(0, kIconRole, static_cast<int>(icon));
    }
    for (int c = 0; c < texts.size(); ++c)
        if (item->text(c) != texts[c]) item->setText(c, texts[c]);
}

app::RowIcon BatchPage::statusIcon(int row) const {
    const QTreeWidgetItem* item = ltvStatus->topLevelItem(row);
    return item ? static_cast<app::RowIcon>(item->data(0, kIconRole).toInt()) : app::RowIcon::Ready;
}

void BatchPage::AppendLog(const app::LogLine& line) {
    lines_.push_back(line);
    QTextCursor cursor(rchLog->document());
    cursor.movePosition(QTextCursor::End);
    if (lines_.size() > 1) cursor.insertBlock();
    QTextCharFormat format;
    format.setForeground(ColorOf(line.colour));
    // The block takes the colour too, so an empty line has one as well.
    cursor.setBlockCharFormat(format);
    cursor.insertText(QString::fromStdString(line.text), format);
    QScrollBar* bar = rchLog->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void BatchPage::ClearLog() {
    lines_.clear();
    rchLog->clear();
}

bool BatchPage::SaveLog(const QString& path) {
    const std::string error = app::SaveLogAsRtf(path.toStdString(), lines_);
    if (error.empty()) return true;
    MessageBox(nullptr, FromUtf8(error), u"Information", MB_OK | MB_ICONERROR);
    return false;
}

void BatchPage::btnSaveClick() {
    const QString title = "Save the log";
    const QString filter = "Conversion Log (*.rtf);;*.* (*)";
    QString path = chooseSaveFile ? chooseSaveFile(title, filter) : QFileDialog::getSaveFileName(this, title, {}, filter);
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += ".rtf";
    SaveLog(path);
}

void BatchPage::PrintLog(QPrinter& printer) const { rchLog->document()->print(&printer); }

void BatchPage::btnPrintClick() {
    QPrinter printer(QPrinter::HighResolution);
    bool confirmed = false;
    if (confirmPrint) {
        confirmed = confirmPrint(printer);
    } else {
        QPageSetupDialog setup(&printer, this);
        if (setup.exec() == QDialog::Accepted) {
            QPrintDialog print(&printer, this);
            confirmed = print.exec() == QDialog::Accepted;
        }
    }
    if (confirmed) PrintLog(printer);
}

void BatchPage::btnClearClick() { ClearLog(); }

void BatchPage::ResetProgress(long long totalUnits) {
    labTotal->setText(Units(totalUnits));
    labFinished->setText(Units(0));
    labElapse->clear();
    labRemain->clear();
    pbCurrent->setValue(0);
    pbTotal->setValue(0);
    labCurrentPercent->setText("0%");
    labTotalPercent->setText("0%");
}

void BatchPage::ShowProgress(const app::BatchCore& core) {
    labTotal->setText(Units(core.totalUnits()));
    labFinished->setText(Units(core.finishedNow()));
    if (core.elapsedSeconds() > 0) {
        labElapse->setText(QString::fromStdString(app::HoursMinutesSeconds(core.elapsedSeconds())));
        labRemain->setText(QString::fromStdString(app::HoursMinutesSeconds(core.remainingSeconds())));
    }
    pbCurrent->setValue(core.currentBar());
    labCurrentPercent->setText(QString::number(core.currentBar()) + "%");
    pbTotal->setValue(core.totalBar());
    labTotalPercent->setText(QString::number(core.totalBar()) + "%");
}

void BatchPage::ShowReady() {
    for (QPushButton* b : {btnOpenFolder, btnNewTask, btnClose}) b->hide();
    for (QPushButton* b : {btnPrevious, btnStart, btnPause, btnStop}) b->show();
    btnPrevious->setEnabled(true);
    btnStart->setEnabled(true);
    btnPause->setEnabled(false);
    btnStop->setEnabled(false);
    ShowPaused(false);
}

void BatchPage::ShowRunning() {
    btnStart->setEnabled(false);
    btnPrevious->setEnabled(false);
    btnPause->setEnabled(true);
    btnStop->setEnabled(true);
    ShowPaused(false);
}

void BatchPage::ShowEnded() {
    for (QPushButton* b : {btnPrevious, btnStart, btnPause, btnStop}) b->hide();
    for (QPushButton* b : {btnOpenFolder, btnNewTask, btnClose}) b->show();
}

void BatchPage::ShowPaused(bool paused) { btnPause->setText(paused ? texts_.resumeCaption : texts_.pauseCaption); }

bool BatchPage::endOfTaskShown() const { return !btnNewTask->isHidden(); }

void WizardPostActions::OpenFolder(const std::string& folder) {
    if (context_.openFolder) context_.openFolder(QString::fromStdString(folder));
}

void WizardPostActions::ExitProgram() {
    if (context_.endProcess) context_.endProcess();
}

void WizardPostActions::PowerOff() {
    if (context_.powerOff) context_.powerOff();
}

void WizardPostActions::Beep() { QApplication::beep(); }

void WizardPostActions::PlaySound(const std::string& path) {
    MediaPlayer* player = player_ ? player_() : nullptr;
    if (!player) return;
    if (player->mode() != MediaPlayer::Mode::Stopped) player->Stop();
    player->Play(QString::fromStdString(path));
}

bool BatchPageView::Ask(const std::string& text, const std::string& caption) {
    return MessageBox(nullptr, FromUtf8(text), FromUtf8(caption), MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void BatchPageView::Inform(const std::string& text, const std::string& caption) {
    MessageBox(nullptr, FromUtf8(text), FromUtf8(caption), MB_OK | MB_ICONINFORMATION);
}

void BatchPageView::ProgressChanged() {
    if (const app::BatchCore* c = page_ && core ? core() : nullptr) page_->ShowProgress(*c);
}

void BatchPageView::Detach() {
    page_ = nullptr;
    core = nullptr;
    onPanel = nullptr;
    onRow = nullptr;
    onEnded = nullptr;
}

}  // namespace kiv::gui

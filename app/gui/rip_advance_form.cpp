#include "app/gui/rip_advance_form.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/gui/widgets.h"

namespace kiv::gui {

namespace {
constexpr int kFormatColumn = 3;
}  // namespace

TRipAdvanceForm::TRipAdvanceForm(QWidget* wizard) : QDialog(nullptr, Qt::Dialog | Qt::WindowStaysOnTopHint), wizard_(wizard) {
    setObjectName("TRipAdvanceForm");
    setWindowTitle("Advance Mode -  Rip");
    auto* v = new QVBoxLayout(this);
    v->addWidget(new QLabel("Select the destiantion format for each track.", this));
    ltvList = new QTreeWidget(this);
    ltvList->setObjectName("ltvList");
    ltvList->setRootIsDecorated(false);
    ltvList->setHeaderLabels({"Title", "Track", "Length", "Destination Format"});
    ltvList->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    ltvList->header()->setStretchLastSection(false);
    ltvList->setColumnWidth(kFormatColumn, 130);
    v->addWidget(ltvList, 1);

    // The chooser floats over the list, at the clicked row.
    btnSelect = new QToolButton(ltvList->viewport());
    btnSelect->setObjectName("btnSelect");
    btnSelect->setText("...");
    btnSelect->setFixedSize(15, 15);
    btnSelect->hide();
    lstSelect = new QListWidget(ltvList->viewport());
    lstSelect->setObjectName("lstSelect");
    lstSelect->addItems({"WAV", "MP3", "WMA", "OGG"});
    lstSelect->hide();

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    btnOK = MakeButton(this, "btnOK", "&OK");
    btnCancel = MakeButton(this, "btnCancel", "&Cancel");
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    v->addLayout(buttons);
    resize(560, 380);

    connect(ltvList, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item, int) { ltvListClick(ltvList->indexOfTopLevelItem(item)); });
    connect(btnSelect, &QToolButton::clicked, this, &TRipAdvanceForm::btnSelectClick);
    connect(lstSelect, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { lstSelectClick(item->text()); });
    connect(btnOK, &QPushButton::clicked, this, &TRipAdvanceForm::btnOKClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TRipAdvanceForm::ShowFor(const std::vector<app::TrackListRow>& tracks) {
    ltvList->clear();
    for (const app::TrackListRow& t : tracks) {
        if (!t.checked) continue;
        auto* item = new QTreeWidgetItem(ltvList);
        item->setText(0, QString::fromStdString(t.title));
        item->setText(1, QString::number(t.track));
        item->setText(2, QString::fromStdString(t.length));
        item->setText(kFormatColumn, QString());
    }
    btnSelect->hide();
    lstSelect->hide();
    if (wizard_) wizard_->setEnabled(false);
    show();
    raise();
}

void TRipAdvanceForm::ltvListClick(int row) {
    lstSelect->hide();
    QTreeWidgetItem* item = ltvList->topLevelItem(row);
    if (!item) return;
    ltvList->setCurrentItem(item);
    const QRect rect = ltvList->visualItemRect(item);
    const int right = ltvList->header()->sectionViewportPosition(kFormatColumn) + ltvList->columnWidth(kFormatColumn);
    btnSelect->move(right - 15, rect.top() + (rect.height() - btnSelect->height()) / 2);
    btnSelect->setProperty("row", row);
    btnSelect->show();
    btnSelect->raise();
}

void TRipAdvanceForm::btnSelectClick() {
    const int width = std::max(40, ltvList->columnWidth(kFormatColumn) - 16);
    lstSelect->resize(width, lstSelect->sizeHintForRow(0) * 4 + 2 * lstSelect->frameWidth());
    lstSelect->move(btnSelect->x() + 1 - width, btnSelect->y() + 15);
    lstSelect->show();
    lstSelect->raise();
}

void TRipAdvanceForm::lstSelectClick(const QString& format) {
    if (QTreeWidgetItem* item = ltvList->topLevelItem(btnSelect->property("row").toInt()))
        item->setText(kFormatColumn, format);
    lstSelect->hide();
    btnSelect->hide();
}

void TRipAdvanceForm::btnOKClick() {
    std::vector<std::pair<int, std::string>> formats;
    for (int i = 0; i < ltvList->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = ltvList->topLevelItem(i);
        formats.emplace_back(item->text(1).toInt(), item->text(kFormatColumn).toStdString());
    }
    accept();
    if (onOK) onOK(formats);
}

void TRipAdvanceForm::done(int result) {
    btnSelect->hide();
    lstSelect->hide();
    if (wizard_) wizard_->setEnabled(true);
    QDialog::done(result);
}

void TRipAdvanceForm::mousePressEvent(QMouseEvent* e) {
    lstSelect->hide();
    QDialog::mousePressEvent(e);
}

}  // namespace kiv::gui

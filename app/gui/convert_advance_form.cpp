#include "app/gui/convert_advance_form.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/core/output_planning.h"
#include "app/gui/widgets.h"

namespace kiv::gui {

TConvertAdvanceForm::TConvertAdvanceForm(app::TaskList& tasks, QWidget* owner)
    : QDialog(nullptr), tasks_(tasks), owner_(owner) {
    setObjectName("TConvertAdvanceForm");
    setWindowTitle("Advance Mode - Convertion");
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setModal(false);
    resize(520, 360);

    labNote = new QLabel("Select the destiantion format for each source file.", this);
    labNote->setObjectName("labNote");
    ltvList = new QTreeWidget(this);
    ltvList->setObjectName("ltvList");
    ltvList->setRootIsDecorated(false);
    ltvList->setHeaderLabels({"Source File", "Source Format", "Destination Format"});
    ltvList->header()->resizeSection(0, 240);
    ltvList->header()->setStretchLastSection(false);
    ltvList->header()->resizeSection(2, 130);
    btnSelect = new QToolButton(ltvList->viewport());
    btnSelect->setObjectName("btnSelect");
    btnSelect->setText(QString::fromUtf8("\u25be"));
    btnSelect->setToolTip("Choose the destination format");
    btnSelect->setProperty("row", -1);
    btnSelect->hide();
    lstSelect = new QListWidget(ltvList->viewport());
    lstSelect->setObjectName("lstSelect");
    lstSelect->hide();

    btnOK = MakeButton(this, "btnOK", "&OK");
    btnCancel = MakeButton(this, "btnCancel", "&Cancel");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    auto* v = new QVBoxLayout(this);
    v->addWidget(labNote);
    v->addWidget(ltvList, 1);
    v->addLayout(buttons);

    connect(ltvList, &QTreeWidget::itemClicked, this, &TConvertAdvanceForm::ltvListClick);
    connect(btnSelect, &QToolButton::clicked, this, &TConvertAdvanceForm::btnSelectClick);
    connect(lstSelect, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { lstSelectClick(item->text()); });
    connect(btnOK, &QPushButton::clicked, this, &TConvertAdvanceForm::btnOKClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    labNote->installEventFilter(this);
    installEventFilter(this);
}

void TConvertAdvanceForm::ShowDialog() {
    show();
    raise();
    activateWindow();
}

void TConvertAdvanceForm::showEvent(QShowEvent* e) {
    if (owner_) owner_->setEnabled(false);
    ltvList->clear();
    for (const app::TaskRow& row : tasks_.rows())
        ltvList->addTopLevelItem(new QTreeWidgetItem(
            {QString::fromStdString(row.fileName), QString::fromStdString(row.format),
             QString::fromStdString(row.destinationFormat)}));
    btnSelect->setProperty("row", -1);
    btnSelect->hide();
    lstSelect->hide();
    QDialog::showEvent(e);
}

int TConvertAdvanceForm::selectRow() const { return btnSelect->property("row").toInt(); }

void TConvertAdvanceForm::ltvListClick() {
    lstSelect->hide();
    QTreeWidgetItem* item = ltvList->currentItem();
    if (!item) return;
    const QRect r = ltvList->visualItemRect(item);
    const int rightOfThird = ltvList->header()->sectionViewportPosition(2) + ltvList->header()->sectionSize(2);
    btnSelect->setGeometry(rightOfThird - 15, r.top(), 15, r.height());
    btnSelect->setProperty("row", ltvList->indexOfTopLevelItem(item));
    btnSelect->show();
    btnSelect->raise();
}

void TConvertAdvanceForm::btnSelectClick() {
    const int row = selectRow();
    QTreeWidgetItem* item = ltvList->topLevelItem(row);
    if (row < 0 || !item) return;
    lstSelect->clear();
    for (const std::string& f : app::ChooserFormats(item->text(1).toStdString()))
        lstSelect->addItem(QString::fromStdString(f));
    const int width = std::max(40, ltvList->header()->sectionSize(2) - 16);
    const int height = lstSelect->sizeHintForRow(0) * lstSelect->count() + 2 * lstSelect->frameWidth();
    lstSelect->setGeometry(btnSelect->x() - width, btnSelect->geometry().bottom() + 1, width, height);
    lstSelect->show();
    lstSelect->raise();
}

void TConvertAdvanceForm::lstSelectClick(const QString& format) {
    if (QTreeWidgetItem* item = ltvList->topLevelItem(selectRow())) item->setText(2, format);
    lstSelect->hide();
    btnSelect->hide();
}

void TConvertAdvanceForm::btnOKClick() {
    auto& rows = tasks_.rows();
    for (int i = 0; i < ltvList->topLevelItemCount() && i < static_cast<int>(rows.size()); ++i)
        rows[static_cast<std::size_t>(i)].destinationFormat = ltvList->topLevelItem(i)->text(2).toStdString();
    accept();
}

bool TConvertAdvanceForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress && (watched == this || watched == labNote)) lstSelect->hide();
    return QDialog::eventFilter(watched, event);
}

void TConvertAdvanceForm::done(int result) {
    btnSelect->hide();
    lstSelect->hide();
    if (owner_) owner_->setEnabled(true);
    QDialog::done(result);
}

}  // namespace kiv::gui

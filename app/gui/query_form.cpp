#include "app/gui/query_form.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "app/gui/app_context.h"

namespace kiv::gui {

TDialogForm::TDialogForm(const AppContext& context) : context_(context) {
    setObjectName("TDialogForm");
    setWindowFlag(Qt::WindowStaysOnTopHint);
    auto* icon = new QLabel(this);
    icon->setObjectName("imgIcon");
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(40, 40));
    labContent = new QLabel(this);
    labContent->setObjectName("labContent");
    labContent->setWordWrap(true);
    chkNeverShow = new QCheckBox("Never show this again", this);
    chkNeverShow->setObjectName("chkNeverShow");
    btnYes = new QPushButton("&Yes", this);
    btnYes->setObjectName("btnYes");
    btnNo = new QPushButton("&No", this);
    btnNo->setObjectName("btnNo");

    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addWidget(labContent, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(chkNeverShow);
    bottom->addStretch();
    bottom->addWidget(btnYes);
    bottom->addWidget(btnNo);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addLayout(bottom);
    resize(466, 127);

    connect(btnYes, &QPushButton::clicked, this, &TDialogForm::btnYesClick);
    connect(btnNo, &QPushButton::clicked, this, &TDialogForm::btnNoClick);
}

QString TDialogForm::Ask(QWidget* owner, const QString& question, const QString& caption) {
    owner_ = owner;
    if (owner_) owner_->setEnabled(false);
    show();
    labContent->setText(question);
    setWindowTitle(caption);
    if (QWidget* main = owner_ ? owner_->window() : nullptr)
        move(main->frameGeometry().center() - rect().center());
    QEventLoop loop;
    waiting_ = &loop;
    if (!closed_) loop.exec();
    waiting_ = nullptr;
    if (owner_) owner_->setEnabled(true);
    owner_ = nullptr;
    return answer_;
}

void TDialogForm::showEvent(QShowEvent* e) {
    closed_ = false;
    answer_ = "No";
    if (owner_) owner_->setEnabled(false);
    QDialog::showEvent(e);
}

void TDialogForm::Answer(const QString& answer) {
    // "Never show this again" switches the question off; the answer itself is not kept.
    context_.store.WriteBool("Advanced", "ShowQuery", !chkNeverShow->isChecked());
    answer_ = answer;
    close();
}

void TDialogForm::btnYesClick() { Answer("Yes"); }
void TDialogForm::btnNoClick() { Answer("No"); }

void TDialogForm::done(int result) {
    QDialog::done(result);
    closed_ = true;
    if (owner_) owner_->setEnabled(true);
    if (waiting_) waiting_->quit();
}

}  // namespace kiv::gui

#include "app/gui/tips_form.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/core/data_paths.h"
#include "app/gui/app_context.h"
#include "app/gui/options_form.h"
#include "app/gui/svg_picture.h"

namespace kiv::gui {

TTipForm::TTipForm(const AppContext& context, TOptionForm& options, app::TipPicker pick)
    : context_(context), options_(options), pick_(std::move(pick)) {
    setObjectName("TTipForm");
    setWindowTitle("Everyday Tips");
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setModal(false);

    auto* bulb = new QLabel(this);
    bulb->setObjectName("imgTip");
    bulb->setPixmap(SvgPixmap(":/ondalo/tip.svg", QSize(40, 40)));
    labTitle = new QLabel(this);
    labTitle->setObjectName("labTitle");
    labTitle->setWordWrap(true);
    QFont bold = labTitle->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    labTitle->setFont(bold);
    auto* group = new QGroupBox("Content:", this);
    memContent = new QPlainTextEdit(group);
    memContent->setObjectName("memContent");
    memContent->setReadOnly(true);
    auto* gv = new QVBoxLayout(group);
    gv->addWidget(memContent);
    chkTip = new QCheckBox("Never show Everyday Tips when start-up", this);
    chkTip->setObjectName("chkTip");
    btnOK = new QPushButton("&OK", this);
    btnOK->setObjectName("btnOK");
    btnOK->setDefault(true);

    auto* head = new QHBoxLayout;
    head->addWidget(bulb);
    head->addWidget(labTitle, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(chkTip);
    bottom->addStretch();
    bottom->addWidget(btnOK);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(head);
    layout->addWidget(group, 1);
    layout->addLayout(bottom);
    resize(440, 280);

    connect(chkTip, &QCheckBox::clicked, this, &TTipForm::chkTipClick);
    connect(btnOK, &QPushButton::clicked, this, &TTipForm::btnOKClick);
}

void TTipForm::showEvent(QShowEvent* e) {
    app::Tip tip = app::PickTip(app::TipsFilePath(), pick_);
    labTitle->setText(QString::fromStdString(tip.title));
    memContent->setPlainText(QString::fromStdString(tip.content));
    QDialog::showEvent(e);
}

void TTipForm::chkTipClick() { options_.chkTip->setChecked(!chkTip->isChecked()); }

void TTipForm::btnOKClick() { accept(); }

void TTipForm::done(int result) {
    context_.store.WriteBool("Advanced", "EverydayTips", !chkTip->isChecked());
    QDialog::done(result);
}

}  // namespace kiv::gui

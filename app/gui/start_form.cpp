#include "app/gui/start_form.h"

#include <QGuiApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QStyleOption>
#include <QToolButton>

#include "app/core/settings.h"
#include "app/gui/about_form.h"
#include "app/gui/app_context.h"
#include "app/gui/options_form.h"
#include "app/gui/svg_picture.h"
#include "app/gui/converter_form.h"
#include "app/gui/ripper_form.h"
#include "app/gui/wizard_shell.h"

namespace kiv::gui {
namespace {

constexpr int kWidth = 524;
constexpr int kHeight = 398;

// The background picture: painted, so it fills the window at any scale.
class Background : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QPixmap picture = SvgPixmap(":/ondalo/start_background.svg", size() * devicePixelRatioF());
        picture.setDevicePixelRatio(devicePixelRatioF());
        p.drawPixmap(0, 0, picture);
        // A skin may paint the background its own way (QWidget#imgBk).
        QStyleOption option;
        option.initFrom(this);
        style()->drawPrimitive(QStyle::PE_Widget, &option, &p, this);
    }
};

QToolButton* PictureButton(QWidget* parent, const char* name, const QString& text, const QString& picture,
                           const QString& tip) {
    auto* b = new QToolButton(parent);
    b->setObjectName(name);
    b->setText(text);
    b->setToolTip(tip);
    b->setIcon(SvgIcon(picture, QSize(128, 128)));
    b->setIconSize(QSize(56, 56));
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setAutoRaise(true);
    b->setCursor(Qt::PointingHandCursor);
    b->setFixedSize(108, 104);
    return b;
}

QToolButton* CaptionButton(QWidget* parent, const char* name, const QString& text, const QString& tip) {
    auto* b = new QToolButton(parent);
    b->setObjectName(name);
    b->setText(text);
    b->setToolTip(tip);
    b->setAutoRaise(true);
    b->setFixedSize(28, 24);
    return b;
}

}  // namespace

TStartForm::TStartForm(AppContext& context) : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), context_(context) {
    setObjectName("TStartForm");
    context.applicationDirectory = app::ApplicationDirectory();
    context.store = app::SettingsStore(context.applicationDirectory + "Option.ini");
    context.versionText = QString::fromStdString(context.store.ReadString("General", "Version", "3.0"));
    setWindowTitle(context.title());
    setWindowIcon(SvgIcon(":/ondalo/logo.svg", QSize(64, 64)));
    setFixedSize(kWidth, kHeight);

    imgBk = new Background(this);
    imgBk->setObjectName("imgBk");
    imgBk->setGeometry(0, 0, kWidth, kHeight);

    imgLogo = new QLabel(this);
    imgLogo->setObjectName("imgLogo");
    imgLogo->setPixmap(SvgPixmap(":/ondalo/logo.svg", QSize(72, 72)));
    imgLogo->setGeometry(36, 40, 72, 72);
    auto* name = new QLabel("Ondalo", this);
    name->setObjectName("labName");
    name->setGeometry(124, 44, 300, 40);
    QFont big = name->font();
    big.setPointSize(24);
    big.setBold(true);
    name->setFont(big);
    name->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* slogan = new QLabel("Convert audio files and rip audio CDs", this);
    slogan->setObjectName("labSlogan");
    slogan->setGeometry(126, 84, 340, 22);
    slogan->setAttribute(Qt::WA_TransparentForMouseEvents);
    labVersion = new QLabel("Version " + context.versionText, this);
    labVersion->setObjectName("labVersion");
    labVersion->setGeometry(36, 352, 200, 22);

    btnConverter = PictureButton(this, "btnConverter", "Convert\nAudio Files", ":/ondalo/convert.svg",
                                 "Convert WAV, MP3, WMA and Ogg Vorbis files");
    btnRipper = PictureButton(this, "btnRipper", "Rip\nAudio CD", ":/ondalo/rip.svg", "Extract the tracks of an audio CD");
    btnOption = PictureButton(this, "btnOption", "Options", ":/ondalo/options.svg", "Options and skins");
    btnHelp = PictureButton(this, "btnHelp", "Help", ":/ondalo/help.svg", "Read the help");
    const int top = 160;
    int x = 36;
    for (QToolButton* b : {btnConverter, btnRipper, btnOption, btnHelp}) {
        b->move(x, top);
        x += 116;
    }
    btnWeb = new QToolButton(this);
    btnWeb->setObjectName("btnWeb");
    btnWeb->setText("About Ondalo");
    btnWeb->setIcon(SvgIcon(":/ondalo/web.svg", QSize(32, 32)));
    btnWeb->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    btnWeb->setAutoRaise(true);
    btnWeb->setCursor(Qt::PointingHandCursor);
    btnWeb->setGeometry(kWidth - 36 - 150, 346, 150, 32);

    btnAbout = CaptionButton(this, "btnAbout", "i", "About Ondalo");
    btnAbout->move(kWidth - 102, 8);
    btnMin = CaptionButton(this, "btnMin", QString::fromUtf8("\u2013"), "Minimise");
    btnClose = CaptionButton(this, "btnClose", QString::fromUtf8("\u00d7"), "Close Ondalo");
    btnMin->move(kWidth - 70, 8);
    btnClose->move(kWidth - 38, 8);

    connect(btnConverter, &QToolButton::clicked, this, &TStartForm::btnConverterClick);
    connect(btnRipper, &QToolButton::clicked, this, &TStartForm::btnRipperClick);
    connect(btnOption, &QToolButton::clicked, this, &TStartForm::btnOptionClick);
    connect(btnHelp, &QToolButton::clicked, this, &TStartForm::btnHelpClick);
    connect(btnWeb, &QToolButton::clicked, this, &TStartForm::btnWebClick);
    connect(btnAbout, &QToolButton::clicked, this, &TStartForm::btnAboutClick);
    connect(btnMin, &QToolButton::clicked, this, &TStartForm::btnMinClick);
    connect(btnClose, &QToolButton::clicked, this, &TStartForm::btnCloseClick);

    for (QWidget* w : {imgBk, static_cast<QWidget*>(imgLogo), static_cast<QWidget*>(labVersion)})
        w->installEventFilter(this);

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(kWidth / 2, kHeight / 2));
}

void TStartForm::setWindows(TConverterForm* converter, TRipperForm* ripper, TOptionForm* options, TAboutForm* about) {
    about_ = about;
    converter_ = converter;
    ripper_ = ripper;
    options_ = options;
}

void TStartForm::btnConverterClick() {
    wizardOpened_ = true;
    hide();
    if (converter_) converter_->show();
}

void TStartForm::btnRipperClick() {
    wizardOpened_ = true;
    hide();
    if (ripper_) ripper_->show();
}

void TStartForm::btnOptionClick() {
    if (options_) options_->ShowDialog();
}

void TStartForm::btnHelpClick() { context_.OpenHelp("Welcome"); }

// The program's page is part of its help, so it is there without a network.
void TStartForm::btnWebClick() { context_.OpenHelp("AboutOndalo"); }

void TStartForm::btnAboutClick() {
    if (about_) about_->show();
}

void TStartForm::btnMinClick() { showMinimized(); }

void TStartForm::btnCloseClick() {
    if (context_.endProcess) context_.endProcess();
}

void TStartForm::closeEvent(QCloseEvent* e) {
    e->ignore();
    btnCloseClick();
}

bool TStartForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress) {
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() == Qt::LeftButton) {
            dragging_ = true;
            pressPoint_ = e->position().toPoint();
            return true;
        }
    } else if (event->type() == QEvent::MouseMove) {
        auto* e = static_cast<QMouseEvent*>(event);
        if (dragging_ && (e->buttons() & Qt::LeftButton)) {
            move(pos() + (e->position().toPoint() - pressPoint_));
            return true;
        }
    } else if (event->type() == QEvent::MouseButtonRelease) {
        dragging_ = false;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace kiv::gui

#include <QCheckBox>
#include <QPushButton>
#include <QLabel>
#include <QMouseEvent>
#include <QTest>
#include <QToolButton>

#include "app/gui/about_form.h"
#include "app/gui/help_viewer.h"
#include "app/gui/options_form.h"
#include "app/gui/start_form.h"
#include "app/gui/tips_form.h"
#include "app/gui/converter_form.h"
#include "app/gui/ripper_form.h"
#include "app/gui/wizard_shell.h"
#include "tests/app/gui/gui_tests.h"

namespace kiv::gui::test {

void StartFormTest::versionTextComesFromOptionIni_data() {
    QTest::addColumn<QString>("ini");
    QTest::addColumn<QString>("version");
    QTest::newRow("no file") << "" << "3.0";
    QTest::newRow("1.9") << "[General]\nVersion=1.9\n" << "1.9";
    QTest::newRow("other keys only") << "[General]\nInitialDir=/tmp\n" << "3.0";
    QTest::newRow("text kept as it is") << "[general]\nversion=2.5 beta\n" << "2.5 beta";
}

void StartFormTest::versionTextComesFromOptionIni() {
    QFETCH(QString, ini);
    QFETCH(QString, version);
    if (!ini.isEmpty()) WriteOptionIni(ini.toStdString());
    StartApplication();
    QCOMPARE(app_->start().labVersion->text(), "Version " + version);
    QCOMPARE(app_->start().windowTitle(), "Ondalo Version " + version);
    QCOMPARE(app_->context().title(), "Ondalo Version " + version);
    // The program never writes the version.
    QVERIFY(ReadOptionIni().find("Version=3.0") == std::string::npos);
}

void StartFormTest::buttonsShowAndHideTheRightWindows() {
    StartApplication();
    TStartForm& start = app_->start();
    app_->Start();
    QVERIFY(start.isVisible());
    QCOMPARE(start.size(), QSize(524, 398));
    QVERIFY(start.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(!start.wizardOpened());

    // A wizard closed before any was opened from here leaves the start window alone.
    app_->converter().show();
    start.hide();
    app_->converter().close();
    QVERIFY(!start.isVisible());
    start.show();

    start.btnConverter->click();
    QVERIFY(!start.isVisible());
    QVERIFY(app_->converter().isVisible());
    QCOMPARE(app_->converter().windowTitle(), QString("Audio Converter - WIZARD"));
    app_->converter().close();
    QVERIFY(start.isVisible());

    start.btnRipper->click();
    QVERIFY(!start.isVisible());
    QVERIFY(app_->ripper().isVisible());
    QCOMPARE(app_->ripper().windowTitle(), QString("Audio CD Ripper - WIZARD"));
    app_->ripper().close();
    QVERIFY(start.isVisible());
    QVERIFY(start.wizardOpened());

    start.btnOption->click();
    QVERIFY(app_->options().isVisible());
    QVERIFY(!start.isEnabled());
    app_->options().btnCancel->click();
    QVERIFY(!app_->options().isVisible());
    QVERIFY(start.isEnabled());

    start.btnHelp->click();
    QVERIFY(app_->help().isVisible());
    QCOMPARE(app_->help().currentTopic(), QString("Welcome"));
    start.btnWeb->click();
    QCOMPARE(app_->help().currentTopic(), QString("AboutOndalo"));
    start.btnAbout->click();
    QVERIFY(app_->about().isVisible());
    QCOMPARE(endCalls_, 0);

    app_->StartWithRipper("/dev/sr1");
    QVERIFY(app_->ripper().isVisible());
    QCOMPARE(app_->ripper().requestedDrive(), QString("/dev/sr1"));
}

void StartFormTest::closeEndsTheProcessThroughItsAction() {
    StartApplication();
    app_->Start();
    app_->start().btnClose->click();
    QCOMPARE(endCalls_, 1);
    // A close asked by the desktop ends it the same way, never just hides it.
    app_->start().close();
    QCOMPARE(endCalls_, 2);
    QVERIFY(app_->start().isVisible());
    // Nothing is written on the way out.
    QCOMPARE(ReadOptionIni(), std::string());
}

void StartFormTest::tipsAtStartFollowTheOption() {
    WriteOptionIni("[Advanced]\nEverydayTips=0\n");
    StartApplication();
    app_->Start();
    QVERIFY(!app_->tips().isVisible());
    QCOMPARE(tipPicks_, 0);
    app_.reset();

    WriteOptionIni("[Advanced]\nEverydayTips=1\n");
    StartApplication();
    app_->Start();
    QVERIFY(app_->tips().isVisible());
    QCOMPARE(tipPicks_, 1);
}

void StartFormTest::draggingTheBackgroundMovesTheWindow() {
    StartApplication();
    TStartForm& start = app_->start();
    start.show();
    start.move(100, 100);
    const QPoint before = start.pos();
    auto send = [](QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
        QMouseEvent e(type, QPointF(at), w->mapToGlobal(QPointF(at)), button, held, Qt::NoModifier);
        QApplication::sendEvent(w, &e);
    };
    send(start.imgBk, QEvent::MouseButtonPress, {200, 300}, Qt::LeftButton, Qt::LeftButton);
    send(start.imgBk, QEvent::MouseMove, {230, 290}, Qt::NoButton, Qt::LeftButton);
    QCOMPARE(start.pos(), before + QPoint(30, -10));
    send(start.imgBk, QEvent::MouseButtonRelease, {230, 290}, Qt::LeftButton, Qt::NoButton);
    // Without the button held nothing moves; the version label drags too.
    send(start.imgBk, QEvent::MouseMove, {260, 260}, Qt::NoButton, Qt::NoButton);
    QCOMPARE(start.pos(), before + QPoint(30, -10));
    send(start.labVersion, QEvent::MouseButtonPress, {5, 5}, Qt::LeftButton, Qt::LeftButton);
    send(start.labVersion, QEvent::MouseMove, {15, 25}, Qt::NoButton, Qt::LeftButton);
    QCOMPARE(start.pos(), before + QPoint(40, 10));
}

}  // namespace kiv::gui::test

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <fstream>

#include "app/gui/options_form.h"
#include "app/gui/query_form.h"
#include "app/gui/tips_form.h"
#include "app/gui/converter_form.h"
#include "app/gui/wizard_shell.h"
#include "tests/app/gui/gui_tests.h"

namespace kiv::gui::test {

void QueryAndTipsTest::queryAnswersAndShowQuery_data() {
    QTest::addColumn<bool>("yes");
    QTest::addColumn<bool>("neverShow");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("written");
    QTest::newRow("no, never again") << false << true << "No" << "ShowQuery=0";
    QTest::newRow("yes, never again") << true << true << "Yes" << "ShowQuery=0";
    QTest::newRow("yes, ask again") << true << false << "Yes" << "ShowQuery=1";
    QTest::newRow("no, ask again") << false << false << "No" << "ShowQuery=1";
}

void QueryAndTipsTest::queryAnswersAndShowQuery() {
    QFETCH(bool, yes);
    QFETCH(bool, neverShow);
    QFETCH(QString, answer);
    QFETCH(QString, written);
    StartApplication();
    TDialogForm& query = app_->query();
    TConverterForm& owner = app_->converter();
    owner.show();
    query.chkNeverShow->setChecked(neverShow);
    bool ownerDisabledWhileAsking = false;
    QString shownText, shownCaption;
    QTimer::singleShot(0, [&] {
        ownerDisabledWhileAsking = !owner.isEnabled();
        shownText = query.labContent->text();
        shownCaption = query.windowTitle();
        (yes ? query.btnYes : query.btnNo)->click();
    });
    QCOMPARE(query.Ask(&owner, "Do you want to add all files in sub-folders?", "Query"), answer);
    QVERIFY(ownerDisabledWhileAsking);
    QVERIFY(owner.isEnabled());
    QVERIFY(!query.isVisible());
    QCOMPARE(shownText, QString("Do you want to add all files in sub-folders?"));
    QCOMPARE(shownCaption, QString("Query"));
    QVERIFY(ReadOptionIni().find("[Advanced]\n" + written.toStdString()) != std::string::npos);
    // The box keeps its state for the next question.
    QCOMPARE(query.chkNeverShow->isChecked(), neverShow);
}

void QueryAndTipsTest::queryCloseBoxAnswersNoAndWritesNothing() {
    WriteOptionIni("[Advanced]\nShowQuery=1\n");
    StartApplication();
    TDialogForm& query = app_->query();
    query.chkNeverShow->setChecked(true);
    QTimer::singleShot(0, [&] { query.close(); });
    QCOMPARE(query.Ask(&app_->converter(), "Question?", "Query"), QString("No"));
    QCOMPARE(ReadOptionIni(), std::string("[Advanced]\nShowQuery=1\n"));
    // The dialog is reused: a second question works the same way.
    QTimer::singleShot(0, [&] { query.btnYes->click(); });
    QCOMPARE(query.Ask(&app_->converter(), "Again?", "Query"), QString("Yes"));
}

void QueryAndTipsTest::tipsShowThePickedSection() {
    std::ofstream(DataDir() + "Tips.ini") << "[Count]\nValue=1\n[1]\nTitle=Only tip\nContent=Its text\n";
    StartApplication();
    TTipForm& tips = app_->tips();
    tips.show();
    QCOMPARE(tips.windowTitle(), QString("Everyday Tips"));
    QCOMPARE(tips.labTitle->text(), QString("Only tip"));
    QCOMPARE(tips.memContent->toPlainText(), QString("Its text"));
    tips.hide();

    std::ofstream(DataDir() + "Tips.ini") << "[Count]\nValue=3\n[1]\nTitle=One\n[3]\nTitle=Three\nContent=Third\n";
    tips.show();  // the fixture's picker takes the last tip
    QCOMPARE(tips.labTitle->text(), QString("Three"));
    QCOMPARE(tips.memContent->toPlainText(), QString("Third"));
    tips.hide();

    std::ofstream(DataDir() + "Tips.ini") << "[Count]\nValue=0\n";
    tips.show();
    QCOMPARE(tips.labTitle->text(), QString());
    QCOMPARE(tips.memContent->toPlainText(), QString());
}

void QueryAndTipsTest::closingTipsWithTheBoxCheckedSwitchesThemOff() {
    StartApplication();
    app_->Start();
    TTipForm& tips = app_->tips();
    QVERIFY(tips.isVisible());
    QVERIFY(app_->options().chkTip->isChecked());
    tips.chkTip->click();
    QVERIFY(!app_->options().chkTip->isChecked());
    tips.close();  // the close box writes as OK does
    QVERIFY(ReadOptionIni().find("EverydayTips=0") != std::string::npos);

    tips.show();
    tips.chkTip->click();
    QVERIFY(app_->options().chkTip->isChecked());
    tips.btnOK->click();
    QVERIFY(!tips.isVisible());
    QVERIFY(ReadOptionIni().find("EverydayTips=1") != std::string::npos);
}

}  // namespace kiv::gui::test

#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSysInfo>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>

#include <filesystem>

#include "app/gui/about_form.h"
#include "app/gui/help_viewer.h"
#include "app/gui/options_form.h"
#include "tests/app/gui/gui_tests.h"

namespace kiv::gui::test {

void HelpAndAboutTest::topicsOpenByTheirContextStrings_data() {
    QTest::addColumn<QString>("topic");
    for (const char* t : {"Welcome", "AudioConverterWizard-Advan", "WMAconversion(EncodeandDec", "AudioConverter-Keeptagof",
                          "CDRipper-Writeinformation", "Querywhetheraddfilesinsub", "Skins", "AboutOndalo",
                          "CommandLine"})
        QTest::newRow(t) << t;
}

void HelpAndAboutTest::topicsOpenByTheirContextStrings() {
    QFETCH(QString, topic);
    StartApplication();
    HelpViewer& help = app_->help();
    help.ShowTopic(topic);
    QVERIFY(help.isVisible());
    QCOMPARE(help.currentTopic(), topic);
    QVERIFY(!help.browser()->toPlainText().contains("Help topic not found"));
    QVERIFY(help.browser()->toPlainText().size() > 200);  // a real page, not a stub
}

void HelpAndAboutTest::linksBackForwardAndMissingTopics() {
    StartApplication();
    HelpViewer& help = app_->help();
    // Every entry of the contents opens a page that exists.
    QVERIFY(help.contents()->count() >= 6);
    for (int i = 0; i < help.contents()->count(); ++i) {
        QString topic = help.contents()->item(i)->data(Qt::UserRole).toString();
        QVERIFY2(QFileInfo::exists(QString::fromStdString(DataDir()) + "help/" + topic + ".html"), qPrintable(topic));
    }
    // The options dialog's links open their topics.
    app_->options().ShowDialog();
    const auto links = app_->options().findChildren<QToolButton*>("lnkHelp");
    QCOMPARE(links.size(), 3);
    for (QToolButton* link : links) {
        link->click();
        QCOMPARE(help.currentTopic(), link->property("helpTopic").toString());
    }
    app_->options().btnCancel->click();

    help.ShowTopic("Welcome");
    help.ShowTopic("Skins");
    QVERIFY(help.backButton()->isEnabled());
    help.backButton()->click();
    QCOMPARE(help.currentTopic(), QString("Welcome"));
    QVERIFY(help.forwardButton()->isEnabled());
    help.forwardButton()->click();
    QCOMPARE(help.currentTopic(), QString("Skins"));

    help.ShowTopic("NoSuchTopic");
    QCOMPARE(help.currentTopic(), QString());
    QVERIFY(help.browser()->toPlainText().contains("NoSuchTopic"));
    help.ShowTopic("../cfg/Option");  // never outside the help folder
    QCOMPARE(help.currentTopic(), QString());
}

void HelpAndAboutTest::aboutShowsVersionAndThisSystem() {
    WriteOptionIni("[General]\nVersion=1.9\n");
    StartApplication();
    TAboutForm& about = app_->about();
    QCOMPARE(about.windowTitle(), QString("About"));
    QCOMPARE(about.labVersion->text(), QString("Version 1.9"));
    QVERIFY(about.labSystem->text().contains(QSysInfo::kernelVersion()));
    QVERIFY(!about.labSystem->text().contains("Windows95"));
    about.show();
    about.btnOK->click();
    QVERIFY(!about.isVisible());
}

}  // namespace kiv::gui::test

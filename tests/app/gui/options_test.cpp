#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/gui/options_form.h"
#include "app/gui/start_form.h"
#include "app/gui/converter_form.h"
#include "app/gui/wizard_shell.h"
#include "platform/com/class_registry.h"
#include "platform/system/text.h"
#include "tests/app/gui/gui_tests.h"

namespace kiv::gui::test {

namespace fs = std::filesystem;

namespace {

// The keys of an INI text in the order they stand, as "Section/Key=value".
std::vector<std::string> KeysInOrder(const std::string& ini) {
    std::vector<std::string> keys;
    std::istringstream in(ini);
    std::string line, section;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        if (line.front() == '[') section = line.substr(1, line.find(']') - 1);
        else keys.push_back(section + "/" + line);
    }
    return keys;
}

std::u16string U(const char* s) { return FromUtf8(s); }

}  // namespace

void OptionsTest::defaultsWithoutOptionIni() {
    fs::rename(DataDir() + "Skins/macos.skn", DataDir() + "Skins/macos.anything");
    StartApplication();
    TOptionForm& o = app_->options();
    o.ShowDialog();
    QCOMPARE(o.windowTitle(), QString("Options"));
    QCOMPARE(o.pages->count(), 4);
    QCOMPARE(o.pages->tabText(0), QString(" Audio Coversion "));
    QCOMPARE(o.pages->tabText(3), QString(" Advanced "));
    QVERIFY(o.chkConTag->isChecked());
    for (QCheckBox* c : {o.chkConDelSource, o.chkConOpenDir, o.ChkConExit, o.chkConShut, o.chkRipOpenDir, o.chkRipExit,
                         o.chkRipShut, o.chkRipEject, o.chkReplayGain})
        QVERIFY2(!c->isChecked(), qPrintable(c->objectName()));
    for (QCheckBox* c : {o.chkConPlaySound, o.chkRipPlaySound, o.chkRipSelectDri, o.chkRipLoadCDDB, o.chkRipInfo,
                         o.chkShowCDDBFailed, o.chkTip})
        QVERIFY2(c->isChecked(), qPrintable(c->objectName()));
    QVERIFY(o.rdbConSoundDefault->isChecked() && !o.rdbConSoundCustom->isChecked());
    QVERIFY(o.rdbRipSoundDefault->isChecked() && !o.rdbRipSoundCustom->isChecked());
    QCOMPARE(o.selectedSkin(), QString("macos"));
    QVERIFY(o.rdbShowQuery->isChecked());
    QVERIFY(o.rdbNo->isChecked());
    QCOMPARE(o.cmbRecord->currentText(), QString("Both Conversion and Rip"));
    QCOMPARE(o.spnFilesAtOnce->value(), std::max(1, int(std::thread::hardware_concurrency())));
    // Showing the dialog writes nothing.
    QVERIFY(!fs::exists(OptionIni()));
}

void OptionsTest::loadShowsTheFileAndOkSavesInOrder() {
    WriteOptionIni(
        "; kept\n[General]\nInitialDir=/music\nVersion=1.9\n[Conversion]\nKeepTag=0\nSoundDefault=0\n"
        "CustomSound=/s.wav\n[Rip]\nEjectDrive=1\nLookupSource=musicbrainz\n[Skin]\nSkin=midnight\n[Advanced]\nShowQuery=0\nAlwaysYes=1\n"
        "RecordSettings=2\nFilesAtOnce=3\n[Other]\nMine=1\n");
    StartApplication();
    TOptionForm& o = app_->options();
    QCOMPARE(app_->converter().selectedFolder(), QString("/music"));
    QVERIFY(app_->skinEngine().Active());
    QCOMPARE(app_->skinEngine().skinName(), std::string("midnight"));
    o.ShowDialog();
    QVERIFY(!o.chkConTag->isChecked());
    QVERIFY(o.rdbConSoundCustom->isChecked());
    QCOMPARE(o.edtConSoundCustom->text(), QString("/s.wav"));
    QVERIFY(o.chkRipEject->isChecked());
    QCOMPARE(o.cmbLookupSource->currentText(), QString("MusicBrainz"));
    QVERIFY(o.rdbNotQuery->isChecked());
    QVERIFY(o.rdbYes->isChecked());
    QCOMPARE(o.cmbRecord->currentIndex(), 2);
    QCOMPARE(o.spnFilesAtOnce->value(), 3);
    QVERIFY(!o.chkReplayGain->isChecked());
    QCOMPARE(o.selectedSkin(), QString("midnight"));

    fs::remove(OptionIni());
    o.chkConDelSource->setChecked(true);
    o.pages->setCurrentIndex(3);
    QCOMPARE(o.chkReplayGain->text(), QString("Write ReplayGain values (track gain and peak)"));
    QVERIFY(o.chkReplayGain->isVisible());
    QTest::mouseClick(o.chkReplayGain, Qt::LeftButton);
    QVERIFY(o.chkReplayGain->isChecked());
    o.cmbLookupSource->setCurrentIndex(2);  // "CDDB, then MusicBrainz"
    o.ltbSkin->setCurrentItem(o.ltbSkin->findItems("sunset", Qt::MatchExactly).value(0));
    o.btnOK->click();
    QVERIFY(!o.isVisible());
    QCOMPARE(app_->skinEngine().skinName(), std::string("sunset"));
    const std::vector<std::string> expected = {
        "Conversion/KeepTag=0", "Conversion/DeleteSourceFile=1", "Conversion/OpenDirectory=0",
        "Conversion/ExitProgram=0", "Conversion/ShutDown=0", "Conversion/PlaySound=1", "Conversion/SoundDefault=0",
        "Conversion/CustomSound=/s.wav", "Rip/AutoSelectDrive=1", "Rip/AutoLoadCDDB=1", "Rip/WriteInformation=1",
        "Rip/EjectDrive=1", "Rip/OpenDir=0", "Rip/Exit=0", "Rip/ShutDown=0", "Rip/PlaySound=1", "Rip/SoundDefault=1",
        "Rip/CustomSound=", "Skin/Skin=sunset", "Advanced/ShowQuery=0", "Advanced/AlwaysYes=1",
        "Advanced/InformCDDBFailed=1", "Advanced/EverydayTips=1", "Advanced/RecordSettings=2",
        "Advanced/FilesAtOnce=3", "Advanced/ReplayGain=1"};
    std::vector<std::string> keys = KeysInOrder(ReadOptionIni());
    // The source of names is written once it is not the default.
    const auto source = std::find(keys.begin(), keys.end(), "Rip/LookupSource=Both");
    QVERIFY(source != keys.end());
    keys.erase(source);
    QCOMPARE(keys, expected);
}

void OptionsTest::verifiedRippingChoices() {
    StartApplication();
    TOptionForm& o = app_->options();
    o.ShowDialog();
    o.pages->setCurrentIndex(1);
    QCOMPARE(o.chkAccurateRip->text(), QString("Verify rips with the AccurateRip database"));
    QVERIFY(o.chkAccurateRip->toolTip().contains("accuraterip.com"));
    QCOMPARE(o.chkRipLog->text(), QString("Write a rip log and cue sheet beside the tracks"));
    // Asked for, never on by default.
    QVERIFY(!o.chkAccurateRip->isChecked() && !o.chkRipLog->isChecked());
    QTest::mouseClick(o.chkAccurateRip, Qt::LeftButton);
    QTest::mouseClick(o.chkRipLog, Qt::LeftButton);
    o.btnOK->click();
    std::vector<std::string> keys = KeysInOrder(ReadOptionIni());
    const auto eject = std::find(keys.begin(), keys.end(), "Rip/EjectDrive=0");
    QVERIFY(eject != keys.end() && keys.end() - eject > 2);
    QCOMPARE(std::vector<std::string>(eject + 1, eject + 3),
             (std::vector<std::string>{"Rip/AccurateRip=1", "Rip/RipLog=1"}));

    // Shown from the file again; Load Default clears them and OK keeps that.
    o.ShowDialog();
    QVERIFY(o.chkAccurateRip->isChecked() && o.chkRipLog->isChecked());
    answers_->Push(IDYES);
    o.btnDefault->click();
    QVERIFY(!o.chkAccurateRip->isChecked() && !o.chkRipLog->isChecked());
    o.btnOK->click();
    const app::Options saved = app::SettingsStore(OptionIni()).Load();
    QVERIFY(!saved.rip.accurateRip && !saved.rip.ripLog);
    keys = KeysInOrder(ReadOptionIni());
    QVERIFY(std::find(keys.begin(), keys.end(), "Rip/AccurateRip=0") != keys.end());
    QVERIFY(std::find(keys.begin(), keys.end(), "Rip/RipLog=0") != keys.end());
}

void OptionsTest::loadDefaultAsksAndCancelKeepsTheFile() {
    const std::string ini = "[Conversion]\nKeepTag=0\nShutDown=1\n[Skin]\nSkin=None\n[Advanced]\nAlwaysYes=1\nEverydayTips=0\nRecordSettings=3\n"
                            "ReplayGain=1\n";
    WriteOptionIni(ini);
    StartApplication();
    TOptionForm& o = app_->options();
    o.ShowDialog();
    QVERIFY(o.chkReplayGain->isChecked());

    answers_->Push(IDNO);
    o.btnDefault->click();
    QVERIFY(!o.chkConTag->isChecked());  // No: nothing changes
    QVERIFY(o.chkReplayGain->isChecked());
    answers_->Push(IDYES);
    o.btnDefault->click();
    QCOMPARE(answers_->asked().size(), std::size_t(2));
    QVERIFY(answers_->asked()[0].text == U("Are you sure to load default settings?"));
    QVERIFY(answers_->asked()[0].caption == U("Query"));
    QCOMPARE(answers_->asked()[0].type, UINT(MB_YESNO | MB_ICONQUESTION));
    QVERIFY(o.chkConTag->isChecked());
    QVERIFY(!o.chkConShut->isChecked());
    QCOMPARE(o.selectedSkin(), QString("macos"));
    QVERIFY(o.rdbShowQuery->isChecked());
    QVERIFY(!o.rdbYes->isChecked() && !o.rdbNo->isChecked());
    QVERIFY(o.chkTip->isChecked());
    QCOMPARE(o.cmbRecord->currentIndex(), 0);
    QVERIFY(!o.chkReplayGain->isChecked());
    o.btnCancel->click();
    QCOMPARE(ReadOptionIni(), ini);
    QVERIFY(!app_->skinEngine().Active());
}

void OptionsTest::cancelRevertsAPreviewedSkin() {
    StartApplication();
    QtSkinEngine& engine = app_->skinEngine();
    QVERIFY(engine.Active());
    QCOMPARE(engine.skinName(), std::string("macos"));
    const QString macosSheet = qApp->styleSheet();
    TOptionForm& o = app_->options();
    o.ShowDialog();
    o.chkConDelSource->setChecked(true);
    o.pages->setCurrentIndex(2);
    // Auto Preview: a click on an item shows it.
    QListWidgetItem* dark = o.ltbSkin->findItems("midnight", Qt::MatchExactly).value(0);
    QVERIFY(dark);
    o.ltbSkin->setCurrentItem(dark);
    o.ltbSkinClick();
    QCOMPARE(engine.skinName(), std::string("midnight"));
    QVERIFY(qApp->styleSheet() != macosSheet);
    o.ltbSkin->setCurrentRow(0);
    o.btnPreviewClick();
    QVERIFY(!engine.Active());
    QVERIFY(qApp->styleSheet().isEmpty());
    o.close();  // the close box cancels too
    QVERIFY(!fs::exists(OptionIni()));
    QVERIFY(engine.Active());
    QCOMPARE(engine.skinName(), std::string("macos"));
    QCOMPARE(qApp->styleSheet(), macosSheet);

    // Without Auto Preview a click shows nothing.
    o.ShowDialog();
    o.chkPreview->setChecked(false);
    o.ltbSkin->setCurrentItem(o.ltbSkin->findItems("sunset", Qt::MatchExactly).value(0));
    o.ltbSkinClick();
    QCOMPARE(engine.skinName(), std::string("macos"));
    o.btnCancel->click();
}

void OptionsTest::noneInTheFileStartsWithoutASkin() {
    WriteOptionIni("[Skin]\nSkin=None\n");
    StartApplication();
    QVERIFY(!app_->skinEngine().Active());
    QVERIFY(qApp->styleSheet().isEmpty());
    app_->options().ShowDialog();
    QCOMPARE(app_->options().selectedSkin(), QString("None"));
    app_->options().btnCancel->click();
    QVERIFY(!app_->skinEngine().Active());
    QVERIFY(qApp->styleSheet().isEmpty());
}

void OptionsTest::skinListRules() {
    const std::string skins = DataDir() + "Skins/";
    fs::copy_file(skins + "sunset.skn", skins + "a.b.skn");
    fs::copy_file(skins + "midnight.skn", skins + "a.skn");
    std::ofstream(skins + "broken.skn") << "/* ondalo-skin 7 */\n/* name: future */\n";
    WriteOptionIni("[Skin]\nSkin=a\n");
    StartApplication();
    // a.b.skn is listed as a, and applying a looks for a.skn.
    QCOMPARE(app_->skinEngine().LoadedFile(), skins + "a.skn");
    TOptionForm& o = app_->options();
    o.ShowDialog();
    QStringList items;
    for (int i = 0; i < o.ltbSkin->count(); ++i) items << o.ltbSkin->item(i)->text();
    QCOMPARE(items, QStringList({"None", "a", "broken", "macos", "midnight", "sunset"}));
    QCOMPARE(o.selectedSkin(), QString("a"));

    // A broken skin is refused: the engine keeps the file it had.
    o.ltbSkin->setCurrentRow(2);
    o.btnPreviewClick();
    QCOMPARE(app_->skinEngine().LoadedFile(), skins + "a.skn");

    // A skin whose file was deleted is not loaded.
    o.ltbSkin->setCurrentItem(o.ltbSkin->findItems("sunset", Qt::MatchExactly).value(0));
    fs::remove(skins + "sunset.skn");
    o.btnOKClick();
    QCOMPARE(app_->skinEngine().LoadedFile(), skins + "a.skn");
    QVERIFY(ReadOptionIni().find("Skin=sunset") != std::string::npos);
    o.ShowDialog();
    QVERIFY(o.ltbSkin->findItems("sunset", Qt::MatchExactly).isEmpty());
}

void OptionsTest::importExportDelete() {
    StartApplication();
    TOptionForm& o = app_->options();
    o.ShowDialog();
    const std::string in = *dir_ / "in.skn";
    fs::copy_file(DataDir() + "Skins/sunset.skn", in);
    o.chooseOpenFiles = [&](const QString& title, const QString&) {
        return title == "Select skin files to import" ? QStringList{QString::fromStdString(in)} : QStringList{};
    };
    o.btnImport->click();
    QVERIFY(answers_->asked().back().text == U("Import skin successfully"));
    QVERIFY(answers_->asked().back().caption == U("Information"));
    // Imported skins go to the user's folder; the list shows both folders.
    QVERIFY(fs::exists(*dir_ / "xdg/ondalo/Skins/in.skn"));
    QCOMPARE(o.ltbSkin->findItems("in", Qt::MatchExactly).size(), 1);

    o.chooseSaveFile = [&](const QString& title, const QString&) {
        return title == "Export Skin " ? QString::fromStdString(*dir_ / "exported") : QString();
    };
    o.ltbSkin->setCurrentRow(0);  // "None" cannot be exported
    o.btnExport->click();
    QVERIFY(!fs::exists(*dir_ / "exported.skn"));
    o.ltbSkin->setCurrentItem(o.ltbSkin->findItems("in", Qt::MatchExactly).value(0));
    o.btnExport->click();
    QVERIFY(fs::exists(*dir_ / "exported.skn"));

    answers_->Push(IDNO);
    o.btnDelSkin->click();
    QVERIFY(fs::exists(*dir_ / "xdg/ondalo/Skins/in.skn"));
    answers_->Push(IDYES);
    o.btnDelSkin->click();
    QVERIFY(answers_->asked().back().text == U("Are you sure to delete that skin?"));
    QVERIFY(!fs::exists(*dir_ / "xdg/ondalo/Skins/in.skn"));
    o.btnCancel->click();
}

void OptionsTest::soundPreview() {
    for (const char* m : {"kivplay", "kivwave"}) QCOMPARE(RegisterModule(kiv::test::ModulePath(m), false), S_OK);
    StartApplication();
    TOptionForm& o = app_->options();
    o.ShowDialog();
    // Ten seconds of sound: long enough to pause and stop.
    const std::string wav = *dir_ / "sound.wav";
    kiv::test::WriteFileBytes(wav, kiv::test::MakeWav(kiv::test::PatternBytes(44100 * 4 * 10)));
    o.chooseOpenFiles = [&](const QString&, const QString&) { return QStringList{QString::fromStdString(wav)}; };
    o.con.btnSoundCustom->click();
    QVERIFY(o.rdbConSoundCustom->isChecked());
    QCOMPARE(o.edtConSoundCustom->text(), QString::fromStdString(wav));

    o.con.btnPlay->click();
    QCOMPARE(o.mediaPlayer().mode(), MediaPlayer::Mode::Playing);
    o.con.btnPause->click();
    QCOMPARE(o.mediaPlayer().mode(), MediaPlayer::Mode::Paused);
    o.con.btnPause->click();
    QCOMPARE(o.mediaPlayer().mode(), MediaPlayer::Mode::Playing);
    o.con.btnStop->click();
    QCOMPARE(o.mediaPlayer().mode(), MediaPlayer::Mode::Stopped);
    QVERIFY(answers_->asked().empty());

    // A short file plays to its end; the player's own end stops the mode.
    kiv::test::WriteFileBytes(wav, kiv::test::MakeWav(kiv::test::PatternBytes(4410 * 4)));
    o.con.btnPlay->click();
    QTRY_COMPARE_WITH_TIMEOUT(o.mediaPlayer().mode(), MediaPlayer::Mode::Stopped, 10000);

    // Closing the dialog stops the sound.
    kiv::test::WriteFileBytes(wav, kiv::test::MakeWav(kiv::test::PatternBytes(44100 * 4 * 10)));
    o.con.btnPlay->click();
    QCOMPARE(o.mediaPlayer().mode(), MediaPlayer::Mode::Playing);
    o.btnCancel->click();
    QCOMPARE(o.mediaPlayer().mode(), MediaPlayer::Mode::Stopped);

    o.ShowDialog();
    o.rdbRipSoundCustom->setChecked(true);
    o.edtRipSoundCustom->setText(QString::fromStdString(*dir_ / "not-a-sound.wav"));
    std::ofstream(*dir_ / "not-a-sound.wav") << "hello";
    o.rip.btnPlay->click();
    QCOMPARE(o.mediaPlayer().mode(), MediaPlayer::Mode::Stopped);
    QCOMPARE(answers_->asked().size(), std::size_t(1));
    QVERIFY(answers_->asked()[0].text == U("Can not play the sound file. Please make sure the file is correct."));
    QVERIFY(answers_->asked()[0].caption == U("Information"));
    o.btnCancel->click();
}

}  // namespace kiv::gui::test

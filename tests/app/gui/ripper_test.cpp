// The ripping wizard driven through its widgets, with the real CD control
// over virtual drives and a CDDB server on 127.0.0.1.
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <filesystem>
#include <fstream>
#include <thread>

#include "app/core/rip_plan.h"
#include "app/gui/batch_page.h"
#include "app/gui/options_form.h"
#include "app/gui/output_page.h"
#include "app/gui/rip_advance_form.h"
#include "app/gui/ripper_form.h"
#include "app/gui/start_form.h"
#include "platform/com/class_registry.h"
#include "platform/system/text.h"
#include "tests/app/gui/gui_tests.h"
#include "tests/components/cdrip/accuraterip_reference.h"
#include "tests/components/cdrip/local_cddb_server.h"
#include "tests/support/local_http_server.h"

namespace kiv::gui::test {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;
constexpr std::size_t kFrame = 2352;

void RipperTest::init() {
    SetUpFolders();
    for (const char* m : {"kivcdrip", "kivwave", "kivvorbis", "kivmp3", "kivconv", "kivplay"}) {
        std::string error;
        QVERIFY2(RegisterModule(kiv::test::ModulePath(m), false, &error) == S_OK, error.c_str());
    }
    ::setenv("KIV_ASPI_LIBRARY", ONDALO_BUILD_DIR "/lib/vcdrive.so", 1);
    // No lookup ever leaves this machine: without a server of a test's own,
    // the CDDB server is one that is down.
    kiv::test::LocalCddbServer::UseDownServer();
    out_ = *dir_ / "out";
    fs::create_directories(out_);
}

void RipperTest::cleanup() {
    TearDownAll();
    ::unsetenv("KIV_ASPI_LIBRARY");
    ::unsetenv("KIV_VCD_CONFIG");
    ::unsetenv("ONDALO_CDDB_SERVER");
    ::unsetenv("ONDALO_CDDB_PORT");
    ::unsetenv("ONDALO_ACCURATERIP_URL");
}

std::vector<Bytes> RipperTest::MakeTracks(const std::vector<int>& frames, const std::string& prefix) {
    std::vector<Bytes> tracks;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        tracks.push_back(kiv::test::PatternBytes(frames[i] * kFrame, 7 + static_cast<unsigned>(i)));
        kiv::test::WriteFileBytes(*dir_ / (prefix + std::to_string(i + 1) + ".wav"), kiv::test::MakeWav(tracks.back()));
    }
    return tracks;
}

std::string RipperTest::Drive(std::size_t tracks, const std::string& extra, const std::string& prefix) {
    std::string text = "[drive]\n" + extra;
    for (std::size_t i = 0; i < tracks; ++i) text += "track = " + prefix + std::to_string(i + 1) + ".wav\n";
    return text;
}

void RipperTest::Config(const std::string& text) {
    const std::string path = *dir_ / "drives.ini";
    std::ofstream(path, std::ios::trunc) << text;
    ::setenv("KIV_VCD_CONFIG", path.c_str(), 1);
}

TRipperForm& RipperTest::OpenWizard(const std::string& optionIni) {
    if (!optionIni.empty()) WriteOptionIni(optionIni);
    StartApplication();
    app_->start().show();
    app_->start().btnRipperClick();
    return app_->ripper();
}

QStringList RipperTest::Row(QTreeWidget* list, int row) {
    QStringList texts;
    const QTreeWidgetItem* item = list->topLevelItem(row);
    for (int c = 0; item && c < list->columnCount(); ++c) texts << item->text(c);
    return texts;
}

QStringList RipperTest::LogLines(TRipperForm& w) {
    QStringList lines;
    for (const app::LogLine& line : w.page3->logLines()) lines << QString::fromStdString(line.text);
    return lines;
}

bool RipperTest::Logged(TRipperForm& w, const QString& piece) {
    for (const QString& line : LogLines(w))
        if (line.contains(piece)) return true;
    return false;
}

void RipperTest::RipChecked(TRipperForm& w, app::OutputFormat format) {
    w.btnNext1->click();
    w.page2->rdbCustom->setChecked(true);
    w.page2->edtCustom->setText(QString::fromStdString(out_.string()));
    if (format != app::OutputFormat::None) {
        w.page2->rdbNormal->setChecked(true);
        w.page2->ChooseFormat(format);
    }
    w.page2->btnNext->click();
    QCOMPARE(w.pgcRipper->currentIndex(), 2);
    w.page3->btnStart->click();
}

bool RipperTest::WaitForBatch(TRipperForm& w, int timeoutMs) {
    return QTest::qWaitFor([&] { return w.batch().Finished(); }, timeoutMs);
}

std::vector<std::string> RipperTest::VisibleFiles() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(out_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void RipperTest::trackListsOfAudioEnhancedEmptyAndDataDiscs() {
    MakeTracks({150, 75, 110});
    Config(Drive(3) + Drive(2, "session2 = 6000\n") + "[drive]\ntray = open\n[drive]\ndata = 4500\n");
    TRipperForm& w = OpenWizard("[Rip]\nAutoLoadCDDB=0\n");
    QCOMPARE(w.windowTitle(), QString("Audio CD Ripper - WIZARD"));
    QCOMPARE(w.cmbDrive->count(), 4);
    // "Automatically select the drive has CD in": the first drive with audio.
    QCOMPARE(w.driveNumber(), 1);
    QCOMPARE(w.ltvList->topLevelItemCount(), 3);
    QCOMPARE(Row(w.ltvList, 0).mid(0, 6), QStringList({"Track 01", "1", "0:0:0", "0:0:2", "0 Mb", "Ready"}));
    QCOMPARE(Row(w.ltvList, 1).mid(0, 3), QStringList({"Track 02", "2", "0:0:3"}));
    QCOMPARE(Row(w.ltvList, 2).mid(0, 3), QStringList({"Track 03", "3", "0:0:5"}));
    QVERIFY(w.ltvList->isColumnHidden(6));
    QVERIFY(w.labDisc->isHidden());
    QCOMPARE(w.ltvList->topLevelItem(0)->checkState(0), Qt::Unchecked);

    // The enhanced CD: its data track is listed, but cannot be checked.
    w.cmbDrive->setCurrentIndex(1);
    w.cmbDriveClick();
    QCOMPARE(w.ltvList->topLevelItemCount(), 3);
    QCOMPARE(w.ltvList->topLevelItem(2)->text(5), QString("Data track"));
    QVERIFY(!(w.ltvList->topLevelItem(2)->flags() & Qt::ItemIsUserCheckable));
    w.btnSelectAll->click();
    QCOMPARE(w.ltvList->topLevelItem(0)->checkState(0), Qt::Checked);
    QCOMPARE(w.ltvList->topLevelItem(1)->checkState(0), Qt::Checked);
    w.btnNext1->click();
    int checked = 0;
    for (const app::TrackListRow& row : w.tracks()) checked += row.checked;
    QCOMPARE(checked, 2);
    w.pgcRipper->setCurrentIndex(0);

    // An open tray and a data disc are said on the page, with no message box.
    w.cmbDrive->setCurrentIndex(2);
    w.cmbDriveClick();
    QCOMPARE(w.ltvList->topLevelItemCount(), 0);
    QVERIFY(!w.labDisc->isHidden());
    QCOMPARE(w.labDisc->text(), QString("There is no disc in the drive."));
    w.cmbDrive->setCurrentIndex(3);
    w.cmbDriveClick();
    QCOMPARE(w.labDisc->text(), QString("The disc in the drive holds no audio tracks."));
    QVERIFY(answers_->asked().empty());
}

void RipperTest::cddbTitlesInTheListAndInTheTags() {
    MakeTracks({60, 60, 60});
    Config(Drive(3));
    kiv::test::LocalCddbServer server(
        "DTITLE=Sigur R\xC3\xB3s / \xC3\x81g\xC3\xA6tis byrjun\r\nDYEAR=1999\r\nDGENRE=Post-rock\r\n"
        "TTITLE0=Intro\r\nTTITLE1=Svefn-g-englar\r\nTTITLE2=Star\xC3\xA1lfur\r\n");
    server.UseFromEnvironment();
    // "Auto load CDDB" is on by default: the window looks the disc up itself.
    TRipperForm& w = OpenWizard();
    QVERIFY(w.chkAutoCDDB->isChecked());
    QVERIFY(QTest::qWaitFor([&] { return w.panelText(0) == "Load CDDB data finished."; }, 20000));
    QVERIFY(w.hasCddb());
    QCOMPARE(w.ltvList->topLevelItem(2)->text(0), QString::fromUtf8("Star\xC3\xA1lfur"));
    QCOMPARE(w.edtArtist->text(), QString::fromUtf8("Sigur R\xC3\xB3s"));
    QCOMPARE(w.edtAlbumn->text(), QString::fromUtf8("\xC3\x81g\xC3\xA6tis byrjun"));
    QCOMPARE(w.edtYear->text(), QString("1999"));
    QCOMPARE(w.edtGenre->text(), QString("Post-rock"));

    w.ltvList->topLevelItem(2)->setCheckState(0, Qt::Checked);
    RipChecked(w, app::OutputFormat::Ogg);
    QVERIFY(WaitForBatch(w));
    const Bytes file = kiv::test::ReadFileBytes((out_ / "Star\xC3\xA1lfur.ogg").string());
    QVERIFY2(file.size() > 4 && std::equal(file.begin(), file.begin() + 4, "OggS"), "no Ogg file");
    const std::string text(file.begin(), file.end());
    QVERIFY(text.find("title=Star\xC3\xA1lfur") != std::string::npos);
    QVERIFY(text.find("artist=Sigur R\xC3\xB3s") != std::string::npos);
    QVERIFY(text.find("album=\xC3\x81g\xC3\xA6tis byrjun") != std::string::npos);
    // Start remembered the page (RecordSettings 0: both wizards).
    QVERIFY(ReadOptionIni().find("[RipperStep2]") != std::string::npos);
}

void RipperTest::aFailedLookupReportsPerTheOptions_data() {
    QTest::addColumn<bool>("autoLoad");
    QTest::addColumn<bool>("inform");
    QTest::addColumn<bool>("box");
    QTest::newRow("auto load, inform") << true << true << false;
    QTest::newRow("asked, inform") << false << true << true;
    QTest::newRow("asked, no inform") << false << false << false;
}

void RipperTest::aFailedLookupReportsPerTheOptions() {
    QFETCH(bool, autoLoad);
    QFETCH(bool, inform);
    QFETCH(bool, box);
    MakeTracks({40});
    Config(Drive(1));
    TRipperForm& w = OpenWizard("[Rip]\nAutoLoadCDDB=0\n");
    w.edtYear->setText("1990");
    app_->options().chkShowCDDBFailed->setChecked(inform);
    w.chkAutoCDDB->setChecked(autoLoad);
    w.btnCDDB->click();
    QCOMPARE(w.panelText(0), QString("Loading CDDB data, please wait..."));
    QVERIFY(QTest::qWaitFor([&] { return !w.lookupRunning(); }, 20000));
    QCOMPARE(w.panelText(0), QString("No record for this CD found."));
    QCOMPARE(w.edtYear->text(), QString("1990"));
    QCOMPARE(answers_->asked().size(), std::size_t(box ? 1 : 0));
    if (box) {
        QCOMPARE(answers_->asked()[0].text, std::u16string(u"No record for this CD found."));
        QCOMPARE(answers_->asked()[0].caption, std::u16string(u"Information"));
    }
}

void RipperTest::aDiscChangeWhileIdleRefreshesTheList() {
    MakeTracks({40, 40, 40});
    Config(Drive(2));
    TRipperForm& w = OpenWizard("[Rip]\nAutoLoadCDDB=0\n");
    QCOMPARE(w.ltvList->topLevelItemCount(), 2);
    // Another disc: a new configuration is a disc change in every drive,
    // which the control's poller notices within its period.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // a new modification time
    Config(Drive(3));
    QVERIFY(QTest::qWaitFor([&] { return w.ltvList->topLevelItemCount() == 3; }, 15000));
}

void RipperTest::threeTracksRipExactlyWithARetriedFrameAndSeamlesslyWithJitter() {
    const auto pcm = MakeTracks({120, 90, 150});
    // Frame 130 (track 2) fails twice before it reads. The second drive
    // holds the same disc and also lands up to 40 samples off on every read.
    Config(Drive(3, "unreadable = 130 2\n") + Drive(3, "unreadable = 130 2\njitter = 40\nseed = 3\n"));
    TRipperForm& w = OpenWizard("[Rip]\nAutoLoadCDDB=0\n");
    QVERIFY(w.chkJitter->isChecked());
    w.btnSelectAll->click();
    RipChecked(w, app::OutputFormat::Wav);
    QCOMPARE(w.page3->btnStart->isEnabled(), false);
    QVERIFY(WaitForBatch(w));
    for (std::size_t t = 0; t < 3; ++t)
        QVERIFY2(kiv::test::WavSamples((out_ / (app::UnnamedTrack(int(t) + 1) + ".wav")).string()) == pcm[t],
                 std::to_string(t + 1).c_str());
    QVERIFY(Logged(w, "Total Files: 3   Done: 3   Remaining: 0   Skip: 0   Failed: 0"));
    QCOMPARE(w.page3->statusIcon(1), app::RowIcon::Done);
    QVERIFY(w.page3->endOfTaskShown());
    QCOMPARE(w.panelText(0), QString("Task finished"));
    // Nothing is left at the end, whatever the last tick guessed (the label
    // stays empty when the batch ended within its first second).
    QCOMPARE(w.batch().core().remainingSeconds(), 0LL);
    QVERIFY(w.page3->labRemain->text().isEmpty() || w.page3->labRemain->text() == "0:0:0");

    // Nothing tells where a track begins on a jittery drive but its first
    // landing; from there on every byte must follow the disc without a gap
    // or a repeat, the retried frame included.
    w.page3->btnNewTask->click();
    QCOMPARE(w.pgcRipper->currentIndex(), 0);
    w.cmbDrive->setCurrentIndex(1);
    w.cmbDriveClick();
    w.btnSelectAll->click();
    out_ = *dir_ / "jittery";
    fs::create_directories(out_);
    RipChecked(w, app::OutputFormat::Wav);
    QVERIFY(WaitForBatch(w));
    QVERIFY(Logged(w, "Total Files: 3   Done: 3   Remaining: 0   Skip: 0   Failed: 0"));
    // The tracks join into one unbroken run of the disc, shifted as a whole
    // by the first landing. A drive that lands late on the disc's last
    // frame cannot deliver its final samples (up to the jitter), so the
    // last 40 samples of the disc are left out of the comparison.
    Bytes disc, joined;
    for (const auto& t : pcm) disc.insert(disc.end(), t.begin(), t.end());
    for (std::size_t t = 0; t < 3; ++t) {
        const Bytes out = kiv::test::WavSamples((out_ / (app::UnnamedTrack(int(t) + 1) + ".wav")).string());
        QCOMPARE(out.size(), pcm[t].size());
        joined.insert(joined.end(), out.begin(), out.end());
    }
    const long compared = long(disc.size()) - 160;
    bool found = false;
    for (long shift = -160; shift <= 160 && !found; shift += 4) {
        found = true;
        for (long i = 0; i < long(joined.size()) && found; ++i) {
            const long at = i + shift;
            if (at >= compared) break;
            found = joined[std::size_t(i)] == (at >= 0 ? disc[std::size_t(at)] : 0);
        }
    }
    QVERIFY2(found, "the three tracks are not one unbroken run of the disc");
}

void RipperTest::anUnreadableFrameFailsItsTrackAndLeavesNoFile() {
    const auto pcm = MakeTracks({60, 60, 60});
    Config(Drive(3, "unreadable = 70 always\n"));
    TRipperForm& w = OpenWizard("[Rip]\nAutoLoadCDDB=0\n");
    w.btnSelectAll->click();
    RipChecked(w, app::OutputFormat::Wav);
    QVERIFY(WaitForBatch(w));
    QCOMPARE(w.page3->statusIcon(1), app::RowIcon::Failed);
    QCOMPARE(w.page3->ltvStatus->topLevelItem(1)->text(7), QString("Failed"));
    QVERIFY(Logged(w, " Rip Failed. An error occurs - Unreadable frames in track 2"));
    QVERIFY(Logged(w, "Total Files: 3   Done: 2   Remaining: 0   Skip: 0   Failed: 1"));
    // Nothing of the failed track is left, not even a hidden temporary.
    QCOMPARE(VisibleFiles(), (std::vector<std::string>{"Track 01.wav", "Track 03.wav"}));
    QVERIFY(kiv::test::WavSamples((out_ / "Track 03.wav").string()) == pcm[2]);
}

void RipperTest::stopDuringTheSecondTrack() {
    MakeTracks({30, 600, 30});
    Config(Drive(3, "slow = 15\n"));
    TRipperForm& w = OpenWizard("[Rip]\nAutoLoadCDDB=0\n");
    w.btnSelectAll->click();
    RipChecked(w, app::OutputFormat::Wav);
    QVERIFY(QTest::qWaitFor([&] { return w.page3->statusIcon(1) == app::RowIcon::Working && w.batch().core().currentBar() > 0; },
                            20000));
    w.page3->btnStop->click();
    QVERIFY(WaitForBatch(w));
    QCOMPARE(w.page3->statusIcon(0), app::RowIcon::Done);
    QCOMPARE(w.page3->statusIcon(1), app::RowIcon::Ready);
    QCOMPARE(w.page3->ltvStatus->topLevelItem(1)->text(7), QString("Ready"));
    QCOMPARE(w.page3->statusIcon(2), app::RowIcon::Ready);
    QVERIFY(Logged(w, " Stop."));
    QVERIFY(Logged(w, "Total Files: 3   Done: 1   Remaining: 2   Skip: 0   Failed: 0"));
    QCOMPARE(VisibleFiles(), (std::vector<std::string>{"Track 01.wav"}));
}

void RipperTest::perTrackFormatsFromTheAdvancedDialog() {
    const auto pcm = MakeTracks({40, 40, 40});
    Config(Drive(3));
    TRipperForm& w = OpenWizard("[Rip]\nAutoLoadCDDB=0\n");
    w.ltvList->topLevelItem(0)->setCheckState(0, Qt::Checked);
    w.ltvList->topLevelItem(2)->setCheckState(0, Qt::Checked);
    w.btnNext1->click();
    w.page2->btnAdvance->click();
    QVERIFY(w.page2->rdbAdvance->isChecked());
    TRipAdvanceForm& d = w.advanceForm();
    QVERIFY(d.isVisible());
    QVERIFY(!w.isEnabled());
    QCOMPARE(d.windowTitle(), QString("Advance Mode -  Rip"));
    QCOMPARE(d.ltvList->topLevelItemCount(), 2);
    // Cancel copies nothing.
    d.ltvListClick(0);
    d.btnSelectClick();
    QVERIFY(d.lstSelect->isVisible());
    QCOMPARE(d.lstSelect->count(), 4);
    d.lstSelectClick("MP3");
    d.btnCancel->click();
    QVERIFY(w.isEnabled());
    QVERIFY(w.tracks()[0].advancedFormat.empty());

    // One track left without a format: Start refuses and opens the dialog.
    w.page2->btnAdvance->click();
    d.ltvListClick(0);
    d.btnSelectClick();
    d.lstSelectClick("OGG");
    d.btnOK->click();
    QCOMPARE(w.tracks()[0].advancedFormat, std::string("OGG"));
    w.page2->rdbCustom->setChecked(true);
    w.page2->edtCustom->setText(QString::fromStdString(out_.string()));
    w.page2->btnNext->click();
    w.page3->btnStart->click();
    QVERIFY(!answers_->asked().empty());
    QCOMPARE(QString::fromStdU16String(answers_->asked().back().text),
             QString(app::BatchCore::kMissingFormatMessage));
    QVERIFY(d.isVisible());
    // The dialog starts empty each time.
    QCOMPARE(d.ltvList->topLevelItem(0)->text(3), QString());
    d.ltvListClick(0);
    d.btnSelectClick();
    d.lstSelectClick("OGG");
    d.ltvListClick(1);
    d.btnSelectClick();
    d.lstSelectClick("WAV");
    d.btnOK->click();

    w.pgcRipper->setCurrentIndex(1);
    w.pgcRipper->setCurrentIndex(2);
    QCOMPARE(w.page3->ltvStatus->topLevelItem(0)->text(6), QString("OGG"));
    QCOMPARE(w.page3->ltvStatus->topLevelItem(1)->text(6), QString("WAV"));
    w.page3->btnStart->click();
    QVERIFY(WaitForBatch(w));
    QVERIFY(Logged(w, "Total Files: 2   Done: 2"));
    const Bytes ogg = kiv::test::ReadFileBytes((out_ / "Track 01.ogg").string());
    QVERIFY(ogg.size() > 4 && std::equal(ogg.begin(), ogg.begin() + 4, "OggS"));
    QVERIFY(kiv::test::WavSamples((out_ / "Track 03.wav").string()) == pcm[2]);
}

void RipperTest::theAudioCdHandlerChoosesTheDriveItNames() {
    MakeTracks({40, 40});
    Config(Drive(1) + Drive(2));
    WriteOptionIni("[Rip]\nAutoLoadCDDB=0\n");
    StartApplication();
    app_->StartWithRipper("2");
    TRipperForm& w = app_->ripper();
    QVERIFY(w.isVisible());
    QCOMPARE(w.driveNumber(), 2);
    QCOMPARE(w.ltvList->topLevelItemCount(), 2);
    w.close();
    // A device that is not there: said in the status bar; the first drive with a disc is taken.
    w.RequestDrive("cdda://sr97/");
    w.show();
    QCOMPARE(w.panelText(0), QString("There is no drive cdda://sr97/."));
    QCOMPARE(w.driveNumber(), 1);
}

void RipperTest::verifiedRipWithTheReadOffsetKeptForItsDrive() {
    const std::vector<int> frames{100, 80, 120};
    const auto pcm = MakeTracks(frames);
    // The same disc in a drive that delivers the audio 6 samples late and
    // in another drive with an offset of its own.
    Config(Drive(3, "offset = 6\n") + Drive(3, "product = Spare Drive\n"));
    std::string path;
    const std::string database = kiv::test::ReferenceDatabase(frames, pcm, &path);
    kiv::test::LocalHttpServer server([&](const kiv::test::HttpRequestSeen& r) {
        kiv::test::HttpReply reply;
        reply.status = r.target == path ? 200 : 404;
        if (r.target == path) reply.body = database;
        return reply;
    });
    ::setenv("ONDALO_ACCURATERIP_URL", server.base().c_str(), 1);
    TRipperForm& w = OpenWizard("[Rip]\nAutoLoadCDDB=0\nAccurateRip=1\nRipLog=1\n[ReadOffset]\nKIV Spare Drive=-30\n");
    QVERIFY(app_->options().chkAccurateRip->isChecked());
    QCOMPARE(w.driveNumber(), 1);
    QVERIFY(w.spnReadOffset->isEnabled());
    QCOMPARE(w.spnReadOffset->value(), 0);
    QCOMPARE(w.spnReadOffset->minimum(), -app::kMaxReadOffset);
    QCOMPARE(w.spnReadOffset->maximum(), app::kMaxReadOffset);

    // Typed in as a user does: kept for this drive once entered.
    w.spnReadOffset->setFocus();
    w.spnReadOffset->selectAll();
    QTest::keyClicks(w.spnReadOffset, "6");
    QVERIFY(ReadOptionIni().find("KIV Virtual CD=") == std::string::npos);
    QTest::keyClick(w.spnReadOffset, Qt::Key_Return);
    QCOMPARE(w.spnReadOffset->value(), 6);
    QVERIFY2(ReadOptionIni().find("KIV Virtual CD=6") != std::string::npos, ReadOptionIni().c_str());
    QCOMPARE(app::SettingsStore(OptionIni()).ReadOffsetOf("KIV Spare Drive"), -30);
    // Each drive shows its own.
    w.cmbDrive->setCurrentIndex(1);
    w.cmbDriveClick();
    QCOMPARE(w.spnReadOffset->value(), -30);
    w.cmbDrive->setCurrentIndex(0);
    w.cmbDriveClick();
    QCOMPARE(w.spnReadOffset->value(), 6);

    w.btnSelectAll->click();
    RipChecked(w, app::OutputFormat::Wav);
    QVERIFY(WaitForBatch(w));
    QCOMPARE(server.requests().size(), std::size_t(1));
    QVERIFY(Logged(w, " AccurateRip: 2 database entries for dBAR-003-"));
    // The last track's last 6 samples lie in the lead-out, which reads as
    // silence; its AccurateRip checksums leave them out.
    for (int t = 1; t <= 3; ++t) {
        const QStringList lines = LogLines(w).filter(QString(" Track %1: CRC32 ").arg(t));
        QVERIFY2(lines.size() == 1 && lines[0].endsWith(": accurately ripped (confidence 7)"),
                 qPrintable(LogLines(w).join('\n')));
    }
    QVERIFY(Logged(w, "AccurateRip: 3 of 3 tracks accurately ripped"));
    QVERIFY(kiv::test::WavSamples((out_ / "Track 02.wav").string()) == pcm[1]);
    // The rip log and the cue sheet beside the tracks, said in the log.
    std::uint32_t cddb = 0;
    kiv::test::ReferenceDatabasePath(frames, nullptr, nullptr, &cddb);
    char id[16];
    std::snprintf(id, sizeof id, "%08x", cddb);
    const std::string base = (out_ / ("Disc " + std::string(id))).string();
    QVERIFY(Logged(w, QString::fromStdString(" Wrote " + base + ".log")));
    QVERIFY(Logged(w, QString::fromStdString(" Wrote " + base + ".cue")));
    const Bytes log = kiv::test::ReadFileBytes(base + ".log");
    const std::string logText(log.begin(), log.end());
    QVERIFY2(logText.find("Read offset correction: +6 samples") != std::string::npos, logText.c_str());
    QVERIFY2(logText.find("AccurateRip: accurately ripped (confidence 7)") != std::string::npos, logText.c_str());
    QVERIFY(fs::exists(base + ".cue"));
}

void RipperTest::aSlowAccurateRipServerLeavesTheWindowUsable() {
    MakeTracks({100, 80, 120});
    Config(Drive(3));
    // A server that keeps silent for longer than any test waits.
    kiv::test::LocalHttpServer server([](const kiv::test::HttpRequestSeen&) {
        kiv::test::HttpReply reply;
        reply.status = 404;
        reply.delay = std::chrono::seconds(25);
        return reply;
    });
    ::setenv("ONDALO_ACCURATERIP_URL", server.base().c_str(), 1);
    TRipperForm& w = OpenWizard("[Rip]\nAutoLoadCDDB=0\nAccurateRip=1\n");
    w.btnSelectAll->click();
    RipChecked(w, app::OutputFormat::Wav);
    QVERIFY(QTest::qWaitFor(
        [&] { return w.panelText(0) == "Asking the AccurateRip database, please wait..."; }, 20000));
    // The window's thread goes on while the server is asked: its timers fire.
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(10);
    QVERIFY(QTest::qWaitFor([&] { return ticks >= 10; }, 3000));
    // The next track waits for the verdict of the first.
    QCOMPARE(w.page3->statusIcon(0), app::RowIcon::Done);
    QCOMPARE(w.page3->statusIcon(1), app::RowIcon::Ready);
    QVERIFY(!w.batch().Finished());

    QElapsedTimer sinceStop;
    sinceStop.start();
    w.page3->btnStop->click();
    QVERIFY(WaitForBatch(w, 10000));
    QVERIFY(sinceStop.elapsed() < 10000);
    QVERIFY2(Logged(w, "could not be fetched: cancelled"), qPrintable(LogLines(w).join('\n')));
    QVERIFY(Logged(w, " Track 1: CRC32 "));
    QVERIFY(Logged(w, "Total Files: 3   Done: 1   Remaining: 2   Skip: 0   Failed: 0"));
    QCOMPARE(VisibleFiles(), (std::vector<std::string>{"Track 01.wav"}));
}

// Closing the wizard during a rip hides it, as the conversion wizard does:
// the batch goes on to its end, nothing is asked.
void RipperTest::closingDuringARipHidesTheWindowAndTheRipGoesOn() {
    MakeTracks({30, 200, 30});
    Config(Drive(3, "slow = 2\n"));
    TRipperForm& w = OpenWizard("[Rip]\nAutoLoadCDDB=0\n");
    w.btnSelectAll->click();
    RipChecked(w, app::OutputFormat::Wav);
    QVERIFY(QTest::qWaitFor([&] { return w.page3->statusIcon(1) == app::RowIcon::Working; }, 20000));
    QVERIFY(w.close());
    QVERIFY(!w.isVisible());
    QVERIFY(answers_->asked().empty());
    QCOMPARE(w.batch().state(), app::BatchState::Running);
    QVERIFY(WaitForBatch(w));
    QVERIFY(Logged(w, "Total Files: 3   Done: 3   Remaining: 0   Skip: 0   Failed: 0"));
    QCOMPARE(VisibleFiles(), (std::vector<std::string>{"Track 01.wav", "Track 02.wav", "Track 03.wav"}));
}

}  // namespace kiv::gui::test

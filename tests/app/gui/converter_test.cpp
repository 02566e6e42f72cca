#include <QAction>
#include <QCheckBox>
#include <QDropEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPrinter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/core/batch_core.h"
#include "app/gui/batch_page.h"
#include "app/gui/convert_advance_form.h"
#include "app/gui/converter_form.h"
#include "app/gui/options_form.h"
#include "app/gui/output_page.h"
#include "app/gui/query_form.h"
#include "app/gui/start_form.h"
#include "platform/com/class_registry.h"
#include "platform/system/text.h"
#include "tests/app/gui/gui_tests.h"

namespace kiv::gui::test {

namespace fs = std::filesystem;
using kiv::app::LogColour;
using kiv::app::RowIcon;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// A WAV file of `seconds` of distinct samples.
void MakeWav(const std::string& path, double seconds, unsigned seed = 1) {
    fs::create_directories(fs::path(path).parent_path());
    kiv::test::WriteFileBytes(
        path, kiv::test::MakeWav(kiv::test::PatternBytes(std::size_t(seconds * 44100) * 4, seed)));
}

// A file made by a reference tool from a WAV file (lame, oggenc, ...).
bool MakeWithTool(const std::string& command) { return kiv::test::RunCommand(command + " >/dev/null 2>&1").status == 0; }

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The text and colour of each line of the log box.
std::vector<std::pair<QString, QColor>> LogBox(const QTextEdit* box) {
    std::vector<std::pair<QString, QColor>> lines;
    for (QTextBlock b = box->document()->begin(); b.isValid(); b = b.next()) {
        // An empty line has no text to colour: its block keeps the colour.
        QColor colour = b.charFormat().foreground().color();
        for (auto it = b.begin(); !it.atEnd(); ++it) colour = it.fragment().charFormat().foreground().color();
        lines.push_back({b.text(), colour});
    }
    return lines;
}

QColor Colour(LogColour c) {
    const kiv::app::Rgb rgb = kiv::app::ColourOf(c);
    return QColor(rgb.r, rgb.g, rgb.b);
}

bool LogHas(const QTextEdit* box, const QString& endsWith, LogColour colour) {
    for (const auto& [text, c] : LogBox(box))
        if (text.endsWith(endsWith) && c == Colour(colour)) return true;
    return false;
}

QStringList Column(const QTreeWidget* list, int column) {
    QStringList texts;
    for (int i = 0; i < list->topLevelItemCount(); ++i) texts << list->topLevelItem(i)->text(column);
    return texts;
}

QStringList TaskPaths(TConverterForm& c) {
    QStringList paths;
    for (const auto& row : c.tasks().rows()) paths << Q(row.Path());
    return paths;
}

}  // namespace

void ConverterTest::init() {
    SetUpFolders();
    for (const char* m : {"kivwave", "kivconv", "kivmp3", "kivvorbis", "kivplay"})
        QCOMPARE(RegisterModule(kiv::test::ModulePath(m), false), S_OK);
    fs::create_directories(*dir_ / "in");
    fs::create_directories(*dir_ / "out");
}

TConverterForm& ConverterTest::OpenWizard(const std::string& optionIni) {
    if (!optionIni.empty()) WriteOptionIni(optionIni);
    StartApplication();
    app_->context().openFolder = [this](const QString& folder) { opened_ << folder; };
    app_->context().powerOff = [this] { ++powerOffs_; };
    opened_.clear();
    powerOffs_ = 0;
    app_->start().btnConverterClick();
    return app_->converter();
}

std::string ConverterTest::In(const std::string& name) const { return *dir_ / ("in/" + name); }
std::string ConverterTest::Out(const std::string& name) const { return *dir_ / ("out/" + name); }

void ConverterTest::UseCustomFolder(TConverterForm& c, const std::string& folder) {
    c.output->rdbCustom->setChecked(true);
    c.output->edtCustom->setText(Q(folder));
}

void ConverterTest::Plan(TConverterForm& c, std::initializer_list<const char*> files, QRadioButton* format) {
    for (const char* f : files) QVERIFY2(c.AddFile(Q(In(f))), f);
    UseCustomFolder(c, *dir_ / "out");
    format->click();
}

bool ConverterTest::RunBatch(TConverterForm& c) {
    if (!c.ClickPageTab(2)) return false;
    c.page3->btnStart->click();
    return QTest::qWaitFor([&] { return c.batch().Finished(); }, 60000);
}

void ConverterTest::windowFrame() {
    TConverterForm& c = OpenWizard();
    QCOMPARE(c.objectName(), QString("TConverterForm"));
    QCOMPARE(c.windowTitle(), QString("Audio Converter - WIZARD"));
    QVERIFY(c.isVisible());
    QVERIFY(!app_->start().isVisible());
    QCOMPARE(c.pgcConverter->count(), 3);
    QCOMPARE(c.pgcConverter->tabText(0), QString("Step1. Add input files "));
    QCOMPARE(c.pgcConverter->tabText(1), QString("Step2. Select output setting"));
    QCOMPARE(c.pgcConverter->tabText(2), QString("Step3. Start converting"));
    QStringList menus;
    for (QAction* a : c.menuBar->actions()) menus << a->text();
    QCOMPARE(menus, (QStringList{"Task", "Files", "Help"}));
    auto texts = [](QWidget* w) {
        QStringList t;
        for (QAction* a : w->actions())
            if (!a->isSeparator()) t << a->text();
        return t;
    };
    QCOMPARE(texts(c.mnuTask), (QStringList{"New Task", "Open Task", "Save Task", "Close"}));
    QCOMPARE(texts(c.mnuFiles), (QStringList{"Add Files", "Add Folders", "Remove", "Clear"}));
    QCOMPARE(texts(c.mnuHelp), (QStringList{"Contents", "Contact us", "Visit our website", "About"}));
    QCOMPARE(texts(c.tbrPage1), (QStringList{"Add Files", "Add Folders", "Remove", "Clear", "Options", "Help [F1]", "About"}));
    QCOMPARE(texts(c.popList), (QStringList{"&Remove", "&Clear", "&Play", "P&ause / Resume", "Stop"}));
    const int widths[] = {280, 50, 120, 100, 100, 100, 100};
    for (int i = 0; i < 7; ++i) QCOMPARE(c.panels[std::size_t(i)]->width(), widths[i]);
    QCOMPARE(c.panel(2), QString("Total Files: 0"));
    QStringList columns;
    for (int i = 0; i < c.ltvList->model()->columnCount(); ++i)
        columns << c.ltvList->model()->headerData(i, Qt::Horizontal).toString();
    QCOMPARE(columns, (QStringList{"File Name", "Path", "Size", "Format"}));
    QCOMPARE(c.output->edtDefault->text(), Q(*dir_ / "cfg/"));  // the writable application directory

    // Closing writes the explorer's folder and brings the start window back.
    c.SelectFolder(Q(*dir_ / "in"));
    c.close();
    QVERIFY(app_->start().isVisible());
    QVERIFY(ReadOptionIni().find("InitialDir=" + (*dir_ / "in")) != std::string::npos);
}

void ConverterTest::addFilesAndFolders() {
    MakeWav(In("b.wav"), 0.1);
    MakeWav(In("a.wav"), 0.1);
    MakeWav(In("tree/x.wav"), 0.1);
    MakeWav(In("tree/sub/y.wav"), 0.1);
    TConverterForm& c = OpenWizard();
    c.chooseOpenFiles = [&](const QString&, const QString& filter) {
        // The dialog offers the supported files first.
        return filter.startsWith("All support files (*.wav *.wave *.mp3 *.wma *.ogg *.oga *.flac *.opus)")
                   ? QStringList{Q(In("b.wav")), Q(In("a.wav")), Q(In("b.wav"))}
                   : QStringList{};
    };
    c.actAddFiles->trigger();
    QCOMPARE(TaskPaths(c), (QStringList{Q(In("b.wav")), Q(In("a.wav")), Q(In("b.wav"))}));
    QCOMPARE(c.panel(2), QString("Total Files: 3"));
    QCOMPARE(c.ltvList->model()->rowCount(), 3);
    QCOMPARE(c.ltvList->model()->index(1, 2).data().toString(), QString("17KB"));
    QCOMPARE(c.ltvList->model()->index(1, 3).data().toString(), QString("WAV"));

    // A folder with sub-folders: the query dialog asks; Yes searches them too.
    c.chooseFolder = [&](const QString& title) { return title == "Please select a folder." ? Q(In("tree")) : QString(); };
    QTimer::singleShot(0, [&] {
        QCOMPARE(app_->query().labContent->text(), QString("Do you want to add all files in sub-folders?"));
        app_->query().btnYes->click();
    });
    c.actAddFolders->trigger();
    QCOMPARE(c.tasks().size(), std::size_t(5));
    QVERIFY(TaskPaths(c).contains(Q(In("tree/sub/y.wav"))));
    // Remove the selected rows.
    c.ltvList->selectionModel()->select(c.ltvList->model()->index(0, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    c.ltvList->selectionModel()->select(c.ltvList->model()->index(2, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    c.actRemove->trigger();
    QCOMPARE(c.tasks().size(), std::size_t(3));
    QCOMPARE(TaskPaths(c).first(), Q(In("a.wav")));

    // "Clear" asks first; No keeps the list.
    answers_->Push(IDNO);
    c.actClear->trigger();
    QCOMPARE(c.tasks().size(), std::size_t(3));
    QCOMPARE(answers_->asked().back().text, FromUtf8("Are you sure to clear Task List?"));
    answers_->Push(IDYES);
    c.actClear->trigger();
    QCOMPARE(c.tasks().size(), std::size_t(0));
    QCOMPARE(c.panel(2), QString("Total Files: 0"));
}

// A file manager's "Open with" passes files and folders on the command line.
void ConverterTest::filesGivenToTheProgramFillTheList() {
    MakeWav(In("one.wav"), 0.1);
    MakeWav(In("tree/two.wav"), 0.1);
    MakeWav(In("tree/sub/three.wav"), 0.1);
    WriteOptionIni("[Advanced]\nShowQuery=0\nAlwaysYes=1\n");
    StartApplication();
    app_->StartWithFiles({Q(In("one.wav")), Q(In("tree")), Q(In("missing.wav"))});
    QVERIFY(app_->converter().isVisible());
    QVERIFY(!app_->start().isVisible());
    const QStringList paths = TaskPaths(app_->converter());
    QCOMPARE(paths.size(), 3);
    QCOMPARE(paths.first(), Q(In("one.wav")));
    QVERIFY(paths.contains(Q(In("tree/sub/three.wav"))));
}

void ConverterTest::folderOptionsDecideWithoutAsking() {
    MakeWav(In("tree/x.wav"), 0.1);
    MakeWav(In("tree/sub/y.wav"), 0.1);
    TConverterForm& c = OpenWizard("[Advanced]\nShowQuery=0\nAlwaysYes=1\n");
    c.AddFolder(Q(In("tree")));
    QCOMPARE(c.tasks().size(), std::size_t(2));
    WriteOptionIni("[Advanced]\nShowQuery=0\nAlwaysYes=0\n");
    c.AddFolder(Q(In("tree")));
    QCOMPARE(c.tasks().size(), std::size_t(3));  // only the folder's own file
    QVERIFY(!app_->query().isVisible());
    // An empty folder text is refused with its message.
    c.AddFolder(QString());
    QCOMPARE(answers_->asked().back().text, FromUtf8("This is not an available folder or drive."));
}

void ConverterTest::cancellingASearchKeepsTheRows() {
    MakeWav(In("before.wav"), 0.1);
    for (int d = 0; d < 6; ++d)
        for (int f = 0; f < 3; ++f) MakeWav(In("tree/d" + std::to_string(d) + "/f" + std::to_string(f) + ".wav"), 0.01);
    TConverterForm& c = OpenWizard("[Advanced]\nShowQuery=0\nAlwaysYes=1\n");
    QVERIFY(c.AddFile(Q(In("before.wav"))));
    bool panelShown = false, pagesDisabled = false, menusDisabled = false;
    // Pressed while the search runs: the window answers between folders.
    QTimer::singleShot(0, [&] {
        panelShown = c.pnlSearching->isVisible();
        pagesDisabled = !c.pgcConverter->isEnabled();
        menusDisabled = !c.mnuTask->menuAction()->isEnabled() && !c.mnuHelp->menuAction()->isEnabled();
        c.btnSearchingCancel->click();
    });
    c.AddFolder(Q(In("tree")));
    QVERIFY(panelShown);
    QVERIFY(pagesDisabled);
    QVERIFY(menusDisabled);
    QVERIFY(!c.searching());
    QVERIFY(!c.pnlSearching->isVisible());
    QVERIFY(c.pgcConverter->isEnabled());
    QVERIFY(c.mnuTask->menuAction()->isEnabled());
    QVERIFY(c.tasks().size() >= 1 && c.tasks().size() < 19);
    QCOMPARE(TaskPaths(c).first(), Q(In("before.wav")));
    QCOMPARE(c.panel(2), QString("Total Files: %1").arg(c.tasks().size()));
}

void ConverterTest::dropsFromOtherProgramsAndTheExplorer() {
    MakeWav(In("one.wav"), 0.1);
    MakeWav(In("flat/two.wav"), 0.1);
    MakeWav(In("flat/notes.txt"), 0.01);
    TConverterForm& c = OpenWizard();
    QWidget* viewport = c.ltvList->viewport();
    auto drop = [&](QMimeData& data) {
        const QPoint at(10, 10);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &enter);
        if (!enter.isAccepted()) return false;
        QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &dropped);
        QApplication::processEvents();
        return dropped.isAccepted();
    };
    QMimeData uris;
    uris.setUrls({QUrl::fromLocalFile(Q(In("one.wav"))), QUrl::fromLocalFile(Q(In("flat"))),
                  QUrl("https://example.invalid/x.mp3")});
    QVERIFY(drop(uris));
    QTRY_COMPARE(c.tasks().size(), std::size_t(2));
    QCOMPARE(TaskPaths(c), (QStringList{Q(In("one.wav")), Q(In("flat/two.wav"))}));

    // Plain text (a path typed somewhere) is not a drop the list takes.
    QMimeData text;
    text.setText(Q(In("one.wav")));
    QVERIFY(!drop(text));
    QMimeData remote;
    remote.setUrls({QUrl("https://example.invalid/x.mp3")});
    QVERIFY(!drop(remote));
    QCOMPARE(c.tasks().size(), std::size_t(2));

    // The explorer's folder tree drops its selected folder.
    c.SelectFolder(Q(In("flat")));
    QVERIFY(c.CanDrop(c.DirList, nullptr));
    c.DropOnList(c.DirList, nullptr);
    QCOMPARE(c.tasks().size(), std::size_t(3));

    // The "Drives" level lists the root and the home folder by their paths.
    c.ShowDrives();
    QVERIFY(c.showingDrives());
    QStringList drives;
    for (int i = 0; i < c.FileList->model()->rowCount(); ++i)
        drives << c.FileList->model()->index(i, 0).data().toString();
    QVERIFY2(drives.contains("File System (/)"), qPrintable(drives.join(", ")));
    QVERIFY2(drives.contains("Home (" + QDir::homePath() + ")"), qPrintable(drives.join(", ")));
}

void ConverterTest::page2RulesAndStatusList() {
    MakeWav(In("Song.wav"), 0.1);
    TConverterForm& c = OpenWizard();
    OutputPage& p = *c.output;
    QVERIFY(p.rdbMp3->isChecked() && p.rdbCBR->isChecked() && p.rdbQuery->isChecked() && p.rdbDefault->isChecked());
    p.rdbVBR->setChecked(true);
    p.rdbWav->click();
    QVERIFY(!p.rdbCBR->isChecked() && !p.rdbABR->isChecked() && !p.rdbVBR->isChecked());
    QVERIFY(!p.rdbCBR->isEnabled() && !p.sldABR->isEnabled() && !p.edtVBR->isEnabled());
    p.rdbOgg->click();
    QVERIFY(p.rdbABR->isChecked() && !p.rdbCBR->isEnabled() && p.rdbVBR->isEnabled());
    p.rdbVBR->setChecked(true);
    p.rdbWma->click();
    QVERIFY(p.rdbVBR->isChecked() && p.rdbCBR->isEnabled() && !p.rdbABR->isEnabled());
    p.rdbOgg->click();
    QVERIFY(p.rdbVBR->isChecked());
    // FLAC keeps only its level (the VBR percent); Opus offers every mode.
    p.rdbMp3->click();
    p.rdbCBR->setChecked(true);
    p.rdbFlac->click();
    QVERIFY(p.rdbVBR->isChecked() && !p.rdbCBR->isEnabled() && !p.rdbABR->isEnabled());
    QCOMPARE(p.settings().format, app::OutputFormat::Flac);
    p.rdbOpus->click();
    QVERIFY(p.rdbVBR->isChecked() && p.rdbCBR->isEnabled() && p.rdbABR->isEnabled());
    QCOMPARE(p.settings().format, app::OutputFormat::Opus);
    // Typing a value selects its mode and moves the thumb; bounded edits clamp.
    p.rdbMp3->click();
    p.edtCBR->setValue(128);
    QVERIFY(p.rdbCBR->isChecked());
    QCOMPARE(p.sldCBR->value(), 177);
    p.edtCBR->setValue(999);
    QCOMPARE(p.edtCBR->value(), 320);
    // Moving a thumb selects its mode and writes the value it stands for.
    p.sldVBR->triggerAction(QAbstractSlider::SliderToMinimum);
    QVERIFY(p.rdbVBR->isChecked());
    QCOMPARE(p.edtVBR->value(), 0);
    p.sldABR->triggerAction(QAbstractSlider::SliderToMaximum);
    QVERIFY(p.rdbABR->isChecked());
    QCOMPARE(p.edtABR->value(), 320);

    // Leaving page 2 for a custom folder that is not there is refused.
    QVERIFY(c.ClickPageTab(1));
    UseCustomFolder(c, *dir_ / "nowhere");
    QVERIFY(!c.ClickPageTab(2));
    QCOMPARE(answers_->asked().back().text,
             FromUtf8("Path " + (*dir_ / "nowhere") + " is not existent. Please check it out."));
    p.btnNext->click();
    QCOMPARE(c.pgcConverter->currentIndex(), 1);

    // The status list of page 3.
    c.AddFile(Q(In("Song.wav")));
    UseCustomFolder(c, *dir_ / "out");
    p.rdbOgg->click();
    p.btnNext->click();
    QCOMPARE(c.pgcConverter->currentIndex(), 2);
    QTreeWidget* s = c.page3->ltvStatus;
    QCOMPARE(s->columnCount(), 9);
    QCOMPARE(s->headerItem()->text(4), QString("Destination File"));
    QCOMPARE(s->topLevelItemCount(), 1);
    QStringList row;
    for (int i = 0; i < 9; ++i) row << s->topLevelItem(0)->text(i);
    QCOMPARE(row, (QStringList{"Song.wav", Q(*dir_ / "in"), "17KB", "WAV", "Song.ogg", Q(*dir_ / "out/"), "Unknown",
                               "OGG", "Ready"}));
    QCOMPARE(c.page3->statusIcon(0), RowIcon::Ready);
    QCOMPARE(c.page3->labTotal->text(), QString("17KB"));
    QCOMPARE(LogBox(c.page3->rchLog).front().first, QString(">>> Ondalo Version 3.0"));
    QCOMPARE(LogBox(c.page3->rchLog).front().second, Colour(LogColour::Navy));

    // Advanced mode with a file left without a format: Start is refused and
    // opens the dialog; the chooser offers the formats other than the source's.
    QVERIFY(c.ClickPageTab(1));
    p.rdbAdvance->setChecked(true);
    QVERIFY(c.ClickPageTab(2));
    c.page3->btnStart->click();
    QCOMPARE(answers_->asked().back().text, FromUtf8(kiv::app::BatchCore::kMissingFormatMessage));
    TConvertAdvanceForm* a = c.advanceForm();
    QVERIFY(a && a->isVisible());
    QVERIFY(!c.isEnabled());
    QCOMPARE(a->windowTitle(), QString("Advance Mode - Convertion"));
    a->ltvList->setCurrentItem(a->ltvList->topLevelItem(0));
    a->ltvListClick();
    QCOMPARE(a->selectRow(), 0);
    a->btnSelectClick();
    QStringList offered;
    for (int i = 0; i < a->lstSelect->count(); ++i) offered << a->lstSelect->item(i)->text();
    QCOMPARE(offered, (QStringList{"MP3", "WMA", "OGG", "FLAC", "OPUS"}));
    a->lstSelectClick("MP3");
    a->btnOK->click();
    QVERIFY(c.isEnabled());
    QCOMPARE(c.tasks().rows()[0].destinationFormat, std::string("MP3"));
    QVERIFY(c.page3->btnStart->isEnabled());
}

void ConverterTest::batchOfThreeFormats() {
    MakeWav(In("a.wav"), 1.0, 1);
    MakeWav(*dir_ / "tmp/b.wav", 1.0, 2);
    MakeWav(*dir_ / "tmp/c.wav", 1.0, 3);
    if (!MakeWithTool("lame --quiet -b 128 '" + (*dir_ / "tmp/b.wav") + "' '" + In("b.mp3") + "'") ||
        !MakeWithTool("oggenc -Q -o '" + In("c.ogg") + "' '" + (*dir_ / "tmp/c.wav") + "'"))
        QSKIP("lame and oggenc make the fixtures");
    TConverterForm& c = OpenWizard("[Conversion]\nPlaySound=0\n");
    for (const char* f : {"a.wav", "b.mp3", "c.ogg"}) QVERIFY(c.AddFile(Q(In(f))));
    UseCustomFolder(c, *dir_ / "out");
    c.output->rdbMp3->click();
    QVERIFY(RunBatch(c));

    QCOMPARE(c.page3->statusIcon(0), RowIcon::Done);
    QCOMPARE(c.page3->statusIcon(1), RowIcon::Skipped);
    QCOMPARE(c.page3->statusIcon(2), RowIcon::Done);
    QCOMPARE(Column(c.page3->ltvStatus, 8), (QStringList{"Done", "Skip", "Done"}));
    QVERIFY(fs::exists(Out("a.mp3")) && fs::exists(Out("c.mp3")) && !fs::exists(Out("b.mp3")));
    QVERIFY(Column(c.page3->ltvStatus, 6).at(0).endsWith("KB"));
    const QTextEdit* log = c.page3->rchLog;
    QVERIFY(LogHas(log, " Start converting " + Q(In("a.wav")) + " -> " + Q(Out("a.mp3")), LogColour::Blue));
    QVERIFY(LogHas(log, " Skip " + Q(In("b.mp3")), LogColour::Orange));
    QVERIFY(LogHas(log, " Done.", LogColour::Green));
    QVERIFY(LogHas(log, " Task finished.", LogColour::Green));
    const auto lines = LogBox(log);
    QCOMPARE(lines.back().first, QString("Total Files: 3   Done: 2   Remaining: 0   Skip: 1   Failed: 0"));
    QCOMPARE(lines.back().second, Colour(LogColour::Navy));
    QCOMPARE(lines[lines.size() - 2].first, QString("Summary"));
    QCOMPARE(lines[lines.size() - 3].second, Colour(LogColour::White));
    // Every timed line carries ">>> " and the time.
    QVERIFY(lines[3].first.contains(QRegularExpression("^>>> \\S+ Start converting ")));
    QCOMPARE(c.panel(0), QString("Task finished"));
    QCOMPARE(c.panel(2), QString("Total: 3"));
    QCOMPARE(c.panel(3), QString("Done:2"));
    QCOMPARE(c.panel(4), QString("Remaining:0"));
    QCOMPARE(c.panel(5), QString("Skip:1"));
    QCOMPARE(c.panel(6), QString("Failed:0"));
    QCOMPARE(c.page3->pbTotal->value(), 100);
    QCOMPARE(c.page3->labTotalPercent->text(), QString("100%"));
    // After the batch: the end-of-task buttons, and the tabs refuse to move.
    QVERIFY(c.page3->btnNewTask->isVisible() && c.page3->btnClose->isVisible() && c.page3->btnOpenFolder->isVisible());
    QVERIFY(!c.page3->btnStart->isVisible() && !c.page3->btnPause->isVisible());
    QTabBar* tabs = c.pgcConverter->tabBar();
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(0).center());
    QCOMPARE(c.pgcConverter->currentIndex(), 2);
    QCOMPARE(answers_->asked().back().text,
             FromUtf8("Current task is finished.\n\rClick \"New Task\" to create a new task.\n\rClick \"Done && Close\" to close."));
    c.page3->btnOpenFolder->click();
    QCOMPARE(opened_, (QStringList{Q(*dir_ / "out/")}));
    c.page3->btnNewTask->click();
    QCOMPARE(c.pgcConverter->currentIndex(), 0);
    QCOMPARE(c.tasks().size(), std::size_t(0));
    QVERIFY(c.page3->btnStart->isEnabled() && !c.page3->btnPause->isEnabled());
}

void ConverterTest::pauseAndStopBetweenFiles() {
    MakeWav(In("first.wav"), 60.0, 1);
    MakeWav(In("second.wav"), 1.0, 2);
    TConverterForm& c = OpenWizard("[Conversion]\nPlaySound=0\n[Advanced]\nFilesAtOnce=1\n");
    Plan(c, {"first.wav", "second.wav"}, c.output->rdbOgg);
    QVERIFY(c.ClickPageTab(2));
    c.page3->btnStart->click();
    QVERIFY(!c.page3->btnStart->isEnabled() && c.page3->btnPause->isEnabled() && c.page3->btnStop->isEnabled());
    // The file in work shows its own percent in the status list.
    QTRY_VERIFY_WITH_TIMEOUT(QRegularExpression("^Converting \\d+%$").match(Column(c.page3->ltvStatus, 8).at(0)).hasMatch(),
                             30000);
    c.page3->btnPause->click();
    QCOMPARE(c.page3->btnPause->text(), QString("R&esume"));
    QVERIFY(LogHas(c.page3->rchLog, " Finishing current converting before pasue. Please wait...", LogColour::Green));
    QTRY_VERIFY_WITH_TIMEOUT(LogHas(c.page3->rchLog, " Paused.", LogColour::Blue), 60000);
    QCOMPARE(c.page3->statusIcon(0), RowIcon::Done);
    QTest::qWait(300);
    QCOMPARE(c.page3->statusIcon(1), RowIcon::Ready);
    QCOMPARE(c.panel(0), QString("Paused"));
    // Stop while paused ends the batch with the second file still ready.
    c.page3->btnStop->click();
    QTRY_VERIFY(c.batch().Finished());
    QCOMPARE(Column(c.page3->ltvStatus, 8), (QStringList{"Done", "Ready"}));
    QCOMPARE(LogBox(c.page3->rchLog).back().first,
             QString("Total Files: 2   Done: 1   Remaining: 1   Skip: 0   Failed: 0"));
    QVERIFY(!fs::exists(Out("second.ogg")));
}

void ConverterTest::stopDuringAFileAndStartAgain() {
    MakeWav(In("long.wav"), 20.0, 1);
    MakeWav(In("next.wav"), 1.0, 2);
    TConverterForm& c = OpenWizard("[Conversion]\nPlaySound=0\n[Advanced]\nFilesAtOnce=1\n");
    Plan(c, {"long.wav", "next.wav"}, c.output->rdbOgg);
    QVERIFY(c.ClickPageTab(2));
    c.page3->btnStart->click();
    c.page3->btnStop->click();
    // The summary comes at once; the file in work is finished afterwards.
    QVERIFY(LogHas(c.page3->rchLog, "Total Files: 2   Done: 0   Remaining: 2   Skip: 0   Failed: 0", LogColour::Navy));
    QVERIFY(c.page3->endOfTaskShown());
    QTRY_VERIFY_WITH_TIMEOUT(c.batch().Finished(), 60000);
    QVERIFY(LogBox(c.page3->rchLog).back().first.endsWith(" Done."));
    QCOMPARE(c.page3->statusIcon(0), RowIcon::Done);
    QVERIFY(fs::exists(Out("long.ogg")));

    // Again, and this time a new task starts while the stopped file is
    // still being finished: the old file ends on its own and touches
    // nothing of the new batch.
    fs::remove(Out("long.ogg"));
    c.page3->btnNewTask->click();
    c.AddFile(Q(In("long.wav")));
    QVERIFY(c.ClickPageTab(2));
    c.page3->btnStart->click();
    c.page3->btnStop->click();
    QVERIFY(!c.batch().Finished());
    c.page3->btnNewTask->click();
    c.AddFile(Q(In("next.wav")));
    QVERIFY(RunBatch(c));
    QTRY_VERIFY_WITH_TIMEOUT(fs::exists(Out("long.ogg")), 60000);
    QTest::qWait(300);
    QCOMPARE(Column(c.page3->ltvStatus, 0), (QStringList{"next.wav"}));
    QCOMPARE(Column(c.page3->ltvStatus, 8), (QStringList{"Done"}));
    QVERIFY(!c.page3->rchLog->toPlainText().contains("long.wav"));
    QCOMPARE(LogBox(c.page3->rchLog).back().first,
             QString("Total Files: 1   Done: 1   Remaining: 0   Skip: 0   Failed: 0"));
    QCOMPARE(c.panel(3), QString("Done:1"));
}

void ConverterTest::aFailingFileInTheMiddle() {
    MakeWav(In("a.wav"), 0.5, 1);
    kiv::test::WriteFileBytes(In("b.wav"), {'R', 'I', 'F', 'F', 'x', 'y'});
    MakeWav(In("c.wav"), 0.5, 3);
    TConverterForm& c = OpenWizard("[Conversion]\nPlaySound=0\nDeleteSourceFile=1\n");
    Plan(c, {"a.wav", "b.wav", "c.wav"}, c.output->rdbOgg);
    QVERIFY(RunBatch(c));
    QCOMPARE(Column(c.page3->ltvStatus, 8), (QStringList{"Done", "Failed", "Done"}));
    QCOMPARE(c.page3->statusIcon(1), RowIcon::Failed);
    QCOMPARE(Column(c.page3->ltvStatus, 6).at(1), QString("-"));
    QVERIFY(LogHas(c.page3->rchLog, " Converting Failed. An error occurs - Cannot find appropriate decoder.",
                   LogColour::Red));
    QCOMPARE(LogBox(c.page3->rchLog).back().first,
             QString("Total Files: 3   Done: 2   Remaining: 0   Skip: 0   Failed: 1"));
    QCOMPARE(c.panel(6), QString("Failed:1"));
    QVERIFY(fs::exists(In("b.wav")));
    QVERIFY(!fs::exists(In("a.wav")) && !fs::exists(In("c.wav")));
    QVERIFY(!fs::exists(Out("b.ogg")));
}

void ConverterTest::logSavedAsRtfAndPrinted() {
    if (kiv::test::RunCommand("command -v unrtf >/dev/null && command -v pdftotext >/dev/null").status != 0)
        QSKIP("unrtf and pdftotext read the log back (scripts/setup.sh installs them)");
    MakeWav(In("a.wav"), 0.2, 1);
    kiv::test::WriteFileBytes(In("b.wav"), {'R', 'I', 'F', 'F'});
    TConverterForm& c = OpenWizard("[Conversion]\nPlaySound=0\n");
    Plan(c, {"a.wav", "b.wav"}, c.output->rdbOgg);
    QVERIFY(RunBatch(c));

    const std::string rtf = *dir_ / "log";
    c.page3->chooseSaveFile = [&](const QString&, const QString& filter) {
        return filter.startsWith("Conversion Log (*.rtf)") ? Q(rtf) : QString();
    };
    c.page3->btnSave->click();
    QVERIFY(fs::exists(rtf + ".rtf"));  // the default extension
    // unrtf's HTML keeps the colours: each line's text in its own.
    const auto html = kiv::test::RunCommand("unrtf --html '" + rtf + ".rtf' 2>/dev/null");
    QCOMPARE(html.status, 0);
    auto coloured = [&](const QString& text, const char* hex) {
        const QString h = QString::fromStdString(html.output);
        const int at = h.indexOf(text.toHtmlEscaped());
        const int font = h.lastIndexOf("<font color=", at);
        return at >= 0 && font >= 0 && h.mid(font, 24).contains(hex, Qt::CaseInsensitive);
    };
    QVERIFY2(coloured("Converting Failed. An error occurs", "#ff0000"), html.output.c_str());
    QVERIFY2(coloured("Task finished.", "#008000"), html.output.c_str());
    QVERIFY2(coloured("Total Files: 2", "#000080"), html.output.c_str());  // unrtf folds the spaces
    QVERIFY2(coloured("Start converting " + Q(In("a.wav")), "#0000ff"), html.output.c_str());

    const std::string pdf = *dir_ / "log.pdf";
    c.page3->confirmPrint = [&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(Q(pdf));
        return true;
    };
    c.page3->btnPrint->click();
    const auto text = kiv::test::RunCommand("pdftotext -layout '" + pdf + "' - 2>/dev/null");
    QCOMPARE(text.status, 0);
    QVERIFY2(text.output.find("Ondalo Version 3.0") != std::string::npos, text.output.c_str());
    QVERIFY2(text.output.find("Total Files: 2") != std::string::npos, text.output.c_str());
    // Refused dialogs print nothing.
    fs::remove(pdf);
    c.page3->confirmPrint = [](QPrinter&) { return false; };
    c.page3->btnPrint->click();
    QVERIFY(!fs::exists(pdf));

    c.page3->btnClear->click();
    QVERIFY(c.page3->rchLog->toPlainText().isEmpty());
    QVERIFY(c.page3->logLines().empty());
}

void ConverterTest::taskFileRoundTrip() {
    for (const char* f : {"b.wav", "a.wav", "c.wav"}) MakeWav(In(f), 0.1);
    TConverterForm& c = OpenWizard();
    for (const char* f : {"b.wav", "a.wav", "c.wav"}) c.AddFile(Q(In(f)));
    const std::string task = *dir_ / "list";
    c.chooseSaveFile = [&](const QString&, const QString& filter) {
        return filter == "Ondalo Task (*.otk)" ? Q(task) : QString();
    };
    c.actSaveTask->trigger();
    QCOMPARE(ReadText(task + ".otk"), In("b.wav") + "\r\n" + In("a.wav") + "\r\n" + In("c.wav") + "\r\n");

    c.NewTaskClick();
    QCOMPARE(c.tasks().size(), std::size_t(0));
    fs::remove(In("a.wav"));  // a file that is gone is passed over
    c.chooseOpenFiles = [&](const QString&, const QString&) { return QStringList{Q(task + ".otk")}; };
    c.actOpenTask->trigger();
    QCOMPARE(TaskPaths(c), (QStringList{Q(In("b.wav")), Q(In("c.wav"))}));
    QCOMPARE(c.tasks().rows()[0].sizeText, std::string("17KB"));
    c.actOpenTask->trigger();
    QCOMPARE(c.tasks().size(), std::size_t(4));  // appended, not replaced
    QCOMPARE(c.panel(2), QString("Total Files: 4"));
}

void ConverterTest::severalAtOnceMatchesOneAtATime() {
    for (int i = 0; i < 4; ++i) MakeWav(In("f" + std::to_string(i) + ".wav"), 1.0, unsigned(i + 1));
    std::map<int, std::map<std::string, std::string>> files;
    std::map<int, QString> summaries;
    for (int jobs : {1, 3}) {
        fs::remove_all(*dir_ / "out");
        fs::create_directories(*dir_ / "out");
        TConverterForm& c = OpenWizard("[Conversion]\nPlaySound=0\n[Advanced]\nFilesAtOnce=" + std::to_string(jobs) + "\n");
        QCOMPARE(app_->options().spnFilesAtOnce->value(), jobs);
        for (int i = 0; i < 4; ++i) c.AddFile(Q(In("f" + std::to_string(i) + ".wav")));
        UseCustomFolder(c, *dir_ / "out");
        c.output->rdbMp3->click();
        QVERIFY(c.ClickPageTab(2));
        c.page3->btnStart->click();
        // With several at once, several rows are in work together.
        QCOMPARE(Column(c.page3->ltvStatus, 8).filter(QRegularExpression("^Converting")).size(), jobs);
        QVERIFY(QTest::qWaitFor([&] { return c.batch().Finished(); }, 60000));
        for (auto& e : fs::directory_iterator(*dir_ / "out")) files[jobs][e.path().filename()] = ReadText(e.path());
        summaries[jobs] = LogBox(c.page3->rchLog).back().first;
        QCOMPARE(Column(c.page3->ltvStatus, 8), (QStringList{"Done", "Done", "Done", "Done"}));
        TearDownAll();
        init();
        for (int i = 0; i < 4; ++i) MakeWav(In("f" + std::to_string(i) + ".wav"), 1.0, unsigned(i + 1));
    }
    QCOMPARE(files[1].size(), std::size_t(4));
    QVERIFY(files[1] == files[3]);
    QCOMPARE(summaries[1], QString("Total Files: 4   Done: 4   Remaining: 0   Skip: 0   Failed: 0"));
    QCOMPARE(summaries[3], summaries[1]);
}

void ConverterTest::keepTheFolderTree() {
    MakeWav(In("tree/top.wav"), 0.2, 1);
    MakeWav(In("tree/sub/mid.wav"), 0.2, 2);
    MakeWav(In("tree/sub/deeper/low.wav"), 0.2, 3);
    MakeWav(In("alone.wav"), 0.2, 4);
    TConverterForm& c = OpenWizard("[Conversion]\nPlaySound=0\n[Advanced]\nShowQuery=0\nAlwaysYes=1\nRecordSettings=1\n");
    c.AddFolder(Q(In("tree")));
    c.AddFile(Q(In("alone.wav")));
    QCOMPARE(c.tasks().size(), std::size_t(4));
    UseCustomFolder(c, *dir_ / "out");
    c.output->chkKeepFolders->setChecked(true);
    c.output->rdbOgg->click();
    QVERIFY(RunBatch(c));
    for (const char* f : {"top.ogg", "sub/mid.ogg", "sub/deeper/low.ogg", "alone.ogg"})
        QVERIFY2(fs::exists(Out(f)), f);
    QVERIFY(Column(c.page3->ltvStatus, 5).contains(Q(Out("sub/deeper/"))));
    // Start saved the page, the new key with it.
    const std::string ini = ReadOptionIni();
    QVERIFY2(ini.find("[ConverterStep2]") != std::string::npos && ini.find("KeepFolders=1") != std::string::npos &&
                 ini.find("OGG=1") != std::string::npos,
             ini.c_str());

    // The next showing restores it.
    c.close();
    app_->start().btnConverterClick();
    QVERIFY(c.output->chkKeepFolders->isChecked());
    QVERIFY(c.output->rdbOgg->isChecked());
    QCOMPARE(c.output->edtCustom->text(), Q(*dir_ / "out"));
}

void ConverterTest::step2IsSavedOnlyAsRecordSettingsSays() {
    MakeWav(In("a.wav"), 0.1);
    TConverterForm& c = OpenWizard("[Conversion]\nPlaySound=0\n[Advanced]\nRecordSettings=2\n");
    Plan(c, {"a.wav"}, c.output->rdbWma);
    QVERIFY(RunBatch(c));
    QVERIFY(ReadOptionIni().find("ConverterStep2") == std::string::npos);
    // Restoring is off as well: a section written by hand is not read.
    WriteOptionIni("[Advanced]\nRecordSettings=2\n[ConverterStep2]\nWAV=1\nMP3=0\n");
    c.close();
    app_->start().btnConverterClick();
    QVERIFY(c.output->rdbWma->isChecked());
}

void ConverterTest::endOfBatchActions() {
    MakeWav(In("a.wav"), 0.1);
    // Exit ends the program before the computer would be shut down.
    TConverterForm& c = OpenWizard("[Conversion]\nPlaySound=0\nOpenDirectory=1\nExitProgram=1\nShutDown=1\n");
    Plan(c, {"a.wav"}, c.output->rdbOgg);
    QVERIFY(RunBatch(c));
    QCOMPARE(opened_, (QStringList{Q(*dir_ / "out/")}));
    QCOMPARE(endCalls_, 1);
    QCOMPARE(powerOffs_, 0);
    TearDownAll();

    init();
    MakeWav(In("a.wav"), 0.1);
    TConverterForm& d = OpenWizard("[Conversion]\nPlaySound=0\nShutDown=1\n");
    Plan(d, {"a.wav"}, d.output->rdbOgg);
    QVERIFY(RunBatch(d));
    QCOMPARE(powerOffs_, 1);  // the test's stand-in, never the real one
    QCOMPARE(endCalls_, 0);
    QVERIFY(opened_.isEmpty());
}

void ConverterTest::previewThroughThePlayer() {
    MakeWav(In("tune.wav"), 10.0);
    TConverterForm& c = OpenWizard();
    c.AddFile(Q(In("tune.wav")));
    c.popPlay->trigger();  // nothing selected: nothing plays
    QCOMPARE(c.previewState(), QString("Stoped"));
    c.ltvList->selectionModel()->select(c.ltvList->model()->index(0, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    c.popPlay->trigger();
    QCOMPARE(c.previewState(), QString("Playing"));
    QCOMPARE(c.panel(0), QString("Playing tune.wav"));
    QTRY_VERIFY_WITH_TIMEOUT(c.panel(1).endsWith("%"), 10000);
    c.popPause->trigger();
    QCOMPARE(c.previewState(), QString("Paused"));
    QCOMPARE(c.panel(0), QString("Paused tune.wav"));
    c.popPause->trigger();
    QCOMPARE(c.panel(0), QString("Playing tune.wav"));
    c.popStop->trigger();
    QCOMPARE(c.previewState(), QString("Stoped"));
    QCOMPARE(c.panel(0), QString());

    // A file that cannot be opened says so.
    kiv::test::WriteFileBytes(In("bad.wav"), {'x'});
    c.AddFile(Q(In("bad.wav")));
    c.ltvList->clearSelection();
    c.ltvList->selectionModel()->select(c.ltvList->model()->index(1, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    Q_EMIT c.ltvList->clicked(c.ltvList->model()->index(1, 0));
    c.popPlay->trigger();
    QCOMPARE(answers_->asked().back().text, FromUtf8("Open " + In("bad.wav") + " failed. Please check it out."));
    QCOMPARE(c.previewState(), QString("Stoped"));
}

}  // namespace kiv::gui::test

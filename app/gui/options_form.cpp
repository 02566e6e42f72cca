#include "app/gui/options_form.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/core/data_paths.h"
#include "app/gui/app_context.h"
#include "app/gui/skin_engine.h"
#include "app/gui/start_form.h"
#include "app/gui/converter_form.h"
#include "platform/system/message_box.h"

namespace kiv::gui {
namespace {

QCheckBox* Check(QWidget* parent, const char* name, const QString& caption) {
    auto* c = new QCheckBox(caption, parent);
    c->setObjectName(name);
    return c;
}

QRadioButton* Radio(QWidget* parent, const char* name, const QString& caption) {
    auto* r = new QRadioButton(caption, parent);
    r->setObjectName(name);
    return r;
}

QPushButton* Button(QWidget* parent, const char* name, const QString& caption) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    return b;
}

QToolButton* Tool(QWidget* parent, const QString& name, const QString& text, const QString& tip) {
    auto* b = new QToolButton(parent);
    b->setObjectName(name);
    b->setText(text);
    b->setToolTip(tip);
    return b;
}

bool Ask(const char16_t* question) {
    return MessageBox(nullptr, question, u"Query", MB_YESNO | MB_ICONQUESTION) == IDYES;
}

std::string Std(const QString& s) { return s.toStdString(); }
QString ToQ(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

void ClearGroup(QButtonGroup* group) {
    group->setExclusive(false);
    for (QAbstractButton* b : group->buttons()) b->setChecked(false);
    group->setExclusive(true);
}

TOptionForm::TOptionForm(AppContext& context, QtSkinEngine& engine, TStartForm& start, TConverterForm& converter)
    : context_(context),
      start_(start),
      converter_(converter),
      catalog_(app::SharedSkinFolder(), app::UserSkinFolder()),
      skinSelection_(engine, catalog_) {
    setObjectName("TOptionForm");
    setWindowTitle("Options");
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setModal(false);

    pages = new QTabWidget(this);
    pages->setObjectName("pages");
    pages->addTab(BuildConversionPage(), " Audio Coversion ");
    pages->addTab(BuildRipPage(), "   CD  Rip   ");
    pages->addTab(BuildSkinsPage(), "    Skins    ");
    pages->addTab(BuildAdvancedPage(), " Advanced ");

    btnDefault = Button(this, "btnDefault", "Load Default");
    btnOK = Button(this, "btnOK", "&OK");
    btnCancel = Button(this, "btnCancel", "&Cancel");
    btnOK->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnDefault);
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pages);
    layout->addLayout(buttons);

    connect(btnDefault, &QPushButton::clicked, this, &TOptionForm::btnDefaultClick);
    connect(btnOK, &QPushButton::clicked, this, &TOptionForm::btnOKClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    LoadOptions();
    pages->setCurrentIndex(0);
}

QToolButton* TOptionForm::HelpLink(const QString& text, const QString& topic) {
    auto* link = Tool(this, "lnkHelp", text, "Open the help on this page");
    link->setAutoRaise(true);
    link->setCursor(Qt::PointingHandCursor);
    link->setProperty("helpTopic", topic);
    QFont f = link->font();
    f.setUnderline(true);
    link->setFont(f);
    connect(link, &QToolButton::clicked, this, [this, topic] { context_.OpenHelp(topic); });
    return link;
}

QWidget* TOptionForm::BuildSoundGroup(SoundGroup& g, const QString& shutCaption, const char* prefix) {
    const QString p = prefix;
    auto* box = new QGroupBox("When it is finished", this);
    g.chkOpenDir = Check(box, p == "Con" ? "chkConOpenDir" : "chkRipOpenDir",
                         p == "Con" ? "Open destiantion directory after conversion is finished. "
                                    : "Open destiantion directory after conversion is finished.");
    g.chkExit = Check(box, p == "Con" ? "ChkConExit" : "chkRipExit", "Exit Ondalo after conversion is finished.");
    g.chkShut = Check(box, p == "Con" ? "chkConShut" : "chkRipShut", shutCaption);
    g.chkPlaySound = Check(box, p == "Con" ? "chkConPlaySound" : "chkRipPlaySound",
                           "Play sound after conversion is finished.");
    g.rdbSoundDefault = Radio(box, Std("rdb" + p + "SoundDefault").c_str(), "Default (Beep)");
    g.rdbSoundCustom = Radio(box, Std("rdb" + p + "SoundCustom").c_str(), "Custom");
    g.edtSoundCustom = new QLineEdit(box);
    g.edtSoundCustom->setObjectName("edt" + p + "SoundCustom");
    g.btnSoundCustom = Tool(box, "btn" + p + "SoundCustom", "...", "Choose a sound file");
    g.btnPlay = Tool(box, "btn" + p + "Play", QString::fromUtf8("\u25b6"), "Play");
    g.btnPause = Tool(box, "btn" + p + "Pause", QString::fromUtf8("\u2016"), "Pause / resume");
    g.btnStop = Tool(box, "btn" + p + "Stop", QString::fromUtf8("\u25a0"), "Stop");

    auto* sound = new QGridLayout;
    sound->setContentsMargins(24, 0, 0, 0);
    sound->addWidget(g.rdbSoundDefault, 0, 0);
    auto* custom = new QHBoxLayout;
    custom->addWidget(g.rdbSoundCustom);
    custom->addWidget(g.edtSoundCustom, 1);
    custom->addWidget(g.btnSoundCustom);
    custom->addWidget(g.btnPlay);
    custom->addWidget(g.btnPause);
    custom->addWidget(g.btnStop);
    sound->addLayout(custom, 1, 0);
    auto* v = new QVBoxLayout(box);
    for (QWidget* w : {g.chkOpenDir, g.chkExit, g.chkShut, g.chkPlaySound}) v->addWidget(w);
    v->addLayout(sound);

    connect(g.btnPlay, &QToolButton::clicked, this, [this, &g] { PlayClick(g); });
    connect(g.btnPause, &QToolButton::clicked, this, &TOptionForm::PauseClick);
    connect(g.btnStop, &QToolButton::clicked, this, &TOptionForm::StopClick);
    connect(g.btnSoundCustom, &QToolButton::clicked, this, [this, &g] { SoundCustomClick(g); });
    return box;
}

QWidget* TOptionForm::BuildConversionPage() {
    auto* page = new QWidget(this);
    page->setObjectName("pageConversion");
    chkConTag = Check(page, "chkConTag", "Keep tag of files");
    chkConDelSource = Check(page, "chkConDelSource", "Delete source files after conversion is finished (Not recommended)");
    auto* v = new QVBoxLayout(page);
    v->addWidget(chkConTag);
    v->addWidget(chkConDelSource);
    v->addWidget(BuildSoundGroup(con, "Exit Windows and shut down computer after conversion is finished.", "Con"));
    v->addStretch();
    v->addWidget(HelpLink("What do these options do?", "AudioConverter-Keeptagof"), 0, Qt::AlignRight);
    return page;
}

QWidget* TOptionForm::BuildRipPage() {
    auto* page = new QWidget(this);
    page->setObjectName("pageRip");
    chkRipSelectDri = Check(page, "chkRipSelectDri", "Automatically select the drive has CD in.");
    chkRipLoadCDDB = Check(page, "chkRipLoadCDDB", "Automatically load CDDB data (Need network support.)");
    chkRipInfo = Check(page, "chkRipInfo", "Write information of tracks to files.");
    chkRipEject = Check(page, "chkRipEject", "Eject the drive after rip is finished.");
    chkAccurateRip = Check(page, "chkAccurateRip", "Verify rips with the AccurateRip database");
    chkAccurateRip->setToolTip(
        "Compares each ripped track's checksums with other people's rips of the same disc.\n"
        "This sends the disc's identity (its table of contents) to accuraterip.com.");
    chkRipLog = Check(page, "chkRipLog", "Write a rip log and cue sheet beside the tracks");
    cmbLookupSource = new QComboBox(page);
    cmbLookupSource->setObjectName("cmbLookupSource");
    cmbLookupSource->addItems({"CDDB", "MusicBrainz", "CDDB, then MusicBrainz"});
    auto* names = new QHBoxLayout;
    names->addWidget(new QLabel("Track names from:", page));
    names->addWidget(cmbLookupSource, 1);
    auto* v = new QVBoxLayout(page);
    for (QWidget* w : {chkRipSelectDri, chkRipLoadCDDB, chkRipInfo, chkRipEject, chkAccurateRip, chkRipLog})
        v->addWidget(w);
    v->addLayout(names);
    v->addWidget(BuildSoundGroup(rip, "Exit Windows and shut down computer after converter is finished.", "Rip"));
    v->addStretch();
    v->addWidget(HelpLink("What do these options do?", "CDRipper-Writeinformation"), 0, Qt::AlignRight);
    return page;
}

QString TOptionForm::lookupSource() const {
    static const char* const kValues[] = {"CDDB", "MusicBrainz", "Both"};
    const int i = cmbLookupSource->currentIndex();
    return kValues[i >= 0 && i < 3 ? i : 0];
}

void TOptionForm::setLookupSource(const std::string& source) {
    const std::string name = app::LookupSourceName(source);
    cmbLookupSource->setCurrentIndex(name == "MusicBrainz" ? 1 : name == "Both" ? 2 : 0);
}

QWidget* TOptionForm::BuildSkinsPage() {
    auto* page = new QWidget(this);
    page->setObjectName("pageSkins");
    ltbSkin = new QListWidget(page);
    ltbSkin->setObjectName("ltbSkin");
    chkPreview = Check(page, "chkPreview", "Auto Preview");
    chkPreview->setChecked(true);
    btnPreview = Button(page, "btnPreview", "&Preview");
    btnImport = Button(page, "btnImport", "&Import Skin");
    btnExport = Button(page, "btnExport", "&Export Skin");
    btnDelSkin = Button(page, "btnDelSkin", "&Delete Skin");
    btnMoreSkin = Button(page, "btnMoreSkin", "&More Skins");
    auto* side = new QVBoxLayout;
    side->addWidget(chkPreview);
    for (QWidget* w : {btnPreview, btnImport, btnExport, btnDelSkin, btnMoreSkin}) side->addWidget(w);
    side->addStretch();
    auto* h = new QHBoxLayout(page);
    h->addWidget(ltbSkin, 1);
    h->addLayout(side);

    connect(btnPreview, &QPushButton::clicked, this, &TOptionForm::btnPreviewClick);
    connect(ltbSkin, &QListWidget::itemClicked, this, &TOptionForm::ltbSkinClick);
    connect(btnImport, &QPushButton::clicked, this, &TOptionForm::btnImportClick);
    connect(btnExport, &QPushButton::clicked, this, &TOptionForm::btnExportClick);
    connect(btnDelSkin, &QPushButton::clicked, this, &TOptionForm::btnDelSkinClick);
    connect(btnMoreSkin, &QPushButton::clicked, this, &TOptionForm::btnMoreSkinClick);
    return page;
}

QWidget* TOptionForm::BuildAdvancedPage() {
    auto* page = new QWidget(this);
    page->setObjectName("pageAdvanced");
    auto* query = new QGroupBox("Query whether add files in sub-direcory.", page);
    rdbShowQuery = Radio(query, "rdbShowQuery", "Show the query window.");
    rdbNotQuery = Radio(query, "rdbNotQuery", "Do not query. Always be:");
    rdbYes = Radio(query, "rdbYes", "Yes, add all files in the directory and its all sub-directory. ");
    rdbNo = Radio(query, "rdbNo", "No, only add files in the selected directory.");
    queryGroup = new QButtonGroup(this);
    queryGroup->addButton(rdbShowQuery);
    queryGroup->addButton(rdbNotQuery);
    answerGroup = new QButtonGroup(this);
    answerGroup->addButton(rdbYes);
    answerGroup->addButton(rdbNo);
    auto* qv = new QVBoxLayout(query);
    qv->addWidget(rdbShowQuery);
    qv->addWidget(rdbNotQuery);
    auto* answers = new QVBoxLayout;
    answers->setContentsMargins(24, 0, 0, 0);
    answers->addWidget(rdbYes);
    answers->addWidget(rdbNo);
    qv->addLayout(answers);

    chkShowCDDBFailed = Check(page, "chkShowCDDBFailed", "Show message if manual loading CDDB data failed.");
    chkTip = Check(page, "chkTip", "Show Everyday Tips");
    cmbRecord = new QComboBox(page);
    cmbRecord->setObjectName("cmbRecord");
    cmbRecord->addItems({"Both Conversion and Rip", "Only Conversion Wizard", "Only Rip Wizard", "Neither"});
    auto* record = new QHBoxLayout;
    record->addWidget(new QLabel("Remember all settings in Step 2 of", page));
    record->addWidget(cmbRecord, 1);
    spnFilesAtOnce = new QSpinBox(page);
    spnFilesAtOnce->setObjectName("spnFilesAtOnce");
    spnFilesAtOnce->setRange(1, app::kMaxFilesAtOnce);
    spnFilesAtOnce->setToolTip("How many files a conversion batch converts at the same time");
    auto* atOnce = new QHBoxLayout;
    atOnce->addWidget(new QLabel("Files converted at once", page));
    atOnce->addWidget(spnFilesAtOnce);
    atOnce->addStretch();
    chkReplayGain = Check(page, "chkReplayGain", "Write ReplayGain values (track gain and peak)");
    chkReplayGain->setToolTip(
        "Measures each file's loudness while converting or ripping and writes its track gain and peak\n"
        "with its tags, so that players can play every file equally loud (WAV files get none)");

    auto* v = new QVBoxLayout(page);
    v->addWidget(query);
    v->addWidget(chkShowCDDBFailed);
    v->addWidget(chkTip);
    v->addLayout(record);
    v->addLayout(atOnce);
    v->addWidget(chkReplayGain);
    v->addStretch();
    v->addWidget(HelpLink("What do these options do?", "Querywhetheraddfilesinsub"), 0, Qt::AlignRight);
    return page;
}

void TOptionForm::PutPostActions(SoundGroup& g, const app::Options::PostActions& a) {
    g.chkOpenDir->setChecked(a.openFolder);
    g.chkExit->setChecked(a.exitProgram);
    g.chkShut->setChecked(a.shutDown);
    g.chkPlaySound->setChecked(a.playSound);
    g.rdbSoundDefault->setChecked(a.soundDefault);
    g.rdbSoundCustom->setChecked(!a.soundDefault);
    g.edtSoundCustom->setText(ToQ(a.customSound));
}

app::Options::PostActions TOptionForm::TakePostActions(const SoundGroup& g) const {
    app::Options::PostActions a;
    a.openFolder = g.chkOpenDir->isChecked();
    a.exitProgram = g.chkExit->isChecked();
    a.shutDown = g.chkShut->isChecked();
    a.playSound = g.chkPlaySound->isChecked();
    a.soundDefault = g.rdbSoundDefault->isChecked();
    a.customSound = Std(g.edtSoundCustom->text());
    return a;
}

void TOptionForm::LoadOptions() {
    const app::Options o = context_.store.Load();
    converter_.SelectFolder(ToQ(o.initialDir));

    chkConTag->setChecked(o.conversion.keepTag);
    chkConDelSource->setChecked(o.conversion.deleteSourceFile);
    PutPostActions(con, o.conversion.after);
    chkRipSelectDri->setChecked(o.rip.autoSelectDrive);
    chkRipLoadCDDB->setChecked(o.rip.autoLoadCDDB);
    chkRipInfo->setChecked(o.rip.writeInformation);
    chkRipEject->setChecked(o.rip.ejectDrive);
    chkAccurateRip->setChecked(o.rip.accurateRip);
    chkRipLog->setChecked(o.rip.ripLog);
    setLookupSource(o.rip.lookupSource);
    PutPostActions(rip, o.rip.after);

    skinSelection_.ApplySaved(o.skin);

    rdbShowQuery->setChecked(o.showQuery);
    rdbNotQuery->setChecked(!o.showQuery);
    rdbYes->setChecked(o.alwaysYes);
    rdbNo->setChecked(!o.alwaysYes);
    chkShowCDDBFailed->setChecked(o.informCDDBFailed);
    chkTip->setChecked(o.everydayTips);
    // A value beyond the list leaves no item chosen, as the file says nothing usable.
    cmbRecord->setCurrentIndex(o.recordSettings >= 0 && o.recordSettings < cmbRecord->count() ? o.recordSettings : -1);
    spnFilesAtOnce->setValue(o.filesAtOnce);
    chkReplayGain->setChecked(o.replayGain);
}

app::Options TOptionForm::OptionsFromControls() const {
    app::Options o;
    o.conversion.keepTag = chkConTag->isChecked();
    o.conversion.deleteSourceFile = chkConDelSource->isChecked();
    o.conversion.after = TakePostActions(con);
    o.rip.autoSelectDrive = chkRipSelectDri->isChecked();
    o.rip.autoLoadCDDB = chkRipLoadCDDB->isChecked();
    o.rip.writeInformation = chkRipInfo->isChecked();
    o.rip.ejectDrive = chkRipEject->isChecked();
    o.rip.accurateRip = chkAccurateRip->isChecked();
    o.rip.ripLog = chkRipLog->isChecked();
    o.rip.lookupSource = lookupSource().toStdString();
    o.rip.after = TakePostActions(rip);
    o.skin = skinSelection_.current();
    o.showQuery = rdbShowQuery->isChecked();
    o.alwaysYes = rdbYes->isChecked();
    o.informCDDBFailed = chkShowCDDBFailed->isChecked();
    o.everydayTips = chkTip->isChecked();
    o.recordSettings = cmbRecord->currentIndex();
    o.filesAtOnce = spnFilesAtOnce->value();
    o.replayGain = chkReplayGain->isChecked();
    return o;
}

void TOptionForm::SaveOptions() {
    if (!context_.store.Save(OptionsFromControls()))
        MessageBox(nullptr, u"The options could not be saved to " + QString::fromStdString(context_.store.path()).toStdU16String() + u".",
                   u"Information", MB_OK | MB_ICONERROR);
}

void TOptionForm::ShowDialog() {
    start_.setEnabled(false);
    LoadOptions();
    ListSkins();
    show();
    raise();
    activateWindow();
}

void TOptionForm::ListSkins() {
    ltbSkin->clear();
    for (const std::string& name : catalog_.List()) ltbSkin->addItem(ToQ(name));
    ltbSkin->setCurrentRow(0);
    const QString current = ToQ(skinSelection_.current());
    for (int i = 0; i < ltbSkin->count(); ++i)
        if (ltbSkin->item(i)->text() == current) {
            ltbSkin->setCurrentRow(i);
            break;
        }
    if (ltbSkin->isVisible()) ltbSkin->setFocus();
}

QString TOptionForm::selectedSkin() const {
    QListWidgetItem* item = ltbSkin->currentItem();
    return item ? item->text() : QString();
}

void TOptionForm::btnOKClick() {
    const QString item = selectedSkin();
    if (!item.isEmpty()) skinSelection_.Confirm(Std(item));
    SaveOptions();
    accept();
}

void TOptionForm::done(int result) {
    // Closing by any means: no sound goes on playing, the start window is
    // usable again, and a skin only previewed is taken back.
    player_.Stop();
    start_.setEnabled(true);
    skinSelection_.Reapply();
    QDialog::done(result);
}

void TOptionForm::btnDefaultClick() {
    if (!Ask(u"Are you sure to load default settings?")) return;
    const app::Options d;
    chkConTag->setChecked(d.conversion.keepTag);
    chkConDelSource->setChecked(d.conversion.deleteSourceFile);
    PutPostActions(con, d.conversion.after);
    chkRipSelectDri->setChecked(d.rip.autoSelectDrive);
    chkRipLoadCDDB->setChecked(d.rip.autoLoadCDDB);
    chkRipInfo->setChecked(d.rip.writeInformation);
    chkRipEject->setChecked(d.rip.ejectDrive);
    chkAccurateRip->setChecked(d.rip.accurateRip);
    chkRipLog->setChecked(d.rip.ripLog);
    setLookupSource(d.rip.lookupSource);
    PutPostActions(rip, d.rip.after);
    if (ltbSkin->count() > 0) ltbSkin->setCurrentRow(0);
    for (int i = 1; i < ltbSkin->count(); ++i)
        if (ltbSkin->item(i)->text().toLower() == "macos") {
            ltbSkin->setCurrentRow(i);
            break;
        }
    rdbShowQuery->setChecked(true);
    // Neither answer: the question is on, so no answer is needed.
    ClearGroup(answerGroup);
    chkShowCDDBFailed->setChecked(true);
    chkTip->setChecked(true);
    cmbRecord->setCurrentIndex(0);
    spnFilesAtOnce->setValue(app::Options::DefaultFilesAtOnce());
    chkReplayGain->setChecked(app::Options().replayGain);
}

void TOptionForm::btnPreviewClick() {
    const QString item = selectedSkin();
    if (!item.isEmpty()) skinSelection_.Preview(Std(item));
}

void TOptionForm::ltbSkinClick() {
    if (chkPreview->isChecked()) btnPreviewClick();
}

void TOptionForm::btnImportClick() {
    const QString title = "Select skin files to import";
    const QString filter = "Skin file (*.skn)";
    QStringList files = chooseOpenFiles ? chooseOpenFiles(title, filter)
                                        : QFileDialog::getOpenFileNames(this, title, QString(), filter);
    std::vector<std::string> paths;
    for (const QString& f : files)
        if (QFileInfo(f).isFile()) paths.push_back(Std(f));
    if (paths.empty()) return;  // cancelled: nothing to say
    catalog_.Import(paths);
    ListSkins();
    MessageBox(nullptr, u"Import skin successfully", u"Information", MB_OK | MB_ICONINFORMATION);
}

void TOptionForm::btnExportClick() {
    if (ltbSkin->currentRow() <= 0) return;
    const QString item = selectedSkin();
    const QString title = "Export Skin ";
    const QString filter = "Skin file (*.skn)";
    QString target;
    if (chooseSaveFile) {
        target = chooseSaveFile(title, filter);
    } else {
        QFileDialog dialog(this, title, QString(), filter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix("skn");
        dialog.selectFile(item + ".skn");
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) target = dialog.selectedFiles().first();
    }
    if (target.isEmpty()) return;
    if (QFileInfo(target).suffix().isEmpty()) target += ".skn";
    catalog_.Export(Std(item), Std(target));
}

void TOptionForm::btnDelSkinClick() {
    const QString item = selectedSkin();
    if (item.isEmpty()) return;
    if (!Ask(u"Are you sure to delete that skin?")) return;
    if (catalog_.Delete(Std(item))) ListSkins();
}

// Further skins are described in the help, which ships with the program.
void TOptionForm::btnMoreSkinClick() { context_.OpenHelp("Skins"); }

void TOptionForm::PlayClick(SoundGroup& g) {
    if (g.rdbSoundDefault->isChecked()) {
        QApplication::beep();
        return;
    }
    if (!player_.Play(g.edtSoundCustom->text()))
        MessageBox(nullptr, u"Can not play the sound file. Please make sure the file is correct.", u"Information",
                   MB_OK | MB_ICONINFORMATION);
}

void TOptionForm::PauseClick() {
    if (player_.mode() == MediaPlayer::Mode::Playing)
        player_.Pause();
    else if (player_.mode() == MediaPlayer::Mode::Paused)
        player_.Resume();
}

void TOptionForm::StopClick() { player_.Stop(); }

void TOptionForm::SoundCustomClick(SoundGroup& g) {
    g.rdbSoundCustom->setChecked(true);
    const QString title = "Choose a sound file";
    const QString filter = "All Files (*.wav *.mp3 *.mid)";
    QStringList files = chooseOpenFiles ? chooseOpenFiles(title, filter)
                                        : QStringList{QFileDialog::getOpenFileName(this, title, QString(), filter)};
    if (!files.isEmpty() && !files.first().isEmpty()) g.edtSoundCustom->setText(files.first());
}

}  // namespace kiv::gui

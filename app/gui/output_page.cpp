#include "app/gui/output_page.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

#include <climits>

#include "app/gui/widgets.h"
#include "platform/system/message_box.h"
#include "platform/system/text.h"

namespace kiv::gui {

OutputPage::OutputPage(const OutputPageTexts& texts, QWidget* parent)
    : QWidget(parent), scale_{texts.sliderLow}, editClicksSelect_(texts.editClicksSelect) {
    setObjectName("OutputPage");
    auto* grid = new QGridLayout;
    grid->addWidget(BuildFolderGroup(texts), 0, 0);
    grid->addWidget(BuildFormatGroup(texts), 0, 1);
    grid->addWidget(BuildExistsGroup(), 1, 0);
    grid->addWidget(BuildQualityGroup(), 1, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);

    extra_ = new QVBoxLayout;
    btnPrevious = MakeButton(this, "btnPrevious2", "Previous Step");
    btnNext = MakeButton(this, "btnNext2", "Next Step");
    auto* remember = new QVBoxLayout;
    remember->addWidget(new QLabel("Tip: Ondalo will remember these settings, so you need not setup them every time", this));
    remember->addWidget(new QLabel("(You can disable this function in Options)", this));
    auto* bottom = new QHBoxLayout;
    bottom->addLayout(remember, 1);
    bottom->addWidget(btnPrevious);
    bottom->addWidget(btnNext);

    auto* v = new QVBoxLayout(this);
    v->addLayout(grid);
    v->addLayout(extra_);
    v->addStretch();
    v->addLayout(bottom);

    connect(btnPrevious, &QPushButton::clicked, this, [this] {
        if (onPrevious) onPrevious();
    });
    connect(btnNext, &QPushButton::clicked, this, [this] {
        if (CheckCustomFolder() && onNext) onNext();
    });
    setSettings(app::Step2Settings{});
}

QWidget* OutputPage::BuildFolderGroup(const OutputPageTexts& texts) {
    grpFolder = new QGroupBox(texts.folderGroup, this);
    grpFolder->setObjectName("grpFolder");
    rdbDefault = MakeRadio(grpFolder, "rdbDefault", texts.defaultCaption);
    edtDefault = new QLineEdit(grpFolder);
    edtDefault->setObjectName("edtDefault");
    edtDefault->setReadOnly(true);
    rdbSame = MakeRadio(grpFolder, "rdbSame", "The same folder as source file");
    rdbSame->setVisible(texts.sameFolderChoice);
    rdbCustom = MakeRadio(grpFolder, "rdbCustom", "Custom Folder");
    edtCustom = new QLineEdit(grpFolder);
    edtCustom->setObjectName("edtCustom");
    btnCustom = new QToolButton(grpFolder);
    btnCustom->setObjectName("btnCustom");
    btnCustom->setText("...");
    btnCustom->setToolTip("Choose the folder");
    chkKeepFolders = MakeCheck(grpFolder, "chkKeepFolders", "Keep the folder tree");
    chkKeepFolders->setToolTip("Files found under an added folder go to the same sub-folders of the output folder");
    chkKeepFolders->setVisible(texts.keepFoldersChoice);
    folderGroup_ = new QButtonGroup(this);
    for (QRadioButton* r : {rdbDefault, rdbSame, rdbCustom}) folderGroup_->addButton(r);

    auto* custom = new QHBoxLayout;
    custom->addWidget(rdbCustom);
    custom->addWidget(edtCustom, 1);
    custom->addWidget(btnCustom);
    auto* v = new QVBoxLayout(grpFolder);
    v->addWidget(rdbDefault);
    v->addWidget(edtDefault);
    v->addWidget(rdbSame);
    v->addLayout(custom);
    v->addWidget(chkKeepFolders);
    auto* tip = new QLabel(texts.folderTip, grpFolder);
    tip->setWordWrap(true);
    v->addWidget(tip);

    connect(btnCustom, &QToolButton::clicked, this, &OutputPage::btnCustomClick);
    edtCustom->installEventFilter(this);
    return grpFolder;
}

QWidget* OutputPage::BuildFormatGroup(const OutputPageTexts& texts) {
    auto* box = new QGroupBox("Output Format", this);
    box->setObjectName("grpFormat");
    rdbNormal = MakeRadio(box, "rdbNormal", "Normal Mode");
    rdbAdvance = MakeRadio(box, "rdbAdvance", "Advanced Mode");
    rdbWav = MakeRadio(box, "rdbWav", "WAV");
    rdbMp3 = MakeRadio(box, "rdbMp3", "MP3");
    rdbWma = MakeRadio(box, "rdbWma", "WMA");
    rdbOgg = MakeRadio(box, "rdbOgg", "OGG");
    rdbFlac = MakeRadio(box, "rdbFlac", "FLAC");
    rdbOpus = MakeRadio(box, "rdbOpus", "OPUS");
    formatButtons_ = {{rdbWav, app::OutputFormat::Wav},   {rdbMp3, app::OutputFormat::Mp3},
                      {rdbWma, app::OutputFormat::Wma},   {rdbOgg, app::OutputFormat::Ogg},
                      {rdbFlac, app::OutputFormat::Flac}, {rdbOpus, app::OutputFormat::Opus}};
    btnAdvance = MakeButton(box, "btnAdvance", "Click to use Advance Mode");
    modeGroup_ = new QButtonGroup(this);
    modeGroup_->addButton(rdbNormal);
    modeGroup_->addButton(rdbAdvance);
    formatGroup_ = new QButtonGroup(this);
    for (auto [r, format] : formatButtons_) formatGroup_->addButton(r);

    auto* formats = new QHBoxLayout;
    formats->setContentsMargins(24, 0, 0, 0);
    for (auto [r, format] : formatButtons_) formats->addWidget(r);
    formats->addStretch();
    auto* g = new QGridLayout(box);
    g->addWidget(rdbNormal, 0, 0);
    g->addWidget(new QLabel(texts.normalNote, box), 0, 1);
    g->addLayout(formats, 1, 0, 1, 2);
    g->addWidget(rdbAdvance, 2, 0);
    g->addWidget(new QLabel(texts.advancedNote, box), 2, 1);
    g->addWidget(btnAdvance, 3, 0, 1, 2, Qt::AlignLeft);
    auto* note = new QLabel(texts.formatNote, box);
    note->setObjectName("labFormatNote");
    g->addWidget(note, 4, 0, 1, 2);

    for (auto [button, format] : formatButtons_) {
        const app::OutputFormat f = format;
        connect(button, &QRadioButton::clicked, this, [this, f] { ChooseFormat(f); });
    }
    connect(btnAdvance, &QPushButton::clicked, this, [this] {
        rdbAdvance->setChecked(true);
        if (onAdvanced) onAdvanced();
    });
    return box;
}

QWidget* OutputPage::BuildExistsGroup() {
    auto* box = new QGroupBox("If the destiantion exists", this);
    box->setObjectName("grpExists");
    rdbSkip = MakeRadio(box, "rdbSkip", "Skip");
    rdbOverwrite = MakeRadio(box, "rdbOverwrite", "Overwrite");
    rdbQuery = MakeRadio(box, "rdbQuery", "Query");
    rdbRenaming = MakeRadio(box, "rdbRenaming", "Auto Renaming");
    edtRenaming = new QLineEdit(box);
    edtRenaming->setObjectName("edtRenaming");
    existsGroup_ = new QButtonGroup(this);
    for (QRadioButton* r : {rdbSkip, rdbOverwrite, rdbQuery, rdbRenaming}) existsGroup_->addButton(r);

    auto* g = new QGridLayout(box);
    g->addWidget(rdbSkip, 0, 0);
    g->addWidget(rdbOverwrite, 0, 1);
    g->addWidget(rdbQuery, 1, 0);
    g->addWidget(rdbRenaming, 1, 1);
    auto* rule = new QHBoxLayout;
    rule->addWidget(new QLabel("Renaming Rule:", box));
    rule->addWidget(edtRenaming, 1);
    g->addLayout(rule, 2, 0, 1, 2);
    g->addWidget(new QLabel("Tip: % is the wildcard character of the source filename", box), 3, 0, 1, 2);
    edtRenaming->installEventFilter(this);
    return box;
}

QWidget* OutputPage::BuildQualityGroup() {
    auto* box = new QGroupBox("Destination Quality", this);
    box->setObjectName("grpQuality");
    qualityGroup_ = new QButtonGroup(this);
    auto* g = new QGridLayout(box);
    const struct {
        app::QualityMode mode;
        const char* name;
        const char* caption;
        int minimum, maximum;
    } rows[] = {{app::QualityMode::Cbr, "CBR", "Constant bitrate (CBR)", 96, 320},
                {app::QualityMode::Abr, "ABR", "Average bitrate (ABR)", 0, INT_MAX},
                {app::QualityMode::Vbr, "VBR", "Variable bitrate (VBR)", 0, 100}};
    int i = 0;
    for (const auto& r : rows) {
        Quality& q = quality_[i];
        q.mode = r.mode;
        q.button = MakeRadio(box, (QString("rdb") + r.name).toUtf8().constData(), r.caption);
        q.slider = new QSlider(Qt::Horizontal, box);
        q.slider->setObjectName(QString("sld") + r.name);
        q.slider->setRange(scale_.low, scale_.high());
        q.edit = new QSpinBox(box);
        q.edit->setObjectName(QString("edt") + r.name);
        q.edit->setRange(r.minimum, r.maximum);
        q.edit->setButtonSymbols(QAbstractSpinBox::NoButtons);
        if (r.mode == app::QualityMode::Vbr) q.edit->setSuffix("%");
        qualityGroup_->addButton(q.button);
        g->addWidget(q.button, i, 0);
        g->addWidget(q.slider, i, 1);
        g->addWidget(q.edit, i, 2);
        ConnectQuality(q);
        ++i;
    }
    g->setColumnStretch(1, 1);
    rdbCBR = quality_[0].button, sldCBR = quality_[0].slider, edtCBR = quality_[0].edit;
    rdbABR = quality_[1].button, sldABR = quality_[1].slider, edtABR = quality_[1].edit;
    rdbVBR = quality_[2].button, sldVBR = quality_[2].slider, edtVBR = quality_[2].edit;
    return box;
}

void OutputPage::ConnectQuality(const Quality& q) {
    // Pressing or moving the thumb selects its mode and writes the value the
    // position stands for; a value typed (or written by the thumb) selects
    // the mode and moves the thumb when the value lies in range.
    connect(q.slider, &QSlider::sliderPressed, this, [q] { q.button->setChecked(true); });
    connect(q.slider, &QSlider::actionTriggered, this, [this, q](int) {
        q.button->setChecked(true);
        q.edit->setValue(scale_.ValueAt(q.mode, q.slider->sliderPosition()));
    });
    connect(q.edit, &QSpinBox::valueChanged, this, [this, q](int value) {
        q.button->setChecked(true);
        if (auto p = scale_.PositionOf(q.mode, value)) {
            const QSignalBlocker quiet(q.slider);
            q.slider->setValue(*p);
        }
    });
    q.edit->installEventFilter(this);
}

bool OutputPage::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::FocusIn) {
        if (watched == edtCustom && editClicksSelect_) rdbCustom->setChecked(true);
        if (watched == edtRenaming && editClicksSelect_) rdbRenaming->setChecked(true);
        for (const Quality& q : quality_)
            if (watched == q.edit && q.edit->isEnabled()) q.button->setChecked(true);
    }
    return QWidget::eventFilter(watched, event);
}

void OutputPage::EnableQualityModes(app::OutputFormat format) {
    const char* name = app::FormatName(format);
    for (const Quality& q : quality_) {
        const bool offered = format != app::OutputFormat::None && app::FormatOffers(name, q.mode);
        for (QWidget* w : std::initializer_list<QWidget*>{q.button, q.slider, q.edit}) w->setEnabled(offered);
    }
}

void OutputPage::ChooseFormat(app::OutputFormat format) {
    app::Step2Settings s = settings();
    app::ChooseNormalFormat(s, format);
    setSettings(s);
}

void OutputPage::btnCustomClick() {
    rdbCustom->setChecked(true);
    const QString title = "Please select a folder.";
    const QString folder =
        chooseFolder ? chooseFolder(title) : QFileDialog::getExistingDirectory(this, title, edtCustom->text());
    if (!folder.isEmpty()) edtCustom->setText(folder);
}

bool OutputPage::CheckCustomFolder() {
    if (!rdbCustom->isChecked()) return true;
    const QString text = edtCustom->text();
    const QString folder = QString::fromStdString(app::WithTrailingSlash(text.toStdString()));
    if (!folder.isEmpty() && QDir(folder).exists()) return true;
    MessageBox(nullptr, FromUtf8(("Path " + text + " is not existent. Please check it out.").toStdString()),
               u"Information", MB_OK | MB_ICONINFORMATION);
    edtCustom->setFocus();
    return false;
}

void OutputPage::setApplicationDirectory(const QString& folder) { edtDefault->setText(folder); }

app::Step2Settings OutputPage::settings() const {
    app::Step2Settings s;
    s.folder = rdbDefault->isChecked()  ? app::OutputFolder::Default
               : rdbSame->isChecked()   ? app::OutputFolder::Source
               : rdbCustom->isChecked() ? app::OutputFolder::Custom
                                        : app::OutputFolder::None;
    s.customDir = edtCustom->text().toStdString();
    s.keepFolders = chkKeepFolders->isChecked();
    s.mode = rdbNormal->isChecked()    ? app::FormatMode::Normal
             : rdbAdvance->isChecked() ? app::FormatMode::Advanced
                                       : app::FormatMode::None;
    s.format = app::OutputFormat::None;
    for (auto [button, format] : formatButtons_)
        if (button->isChecked()) s.format = format;
    s.exists = rdbSkip->isChecked()        ? app::ExistsPolicy::Skip
               : rdbOverwrite->isChecked() ? app::ExistsPolicy::Overwrite
               : rdbQuery->isChecked()     ? app::ExistsPolicy::Query
               : rdbRenaming->isChecked()  ? app::ExistsPolicy::Rename
                                           : app::ExistsPolicy::None;
    s.renameRule = edtRenaming->text().toStdString();
    s.quality = app::QualityMode::None;
    for (const Quality& q : quality_)
        if (q.button->isChecked()) s.quality = q.mode;
    s.cbrValue = edtCBR->value();
    s.abrValue = edtABR->value();
    s.vbrValue = edtVBR->value();
    return s;
}

void OutputPage::setSettings(const app::Step2Settings& s) {
    auto select = [](QButtonGroup* group, QRadioButton* button) {
        if (button) button->setChecked(true);
        else ClearGroup(group);
    };
    select(folderGroup_, s.folder == app::OutputFolder::Default  ? rdbDefault
                         : s.folder == app::OutputFolder::Source ? (rdbSame->isVisibleTo(grpFolder) ? rdbSame : nullptr)
                         : s.folder == app::OutputFolder::Custom ? rdbCustom
                                                                 : nullptr);
    edtCustom->setText(QString::fromStdString(s.customDir));
    chkKeepFolders->setChecked(s.keepFolders);
    select(modeGroup_, s.mode == app::FormatMode::Normal     ? rdbNormal
                       : s.mode == app::FormatMode::Advanced ? rdbAdvance
                                                             : nullptr);
    QRadioButton* formatButton = nullptr;
    for (auto [button, format] : formatButtons_)
        if (format == s.format) formatButton = button;
    select(formatGroup_, formatButton);
    select(existsGroup_, s.exists == app::ExistsPolicy::Skip        ? rdbSkip
                         : s.exists == app::ExistsPolicy::Overwrite ? rdbOverwrite
                         : s.exists == app::ExistsPolicy::Query     ? rdbQuery
                         : s.exists == app::ExistsPolicy::Rename    ? rdbRenaming
                                                                    : nullptr);
    edtRenaming->setText(QString::fromStdString(s.renameRule));
    // The values first: writing them selects their modes, the mode is set after.
    edtCBR->setValue(s.cbrValue);
    edtABR->setValue(s.abrValue);
    edtVBR->setValue(s.vbrValue);
    QRadioButton* mode = nullptr;
    for (const Quality& q : quality_)
        if (q.mode == s.quality) mode = q.button;
    select(qualityGroup_, mode);
    EnableQualityModes(s.format);
}

}  // namespace kiv::gui

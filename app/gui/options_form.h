// The options dialog: the live copy of the general options (the wizards
// and the tips window read its controls at the moment they act), four
// pages, Load Default, OK and Cancel, the skins and the sound preview.
#pragma once

#include <QDialog>

#include "app/core/settings.h"
#include "app/core/skins.h"
#include "app/gui/media_player.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class QToolButton;

namespace kiv::gui {

struct AppContext;
class QtSkinEngine;
class TConverterForm;
class TStartForm;

// The controls of one end-of-batch group (conversion or rip).
struct SoundGroup {
    QCheckBox *chkOpenDir, *chkExit, *chkShut, *chkPlaySound;
    QRadioButton *rdbSoundDefault, *rdbSoundCustom;
    QLineEdit* edtSoundCustom;
    QToolButton *btnSoundCustom, *btnPlay, *btnPause, *btnStop;
};

class TOptionForm : public QDialog {
public:
    // Loads the options (and so applies the saved skin) and selects the first page.
    TOptionForm(AppContext& context, QtSkinEngine& engine, TStartForm& start, TConverterForm& converter);

    // Shows the dialog: disables the start window, loads the options again
    // and rebuilds the skin list.
    void ShowDialog();

    void LoadOptions();
    void SaveOptions();
    void ListSkins();

    void btnOKClick();
    void btnDefaultClick();
    void btnPreviewClick();
    void ltbSkinClick();
    void btnImportClick();
    void btnExportClick();
    void btnDelSkinClick();
    void btnMoreSkinClick();
    void PlayClick(SoundGroup& group);
    void PauseClick();
    void StopClick();
    void SoundCustomClick(SoundGroup& group);

    // The controls' state as options (what OK saves).
    app::Options OptionsFromControls() const;
    // The selected skin item; empty when none.
    QString selectedSkin() const;

    const app::SkinSelection& skins() const { return skinSelection_; }
    const app::SkinCatalog& skinCatalog() const { return catalog_; }
    MediaPlayer& mediaPlayer() { return player_; }

    // Tests and the screenshot script answer the file dialogs here instead
    // of through a window; empty: the real dialogs.
    std::function<QStringList(const QString& title, const QString& filter)> chooseOpenFiles;
    std::function<QString(const QString& title, const QString& filter)> chooseSaveFile;

    QTabWidget* pages;
    // Audio Coversion
    QCheckBox *chkConTag, *chkConDelSource;
    SoundGroup con;
    QCheckBox *&chkConOpenDir = con.chkOpenDir, *&ChkConExit = con.chkExit, *&chkConShut = con.chkShut,
              *&chkConPlaySound = con.chkPlaySound;
    QRadioButton *&rdbConSoundDefault = con.rdbSoundDefault, *&rdbConSoundCustom = con.rdbSoundCustom;
    QLineEdit*& edtConSoundCustom = con.edtSoundCustom;
    // CD Rip
    QCheckBox *chkRipSelectDri, *chkRipLoadCDDB, *chkRipInfo, *chkRipEject;
    QCheckBox *chkAccurateRip, *chkRipLog;  // Rip/AccurateRip, Rip/RipLog
    // Where track names come from: the values of Rip/LookupSource in order.
    QComboBox* cmbLookupSource;
    QString lookupSource() const;
    void setLookupSource(const std::string& source);
    SoundGroup rip;
    QCheckBox *&chkRipOpenDir = rip.chkOpenDir, *&chkRipExit = rip.chkExit, *&chkRipShut = rip.chkShut,
              *&chkRipPlaySound = rip.chkPlaySound;
    QRadioButton *&rdbRipSoundDefault = rip.rdbSoundDefault, *&rdbRipSoundCustom = rip.rdbSoundCustom;
    QLineEdit*& edtRipSoundCustom = rip.edtSoundCustom;
    // Skins
    QListWidget* ltbSkin;
    QCheckBox* chkPreview;
    QPushButton *btnPreview, *btnImport, *btnExport, *btnDelSkin, *btnMoreSkin;
    // Advanced
    QRadioButton *rdbShowQuery, *rdbNotQuery, *rdbYes, *rdbNo;
    QButtonGroup *queryGroup, *answerGroup;
    QCheckBox *chkShowCDDBFailed, *chkTip;
    QComboBox* cmbRecord;
    QSpinBox* spnFilesAtOnce;  // "Files converted at once" (Advanced/FilesAtOnce)
    QCheckBox* chkReplayGain;  // Advanced/ReplayGain
    // Buttons
    QPushButton *btnDefault, *btnOK, *btnCancel;

protected:
    void done(int result) override;

private:
    QWidget* BuildConversionPage();
    QWidget* BuildRipPage();
    QWidget* BuildSkinsPage();
    QWidget* BuildAdvancedPage();
    QWidget* BuildSoundGroup(SoundGroup& group, const QString& shutCaption, const char* prefix);
    QToolButton* HelpLink(const QString& text, const QString& topic);
    void PutPostActions(SoundGroup& group, const app::Options::PostActions& after);
    app::Options::PostActions TakePostActions(const SoundGroup& group) const;

    AppContext& context_;
    TStartForm& start_;
    TConverterForm& converter_;
    app::SkinCatalog catalog_;
    app::SkinSelection skinSelection_;
    MediaPlayer player_;
};

// Sets a radio pair's exclusive group to "none selected" (a hand-edited
// file or Load Default can leave a pair so).
void ClearGroup(QButtonGroup* group);

}  // namespace kiv::gui

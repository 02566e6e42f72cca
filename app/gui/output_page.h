// The step-2 page of both wizards: output folder, format (normal or
// advanced mode), existing-destination policy and quality, bound to a
// step-2 settings record of the core. The rules (which quality modes a
// format offers, the sliders' scale) are the core's; this page only shows
// them. A wizard adds controls of its own below the groups (`extraArea`)
// and hides what it does not offer through the page's texts.
#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <utility>
#include <vector>

#include "app/core/output_planning.h"
#include "app/core/settings.h"

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;
class QToolButton;
class QVBoxLayout;

namespace kiv::gui {

// What differs between the wizards' step-2 pages.
struct OutputPageTexts {
    QString folderGroup = "Output Directory";
    QString defaultCaption = "Default - Application directory";
    bool sameFolderChoice = true;  // "The same folder as source file"
    QString folderTip = "Tip: All files in the list will be converted and put into the folder you select.";
    QString normalNote = "- Convert all files on the list to the same format";
    QString advancedNote = "- You can choose the output format for each file";
    QString formatNote =
        "Please note: If  the format of destination file is the same as the\nsource file,  that source file will be skip.";
    // Clicking `edtCustom` selects `rdbCustom`, clicking `edtRenaming` selects `rdbRenaming`.
    bool editClicksSelect = true;
    // The "Keep the folder tree" box (files found under added folders).
    bool keepFoldersChoice = true;
    int sliderLow = 160;
};

class OutputPage : public QWidget {
public:
    explicit OutputPage(const OutputPageTexts& texts, QWidget* parent = nullptr);

    // The page's controls as a settings record, and back (restoring: groups
    // the record leaves without a member show no selection).
    app::Step2Settings settings() const;
    void setSettings(const app::Step2Settings& settings);

    // `edtDefault`: the application directory.
    void setApplicationDirectory(const QString& folder);

    // The check made when the page is left: with `rdbCustom` checked and no
    // folder at its text, "Path ... is not existent. Please check it out."
    // ("Information"), `edtCustom` focused, and false.
    bool CheckCustomFolder();

    // Choosing a normal-mode format (`rdbWavClick` ...).
    void ChooseFormat(app::OutputFormat format);
    // `btnCustomClick`: checks `rdbCustom` and asks for a folder.
    void btnCustomClick();

    // Where a wizard adds controls of its own (below the groups).
    QVBoxLayout* extraArea() const { return extra_; }

    // Hooks: "Click to use Advance Mode" (after `rdbAdvance` is checked),
    // "Previous Step", "Next Step" (after the folder check passed).
    std::function<void()> onAdvanced, onPrevious, onNext;
    // Tests and the screenshot tool answer the folder dialog here; empty:
    // the real dialog.
    std::function<QString(const QString& title)> chooseFolder;

    // Output folder
    QGroupBox* grpFolder;
    QRadioButton *rdbDefault, *rdbSame, *rdbCustom;
    QLineEdit *edtDefault, *edtCustom;
    QToolButton* btnCustom;
    QCheckBox* chkKeepFolders;
    // Output format
    QRadioButton *rdbNormal, *rdbAdvance, *rdbWav, *rdbMp3, *rdbWma, *rdbOgg, *rdbFlac, *rdbOpus;
    QPushButton* btnAdvance;
    // If the destination exists
    QRadioButton *rdbSkip, *rdbOverwrite, *rdbQuery, *rdbRenaming;
    QLineEdit* edtRenaming;
    // Destination quality
    QRadioButton *rdbCBR, *rdbABR, *rdbVBR;
    QSlider *sldCBR, *sldABR, *sldVBR;
    QSpinBox *edtCBR, *edtABR, *edtVBR;
    // Navigation
    QPushButton *btnPrevious, *btnNext;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Quality {
        app::QualityMode mode;
        QRadioButton* button;
        QSlider* slider;
        QSpinBox* edit;
    };
    QWidget* BuildFolderGroup(const OutputPageTexts& texts);
    QWidget* BuildFormatGroup(const OutputPageTexts& texts);
    QWidget* BuildExistsGroup();
    QWidget* BuildQualityGroup();
    void ConnectQuality(const Quality& q);
    // Enables the modes the normal-mode format offers.
    void EnableQualityModes(app::OutputFormat format);

    app::QualitySlider scale_;
    bool editClicksSelect_;
    QButtonGroup *folderGroup_, *modeGroup_, *formatGroup_, *existsGroup_, *qualityGroup_;
    // Each format's button, in the order of the page.
    std::vector<std::pair<QRadioButton*, app::OutputFormat>> formatButtons_;
    Quality quality_[3];
    QVBoxLayout* extra_;
};

}  // namespace kiv::gui

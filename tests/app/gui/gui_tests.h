// Tests of the desktop program's windows, driven through their widgets on
// Qt's offscreen platform. Each test gets its own folders (settings, data,
// user data, registry) and a scripted answerer for message boxes.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QTreeWidget;

class QRadioButton;

#include <initializer_list>
#include <memory>
#include <filesystem>
#include <string>
#include <vector>

#include "app/core/settings.h"
#include "app/gui/application.h"
#include "tests/support/test_env.h"

namespace kiv::gui::test {

class GuiFixture {
protected:
    // Fresh folders and environment; copies the shipped data when asked.
    void SetUpFolders(bool shippedData = true);
    // The program as it starts (after Option.ini was written, if a test wants one).
    void StartApplication();
    void TearDownAll();

    std::string OptionIni() const { return *dir_ / "cfg/Option.ini"; }
    std::string DataDir() const { return *dir_ / "data/"; }
    std::string ReadOptionIni() const;
    void WriteOptionIni(const std::string& text) const;

    std::unique_ptr<kiv::test::TempDir> dir_;
    std::unique_ptr<kiv::test::ScriptedAnswers> answers_;
    std::unique_ptr<Application> app_;
    int endCalls_ = 0;
    int tipPicks_ = 0;
};

class MessagePumpTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void workerEventsArriveOnTheWindowThreadInNestedLoops();
    void timersFireWhileQtRuns();
};

class StartFormTest : public QObject, GuiFixture {
    Q_OBJECT
private Q_SLOTS:
    void init() { SetUpFolders(); }
    void cleanup() { TearDownAll(); }
    void versionTextComesFromOptionIni_data();
    void versionTextComesFromOptionIni();
    void buttonsShowAndHideTheRightWindows();
    void closeEndsTheProcessThroughItsAction();
    void tipsAtStartFollowTheOption();
    void draggingTheBackgroundMovesTheWindow();
};

class OptionsTest : public QObject, GuiFixture {
    Q_OBJECT
private Q_SLOTS:
    void init() { SetUpFolders(); }
    void cleanup() { TearDownAll(); }
    void defaultsWithoutOptionIni();
    void loadShowsTheFileAndOkSavesInOrder();
    void loadDefaultAsksAndCancelKeepsTheFile();
    void cancelRevertsAPreviewedSkin();
    void noneInTheFileStartsWithoutASkin();
    void skinListRules();
    void importExportDelete();
    void soundPreview();
    void verifiedRippingChoices();
};

class QueryAndTipsTest : public QObject, GuiFixture {
    Q_OBJECT
private Q_SLOTS:
    void init() { SetUpFolders(); }
    void cleanup() { TearDownAll(); }
    void queryAnswersAndShowQuery_data();
    void queryAnswersAndShowQuery();
    void queryCloseBoxAnswersNoAndWritesNothing();
    void tipsShowThePickedSection();
    void closingTipsWithTheBoxCheckedSwitchesThemOff();
};

class HelpAndAboutTest : public QObject, GuiFixture {
    Q_OBJECT
private Q_SLOTS:
    void init() { SetUpFolders(); }
    void cleanup() { TearDownAll(); }
    void topicsOpenByTheirContextStrings_data();
    void topicsOpenByTheirContextStrings();
    void linksBackForwardAndMissingTopics();
    void aboutShowsVersionAndThisSystem();
};

class ConverterTest : public QObject, GuiFixture {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup() { TearDownAll(); }
    void windowFrame();
    void addFilesAndFolders();
    void filesGivenToTheProgramFillTheList();
    void folderOptionsDecideWithoutAsking();
    void cancellingASearchKeepsTheRows();
    void dropsFromOtherProgramsAndTheExplorer();
    void page2RulesAndStatusList();
    void batchOfThreeFormats();
    void pauseAndStopBetweenFiles();
    void stopDuringAFileAndStartAgain();
    void aFailingFileInTheMiddle();
    void logSavedAsRtfAndPrinted();
    void taskFileRoundTrip();
    void severalAtOnceMatchesOneAtATime();
    void keepTheFolderTree();
    void step2IsSavedOnlyAsRecordSettingsSays();
    void endOfBatchActions();
    void previewThroughThePlayer();

private:
    // The program started (with this Option.ini) and the wizard opened from
    // the start window; folders opened and power-offs are recorded.
    TConverterForm& OpenWizard(const std::string& optionIni = {});
    std::string In(const std::string& name) const;
    std::string Out(const std::string& name) const;
    static void UseCustomFolder(TConverterForm& c, const std::string& folder);
    // The files of "in/" in the task list, "out/" as the custom folder, and a format.
    void Plan(TConverterForm& c, std::initializer_list<const char*> files, QRadioButton* format);
    // Page 3 through its tab, "&Start", and the wait for the batch's end.
    static bool RunBatch(TConverterForm& c);

    QStringList opened_;
    int powerOffs_ = 0;
};

class RipperTest : public QObject, GuiFixture {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void trackListsOfAudioEnhancedEmptyAndDataDiscs();
    void cddbTitlesInTheListAndInTheTags();
    void aFailedLookupReportsPerTheOptions_data();
    void aFailedLookupReportsPerTheOptions();
    void aDiscChangeWhileIdleRefreshesTheList();
    void threeTracksRipExactlyWithARetriedFrameAndSeamlesslyWithJitter();
    void anUnreadableFrameFailsItsTrackAndLeavesNoFile();
    void stopDuringTheSecondTrack();
    void perTrackFormatsFromTheAdvancedDialog();
    void theAudioCdHandlerChoosesTheDriveItNames();
    void verifiedRipWithTheReadOffsetKeptForItsDrive();
    void aSlowAccurateRipServerLeavesTheWindowUsable();
    void closingDuringARipHidesTheWindowAndTheRipGoesOn();

private:
    // Track WAV files "<prefix>N.wav" of `frames` frames each; their PCM.
    std::vector<std::vector<unsigned char>> MakeTracks(const std::vector<int>& frames, const std::string& prefix = "t");
    // A [drive] section with `tracks` of those files and extra keys.
    static std::string Drive(std::size_t tracks, const std::string& extra = {}, const std::string& prefix = "t");
    void Config(const std::string& text);
    // The program, then the ripping wizard from the start window.
    TRipperForm& OpenWizard(const std::string& optionIni = {});
    static QStringList Row(QTreeWidget* list, int row);
    static QStringList LogLines(TRipperForm& w);
    static bool Logged(TRipperForm& w, const QString& piece);
    // Page 1 to page 3 into the output folder (in `format` unless None), and Start.
    void RipChecked(TRipperForm& w, app::OutputFormat format);
    static bool WaitForBatch(TRipperForm& w, int timeoutMs = 60000);
    std::vector<std::string> VisibleFiles() const;

    std::filesystem::path out_;
};

}  // namespace kiv::gui::test

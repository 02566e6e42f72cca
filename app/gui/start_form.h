// The start window: borderless, dragged by its background, picture
// buttons for the two wizards, the options and the help; minimise and
// close at the top right. Close ends the process at once.
#pragma once

#include <QPoint>
#include <QWidget>

class QLabel;
class QToolButton;

namespace kiv::gui {

struct AppContext;
class TConverterForm;
class TRipperForm;
class TOptionForm;
class TAboutForm;

class TStartForm : public QWidget {
public:
    // Computes the application directory, reads the version text from
    // "Option.ini" and sets the title, all into `context`.
    explicit TStartForm(AppContext& context);

    // The windows the buttons show; set once they exist.
    void setWindows(TConverterForm* converter, TRipperForm* ripper, TOptionForm* options, TAboutForm* about);

    void btnConverterClick();
    void btnRipperClick();
    void btnOptionClick();
    void btnHelpClick();
    void btnWebClick();
    // The wizards' "About" is not built yet; the start window offers it meanwhile.
    void btnAboutClick();
    void btnMinClick();
    void btnCloseClick();

    bool wizardOpened() const { return wizardOpened_; }

    QWidget* imgBk;
    QLabel* imgLogo;
    QLabel* labVersion;
    QToolButton *btnConverter, *btnRipper, *btnOption, *btnHelp, *btnWeb, *btnAbout, *btnMin, *btnClose;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // A close asked by the desktop (a key, the task bar) ends the program
    // like the close button: a hidden start window would leave a process
    // running with no window to reach it.
    void closeEvent(QCloseEvent* e) override;

private:
    AppContext& context_;
    TConverterForm* converter_ = nullptr;
    TRipperForm* ripper_ = nullptr;
    TOptionForm* options_ = nullptr;
    TAboutForm* about_ = nullptr;
    bool wizardOpened_ = false;
    bool dragging_ = false;
    QPoint pressPoint_;
};

}  // namespace kiv::gui

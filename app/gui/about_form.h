// The about box: picture, version, the system the program runs on, OK.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace kiv::gui {

struct AppContext;

class TAboutForm : public QDialog {
public:
    explicit TAboutForm(const AppContext& context);

    QLabel* labVersion;
    QLabel* labSystem;
    QPushButton* btnOK;
};

// The line naming the system: its pretty name, then the kernel.
QString SystemLine();

}  // namespace kiv::gui

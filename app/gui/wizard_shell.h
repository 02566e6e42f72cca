// The frame of the two wizard windows: the start window shows and hides
// them, and a wizard that closes brings the start window back. The ripping
// wizard is `TRipperForm` (ripper_form.h).
#pragma once

#include <QString>
#include <QWidget>

#include <functional>

namespace kiv::gui {

class WizardShell : public QWidget {
public:
    WizardShell(const QString& objectName, const QString& caption);
    // Called when the window closes (the start window shows itself again).
    void setOnClose(std::function<void()> onClose) { onClose_ = std::move(onClose); }

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    std::function<void()> onClose_;
};

// "Audio Converter - WIZARD".
class TConverterForm : public WizardShell {
public:
    TConverterForm();
    // The folder of the explorer pane (General/InitialDir).
    void SelectFolder(const QString& folder) { initialDir_ = folder; }
    const QString& selectedFolder() const { return initialDir_; }

private:
    QString initialDir_;
};

}  // namespace kiv::gui

// The frame of the two wizard windows: the start window shows and hides
// them, and a wizard that closes brings the start window back. The
// conversion wizard is `TConverterForm` (converter_form.h).
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

// "Audio CD Ripper - WIZARD".
class TRipperForm : public WizardShell {
public:
    TRipperForm();
    // The drive asked for on the command line (--rip DEVICE); empty: any.
    void RequestDrive(const QString& device) { requestedDrive_ = device; }
    const QString& requestedDrive() const { return requestedDrive_; }

private:
    QString requestedDrive_;
};

}  // namespace kiv::gui

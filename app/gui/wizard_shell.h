// The frame of the two wizard windows: the start window shows and hides
// them, and a wizard that closes brings the start window back. The
// wizards are `TConverterForm` (converter_form.h) and `TRipperForm`
// (ripper_form.h).
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

}  // namespace kiv::gui

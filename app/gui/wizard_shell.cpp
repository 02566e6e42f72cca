#include "app/gui/wizard_shell.h"

#include <QCloseEvent>

namespace kiv::gui {

WizardShell::WizardShell(const QString& objectName, const QString& caption) : QWidget(nullptr, Qt::Window) {
    setObjectName(objectName);
    setWindowTitle(caption);
    resize(760, 540);
}

void WizardShell::closeEvent(QCloseEvent* e) {
    QWidget::closeEvent(e);
    if (e->isAccepted() && onClose_) onClose_();
}

}  // namespace kiv::gui

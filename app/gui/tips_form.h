// The tips window: one tip from "Tips.ini" at start, and the box that
// switches the tips off.
#pragma once

#include <QDialog>

#include "app/core/tips.h"

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace kiv::gui {

struct AppContext;
class TOptionForm;

class TTipForm : public QDialog {
public:
    TTipForm(const AppContext& context, TOptionForm& options, app::TipPicker pick);

    void chkTipClick();
    void btnOKClick();

    QLabel* labTitle;
    QPlainTextEdit* memContent;
    QCheckBox* chkTip;
    QPushButton* btnOK;

protected:
    void showEvent(QShowEvent* e) override;
    void done(int result) override;

private:
    const AppContext& context_;
    TOptionForm& options_;
    app::TipPicker pick_;
};

}  // namespace kiv::gui

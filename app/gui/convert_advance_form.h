// The advanced-mode dialog: a destination format for each file of the task
// list. A small button on the clicked row opens a chooser of the formats
// other than the file's own; "&OK" writes the choices back to the task list.
#pragma once

#include <QDialog>

#include <functional>

#include "app/core/task_list.h"

class QLabel;
class QListWidget;
class QPushButton;
class QToolButton;
class QTreeWidget;

namespace kiv::gui {

class TConvertAdvanceForm : public QDialog {
public:
    // `owner` is disabled while the dialog is shown.
    TConvertAdvanceForm(app::TaskList& tasks, QWidget* owner);

    // Fills the list from the task list and shows the dialog.
    void ShowDialog();

    void ltvListClick();
    void btnSelectClick();
    // A format of the chooser taken for the row under the button.
    void lstSelectClick(const QString& format);
    void btnOKClick();

    // The row the select button stands on; -1 before any.
    int selectRow() const;

    QTreeWidget* ltvList;
    QLabel* labNote;
    QToolButton* btnSelect;
    QListWidget* lstSelect;
    QPushButton *btnOK, *btnCancel;

protected:
    void showEvent(QShowEvent* e) override;
    void done(int result) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    app::TaskList& tasks_;
    QWidget* owner_;
};

}  // namespace kiv::gui

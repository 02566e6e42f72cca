// The advanced mode's dialog of the ripping wizard: one row per checked
// track, and a small chooser for each row's destination format. "&OK"
// hands the formats back to the wizard; "&Cancel" drops them.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <string>
#include <vector>

#include "app/core/rip_batch.h"

class QListWidget;
class QListWidgetItem;
class QPushButton;
class QToolButton;
class QTreeWidget;

namespace kiv::gui {

class TRipAdvanceForm : public QDialog {
public:
    explicit TRipAdvanceForm(QWidget* wizard);

    // Shows the dialog over the disabled wizard, one row per checked track
    // of `tracks` with an empty format.
    void ShowFor(const std::vector<app::TrackListRow>& tracks);

    // A row was clicked: the chooser's button moves to it.
    void ltvListClick(int row);
    // The button opens the chooser of the four formats.
    void btnSelectClick();
    // A format was chosen for the button's row.
    void lstSelectClick(const QString& format);
    void btnOKClick();

    // "&OK": the track number and format (possibly empty) of every row.
    std::function<void(const std::vector<std::pair<int, std::string>>&)> onOK;

    QTreeWidget* ltvList;
    QToolButton* btnSelect;
    QListWidget* lstSelect;
    QPushButton *btnOK, *btnCancel;

protected:
    void done(int result) override;
    void mousePressEvent(QMouseEvent* e) override;

private:
    QWidget* wizard_;
};

}  // namespace kiv::gui

// The query dialog: a Yes/No question with "Never show this again"; the
// answer comes back as "Yes" or "No".
#pragma once

#include <QDialog>
#include <QEventLoop>

class QCheckBox;
class QLabel;
class QPushButton;

namespace kiv::gui {

struct AppContext;

class TDialogForm : public QDialog {
public:
    explicit TDialogForm(const AppContext& context);

    // Disables `owner`, shows the question and waits, handling events,
    // until the dialog closes; then enables `owner` again.
    QString Ask(QWidget* owner, const QString& question, const QString& caption);

    void btnYesClick();
    void btnNoClick();

    QLabel* labContent;
    QCheckBox* chkNeverShow;
    QPushButton *btnYes, *btnNo;

protected:
    void showEvent(QShowEvent* e) override;
    void done(int result) override;

private:
    void Answer(const QString& answer);

    const AppContext& context_;
    QWidget* owner_ = nullptr;
    QString answer_ = "No";
    bool closed_ = true;
    QEventLoop* waiting_ = nullptr;
};

}  // namespace kiv::gui

// The program's own help viewer: HTML topics from the data folder, opened
// by the context strings the windows use, with back, forward and contents.
#pragma once

#include <QString>
#include <QWidget>

class QListWidget;
class QTextBrowser;
class QToolButton;

namespace kiv::gui {

class HelpViewer : public QWidget {
public:
    explicit HelpViewer(QWidget* parent = nullptr);

    // Shows the topic and brings the viewer up; a topic without a file is
    // reported in the viewer itself.
    void ShowTopic(const QString& topic);
    // The topic shown now; empty when a missing topic was reported.
    QString currentTopic() const;

    QTextBrowser* browser() const { return browser_; }
    QListWidget* contents() const { return contents_; }
    QToolButton* backButton() const { return back_; }
    QToolButton* forwardButton() const { return forward_; }

private:
    void LoadContents();
    void Follow(const QUrl& url);

    QTextBrowser* browser_;
    QListWidget* contents_;
    QToolButton *back_, *forward_, *home_;
    bool missing_ = false;  // the last topic asked for has no file
};

}  // namespace kiv::gui

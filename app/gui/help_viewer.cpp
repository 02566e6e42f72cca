#include "app/gui/help_viewer.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QListWidget>
#include <QSplitter>
#include <QTextBrowser>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "app/core/help_topics.h"

namespace kiv::gui {

HelpViewer::HelpViewer(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("HelpViewer");
    setWindowTitle("Ondalo Help");
    resize(880, 600);

    back_ = new QToolButton(this);
    back_->setObjectName("btnBack");
    back_->setText("< Back");
    forward_ = new QToolButton(this);
    forward_->setObjectName("btnForward");
    forward_->setText("Forward >");
    home_ = new QToolButton(this);
    home_->setObjectName("btnHome");
    home_->setText("Welcome");
    back_->setEnabled(false);
    forward_->setEnabled(false);

    contents_ = new QListWidget(this);
    contents_->setObjectName("lstContents");
    browser_ = new QTextBrowser(this);
    browser_->setObjectName("browser");
    browser_->setOpenLinks(false);  // links are followed here, so external ones leave the viewer

    auto* bar = new QHBoxLayout;
    bar->addWidget(back_);
    bar->addWidget(forward_);
    bar->addWidget(home_);
    bar->addStretch();
    auto* split = new QSplitter(this);
    split->addWidget(contents_);
    split->addWidget(browser_);
    split->setStretchFactor(1, 3);
    split->setSizes({260, 600});
    contents_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    contents_->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(split);

    connect(back_, &QToolButton::clicked, browser_, &QTextBrowser::backward);
    connect(forward_, &QToolButton::clicked, browser_, &QTextBrowser::forward);
    connect(home_, &QToolButton::clicked, this, [this] { ShowTopic("Welcome"); });
    connect(browser_, &QTextBrowser::backwardAvailable, back_, &QToolButton::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward_, &QToolButton::setEnabled);
    connect(browser_, &QTextBrowser::sourceChanged, this, [this] { missing_ = false; });
    connect(browser_, &QTextBrowser::anchorClicked, this, &HelpViewer::Follow);
    connect(contents_, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { ShowTopic(item->data(Qt::UserRole).toString()); });
    connect(contents_, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { ShowTopic(item->data(Qt::UserRole).toString()); });
    LoadContents();
}

void HelpViewer::LoadContents() {
    contents_->clear();
    for (const app::HelpEntry& e : app::ReadHelpContents(app::HelpFolder() + "contents.txt")) {
        auto* item = new QListWidgetItem(QString::fromStdString(e.title), contents_);
        item->setData(Qt::UserRole, QString::fromStdString(e.topic));
    }
}

void HelpViewer::Follow(const QUrl& url) {
    if (url.scheme() == "http" || url.scheme() == "https" || url.scheme() == "mailto") {
        QDesktopServices::openUrl(url);
        return;
    }
    if (!url.fragment().isEmpty() && url.path().isEmpty()) {
        browser_->scrollToAnchor(url.fragment());
        return;
    }
    ShowTopic(QFileInfo(url.path()).completeBaseName());
}

void HelpViewer::ShowTopic(const QString& topic) {
    QString path = QString::fromStdString(app::HelpTopicPath(topic.toStdString()));
    if (!path.isEmpty() && QFileInfo(path).isFile()) {
        missing_ = false;
        browser_->setSource(QUrl::fromLocalFile(path));
    } else {
        missing_ = true;
        browser_->setHtml(QString("<h2>Help topic not found</h2><p>The help topic \"%1\" is not in %2. "
                                  "The help files may be missing from this installation.</p>")
                              .arg(topic.toHtmlEscaped(),
                                   QString::fromStdString(app::HelpFolder()).toHtmlEscaped()));
    }
    for (int i = 0; i < contents_->count(); ++i)
        if (contents_->item(i)->data(Qt::UserRole).toString() == topic) contents_->setCurrentRow(i);
    show();
    raise();
    activateWindow();
}

QString HelpViewer::currentTopic() const {
    QUrl source = browser_->source();
    if (missing_ || !source.isLocalFile()) return {};
    return QFileInfo(source.toLocalFile()).completeBaseName();
}

}  // namespace kiv::gui

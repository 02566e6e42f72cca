#include "app/gui/app_context.h"

#include <unistd.h>

#include <cstdio>

#include <QDesktopServices>
#include <QUrl>

#include "app/gui/help_viewer.h"

namespace kiv::gui {

void AppContext::OpenHelp(const QString& topic) const {
    if (help) help->ShowTopic(topic);
}

void OpenFolderOnDesktop(const QString& folder) { QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); }

void EndProcessNow() {
    std::fflush(nullptr);
    ::_exit(4);
}

}  // namespace kiv::gui

// The program-wide values every window reads: set once while the start
// window is created.
#pragma once

#include <QString>

#include <functional>
#include <string>

#include "app/core/settings.h"

namespace kiv::gui {

class HelpViewer;

// The desktop's file manager on a folder (xdg-open through Qt).
void OpenFolderOnDesktop(const QString& folder);

struct AppContext {
    std::string applicationDirectory;  // ends in '/'
    QString versionText;               // General/Version, "3.0" by default
    app::SettingsStore store;          // "Option.ini" in the application directory
    HelpViewer* help = nullptr;
    // Ends the process at once with exit code 4; tests replace it.
    std::function<void()> endProcess;
    // Powers the computer off; only the real program sets it, so a window
    // made anywhere else (a test, the screenshot tool) cannot power off.
    std::function<void()> powerOff;
    // Opens a folder in the desktop's file manager; tests replace it.
    std::function<void(const QString&)> openFolder = OpenFolderOnDesktop;

    QString title() const { return "Ondalo Version " + versionText; }
    void OpenHelp(const QString& topic) const;
};

// The real end: no window closed, nothing saved, no conversion waited for.
void EndProcessNow();

}  // namespace kiv::gui

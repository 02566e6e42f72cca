#include "app/gui/skin_engine.h"

#include <QApplication>

#include <cstdio>

namespace kiv::gui {

bool QtSkinEngine::LoadSkin(const std::string& path) {
    app::SkinSheet sheet;
    std::string error;
    if (!app::LoadSkinFile(path, sheet, error)) {
        // A broken skin is the skin's problem, not the user's task at hand:
        // the program keeps its look and says why on stderr.
        std::fprintf(stderr, "ondalo: skin %s not loaded: %s\n", path.c_str(), error.c_str());
        return false;
    }
    loaded_ = path;
    name_ = sheet.name;
    sheet_ = QString::fromStdString(sheet.styleSheet);
    if (active_) qApp->setStyleSheet(sheet_);
    return true;
}

void QtSkinEngine::Activate() {
    active_ = true;
    qApp->setStyleSheet(sheet_);
}

void QtSkinEngine::Deactivate() {
    active_ = false;
    qApp->setStyleSheet(QString());
}

QString QtSkinEngine::appliedSheet() const { return active_ ? sheet_ : QString(); }

}  // namespace kiv::gui

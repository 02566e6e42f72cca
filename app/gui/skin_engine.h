// The skin engine: a skin is a style sheet applied to the whole
// application; "None" is Qt's own style with no sheet.
#pragma once

#include <QString>

#include "app/core/skins.h"

namespace kiv::gui {

class QtSkinEngine : public app::SkinEngine {
public:
    bool LoadSkin(const std::string& path) override;
    void Activate() override;
    void Deactivate() override;
    std::string LoadedFile() const override { return loaded_; }

    bool Active() const override { return active_; }
    // The name in the loaded file's header.
    const std::string& skinName() const { return name_; }
    // What the application shows now: the loaded sheet when active, else empty.
    QString appliedSheet() const;

private:
    std::string loaded_, name_;
    QString sheet_;
    bool active_ = false;
};

}  // namespace kiv::gui

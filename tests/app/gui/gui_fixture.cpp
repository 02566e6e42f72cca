#include <QApplication>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/com/class_registry.h"
#include "tests/app/gui/gui_tests.h"

namespace kiv::gui::test {

namespace fs = std::filesystem;

void GuiFixture::SetUpFolders(bool shippedData) {
    endCalls_ = tipPicks_ = 0;
    dir_ = std::make_unique<kiv::test::TempDir>();
    fs::create_directories(*dir_ / "cfg");
    ::setenv("ONDALO_CONFIG_DIR", (*dir_ / "cfg").c_str(), 1);
    ::setenv("ONDALO_DATA_DIR", (*dir_ / "data").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (*dir_ / "xdg").c_str(), 1);
    ::setenv("KIV_REGISTRY", (*dir_ / "registry.reg").c_str(), 1);
    ::setenv("KIV_SOUND", "null", 1);
    if (shippedData)
        fs::copy(std::string(ONDALO_SOURCE_DIR) + "/data", *dir_ / "data",
                 fs::copy_options::recursive);
    else
        fs::create_directories(*dir_ / "data");
    // The shipped data's own desktop files are not needed here.
    std::error_code ec;
    fs::remove_all(*dir_ / "data/desktop", ec);
    answers_ = std::make_unique<kiv::test::ScriptedAnswers>();
}

void GuiFixture::StartApplication() {
    app_ = std::make_unique<Application>([this] { ++endCalls_; }, [this](int n) {
        ++tipPicks_;
        return n;  // the last tip: tests know which one
    });
}

void GuiFixture::TearDownAll() {
    app_.reset();
    qApp->setStyleSheet(QString());
    answers_.reset();
    dir_.reset();
}

std::string GuiFixture::ReadOptionIni() const {
    std::ifstream in(OptionIni());
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void GuiFixture::WriteOptionIni(const std::string& text) const { std::ofstream(OptionIni()) << text; }

}  // namespace kiv::gui::test

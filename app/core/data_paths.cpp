#include "app/core/data_paths.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <system_error>

#include "app/core/output_planning.h"
#include "app/core/settings.h"

namespace kiv::app {
namespace {

namespace fs = std::filesystem;

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

bool IsDirectory(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

// The first line that `xdg-user-dir MUSIC` prints; empty when the tool is
// missing or prints nothing.
std::string XdgMusicFolder() {
    struct PipeCloser {
        void operator()(FILE* f) const { ::pclose(f); }
    };
    std::unique_ptr<FILE, PipeCloser> pipe(::popen("xdg-user-dir MUSIC 2>/dev/null", "r"));
    if (!pipe) return {};
    std::array<char, 4096> line{};
    if (!std::fgets(line.data(), int(line.size()), pipe.get())) return {};
    std::string folder = line.data();
    while (!folder.empty() && (folder.back() == '\n' || folder.back() == '\r')) folder.pop_back();
    return folder;
}

}  // namespace

std::string DataDirectory() {
    std::string configured = Env("ONDALO_DATA_DIR");
    if (!configured.empty()) return WithTrailingSlash(configured);
    std::string installed = ProgramDirectory() + "../share/ondalo/";
    if (IsDirectory(installed)) {
        std::error_code ec;
        fs::path canonical = fs::weakly_canonical(installed, ec);
        return WithTrailingSlash(ec ? installed : canonical.string());
    }
    return ApplicationDirectory();
}

std::string UserDataDirectory() {
    // XDG asks that a relative XDG_DATA_HOME be ignored.
    std::string base = Env("XDG_DATA_HOME");
    if (base.empty() || base.front() != '/') base = WithTrailingSlash(HomeDirectory()) + ".local/share";
    return WithTrailingSlash(base) + "ondalo/";
}

std::string SharedSkinFolder() { return DataDirectory() + "Skins/"; }
std::string UserSkinFolder() { return UserDataDirectory() + "Skins/"; }
std::string TipsFilePath() { return DataDirectory() + "Tips.ini"; }

std::string DefaultDestinationFolder() {
    std::string app = ApplicationDirectory();
    if (!Env("ONDALO_CONFIG_DIR").empty() || app == ProgramDirectory()) {
        if (::access(app.c_str(), W_OK) == 0) return app;
    }
    std::string music = XdgMusicFolder();
    if (!music.empty() && music.front() == '/' && IsDirectory(music)) return WithTrailingSlash(music);
    return WithTrailingSlash(HomeDirectory());
}

}  // namespace kiv::app

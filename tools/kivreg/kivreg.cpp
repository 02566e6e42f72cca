// kivreg: registers component modules in the class registry, or removes them.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <stdlib.h>

#include "platform/com/class_registry.h"
#include "platform/registry/registry.h"

namespace {

void Usage(FILE* out) {
    std::fputs(
        "Usage: kivreg [-u] [--registry FILE] [--module-dir DIR] MODULE.so...\n"
        "       kivreg --list [--registry FILE]\n"
        "\n"
        "Registers the components of each module so that programs can create\n"
        "them by class id or ProgID. With -u the module's entries are removed.\n"
        "\n"
        "  -u, --unregister   remove the modules' entries instead of adding them\n"
        "  --registry FILE    the registry file to change (default: $KIV_REGISTRY,\n"
        "                     else kiv-registry.reg beside the program, else\n"
        "                     ../lib/ondalo/kiv-registry.reg from the program's\n"
        "                     folder, else ~/.local/share/ondalo/registry.reg)\n"
        "  --module-dir DIR   record the modules as living in DIR: for a registry\n"
        "                     written while they sit in a staging folder\n"
        "  --list             print the registry\n",
        out);
}

// Every value naming the module `from` (alone, or followed by ", " and a
// resource id) names `to` instead, and every value naming its folder names
// the folder of `to`.
void Relocate(kiv::registry::Key& key, const std::string& from, const std::string& to) {
    namespace fs = std::filesystem;
    const std::string fromDir = fs::path(from).parent_path().string(), toDir = fs::path(to).parent_path().string();
    for (auto& [name, value] : key.values) {
        if (value.compare(0, from.size(), from) == 0 && (value.size() == from.size() || value[from.size()] == ','))
            value = to + value.substr(from.size());
        else if (value == fromDir)
            value = toDir;
    }
    for (auto& [name, sub] : key.subkeys) Relocate(sub, from, to);
}

}  // namespace

int main(int argc, char** argv) {
    bool unregister = false, list = false;
    std::vector<std::string> modules;
    std::string moduleDir;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "-u" || a == "--unregister") unregister = true;
        else if (a == "--list") list = true;
        else if (a == "--registry" && i + 1 < argc) ::setenv("KIV_REGISTRY", argv[++i], 1);
        else if (a == "--module-dir" && i + 1 < argc) moduleDir = argv[++i];
        else if (a == "-h" || a == "--help") {
            Usage(stdout);
            return 0;
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "kivreg: unknown option %s\n", a.c_str());
            Usage(stderr);
            return 2;
        } else modules.push_back(a);
    }
    if (list) {
        kiv::registry::Key root;
        kiv::registry::Load(root);
        std::fputs(kiv::registry::Serialize(root).c_str(), stdout);
        return 0;
    }
    if (modules.empty()) {
        Usage(stderr);
        return 2;
    }
    int failed = 0;
    for (std::string& m : modules) {
        // A module names itself by the path it was loaded from: make that the
        // full path, so the registry does not depend on the current folder.
        std::error_code ec;
        const std::filesystem::path full = std::filesystem::absolute(m, ec);
        if (!ec && m.find('/') != std::string::npos) m = full.lexically_normal().string();
        std::string error;
        kiv::HRESULT hr = kiv::RegisterModule(m, unregister, &error);
        if (kiv::FAILED(hr)) {
            std::fprintf(stderr, "kivreg: %s: failed (0x%08X)%s%s\n", m.c_str(), static_cast<unsigned>(hr),
                         error.empty() ? "" : ": ", error.c_str());
            ++failed;
        } else if (!unregister && !moduleDir.empty()) {
            const std::string to =
                (std::filesystem::path(moduleDir) / std::filesystem::path(m).filename()).lexically_normal().string();
            hr = kiv::registry::Edit([&](kiv::registry::Key& root) { Relocate(root, m, to); });
            if (kiv::FAILED(hr)) {
                std::fprintf(stderr, "kivreg: %s: cannot record it as %s\n", m.c_str(), to.c_str());
                ++failed;
            }
        }
    }
    return failed ? 1 : 0;
}

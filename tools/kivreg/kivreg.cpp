// kivreg: registers component modules in the class registry, or removes them.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <stdlib.h>

#include "platform/com/class_registry.h"
#include "platform/registry/registry.h"

namespace {

void Usage(FILE* out) {
    std::fputs(
        "Usage: kivreg [-u] [--registry FILE] MODULE.so...\n"
        "       kivreg --list [--registry FILE]\n"
        "\n"
        "Registers the components of each module so that programs can create\n"
        "them by class id or ProgID. With -u the module's entries are removed.\n"
        "\n"
        "  -u, --unregister   remove the modules' entries instead of adding them\n"
        "  --registry FILE    the registry file to change (default: $KIV_REGISTRY,\n"
        "                     else kiv-registry.reg beside the program, else\n"
        "                     ~/.local/share/ondalo/registry.reg)\n"
        "  --list             print the registry\n",
        out);
}

}  // namespace

int main(int argc, char** argv) {
    bool unregister = false, list = false;
    std::vector<std::string> modules;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "-u" || a == "--unregister") unregister = true;
        else if (a == "--list") list = true;
        else if (a == "--registry" && i + 1 < argc) ::setenv("KIV_REGISTRY", argv[++i], 1);
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
    for (const std::string& m : modules) {
        std::string error;
        kiv::HRESULT hr = kiv::RegisterModule(m, unregister, &error);
        if (kiv::FAILED(hr)) {
            std::fprintf(stderr, "kivreg: %s: failed (0x%08X)%s%s\n", m.c_str(), static_cast<unsigned>(hr),
                         error.empty() ? "" : ": ", error.c_str());
            ++failed;
        }
    }
    return failed ? 1 : 0;
}

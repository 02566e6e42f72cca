// A private folder under $TMPDIR (or /tmp) for the targets that must write,
// removed with everything in it when the process ends.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace kiv::fuzz {

inline const std::filesystem::path& TempFolder() {
    struct Folder {
        std::filesystem::path path;
        Folder() {
            const char* base = std::getenv("TMPDIR");
            std::string pattern = std::string(base && *base ? base : "/tmp") + "/ondalo-fuzz-XXXXXX";
            if (::mkdtemp(pattern.data()) == nullptr) std::abort();
            path = pattern;
        }
        ~Folder() {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    };
    static const Folder folder;
    return folder.path;
}

}  // namespace kiv::fuzz

// The private-profile (INI) functions. The first line of the input names a
// section, a key and a value ("section|key|value"); the rest is the file.
// The file is read as it is, then the key is written and must read back.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include "fuzz/temp_folder.h"
#include "platform/system/profile.h"

namespace {

// Names and values that survive the file's own trimming and quoting, so
// that a write followed by a read must give the value back.
bool Plain(std::string_view s) {
    for (char c : s)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.'))
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t eol = input.find('\n');
    const std::string_view command = input.substr(0, eol);
    const std::string_view contents = eol == std::string_view::npos ? std::string_view() : input.substr(eol + 1);
    const std::size_t bar1 = command.find('|');
    const std::size_t bar2 = bar1 == std::string_view::npos ? bar1 : command.find('|', bar1 + 1);
    if (bar2 == std::string_view::npos) return 0;
    const std::string section(command.substr(0, bar1));
    const std::string key(command.substr(bar1 + 1, bar2 - bar1 - 1));
    const std::string value(command.substr(bar2 + 1));

    const std::string path = (kiv::fuzz::TempFolder() / "profile.ini").string();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(contents.data(), std::streamsize(contents.size()));
        if (!out) std::abort();
    }
    kiv::GetPrivateProfileString(section, key, "default", path);
    kiv::GetPrivateProfileInt(section, key, -1, path);

    if (!kiv::WritePrivateProfileString(section, key.c_str(), value.c_str(), path)) std::abort();
    if (Plain(section) && Plain(key) && Plain(value) && !key.empty()) {
        if (kiv::ReadProfileString(path, section, key) != value) std::abort();
    }
    kiv::WritePrivateProfileString(section, nullptr, nullptr, path);
    ::unlink(path.c_str());
    return 0;
}

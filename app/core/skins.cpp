#include "app/core/skins.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <system_error>


namespace kiv::app {
namespace {

namespace fs = std::filesystem;

// Larger than any style sheet a person writes; a bigger file is not a skin.
constexpr std::size_t kMaxSkinBytes = 1 << 20;

bool ValidUtf8(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        int extra = c < 0x80 ? 0 : (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xE ? 2 : (c >> 3) == 0x1E ? 3 : -1;
        if (extra < 0 || i + std::size_t(extra) >= s.size()) return false;
        for (int k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(s[i + std::size_t(k)]) & 0xC0) != 0x80) return false;
        i += std::size_t(extra) + 1;
    }
    return true;
}

std::string Trim(const std::string& s) {
    auto b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    auto e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

// The text of a one-line comment "/* ... */", trimmed; false when the line is not one.
bool CommentText(const std::string& line, std::string& text) {
    std::string t = Trim(line);
    if (t.size() < 4 || t.compare(0, 2, "/*") != 0 || t.compare(t.size() - 2, 2, "*/") != 0) return false;
    text = Trim(t.substr(2, t.size() - 4));
    return true;
}

// Comments, strings and blocks all close, and no block closes that was
// not opened: the structure a style sheet needs before the toolkit sees it.
bool BalancedSheet(const std::string& s, std::string& error) {
    int depth = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
            std::size_t end = s.find("*/", i + 2);
            if (end == std::string::npos) {
                error = "a comment is not closed";
                return false;
            }
            i = end + 1;
        } else if (c == '"' || c == '\'') {
            std::size_t j = i + 1;
            while (j < s.size() && s[j] != c && s[j] != '\n') j += s[j] == '\\' ? 2 : 1;
            if (j >= s.size() || s[j] != c) {
                error = "a string is not closed";
                return false;
            }
            i = j;
        } else if (c == '{') {
            ++depth;
        } else if (c == '}') {
            if (--depth < 0) {
                error = "a block is closed that was never opened";
                return false;
            }
        }
    }
    if (depth != 0) {
        error = "a block is not closed";
        return false;
    }
    return true;
}

std::string LowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

void CollectNames(const std::string& folder, std::set<std::string>& names) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code fe;
        if (it->is_directory(fe)) continue;
        std::string file = it->path().filename().string();
        std::string name = file.substr(0, file.find('.'));
        if (!name.empty()) names.insert(name);
    }
}

bool CopyNew(const std::string& from, const std::string& to) {
    std::error_code ec;
    if (!fs::is_regular_file(from, ec) || fs::exists(to, ec)) return false;
    return fs::copy_file(from, to, fs::copy_options::none, ec) && !ec;
}

}  // namespace

bool ParseSkin(const std::string& text, SkinSheet& sheet, std::string& error) {
    if (text.size() > kMaxSkinBytes) {
        error = "the file is too large for a skin";
        return false;
    }
    if (text.find('\0') != std::string::npos || !ValidUtf8(text)) {
        error = "the file is not a text file";
        return false;
    }
    std::istringstream lines(text);
    std::string line, comment;
    // The header: the first non-empty line names the format, the next the skin.
    while (std::getline(lines, line) && Trim(line).empty()) {
    }
    const std::string magic = "ondalo-skin ";
    if (!CommentText(line, comment) || comment.compare(0, magic.size(), magic) != 0) {
        error = "the file has no skin header";
        return false;
    }
    if (Trim(comment.substr(magic.size())) != std::to_string(kSkinFormatVersion)) {
        error = "the skin format version '" + Trim(comment.substr(magic.size())) + "' is not supported";
        return false;
    }
    const std::string nameKey = "name:";
    if (!std::getline(lines, line) || !CommentText(line, comment) || comment.compare(0, nameKey.size(), nameKey) != 0 ||
        Trim(comment.substr(nameKey.size())).empty()) {
        error = "the skin header names no skin";
        return false;
    }
    if (!BalancedSheet(text, error)) return false;
    sheet.name = Trim(comment.substr(nameKey.size()));
    sheet.styleSheet = text;
    return true;
}

bool LoadSkinFile(const std::string& path, SkinSheet& sheet, std::string& error) {
    std::error_code ec;
    auto size = fs::file_size(path, ec);
    if (ec) {
        error = "cannot read " + path + ": " + ec.message();
        return false;
    }
    if (size > kMaxSkinBytes) {
        error = "the file is too large for a skin";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return ParseSkin(text, sheet, error);
}

SkinCatalog::SkinCatalog(std::string sharedFolder, std::string userFolder)
    : shared_(std::move(sharedFolder)), user_(std::move(userFolder)) {}

std::vector<std::string> SkinCatalog::List() const {
    std::set<std::string> names;
    CollectNames(shared_, names);
    CollectNames(user_, names);
    std::vector<std::string> sorted(names.begin(), names.end());
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const std::string& a, const std::string& b) { return LowerAscii(a) < LowerAscii(b); });
    sorted.insert(sorted.begin(), kNoSkin);
    return sorted;
}

std::string SkinCatalog::PathOf(const std::string& item) const {
    std::string own = user_ + item + ".skn";
    std::error_code ec;
    if (fs::exists(own, ec)) return own;
    return shared_ + item + ".skn";
}

int SkinCatalog::Import(const std::vector<std::string>& files) const {
    std::error_code ec;
    fs::create_directories(user_, ec);
    int copied = 0;
    for (const std::string& file : files)
        if (CopyNew(file, user_ + fs::path(file).filename().string())) ++copied;
    return copied;
}

bool SkinCatalog::Export(const std::string& item, const std::string& destination) const {
    return CopyNew(PathOf(item), destination);
}

bool SkinCatalog::Delete(const std::string& item) const {
    std::error_code ec;
    return fs::remove(PathOf(item), ec) && !ec;
}

void SkinSelection::Apply(const std::string& item) {
    if (item == kNoSkin) {
        engine_.Deactivate();
        return;
    }
    std::string path = catalog_.PathOf(item);
    std::error_code ec;
    // A skin file that is gone or broken changes nothing: turning the engine
    // on for it would bring back whatever sheet it held before.
    if (fs::exists(path, ec) && engine_.LoadSkin(path)) engine_.Activate();
}

void SkinSelection::ApplySaved(const std::string& value) {
    if (value == kNoSkin) {
        engine_.Deactivate();
    } else if (value != current_) {
        std::string path = catalog_.PathOf(value);
        std::error_code ec;
        if (fs::exists(path, ec) && engine_.LoadSkin(path)) engine_.Activate();
    }
    current_ = value;
}

void SkinSelection::Preview(const std::string& item) {
    if (item.empty()) return;
    // The loaded file alone does not say what is shown: after "None" the
    // engine still holds its last file, and previewing that skin again must
    // bring it back.
    if (engine_.Active() && catalog_.PathOf(item) == engine_.LoadedFile()) return;
    Apply(item);
}

void SkinSelection::Confirm(const std::string& item) {
    current_ = item;
    Apply(item);
}

void SkinSelection::Reapply() {
    if (current_.empty()) return;
    Apply(current_);
}

}  // namespace kiv::app

#include "app/core/task_list.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <memory>
#include <set>
#include <tuple>
#include <utility>

#include "app/core/settings.h"
#include "platform/system/pipe.h"
#include "platform/system/text.h"

namespace kiv::app {
namespace {

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

std::string WithTrailingSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

// The extension after the name's last dot, without it; empty without a dot.
std::string ExtensionOf(const std::string& fileName) {
    auto dot = fileName.rfind('.');
    return dot == std::string::npos ? std::string() : fileName.substr(dot + 1);
}

// {folder, file name}; the folder loses its trailing slashes unless it is
// the root.
std::pair<std::string, std::string> SplitPath(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return {std::string(1, '.'), path};  // the working folder was unknown
    std::size_t end = slash;
    while (end > 0 && path[end - 1] == '/') --end;
    return {path.substr(0, end == 0 ? 1 : end), path.substr(slash + 1)};
}

struct Entry {
    std::string name;
    bool isDirectory = false;
    bool isFile = false;
    dev_t device = 0;
    ino_t inode = 0;
};

// The folder's entries other than "." and "..", symbolic links followed
// (a dangling link is neither file nor folder). Readdir's order is whatever
// the file system keeps; the user expects the alphabetical order the
// original platform's file systems return, so the entries are sorted
// without regard to case, then by bytes so that names differing only in
// case keep one stable order. A folder that cannot be listed has none.
std::vector<Entry> ListFolder(const std::string& folder) {
    std::vector<Entry> entries;
    DirHandle dir(::opendir(folder.c_str()));
    if (!dir) return entries;
    const int dirFd = ::dirfd(dir.get());
    while (const dirent* d = ::readdir(dir.get())) {
        std::string name = d->d_name;
        if (name == "." || name == "..") continue;
        Entry e;
        e.name = std::move(name);
        struct stat st {};
        if (::fstatat(dirFd, e.name.c_str(), &st, 0) == 0) {
            e.isDirectory = S_ISDIR(st.st_mode);
            e.isFile = S_ISREG(st.st_mode);
            e.device = st.st_dev;
            e.inode = st.st_ino;
        }
        entries.push_back(std::move(e));
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        std::string la = AsciiLower(a.name), lb = AsciiLower(b.name);
        return la != lb ? la < lb : a.name < b.name;
    });
    return entries;
}

bool HasSubFolders(const std::string& folder) {
    auto entries = ListFolder(folder);
    return std::any_of(entries.begin(), entries.end(), [](const Entry& e) { return e.isDirectory; });
}

class FolderSearch {
public:
    FolderSearch(TaskList& list, TaskListHost& host) : list_(list), host_(host) {}

    // The folder's own supported files; hidden files stay out, as the
    // file dialog and the explorer pane also hide them.
    int Flat(const std::string& folder) {
        const std::string prefix = WithTrailingSlash(folder);
        for (const Entry& e : ListFolder(folder)) {
            if (!e.isFile || e.name.front() == '.' || !IsSupportedSource(e.name)) continue;
            host_.ProcessEvents();
            if (host_.SearchCancelled()) break;
            if (list_.AddFile(prefix + e.name, host_)) ++added_;
        }
        return added_;
    }

    int Recursive(const std::string& folder) {
        struct stat st {};
        if (::stat(folder.c_str(), &st) == 0) visited_.insert({st.st_dev, st.st_ino});
        Walk(folder);
        return added_;
    }

private:
    // Depth first, files and folders in one pass. The host gets a turn
    // before every entry, not only before every folder, so that a folder of
    // thousands of files neither freezes the window nor ignores "Cancel".
    // Returns false once the search is cancelled.
    bool Walk(const std::string& folder) {
        const std::string prefix = WithTrailingSlash(folder);
        host_.SearchingFolder(prefix);
        for (const Entry& e : ListFolder(folder)) {
            if (!e.isDirectory && !e.isFile) continue;
            host_.ProcessEvents();
            if (host_.SearchCancelled()) return false;
            if (e.isDirectory) {
                // Links may lead back up the tree; a folder seen once is
                // never searched again, so every search ends.
                if (!visited_.insert({e.device, e.inode}).second) continue;
                if (!Walk(prefix + e.name)) return false;
            } else if (IsSupportedSource(e.name)) {
                if (list_.AddFile(prefix + e.name, host_)) ++added_;
            }
        }
        return !host_.SearchCancelled();
    }

    TaskList& list_;
    TaskListHost& host_;
    int added_ = 0;
    std::set<std::pair<dev_t, ino_t>> visited_;
};

}  // namespace

std::string TaskRow::Path() const { return WithTrailingSlash(folder) + fileName; }

std::string SizeText(std::uint64_t bytes) {
    std::uint64_t kb = bytes / 1024;
    const std::uint64_t rest = bytes % 1024;
    if (rest > 512 || (rest == 512 && kb % 2 == 1)) ++kb;
    return std::to_string(kb) + "KB";
}

long long SizeTextKilobytes(const std::string& sizeText) {
    if (sizeText.size() <= 2) return 0;
    const char* begin = sizeText.data();
    const char* end = begin + sizeText.size() - 2;
    long long value = 0;
    auto [ptr, ec] = std::from_chars(begin, end, value, 10);
    if (ec != std::errc() || ptr != end) return 0;
    return value;
}

bool IsSupportedSource(const std::string& fileName) {
    if (fileName.find('.') == std::string::npos) return false;
    const std::string ext = AsciiLower(ExtensionOf(fileName));
    return ext == "wav" || ext == "wave" || ext == "mp3" || ext == "wma" || ext == "ogg" || ext == "oga";
}

namespace {
// The path under the working folder when it is relative.
std::string Absolute(const std::string& path) {
    if (path.empty() || path.front() == '/') return path;
    std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
    return cwd ? WithTrailingSlash(cwd.get()) + path : path;
}
}  // namespace

bool TaskList::AddFile(const std::string& path, TaskListHost& host) {
    // A zero byte would end the name the system sees, so the row would
    // name another file than the one checked.
    if (path.find('\0') != std::string::npos) return false;
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;

    // Rows hold absolute folders: a relative one would name another file
    // as soon as the working folder changes.
    const std::string full = Absolute(path);

    TaskRow row;
    std::tie(row.folder, row.fileName) = SplitPath(full);
    row.format = AsciiUpper(ExtensionOf(row.fileName));

    std::uint64_t size = 0;
    // Non-blocking: should the file have been swapped for a pipe since the
    // check above, the open must not hang the window.
    UniqueFd fd(::open(full.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat opened {};
    if (fd.get() >= 0 && ::fstat(fd.get(), &opened) == 0) {
        size = std::uint64_t(opened.st_size);
    } else {
        host.Inform("Open file " + path + " failed.\n\rPlease make sure it is not beening opend by other program.",
                    "Information");
    }
    row.sizeText = SizeText(size);
    rows_.push_back(std::move(row));
    return true;
}

int TaskList::AddFolder(const std::string& folder, TaskListHost& host, const SettingsStore& settings,
                        Recursion recursion) {
    if (folder.empty()) {
        host.Inform("This is not an available folder or drive.", "Information");
        return 0;
    }
    bool recursive = false;
    if (HasSubFolders(folder)) {
        switch (recursion) {
        case Recursion::Yes:
            recursive = true;
            break;
        case Recursion::No:
            break;
        case Recursion::Ask:
            recursive = settings.ReadBool("Advanced", "ShowQuery", true)
                            ? host.Ask("Do you want to add all files in sub-folders?", "Query")
                            : settings.ReadBool("Advanced", "AlwaysYes", false);
            break;
        }
    }
    FolderSearch search(*this, host);
    const std::size_t before = rows_.size();
    const int added = recursive ? search.Recursive(folder) : search.Flat(folder);
    // Remembered so that "Keep the folder tree" can place each file under
    // the same relative sub-folder of the output folder; absolute, as the
    // rows' folders are.
    std::string base = Absolute(folder);
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    for (std::size_t i = before; i < rows_.size(); ++i) rows_[i].baseFolder = base;
    return added;
}

void TaskList::Remove(std::vector<std::size_t> indices) {
    std::sort(indices.begin(), indices.end());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    for (auto it = indices.rbegin(); it != indices.rend(); ++it)
        if (*it < rows_.size()) rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(*it));
}

}  // namespace kiv::app

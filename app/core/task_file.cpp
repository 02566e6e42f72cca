// Task files: the source list of the conversion wizard, one path a line.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

#include "app/core/task_list.h"
#include "platform/system/pipe.h"

namespace kiv::app {
namespace {

std::string ErrorText(const char* what, const std::string& path, int err) {
    return std::string(what) + " " + path + ": " + std::strerror(err);
}

// Hands out temporary names no other save of this process is using.
std::string TemporaryNameFor(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    return path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

}  // namespace

// The new content goes to a file beside the old one and is renamed over it,
// so a full disk or a failing medium leaves the previous task file intact
// instead of a truncated list.
std::string SaveTaskFile(const std::string& path, const TaskList& list) {
    std::string content;
    for (const TaskRow& row : list.rows()) content += row.Path() + "\r\n";

    const std::string tmp = TemporaryNameFor(path);
    UniqueFd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.get() < 0) return ErrorText("Cannot write task file", path, errno);
    // A file being replaced keeps its permissions.
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0) ::fchmod(fd.get(), old.st_mode & 07777);
    // The close of a written file can be the first to report a full disk.
    if (!WriteAll(fd.get(), content.data(), content.size()) || ::fsync(fd.get()) != 0 || fd.reset() != 0) {
        int err = errno;
        ::unlink(tmp.c_str());
        return ErrorText("Cannot write task file", path, err);
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        int err = errno;
        ::unlink(tmp.c_str());
        return ErrorText("Cannot write task file", path, err);
    }
    return {};
}

std::string LoadTaskFile(const std::string& path, TaskList& list, TaskListHost& host) {
    // The whole file is read before any row is added, so a read error
    // leaves the list as it was.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return ErrorText("Cannot read task file", path, errno);
    std::string content;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return ErrorText("Cannot read task file", path, errno);
        }
        if (n == 0) break;
        content.append(buffer, std::size_t(n));
    }

    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find_first_of("\r\n", start);
        if (end == std::string::npos) end = content.size();
        host.ProcessEvents();
        list.AddFile(content.substr(start, end - start), host);
        start = end;
        if (start < content.size() && content[start] == '\r') ++start;
        if (start < content.size() && content[start] == '\n') ++start;
    }
    return {};
}

}  // namespace kiv::app

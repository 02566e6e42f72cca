// Task files: lines of paths, relative ones taken in a private folder that
// holds a few sources, so that rows really get added.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/core/task_list.h"
#include "fuzz/memory_file.h"
#include "fuzz/temp_folder.h"

namespace {

class QuietHost final : public kiv::app::TaskListHost {
public:
    void Inform(const std::string&, const std::string&) override {}
    bool Ask(const std::string&, const std::string&) override { return false; }
};


// The working folder is the private one only while a task file loads, so
// that the fuzzer's own relative paths (corpus, artifacts) keep working.
class InFolder {
public:
    explicit InFolder(const std::filesystem::path& folder) : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~InFolder() { std::filesystem::current_path(previous_); }

private:
    std::filesystem::path previous_;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const std::filesystem::path& folder = kiv::fuzz::TempFolder();
    std::filesystem::create_directories(folder / "sub");
    for (const char* name : {"a.wav", "b.mp3", "sub/c.ogg", "d e.WMA"}) std::ofstream(folder / name) << "x";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kiv::fuzz::MemoryFile file(data, size);
    kiv::app::TaskList list;
    QuietHost host;
    {
        InFolder inFolder(kiv::fuzz::TempFolder());
        if (!kiv::app::LoadTaskFile(file.path(), list, host).empty()) std::abort();
    }
    for (const kiv::app::TaskRow& row : list.rows()) {
        // Rows name existing files by absolute paths.
        if (row.folder.empty() || row.folder.front() != '/' || row.fileName.empty()) std::abort();
        // A row must name the file that was checked, not what precedes a zero byte.
        if (row.Path().find('\0') != std::string::npos) std::abort();
    }
    return 0;
}

// Helpers shared by the MP3 format tests: a temporary folder per test,
// byte files, running reference tools, and hand-made MPEG frames.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "components/common/tag_record.h"

namespace kiv {
// Readable failure messages for tag records.
void PrintTo(const TagRecord& tags, std::ostream* os);
}  // namespace kiv

namespace kiv::mp3::test {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder under the system's temporary folder, removed with the object.
class TempDir {
public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

void writeFile(const std::filesystem::path& path, const Bytes& bytes);
Bytes readFile(const std::filesystem::path& path);
Bytes concat(std::initializer_list<Bytes> parts);
Bytes bytesOf(std::string_view text);

// Whether an executable of this name is on PATH.
bool haveTool(const std::string& name);

struct ToolRun {
    int exitCode = -1;
    std::string out;  // standard output; standard error is discarded
};
// Runs argv[0] from PATH with the arguments, no shell involved.
ToolRun runTool(const std::vector<std::string>& argv);

// Header word of an MPEG audio frame.
std::uint32_t frameWord(int versionBits, int layer, int bitrateIndex, int sampleRateIndex, bool padding,
                        int channelMode);
// count frames of the given header and length, payload zero.
Bytes frames(std::uint32_t word, int length, int count);
// A first frame carrying a "Xing" (or "Info") header.
Bytes vbrFrame(std::uint32_t word, int length, int offset, const char* magic, std::uint32_t flags,
               std::uint32_t frameCount, std::uint32_t byteCount, const std::vector<std::uint8_t>& toc = {});

std::u16string u16(std::string_view utf8);
std::string utf8(std::u16string_view text);

}  // namespace kiv::mp3::test

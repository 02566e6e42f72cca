// Puts an ID3v2 tag in front of a finished MP3 file: the tag and then the
// file's bytes go to a temporary file beside it, which then replaces it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

namespace kiv::mp3 {

// Where the work stopped; each stage has its own message in the encoder.
enum class PrependStage {
    done,
    createTemporary,  // the temporary file could not be created
    writeTag,         // writing the tag to it failed
    openSource,       // the MP3 file could not be opened for reading
    readSource,       // reading the MP3 file failed
    writeCopy,        // writing its bytes behind the tag failed
    replace,          // the temporary file could not replace the MP3 file
};

struct PrependResult {
    PrependStage stage = PrependStage::done;
    int error = 0;  // errno of the failed call

    bool ok() const { return stage == PrependStage::done; }
};

// The temporary file's name: the file name with its last character replaced
// by '~' ("song.mp3" gives "song.mp~"). A name that already ends in '~' gets
// one more '~' instead, so the temporary file is never the file itself.
std::filesystem::path id3v2TemporaryPath(const std::filesystem::path& file);

// Writes tag and then the file's bytes (copied in 16384-byte blocks) to the
// temporary file, and moves it over the file. On failure the temporary file
// is removed and the file is as it was.
PrependResult prependId3v2(const std::filesystem::path& file, std::span<const std::uint8_t> tag);

}  // namespace kiv::mp3

// Cue sheets of disc images.
#include <cstdint>
#include <string>

#include "fuzz/memory_file.h"
#include "runtime/vcdrive/cue_sheet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kiv::fuzz::MemoryFile file(data, size);
    std::string error;
    kiv::vcd::ParseCueSheet(file.path(), &error);
    return 0;
}

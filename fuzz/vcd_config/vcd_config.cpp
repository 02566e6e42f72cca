// The configuration file of the virtual CD drives.
#include <cstdint>
#include <string>

#include "fuzz/memory_file.h"
#include "runtime/vcdrive/vcdrive_config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kiv::fuzz::MemoryFile file(data, size);
    std::string error;
    kiv::vcd::LoadVcdConfig(file.path(), &error);
    return 0;
}

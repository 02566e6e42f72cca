// APEv2 tag reading: the input is a file's tail, ending in the footer.
#include <cstdint>
#include <span>

#include "components/mp3/format/apev2.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    if (size >= kiv::mp3::kApeFooterSize) {
        if (auto footer = kiv::mp3::parseApeFooter(bytes.last(kiv::mp3::kApeFooterSize)))
            (void)footer->totalSize();
    }
    kiv::TagRecord tags;
    kiv::mp3::readApeTag(bytes, tags);
    return 0;
}

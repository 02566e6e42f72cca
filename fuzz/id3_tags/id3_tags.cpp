// ID3v1 and ID3v2 tag reading, attached pictures included: the input is
// both a tag block at the start of a file and, for its last 128 bytes, an
// ID3v1 block.
#include <cstdint>
#include <span>
#include <vector>

#include "components/mp3/format/id3v1.h"
#include "components/mp3/format/id3v2_header.h"
#include "components/mp3/format/id3v2_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    kiv::TagRecord tags;
    if (auto header = kiv::mp3::parseId3v2Header(bytes)) (void)header->totalSize();
    std::vector<kiv::TagPicture> pictures;
    kiv::mp3::readId3v2(bytes, tags, &pictures);
    if (size >= kiv::mp3::kId3v1Size) kiv::mp3::readId3v1(bytes.last(kiv::mp3::kId3v1Size), tags);
    return 0;
}

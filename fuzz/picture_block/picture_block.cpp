// The picture block of FLAC, Ogg Vorbis and Opus tags: the input read as a
// block and as the base64 text of a comment; what decodes must encode back
// to a block that decodes to the same picture.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "components/vorbis/picture_block.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kiv::vorbis;
    if (auto picture = DecodePictureBlock(std::span(data, size))) {
        if (DecodePictureBlock(EncodePictureBlock(*picture)) != picture) std::abort();
    }
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto bytes = Base64Decode(text)) {
        if (Base64Decode(Base64Encode(*bytes)) != bytes) std::abort();
    }
    (void)PictureFromComment(text);
    return 0;
}

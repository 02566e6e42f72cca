// The comment header of Ogg streams: the input taken as the first bytes of
// a stream, fed in two parts, and as a comment header whose comments are
// replaced. A header that is replaced must come back with the new comment
// and the vendor string it had.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "components/vorbis/ogg_comment_header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kiv::vorbis;
    OggCommentHeader pages;
    pages.Take(data, size / 2);
    pages.Take(data + size / 2, size - size / 2);
    if (!pages.complete() && !pages.packet().empty()) std::abort();

    const std::vector<Comment> values = {{"REPLAYGAIN_TRACK_GAIN", "-1.00 dB"}};
    for (bool framing : {true, false}) {
        const char* opening = framing ? "\x03vorbis" : "OpusTags";
        const std::vector<std::uint8_t> out = ReplaceComments(std::span(data, size), opening, framing, values);
        if (out.empty()) continue;
        if (std::memcmp(out.data(), opening, std::strlen(opening)) != 0) std::abort();
        // Replacing again changes nothing.
        if (ReplaceComments(out, opening, framing, values) != out) std::abort();
    }
    return 0;
}

// Vorbis comment handling: raw comment strings (lines of the input, the
// first one the vendor) into the comment table and the tag record.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "components/vorbis/vorbis_comments.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start <= input.size();) {
        std::size_t end = input.find('\n', start);
        if (end == std::string_view::npos) end = input.size();
        lines.push_back(input.substr(start, end - start));
        start = end + 1;
    }
    const std::string vendor(lines.front());
    lines.erase(lines.begin());
    // An input starting with a line feed stands for a stream without a
    // comment header.
    const auto table = kiv::vorbis::BuildCommentTable(vendor.empty() ? nullptr : vendor.c_str(), lines);
    // And back: the tags as the encoder writes them (several values split).
    kiv::vorbis::CommentsFromTags(kiv::vorbis::TagsFromCommentTable(table));
    return 0;
}

#include "components/mp3/format/id3v2_writer.h"

#include <algorithm>
#include <span>
#include <string>
#include <string_view>

#include "components/mp3/format/id3v2_header.h"
#include "components/mp3/format/tag_text.h"

namespace kiv::mp3 {

namespace {

constexpr std::uint8_t kEncodingLatin1 = 0;
constexpr std::uint8_t kEncodingUtf16Bom = 1;
constexpr std::size_t kFrameHeaderSize = 10;

// Encoding byte and the text bytes of one field.
struct EncodedText {
    std::uint8_t encoding;
    std::string bytes;
};

EncodedText encode(std::u16string_view text) {
    if (fitsLatin1(text)) return {kEncodingLatin1, toLatin1(text)};
    return {kEncodingUtf16Bom, toUtf16WithBom(text)};
}

class FrameSink {
public:
    FrameSink(std::vector<std::uint8_t>& out, std::size_t capacity) : out_(out), capacity_(capacity) {}

    // False when the frame does not fit.
    bool add(std::string_view id, std::string_view content) {
        const std::size_t length = kFrameHeaderSize + content.size();
        if (out_.size() + length > capacity_) return false;
        out_.insert(out_.end(), id.begin(), id.end());
        const auto size = static_cast<std::uint32_t>(content.size());
        out_.push_back(static_cast<std::uint8_t>(size >> 24));
        out_.push_back(static_cast<std::uint8_t>(size >> 16));
        out_.push_back(static_cast<std::uint8_t>(size >> 8));
        out_.push_back(static_cast<std::uint8_t>(size));
        out_.push_back(0);  // status flags
        out_.push_back(0);  // format flags
        out_.insert(out_.end(), content.begin(), content.end());
        return true;
    }

private:
    std::vector<std::uint8_t>& out_;
    std::size_t capacity_;
};

std::string textFrameContent(const EncodedText& text) {
    std::string content(1, static_cast<char>(text.encoding));
    content += text.bytes;
    return content;
}

std::string commentFrameContent(const EncodedText& text) {
    std::string content(1, static_cast<char>(text.encoding));
    content += "eng";
    // The empty description, terminated in the frame's own encoding.
    if (text.encoding == kEncodingUtf16Bom) {
        content.append("\xFF\xFE\0\0", 4);
    } else {
        content.push_back('\0');
    }
    content += text.bytes;
    return content;
}

}  // namespace

std::vector<std::uint8_t> buildId3v2(const TagRecord& tags, std::size_t capacity) {
    if (capacity < kId3v2HeaderSize) return {};
    std::vector<std::uint8_t> out = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0};
    FrameSink sink(out, capacity);

    struct Field {
        std::string_view id;
        const std::u16string* text;
    };
    const Field fields[] = {
        {"TCON", &tags.genre}, {"TRCK", &tags.trackNo}, {"COMM", &tags.comment},
        {"TYER", &tags.year},  {"TIT2", &tags.title},   {"TPE1", &tags.artist},
        {"TALB", &tags.album},
    };
    for (const Field& field : fields) {
        const EncodedText text = encode(*field.text);
        const bool empty = text.encoding == kEncodingLatin1 ? text.bytes.empty() : text.bytes.size() <= 2;
        if (empty) continue;
        const std::string content =
            field.id == "COMM" ? commentFrameContent(text) : textFrameContent(text);
        if (!sink.add(field.id, content)) return {};
    }
    out.resize(std::max(out.size(), std::min(kId3v2MinimumSize, capacity)), 0);
    writeSyncSafe(static_cast<std::uint32_t>(out.size() - kId3v2HeaderSize),
                  std::span<std::uint8_t, 4>(out.data() + 6, 4));
    return out;
}

}  // namespace kiv::mp3

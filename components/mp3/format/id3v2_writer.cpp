#include "components/mp3/format/id3v2_writer.h"

#include <algorithm>
#include <optional>
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

// Characters of text that keep its encoded form within `bytes` bytes; a
// surrogate pair is never split.
std::size_t unitsWithin(std::u16string_view text, std::size_t bytes) {
    std::size_t units = fitsLatin1(text) ? bytes : (bytes < 2 ? 0 : (bytes - 2) / 2);
    units = std::min(units, text.size());
    if (units > 0 && text[units - 1] >= 0xD800 && text[units - 1] <= 0xDBFF) --units;
    return units;
}

struct Frame {
    std::string_view id;
    std::u16string text;
    std::string content;  // encoding byte onwards

    void encodeContent() {
        const EncodedText encoded = encode(text);
        content = id == "COMM" ? commentFrameContent(encoded) : textFrameContent(encoded);
    }
    std::size_t textBytes() const {
        const EncodedText encoded = encode(text);
        return encoded.bytes.size();
    }
};

void appendFrame(std::vector<std::uint8_t>& out, const Frame& frame) {
    out.insert(out.end(), frame.id.begin(), frame.id.end());
    const auto size = static_cast<std::uint32_t>(frame.content.size());
    out.push_back(static_cast<std::uint8_t>(size >> 24));
    out.push_back(static_cast<std::uint8_t>(size >> 16));
    out.push_back(static_cast<std::uint8_t>(size >> 8));
    out.push_back(static_cast<std::uint8_t>(size));
    out.push_back(0);  // status flags
    out.push_back(0);  // format flags
    out.insert(out.end(), frame.content.begin(), frame.content.end());
}

// A named field's frame: TXXX (encoding, description, value) or UFID (owner,
// then the id itself, at most 64 bytes, which an id that is not Latin-1 or
// is longer cannot be); nothing when the field has no such place.
std::optional<Frame> fieldFrame(const TagField& field) {
    const TagFieldPlaces* known = FindTagField(field.name);
    std::u16string value = JoinTagValues(field.value.substr(0, field.value.find(u'\0')), u"/");
    if (!known || value.empty()) return std::nullopt;
    if (!known->id3UfidOwner.empty()) {
        if (!fitsLatin1(value) || value.size() > 64) return std::nullopt;
        Frame frame{"UFID", {}, std::string(known->id3UfidOwner)};
        frame.content.push_back('\0');
        frame.content += toLatin1(value);
        return frame;
    }
    // One encoding for both strings: Latin-1 only when both fit it.
    const std::u16string both = std::u16string(known->id3Description) + value;
    const bool latin1 = fitsLatin1(both);
    Frame frame{"TXXX", {}, std::string(1, char(latin1 ? kEncodingLatin1 : kEncodingUtf16Bom))};
    if (latin1) {
        frame.content += toLatin1(known->id3Description);
        frame.content.push_back('\0');
        frame.content += toLatin1(value);
    } else {
        frame.content += toUtf16WithBom(known->id3Description);
        frame.content.append(2, '\0');
        frame.content += toUtf16WithBom(value);
    }
    return frame;
}

}  // namespace

std::vector<std::uint8_t> buildId3v2(const TagRecord& tags, std::size_t capacity, std::vector<std::string>* cut,
                                     const std::vector<TagPicture>* pictures, const std::vector<TagField>* named) {
    if (capacity < kId3v2HeaderSize) return {};
    capacity = std::min(capacity, kId3v2MaxSize);

    struct Field {
        std::string_view id;
        const std::u16string* text;
    };
    const Field fields[] = {
        {"TCON", &tags.genre}, {"TRCK", &tags.trackNo}, {"COMM", &tags.comment},
        {"TYER", &tags.year},  {"TIT2", &tags.title},   {"TPE1", &tags.artist},
        {"TALB", &tags.album},
    };
    std::vector<Frame> frames;
    std::size_t total = kId3v2HeaderSize;
    for (const Field& field : fields) {
        // Version 2.3 has one text per frame: several values are joined
        // by "/", as the format has it for several performers.
        Frame frame{field.id, field.id == "COMM" ? *field.text : JoinTagValues(*field.text, u"/"), {}};
        // Text ends at a NUL character: the frame cannot carry one.
        frame.text.resize(std::min(frame.text.size(), frame.text.find(u'\0')));
        if (frame.text.empty()) continue;
        frame.encodeContent();
        total += kFrameHeaderSize + frame.content.size();
        frames.push_back(std::move(frame));
    }
    // Over the limit, the longest frame is cut (or, when cutting cannot make
    // room, left out), never the whole tag: the other fields keep their text.
    while (total > capacity && !frames.empty()) {
        auto longest = std::max_element(frames.begin(), frames.end(), [](const Frame& a, const Frame& b) {
            return a.content.size() < b.content.size();
        });
        const std::size_t excess = total - capacity;
        const std::size_t before = kFrameHeaderSize + longest->content.size();
        const std::size_t textBytes = longest->textBytes();
        if (textBytes > excess) {
            longest->text.resize(unitsWithin(longest->text, textBytes - excess));
        } else {
            longest->text.clear();
        }
        if (cut && (cut->empty() || cut->back() != longest->id)) cut->emplace_back(longest->id);
        if (longest->text.empty()) {
            frames.erase(longest);
            total -= before;
        } else {
            longest->encodeContent();
            total = total - before + kFrameHeaderSize + longest->content.size();
        }
    }

    for (const TagField& field : named ? *named : std::vector<TagField>{}) {
        std::optional<Frame> frame = fieldFrame(field);
        if (!frame) continue;
        if (total + kFrameHeaderSize + frame->content.size() > capacity) {
            if (cut) cut->emplace_back(frame->id);
            continue;
        }
        total += kFrameHeaderSize + frame->content.size();
        frames.push_back(std::move(*frame));
    }

    for (const TagPicture& p : pictures ? *pictures : std::vector<TagPicture>{}) {
        const EncodedText description = encode(p.description.substr(0, p.description.find(u'\0')));
        Frame frame{"APIC", {}, std::string(1, char(description.encoding))};
        frame.content += p.mimeType.substr(0, p.mimeType.find('\0'));
        frame.content.push_back('\0');
        frame.content.push_back(char(p.type < 0 || p.type > 255 ? 0 : p.type));
        frame.content += description.bytes;
        frame.content.append(description.encoding == kEncodingUtf16Bom ? 2 : 1, '\0');
        frame.content.append(reinterpret_cast<const char*>(p.data.data()), p.data.size());
        if (p.data.empty() || total + kFrameHeaderSize + frame.content.size() > capacity) {
            if (cut && !p.data.empty()) cut->emplace_back("APIC");
            continue;
        }
        total += kFrameHeaderSize + frame.content.size();
        frames.push_back(std::move(frame));
    }

    std::vector<std::uint8_t> out = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0};
    out.reserve(std::max(total, std::min(kId3v2MinimumSize, capacity)));
    for (const Frame& frame : frames) appendFrame(out, frame);
    out.resize(std::max(out.size(), std::min(kId3v2MinimumSize, capacity)), 0);
    writeSyncSafe(static_cast<std::uint32_t>(out.size() - kId3v2HeaderSize),
                  std::span<std::uint8_t, 4>(out.data() + 6, 4));
    return out;
}

}  // namespace kiv::mp3

#include "components/mp3/format/apev2.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "components/mp3/format/tag_text.h"

namespace kiv::mp3 {

namespace {

constexpr std::uint32_t kFlagHasHeader = 0x80000000u;
constexpr std::uint32_t kItemTypeMask = 0x6;  // 0 text, 1 binary, 2 locator

std::uint32_t littleEndian32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

std::u16string* fieldFor(std::string_view key, TagRecord& tags) {
    const std::pair<std::string_view, std::u16string*> fields[] = {
        {"title", &tags.title}, {"artist", &tags.artist}, {"album", &tags.album},      {"year", &tags.year},
        {"genre", &tags.genre}, {"track", &tags.trackNo}, {"comment", &tags.comment},
    };
    for (const auto& [name, field] : fields)
        if (equalsNoCase(key, name)) return field;
    return nullptr;
}

// Zero bytes separate the values of a list; empty values are dropped.
std::u16string valueText(std::span<const std::uint8_t> value) {
    std::u16string text;
    std::size_t at = 0;
    while (at < value.size()) {
        std::size_t end = at;
        while (end < value.size() && value[end] != 0) ++end;
        if (end > at) {
            if (!text.empty()) text += u'\n';
            text += fromUtf8(value.subspan(at, end - at));
        }
        at = end + 1;
    }
    return text;
}

}  // namespace

std::optional<ApeFooter> parseApeFooter(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kApeFooterSize || std::memcmp(bytes.data(), "APETAGEX", 8) != 0) return std::nullopt;
    ApeFooter f;
    f.version = littleEndian32(bytes.data() + 8);
    f.tagSize = littleEndian32(bytes.data() + 12);
    f.itemCount = littleEndian32(bytes.data() + 16);
    const std::uint32_t flags = littleEndian32(bytes.data() + 20);
    // Version 1 tags have no header; their flags are all zero.
    f.hasHeader = f.version >= 2000 && (flags & kFlagHasHeader) != 0;
    if (f.tagSize < kApeFooterSize) return std::nullopt;
    return f;
}

bool readApeTag(std::span<const std::uint8_t> bytes, TagRecord& tags) {
    if (bytes.size() < kApeFooterSize) return false;
    const auto footer = parseApeFooter(bytes.last(kApeFooterSize));
    if (!footer || footer->totalSize() > bytes.size()) return false;
    const std::span<const std::uint8_t> items =
        bytes.subspan(bytes.size() - footer->tagSize, footer->tagSize - kApeFooterSize);

    TagRecord read = tags;
    std::size_t at = 0;
    for (std::uint32_t n = 0; n < footer->itemCount; ++n) {
        if (items.size() - at < 9) break;
        const std::uint32_t valueSize = littleEndian32(items.data() + at);
        const std::uint32_t itemFlags = littleEndian32(items.data() + at + 4);
        const std::size_t keyAt = at + 8;
        std::size_t keyEnd = keyAt;
        while (keyEnd < items.size() && items[keyEnd] != 0) ++keyEnd;
        if (keyEnd >= items.size()) break;  // no terminator inside the tag
        const std::size_t valueAt = keyEnd + 1;
        if (valueSize > items.size() - valueAt) break;
        const std::string_view key(reinterpret_cast<const char*>(items.data() + keyAt), keyEnd - keyAt);
        if ((itemFlags & kItemTypeMask) == 0) {
            std::u16string text = valueText(items.subspan(valueAt, valueSize));
            std::u16string* field = fieldFor(key, read);
            if (field && !text.empty()) *field = std::move(text);
        }
        at = valueAt + valueSize;
    }
    tags = std::move(read);
    return true;
}

}  // namespace kiv::mp3

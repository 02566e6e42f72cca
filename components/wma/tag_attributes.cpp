#include "components/wma/tag_attributes.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

namespace kiv::wma {

using media::AttrType;

namespace {

std::optional<std::u16string> ReadText(const AttributeGetter& get, std::u16string_view name, bool numberAllowed) {
    AttrType type{};
    WORD length = 0;
    if (FAILED(get(name, &type, nullptr, &length))) return std::nullopt;
    if (type == AttrType::String) {
        // Two spare zero bytes: a value stored without its terminator still
        // ends inside the buffer.
        std::vector<BYTE> buffer(std::size_t{length} + 2, 0);
        WORD size = static_cast<WORD>(buffer.size() > 0xFFFF ? 0xFFFF : buffer.size());
        if (FAILED(get(name, &type, buffer.data(), &size))) return std::nullopt;
        std::u16string text;
        for (std::size_t i = 0; i + 1 < buffer.size(); i += 2) {
            const char16_t c = static_cast<char16_t>(buffer[i] | (buffer[i + 1] << 8));
            if (c == 0) break;
            text += c;
        }
        return text;
    }
    if (numberAllowed && type == AttrType::Dword && length == 4) {
        BYTE bytes[4] = {};
        WORD size = 4;
        if (FAILED(get(name, &type, bytes, &size))) return std::nullopt;
        const std::uint32_t n = std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 |
                                std::uint32_t(bytes[2]) << 16 | std::uint32_t(bytes[3]) << 24;
        const std::string digits = std::to_string(n);
        return std::u16string(digits.begin(), digits.end());
    }
    return std::nullopt;
}

std::u16string Field(const AttributeGetter& get, std::u16string_view first, std::u16string_view fallback = {},
                     bool numberAllowed = false) {
    if (auto text = ReadText(get, first, numberAllowed)) return *text;
    if (!fallback.empty())
        if (auto text = ReadText(get, fallback, numberAllowed)) return *text;
    return {};
}

}  // namespace

TagRecord ReadTagAttributes(const AttributeGetter& get) {
    TagRecord t;
    t.title = Field(get, u"Title");
    t.artist = Field(get, u"Author", u"WM/AlbumArtist");
    t.comment = Field(get, u"Description");
    t.album = Field(get, u"WM/AlbumTitle");
    t.trackNo = Field(get, u"WM/TrackNumber", u"WM/Track", true);
    t.genre = Field(get, u"WM/Genre");
    t.year = Field(get, u"WM/Year");
    return t;
}

HRESULT WriteTagAttributes(const TagRecord& tags, const AttributeSetter& set) {
    const std::pair<const char16_t*, const std::u16string*> order[] = {
        {u"Title", &tags.title},         {u"Author", &tags.artist},  {u"WM/AlbumTitle", &tags.album},
        {u"WM/Genre", &tags.genre},      {u"WM/Year", &tags.year},   {u"WM/TrackNumber", &tags.trackNo},
        {u"Description", &tags.comment},
    };
    for (const auto& [name, field] : order) {
        // The media runtime keeps one value per attribute name, so several
        // values share one text, in the "; " form players show for several
        // artists; the description is free text.
        const std::u16string joined = field == &tags.comment ? *field : JoinTagValues(*field, u"; ");
        const std::u16string* text = &joined;
        if (text->empty()) continue;
        // A length counts bytes in a WORD: longer texts are cut at the last
        // whole character that fits, terminator included.
        const std::size_t chars = std::min<std::size_t>(text->size(), 0xFFFE / 2 - 1);
        std::vector<BYTE> bytes((chars + 1) * 2, 0);
        for (std::size_t i = 0; i < chars; ++i) {
            bytes[2 * i] = static_cast<BYTE>((*text)[i] & 0xFF);
            bytes[2 * i + 1] = static_cast<BYTE>((*text)[i] >> 8);
        }
        if (HRESULT hr = set(name, AttrType::String, bytes.data(), static_cast<WORD>(bytes.size())); FAILED(hr))
            return hr;
    }
    return S_OK;
}

}  // namespace kiv::wma

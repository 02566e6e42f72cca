#include "components/wma/tag_attributes.h"

#include <algorithm>
#include <cstdint>

#include "platform/media/header_attributes.h"
#include "platform/system/text.h"

namespace kiv::wma {

using media::AttrType;

namespace {

constexpr char16_t kPictureName[] = u"WM/Picture";

std::uint32_t Dword(const BYTE* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

// The values of the name as text, joined by line feeds; nothing when none
// of them gives a text.
std::optional<std::u16string> ReadText(const AttributeLister& list, std::u16string_view name, bool numberAllowed) {
    std::u16string joined;
    for (const AttributeValue& v : list(name)) {
        std::u16string text;
        if (v.type == AttrType::String) {
            text = media::Utf16Text(v.value);
        } else if (numberAllowed && v.type == AttrType::Dword && v.value.size() == 4) {
            const std::string digits = std::to_string(Dword(v.value.data()));
            text.assign(digits.begin(), digits.end());
        }
        if (text.empty()) continue;
        if (!joined.empty()) joined += kTagValueSeparator;
        joined += text;
    }
    if (joined.empty()) return std::nullopt;
    return joined;
}

std::u16string Field(const AttributeLister& list, std::u16string_view first, std::u16string_view fallback = {},
                     bool numberAllowed = false) {
    if (auto text = ReadText(list, first, numberAllowed)) return *text;
    if (!fallback.empty())
        if (auto text = ReadText(list, fallback, numberAllowed)) return *text;
    return {};
}

// Text of a picture value up to its terminating zero, which must be there.
bool TakeText(std::span<const BYTE>& rest, std::u16string& out) {
    for (std::size_t i = 0; i + 1 < rest.size(); i += 2) {
        if ((rest[i] | rest[i + 1]) == 0) {
            out = media::Utf16Text(rest.first(i));
            rest = rest.subspan(i + 2);
            return true;
        }
    }
    return false;
}

}  // namespace

TagRecord ReadTagAttributes(const AttributeLister& list) {
    TagRecord t;
    t.title = Field(list, u"Title");
    t.artist = Field(list, u"Author", u"WM/AlbumArtist");
    t.comment = Field(list, u"Description");
    t.album = Field(list, u"WM/AlbumTitle");
    t.trackNo = Field(list, u"WM/TrackNumber", u"WM/Track", true);
    t.genre = Field(list, u"WM/Genre");
    t.year = Field(list, u"WM/Year");
    return t;
}

std::vector<TagField> ReadFieldAttributes(const AttributeLister& list) {
    std::vector<TagField> fields;
    for (const TagFieldPlaces& f : kTagFieldPlaces)
        if (auto text = ReadText(list, f.asfAttribute, false)) fields.push_back({std::u16string(f.name), *text});
    return fields;
}

std::vector<TagPicture> ReadPictureAttributes(const AttributeLister& list) {
    std::vector<TagPicture> pictures;
    for (const AttributeValue& v : list(kPictureName)) {
        if (v.type != AttrType::Binary) continue;
        if (auto picture = ParsePictureValue(v.value)) pictures.push_back(std::move(*picture));
    }
    return pictures;
}

HRESULT WriteTagAttributes(const TagRecord& tags, const std::vector<TagField>& fields,
                           const std::vector<TagPicture>& pictures, const AttributeAdder& add) {
    std::vector<std::pair<std::u16string_view, const std::u16string*>> order = {
        {u"Title", &tags.title},         {u"Author", &tags.artist},  {u"WM/AlbumTitle", &tags.album},
        {u"WM/Genre", &tags.genre},      {u"WM/Year", &tags.year},   {u"WM/TrackNumber", &tags.trackNo},
        {u"Description", &tags.comment},
    };
    for (const TagField& f : fields)
        if (const TagFieldPlaces* known = FindTagField(f.name)) order.emplace_back(known->asfAttribute, &f.value);
    for (const auto& [name, field] : order) {
        const std::vector<std::u16string> values =
            field == &tags.comment ? std::vector<std::u16string>{*field} : SplitTagValues(*field);
        for (const std::u16string& value : values) {
            if (value.empty()) continue;
            std::vector<BYTE> bytes;
            bytes.reserve((value.size() + 1) * 2);
            media::AppendUtf16(bytes, value);
            if (bytes.size() > 0xFFFFFFFFu) return E_INVALIDARG;
            if (HRESULT hr = add(name, AttrType::String, bytes.data(), static_cast<DWORD>(bytes.size())); FAILED(hr))
                return hr;
        }
    }
    for (const TagPicture& picture : pictures) {
        if (picture.data.empty() || picture.data.size() > kMaxTagPictureBytes) continue;
        const std::vector<BYTE> value = PictureValue(picture);
        if (HRESULT hr = add(kPictureName, AttrType::Binary, value.data(), static_cast<DWORD>(value.size()));
            FAILED(hr))
            return hr;
    }
    return S_OK;
}

std::vector<BYTE> PictureValue(const TagPicture& picture) {
    std::vector<BYTE> out;
    out.push_back(picture.type >= 0 && picture.type <= 255 ? static_cast<BYTE>(picture.type) : 0);
    const auto size = static_cast<std::uint32_t>(picture.data.size());
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<BYTE>(size >> (8 * i)));
    media::AppendUtf16(out, FromUtf8Text(picture.mimeType));
    media::AppendUtf16(out, picture.description);
    out.insert(out.end(), picture.data.begin(), picture.data.end());
    return out;
}

std::optional<TagPicture> ParsePictureValue(std::span<const BYTE> value) {
    if (value.size() < 5) return std::nullopt;
    TagPicture picture;
    picture.type = value[0];
    const std::uint32_t size = Dword(value.data() + 1);
    std::span<const BYTE> rest = value.subspan(5);
    std::u16string mime;
    if (!TakeText(rest, mime) || !TakeText(rest, picture.description)) return std::nullopt;
    if (size == 0 || size > kMaxTagPictureBytes || size > rest.size()) return std::nullopt;
    picture.mimeType = ToUtf8(mime);
    picture.data.assign(rest.begin(), rest.begin() + size);
    return picture;
}

}  // namespace kiv::wma

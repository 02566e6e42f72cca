// The tag fields and pictures as header attributes: which attribute carries
// which field when writing, and how a field is read back, with its
// fallbacks.
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "components/common/tag_record.h"
#include "platform/media/media_types.h"

namespace kiv::wma {

// One attribute as the runtime hands it out: strings with their
// terminating zero, numbers little-endian.
struct AttributeValue {
    media::AttrType type{};
    std::vector<BYTE> value;
};

// Every file-level attribute of a name, in header order.
using AttributeLister = std::function<std::vector<AttributeValue>(std::u16string_view name)>;

// The lister of anything that answers the runtime's GetAttributeIndices and
// GetAttributeByIndexEx (the reader, the writer, an attribute store); it
// refers to `store`, which must outlive it.
template <class Store>
AttributeLister ListAttributesOf(const Store& store) {
    return [&store](std::u16string_view name) {
        std::vector<AttributeValue> values;
        std::vector<WORD> indices;
        if (FAILED(store.GetAttributeIndices(0, name, indices))) return values;
        for (WORD index : indices) {
            AttributeValue v;
            DWORD length = 0;
            if (FAILED(store.GetAttributeByIndexEx(0, index, nullptr, &v.type, nullptr, &length))) continue;
            v.value.resize(length);
            if (length != 0 &&
                FAILED(store.GetAttributeByIndexEx(0, index, nullptr, &v.type, v.value.data(), &length)))
                continue;
            values.push_back(std::move(v));
        }
        return values;
    };
}

// All seven fields, each from its attribute ("Author", else
// "WM/AlbumArtist"; "WM/TrackNumber", else "WM/Track"; ...). Several
// attributes of one name give the values joined by line feeds, in header
// order; empty ones are left out. A field whose attributes are absent, of
// another type or empty is empty. A track number may be a 32-bit number;
// it comes out in decimal, however many digits it has.
TagRecord ReadTagAttributes(const AttributeLister& list);

// The named fields of kTagFieldPlaces from their string attributes
// ("MusicBrainz/Album Id", ...), in the table's order, read as the seven.
std::vector<TagField> ReadFieldAttributes(const AttributeLister& list);

// The pictures of the "WM/Picture" attributes, in header order; one that is
// damaged (lengths past its value), empty or larger than
// kMaxTagPictureBytes is left out.
std::vector<TagPicture> ReadPictureAttributes(const AttributeLister& list);

// Appends one attribute, whose name may be there already.
using AttributeAdder =
    std::function<HRESULT(std::u16string_view name, media::AttrType type, const BYTE* value, DWORD length)>;

// Writes the non-empty fields as string attributes, in the order the header
// lists them, each with its terminating zero counted in its length; a field
// with several values (split at line feeds; never the comment, which is free
// text) gives an attribute per value: two artists are two "Author"
// attributes. Then the named fields the table knows, the same way under
// their attribute names, and each picture as a "WM/Picture" attribute. The
// first failure stops the writing and is returned.
HRESULT WriteTagAttributes(const TagRecord& tags, const std::vector<TagField>& fields,
                           const std::vector<TagPicture>& pictures, const AttributeAdder& add);
inline HRESULT WriteTagAttributes(const TagRecord& tags, const std::vector<TagPicture>& pictures,
                                  const AttributeAdder& add) {
    return WriteTagAttributes(tags, {}, pictures, add);
}

// The "WM/Picture" value of a picture: its type in a byte, the data length
// in 32 bits, the MIME type and the description in UTF-16 with terminating
// zeros, the data; little-endian. A type outside 0-255 is written as 0
// (other).
std::vector<BYTE> PictureValue(const TagPicture& picture);
// The picture in such a value; nothing when it is damaged, empty or too
// large.
std::optional<TagPicture> ParsePictureValue(std::span<const BYTE> value);

}  // namespace kiv::wma

// The tag fields as header attributes: which attribute carries which field
// when writing, and how a field is read back, with its fallbacks.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "components/common/tag_record.h"
#include "platform/media/media_types.h"

namespace kiv::wma {

// Reads one file-level attribute the way the runtime answers
// GetAttributeByName: with `value` null it reports the type and length.
using AttributeGetter =
    std::function<HRESULT(std::u16string_view name, media::AttrType* type, BYTE* value, WORD* length)>;

// All seven fields, each from its attribute ("Author", else
// "WM/AlbumArtist"; "WM/TrackNumber", else "WM/Track"; ...). A field whose
// attribute is absent, of another type or unreadable is empty. A track
// number may be a 32-bit number; it comes out in decimal, however many
// digits it has.
TagRecord ReadTagAttributes(const AttributeGetter& get);

// Writes the non-empty fields as string attributes, in the order the header
// lists them, each with its terminating zero counted in its length.
using AttributeSetter =
    std::function<HRESULT(std::u16string_view name, media::AttrType type, const BYTE* value, WORD length)>;
HRESULT WriteTagAttributes(const TagRecord& tags, const AttributeSetter& set);

}  // namespace kiv::wma

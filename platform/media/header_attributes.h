// Named, typed header attributes ("Title", "Duration", "WM/TrackNumber"...)
// of a file being written or read.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/media/media_types.h"

namespace kiv::media {

// Values cross as raw bytes in the runtime's layout: strings as UTF-16
// with a terminating zero (the length counts it), numbers little-endian in
// their natural width (WORD 2, DWORD and BOOL 4, QWORD 8 bytes), GUIDs in
// their 16-byte file form.
// Only file-level attributes exist: the stream number must be 0.
//
// A name may occur several times (two "Author" attributes for two
// artists); attributes keep the order they were added in, and an index
// names one of them.
class HeaderAttributes {
public:
    struct Entry {
        std::u16string name;
        AttrType type;
        std::vector<BYTE> value;  // strings without their terminating zero
    };

    // Replaces every attribute of the name by this one, which takes the
    // place of the first; a new name is appended. A string ends at its
    // first zero character, so a length that counts the terminator or not
    // gives the same text.
    HRESULT SetAttribute(WORD streamNumber, std::u16string_view name, AttrType type, const BYTE* value,
                         WORD length);

    // Appends an attribute, whether or not its name is there already;
    // `index` (may be null) receives its index. E_INVALIDARG once 65535
    // attributes are held.
    HRESULT AddAttribute(WORD streamNumber, std::u16string_view name, WORD* index, AttrType type,
                         const BYTE* value, DWORD length);

    // The first attribute of the name. With `value` null: the type and
    // the length in bytes are reported. Otherwise *length must hold the
    // buffer size: too small gives ASF_E_BUFFERTOOSMALL with the needed
    // length (also for a value too large for a WORD length, which then
    // only GetAttributeByIndexEx reads). An unknown name gives
    // ASF_E_NOTFOUND.
    HRESULT GetAttributeByName(WORD* streamNumber, std::u16string_view name, AttrType* type, BYTE* value,
                               WORD* length) const;

    // The indices of the attributes called `name`, in order (empty when
    // there is none).
    HRESULT GetAttributeIndices(WORD streamNumber, std::u16string_view name, std::vector<WORD>& indices) const;

    // Attribute `index`: its name (`name` may be null), type and value, the
    // value and length as GetAttributeByName gives them. An index past the
    // end gives E_INVALIDARG.
    HRESULT GetAttributeByIndexEx(WORD streamNumber, WORD index, std::u16string* name, AttrType* type, BYTE* value,
                                  DWORD* length) const;

    void SetString(std::u16string_view name, std::u16string_view text);
    void SetQword(std::u16string_view name, QWORD value);

    const std::vector<Entry>& Entries() const { return entries_; }

    // The attribute as text the way a tag reader shows it: numbers in
    // decimal, booleans as 1 or 0. False for binary and GUID values.
    static bool AsText(const Entry& entry, std::u16string& out);

private:
    static HRESULT MakeEntry(WORD streamNumber, std::u16string_view name, AttrType type, const BYTE* value,
                             DWORD length, Entry& out);
    static HRESULT CopyValue(const Entry& e, AttrType* type, BYTE* value, DWORD* length);
    const Entry* Find(std::u16string_view name) const;

    std::vector<Entry> entries_;
};

// Text of little-endian UTF-16 bytes up to the first zero character (an odd
// last byte is left out).
std::u16string Utf16Text(std::span<const BYTE> bytes);
// Appends `text` as little-endian UTF-16 with its terminating zero.
void AppendUtf16(std::vector<BYTE>& out, std::u16string_view text);

}  // namespace kiv::media

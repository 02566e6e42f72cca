// Named, typed header attributes ("Title", "Duration", "WM/TrackNumber"...)
// of a file being written or read.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/media/media_types.h"

namespace kiv::media {

// Values cross as raw bytes in the runtime's layout: strings as UTF-16
// with a terminating zero (the length counts it), numbers little-endian in
// their natural width (WORD 2, DWORD and BOOL 4, QWORD 8 bytes).
// Only file-level attributes exist: the stream number must be 0.
class HeaderAttributes {
public:
    struct Entry {
        std::u16string name;
        AttrType type;
        std::vector<BYTE> value;  // strings without their terminating zero
    };

    // Replaces an attribute of the same name. A string ends at its first
    // zero character, so a length that counts the terminator or not gives
    // the same text.
    HRESULT SetAttribute(WORD streamNumber, std::u16string_view name, AttrType type, const BYTE* value,
                         WORD length);

    // With `value` null: the type and the length in bytes are reported.
    // Otherwise *length must hold the buffer size: too small gives
    // ASF_E_BUFFERTOOSMALL with the needed length. An unknown name gives
    // ASF_E_NOTFOUND.
    HRESULT GetAttributeByName(WORD* streamNumber, std::u16string_view name, AttrType* type, BYTE* value,
                               WORD* length) const;

    void SetString(std::u16string_view name, std::u16string_view text);
    void SetQword(std::u16string_view name, QWORD value);

    const std::vector<Entry>& Entries() const { return entries_; }

    // The attribute as text the way a tag reader shows it: numbers in
    // decimal, booleans as 1 or 0. False for binary and GUID values.
    static bool AsText(const Entry& entry, std::u16string& out);

private:
    const Entry* Find(std::u16string_view name) const;

    std::vector<Entry> entries_;
};

}  // namespace kiv::media

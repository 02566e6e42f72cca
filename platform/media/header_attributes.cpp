#include "platform/media/header_attributes.h"

#include <algorithm>
#include <cstring>

namespace kiv::media {

namespace {

std::size_t FixedSize(AttrType type) {
    switch (type) {
        case AttrType::Word: return 2;
        case AttrType::Dword:
        case AttrType::Bool: return 4;
        case AttrType::Qword: return 8;
        case AttrType::Guid: return 16;
        default: return 0;
    }
}

std::vector<BYTE> Utf16Bytes(std::u16string_view text) {
    std::vector<BYTE> bytes(text.size() * 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        bytes[2 * i] = static_cast<BYTE>(text[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<BYTE>(text[i] >> 8);
    }
    return bytes;
}

QWORD LittleEndian(const std::vector<BYTE>& bytes) {
    QWORD v = 0;
    for (std::size_t i = bytes.size(); i-- > 0;) v = (v << 8) | bytes[i];
    return v;
}

}  // namespace

HRESULT HeaderAttributes::SetAttribute(WORD streamNumber, std::u16string_view name, AttrType type,
                                       const BYTE* value, WORD length) {
    if (streamNumber != 0 || name.empty()) return E_INVALIDARG;
    if (value == nullptr && length != 0) return E_POINTER;
    Entry entry{std::u16string(name), type, {}};
    if (type == AttrType::String) {
        if (length % 2 != 0) return E_INVALIDARG;
        std::u16string text;
        for (WORD i = 0; i + 1 < length; i += 2) {
            char16_t c = static_cast<char16_t>(value[i] | (value[i + 1] << 8));
            if (c == 0) break;
            text += c;
        }
        entry.value = Utf16Bytes(text);
    } else if (type == AttrType::Binary) {
        entry.value.assign(value, value + length);
    } else {
        std::size_t size = FixedSize(type);
        if (size == 0 || length != size) return E_INVALIDARG;
        entry.value.assign(value, value + length);
    }
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.name == name; });
    if (it != entries_.end()) *it = std::move(entry);
    else entries_.push_back(std::move(entry));
    return S_OK;
}

HRESULT HeaderAttributes::GetAttributeByName(WORD* streamNumber, std::u16string_view name, AttrType* type,
                                             BYTE* value, WORD* length) const {
    if (streamNumber == nullptr || type == nullptr || length == nullptr) return E_POINTER;
    if (*streamNumber != 0) return ASF_E_NOTFOUND;
    const Entry* e = Find(name);
    if (e == nullptr) return ASF_E_NOTFOUND;
    std::size_t needed = e->value.size() + (e->type == AttrType::String ? 2 : 0);
    if (needed > 0xFFFF) return ASF_E_BUFFERTOOSMALL;  // cannot be expressed in a WORD length
    *type = e->type;
    if (value == nullptr) {
        *length = static_cast<WORD>(needed);
        return S_OK;
    }
    if (*length < needed) {
        *length = static_cast<WORD>(needed);
        return ASF_E_BUFFERTOOSMALL;
    }
    if (!e->value.empty()) std::memcpy(value, e->value.data(), e->value.size());
    if (e->type == AttrType::String) value[needed - 2] = value[needed - 1] = 0;
    *length = static_cast<WORD>(needed);
    return S_OK;
}

void HeaderAttributes::SetString(std::u16string_view name, std::u16string_view text) {
    auto bytes = Utf16Bytes(text);
    SetAttribute(0, name, AttrType::String, bytes.data(), static_cast<WORD>(std::min<std::size_t>(bytes.size(), 0xFFFE)));
}

void HeaderAttributes::SetQword(std::u16string_view name, QWORD value) {
    BYTE bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<BYTE>(value >> (8 * i));
    SetAttribute(0, name, AttrType::Qword, bytes, 8);
}

bool HeaderAttributes::AsText(const Entry& entry, std::u16string& out) {
    switch (entry.type) {
        case AttrType::String:
            out.clear();
            for (std::size_t i = 0; i + 1 < entry.value.size(); i += 2)
                out += static_cast<char16_t>(entry.value[i] | (entry.value[i + 1] << 8));
            return true;
        case AttrType::Bool:
            out = LittleEndian(entry.value) != 0 ? u"1" : u"0";
            return true;
        case AttrType::Word:
        case AttrType::Dword:
        case AttrType::Qword: {
            std::string digits = std::to_string(LittleEndian(entry.value));
            out.assign(digits.begin(), digits.end());
            return true;
        }
        default:
            return false;
    }
}

const HeaderAttributes::Entry* HeaderAttributes::Find(std::u16string_view name) const {
    for (const auto& e : entries_)
        if (e.name == name) return &e;
    return nullptr;
}

}  // namespace kiv::media

#include "platform/media/header_attributes.h"

#include <algorithm>
#include <cstring>

namespace kiv::media {

namespace {

constexpr std::size_t kMaxAttributes = 0xFFFF;
constexpr std::size_t kMaxNameChars = 0xFFFF / 2 - 1;

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

HRESULT HeaderAttributes::MakeEntry(WORD streamNumber, std::u16string_view name, AttrType type, const BYTE* value,
                                    DWORD length, Entry& out) {
    // A name is stored with its terminator behind a WORD length.
    if (streamNumber != 0 || name.empty() || name.size() > kMaxNameChars) return E_INVALIDARG;
    if (value == nullptr && length != 0) return E_POINTER;
    out = Entry{std::u16string(name), type, {}};
    if (type == AttrType::String) {
        if (length % 2 != 0) return E_INVALIDARG;
        DWORD end = 0;
        while (end + 1 < length && (value[end] | value[end + 1]) != 0) end += 2;
        out.value.assign(value, value + end);
    } else if (type == AttrType::Binary) {
        out.value.assign(value, value + length);
    } else {
        std::size_t size = FixedSize(type);
        if (size == 0 || length != size) return E_INVALIDARG;
        out.value.assign(value, value + length);
    }
    return S_OK;
}

HRESULT HeaderAttributes::SetAttribute(WORD streamNumber, std::u16string_view name, AttrType type,
                                       const BYTE* value, WORD length) {
    Entry entry;
    if (HRESULT hr = MakeEntry(streamNumber, name, type, value, length, entry); FAILED(hr)) return hr;
    auto first = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.name == name; });
    if (first == entries_.end()) {
        if (entries_.size() >= kMaxAttributes) return E_INVALIDARG;
        entries_.push_back(std::move(entry));
        return S_OK;
    }
    *first = std::move(entry);
    entries_.erase(std::remove_if(first + 1, entries_.end(), [&](const Entry& e) { return e.name == name; }),
                   entries_.end());
    return S_OK;
}

HRESULT HeaderAttributes::AddAttribute(WORD streamNumber, std::u16string_view name, WORD* index, AttrType type,
                                       const BYTE* value, DWORD length) {
    Entry entry;
    if (HRESULT hr = MakeEntry(streamNumber, name, type, value, length, entry); FAILED(hr)) return hr;
    if (entries_.size() >= kMaxAttributes) return E_INVALIDARG;
    if (index != nullptr) *index = static_cast<WORD>(entries_.size());
    entries_.push_back(std::move(entry));
    return S_OK;
}

HRESULT HeaderAttributes::CopyValue(const Entry& e, AttrType* type, BYTE* value, DWORD* length) {
    const std::size_t needed = e.value.size() + (e.type == AttrType::String ? 2 : 0);
    if (needed > 0xFFFFFFFFu) return ASF_E_BUFFERTOOSMALL;
    *type = e.type;
    if (value == nullptr) {
        *length = static_cast<DWORD>(needed);
        return S_OK;
    }
    if (*length < needed) {
        *length = static_cast<DWORD>(needed);
        return ASF_E_BUFFERTOOSMALL;
    }
    if (!e.value.empty()) std::memcpy(value, e.value.data(), e.value.size());
    if (e.type == AttrType::String) value[needed - 2] = value[needed - 1] = 0;
    *length = static_cast<DWORD>(needed);
    return S_OK;
}

HRESULT HeaderAttributes::GetAttributeByName(WORD* streamNumber, std::u16string_view name, AttrType* type,
                                             BYTE* value, WORD* length) const {
    if (streamNumber == nullptr || type == nullptr || length == nullptr) return E_POINTER;
    if (*streamNumber != 0) return ASF_E_NOTFOUND;
    const Entry* e = Find(name);
    if (e == nullptr) return ASF_E_NOTFOUND;
    DWORD size = *length;
    HRESULT hr = CopyValue(*e, type, value, &size);
    if (size > 0xFFFF) return ASF_E_BUFFERTOOSMALL;  // cannot be expressed in a WORD length
    *length = static_cast<WORD>(size);
    return hr;
}

HRESULT HeaderAttributes::GetAttributeIndices(WORD streamNumber, std::u16string_view name,
                                              std::vector<WORD>& indices) const {
    indices.clear();
    if (streamNumber != 0) return S_OK;
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].name == name) indices.push_back(static_cast<WORD>(i));
    return S_OK;
}

HRESULT HeaderAttributes::GetAttributeByIndexEx(WORD streamNumber, WORD index, std::u16string* name, AttrType* type,
                                                BYTE* value, DWORD* length) const {
    if (type == nullptr || length == nullptr) return E_POINTER;
    if (streamNumber != 0 || index >= entries_.size()) return E_INVALIDARG;
    const Entry& e = entries_[index];
    if (name != nullptr) *name = e.name;
    return CopyValue(e, type, value, length);
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
            out = Utf16Text(entry.value);
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

std::u16string Utf16Text(std::span<const BYTE> bytes) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto c = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        if (c == 0) break;
        text += c;
    }
    return text;
}

void AppendUtf16(std::vector<BYTE>& out, std::u16string_view text) {
    for (char16_t c : text) {
        out.push_back(static_cast<BYTE>(c & 0xFF));
        out.push_back(static_cast<BYTE>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
}

}  // namespace kiv::media

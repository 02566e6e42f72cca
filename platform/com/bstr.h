// Length-prefixed UTF-16 strings, as they cross every interface.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "platform/com/unknown.h"

namespace kiv {

// A BSTR points at the first character; the byte length sits in the four
// bytes before it and a terminating zero follows the text.
BSTR SysAllocString(const OLECHAR* s);
BSTR SysAllocStringLen(const OLECHAR* s, UINT len);
void SysFreeString(BSTR s);
UINT SysStringLen(BSTR s);  // 0 for null

inline BSTR SysAllocString(std::u16string_view s) {
    return SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
}

// Null and empty BSTRs are the same text.
inline std::u16string_view BstrView(const OLECHAR* s) {
    return s ? std::u16string_view(s, SysStringLen(const_cast<BSTR>(s))) : std::u16string_view();
}

// Owning BSTR.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(std::u16string_view s) : s_(SysAllocString(s)) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& o) noexcept : s_(std::exchange(o.s_, nullptr)) {}
    Bstr& operator=(Bstr&& o) noexcept {
        if (this != &o) {
            SysFreeString(s_);
            s_ = std::exchange(o.s_, nullptr);
        }
        return *this;
    }
    ~Bstr() { SysFreeString(s_); }
    static Bstr adopt(BSTR s) {
        Bstr b;
        b.s_ = s;
        return b;
    }
    BSTR get() const { return s_; }
    BSTR* put() {
        SysFreeString(s_);
        s_ = nullptr;
        return &s_;
    }
    BSTR detach() { return std::exchange(s_, nullptr); }
    std::u16string_view view() const { return BstrView(s_); }
    std::u16string str() const { return std::u16string(view()); }

private:
    BSTR s_ = nullptr;
};

}  // namespace kiv

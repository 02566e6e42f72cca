#include "platform/com/bstr.h"

#include <cstdlib>
#include <cstring>

namespace kiv {

BSTR SysAllocStringLen(const OLECHAR* s, UINT len) {
    // Prefix, text and terminator in one block.
    auto* block = static_cast<char*>(std::malloc(sizeof(std::uint32_t) + (std::size_t(len) + 1) * sizeof(OLECHAR)));
    if (!block) return nullptr;
    std::uint32_t bytes = len * sizeof(OLECHAR);
    std::memcpy(block, &bytes, sizeof bytes);
    auto* text = reinterpret_cast<OLECHAR*>(block + sizeof(std::uint32_t));
    if (s && len) std::memcpy(text, s, std::size_t(len) * sizeof(OLECHAR));
    else if (len) std::memset(text, 0, std::size_t(len) * sizeof(OLECHAR));
    text[len] = 0;
    return text;
}

BSTR SysAllocString(const OLECHAR* s) {
    if (!s) return nullptr;
    UINT n = 0;
    while (s[n]) ++n;
    return SysAllocStringLen(s, n);
}

void SysFreeString(BSTR s) {
    if (s) std::free(reinterpret_cast<char*>(s) - sizeof(std::uint32_t));
}

UINT SysStringLen(BSTR s) {
    if (!s) return 0;
    std::uint32_t bytes;
    std::memcpy(&bytes, reinterpret_cast<char*>(s) - sizeof(std::uint32_t), sizeof bytes);
    return bytes / sizeof(OLECHAR);
}

}  // namespace kiv

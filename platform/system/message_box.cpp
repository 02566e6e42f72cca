#include "platform/system/message_box.h"

#include <cstdio>
#include <memory>
#include <mutex>

#include "platform/system/text.h"

namespace kiv {
namespace {

std::mutex g_lock;
MessageBoxProvider& Provider() {
    static auto* provider = new MessageBoxProvider();  // outlives static destruction
    return *provider;
}

}  // namespace

int SafeAnswer(UINT type) {
    switch (type & MB_TYPEMASK) {
        case MB_YESNO: return IDNO;
        case MB_YESNOCANCEL:
        case MB_OKCANCEL: return IDCANCEL;
        default: return IDOK;
    }
}

MessageBoxProvider SetMessageBoxProvider(MessageBoxProvider provider) {
    std::lock_guard lock(g_lock);
    MessageBoxProvider old = std::move(Provider());
    Provider() = std::move(provider);
    return old;
}

int MessageBox(HWND owner, const std::u16string& text, const std::u16string& caption, UINT type) {
    MessageBoxProvider provider;
    {
        std::lock_guard lock(g_lock);
        provider = Provider();
    }
    if (provider) return provider(owner, text, caption, type);
    int answer = SafeAnswer(type);
    const char* said = answer == IDNO ? " [answered No: nobody to ask]"
                       : answer == IDCANCEL ? " [answered Cancel: nobody to ask]"
                                            : "";
    std::fprintf(stderr, "%s: %s%s\n", ToUtf8(caption).c_str(), ToUtf8(text).c_str(), said);
    return answer;
}

}  // namespace kiv

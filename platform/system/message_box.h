// Message boxes, answered by whoever the process has put in charge.
//
// The desktop program installs dialogs, the command-line program a prompt
// on its terminal, tests a scripted answerer. With no provider the question
// is printed to stderr and answered with the safe choice (No, Cancel or OK),
// so nothing ever blocks waiting for an answer nobody can give, and nothing
// is overwritten without consent.
#pragma once

#include <functional>
#include <string>

#include "platform/msg/message_queue.h"

namespace kiv {

enum : UINT {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_YESNOCANCEL = 0x3,
    MB_YESNO = 0x4,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
    MB_TYPEMASK = 0xF,
};
enum : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

using MessageBoxProvider =
    std::function<int(HWND owner, const std::u16string& text, const std::u16string& caption, UINT type)>;

// Installs the provider for the whole process; returns the previous one.
MessageBoxProvider SetMessageBoxProvider(MessageBoxProvider provider);
int MessageBox(HWND owner, const std::u16string& text, const std::u16string& caption, UINT type);

// The safe answer for a box type: IDNO for Yes/No, IDCANCEL where there is
// a Cancel button, IDOK otherwise.
int SafeAnswer(UINT type);

}  // namespace kiv

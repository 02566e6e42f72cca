#include "app/gui/qt_message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

#include "platform/system/message_box.h"
#include "platform/system/text.h"

namespace kiv::gui {
namespace {

QMessageBox::Icon IconOf(UINT type) {
    switch (type & 0xF0) {
        case MB_ICONERROR: return QMessageBox::Critical;
        case MB_ICONQUESTION: return QMessageBox::Question;
        case MB_ICONWARNING: return QMessageBox::Warning;
        case MB_ICONINFORMATION: return QMessageBox::Information;
        default: return QMessageBox::NoIcon;
    }
}

QMessageBox::StandardButtons ButtonsOf(UINT type) {
    switch (type & MB_TYPEMASK) {
        case MB_YESNO: return QMessageBox::Yes | QMessageBox::No;
        case MB_YESNOCANCEL: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        case MB_OKCANCEL: return QMessageBox::Ok | QMessageBox::Cancel;
        default: return QMessageBox::Ok;
    }
}

int AnswerOf(int button, UINT type) {
    switch (button) {
        case QMessageBox::Yes: return IDYES;
        case QMessageBox::No: return IDNO;
        case QMessageBox::Ok: return IDOK;
        case QMessageBox::Cancel: return IDCANCEL;
        default: return SafeAnswer(type);  // closed without a button
    }
}

int ShowBox(const std::u16string& text, const std::u16string& caption, UINT type) {
    QMessageBox box(IconOf(type), QString::fromStdU16String(caption), QString::fromStdU16String(text),
                    ButtonsOf(type), QApplication::activeWindow());
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    // The safe answer is the default, as it is when nobody is asked.
    if ((type & MB_TYPEMASK) == MB_YESNO) box.setDefaultButton(QMessageBox::No);
    return AnswerOf(box.exec(), type);
}

}  // namespace

void InstallDialogMessageBoxes() {
    SetMessageBoxProvider([](HWND, const std::u16string& text, const std::u16string& caption, UINT type) {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app) return SafeAnswer(type);
        if (QThread::currentThread() == app->thread()) return ShowBox(text, caption, type);
        int answer = SafeAnswer(type);
        QMetaObject::invokeMethod(
            app, [&] { answer = ShowBox(text, caption, type); }, Qt::BlockingQueuedConnection);
        return answer;
    });
}

}  // namespace kiv::gui

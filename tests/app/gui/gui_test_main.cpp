// Runs the window tests on Qt's offscreen platform: all of them, or the
// one class named as the first argument (CTest runs one class per test).
#include <QApplication>
#include <QTest>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/com/class_registry.h"
#include "tests/app/gui/gui_tests.h"

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    kiv::CoInitialize(nullptr);
    const char* only = argc > 1 && argv[1][0] != '-' ? argv[1] : nullptr;
    std::vector<char*> args = {argv[0]};
    for (int i = only ? 2 : 1; i < argc; ++i) args.push_back(argv[i]);

    kiv::gui::test::MessagePumpTest pump;
    kiv::gui::test::StartFormTest start;
    kiv::gui::test::OptionsTest options;
    kiv::gui::test::QueryAndTipsTest queryTips;
    kiv::gui::test::HelpAndAboutTest help;
    kiv::gui::test::ConverterTest converter;
    kiv::gui::test::RipperTest ripper;
    QObject* tests[] = {&pump, &start, &options, &queryTips, &help, &converter, &ripper};
    int failed = 0, ran = 0;
    for (QObject* t : tests) {
        if (only && std::strcmp(only, t->metaObject()->className() + std::strlen("kiv::gui::test::")) != 0) continue;
        ++ran;
        failed += QTest::qExec(t, int(args.size()), args.data());
    }
    if (ran == 0) return 2;
    kiv::CoUninitialize();
    return failed ? 1 : 0;
}

#include <QEventLoop>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <thread>

#include "app/gui/message_pump.h"
#include "platform/msg/message_queue.h"
#include "tests/app/gui/gui_tests.h"

namespace kiv::gui::test {

void MessagePumpTest::workerEventsArriveOnTheWindowThreadInNestedLoops() {
    MessagePump pump;
    std::vector<WPARAM> seen;
    bool onWindowThread = true;
    HWND window = CreateHelperWindow(u"test", [&](HWND, UINT msg, WPARAM wp, LPARAM) -> LRESULT {
        if (msg == WM_USER + 1) {
            onWindowThread = onWindowThread && QThread::currentThread() == qApp->thread();
            seen.push_back(wp);
        }
        return msg == WM_USER + 2 ? 42 : 0;
    });
    QVERIFY(window);
    // A dialog's nested loop inside the outer one: events still come in.
    QEventLoop outer, nested;
    QTimer::singleShot(0, [&] {
        std::thread worker([&] {
            for (WPARAM i = 0; i < 50; ++i) PostMessage(window, WM_USER + 1, i, 0);
        });
        worker.join();
        QTimer::singleShot(5000, &nested, &QEventLoop::quit);
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (seen.size() == 50) nested.quit();
        });
        poll.start(5);
        nested.exec();
        outer.quit();
    });
    outer.exec();
    QCOMPARE(seen.size(), std::size_t(50));
    for (WPARAM i = 0; i < 50; ++i) QCOMPARE(seen[i], i);
    QVERIFY(onWindowThread);
    // A message sent from a worker blocks it until the window thread has answered.
    std::atomic<LRESULT> answer{0};
    std::thread sender([&] { answer = SendMessage(window, WM_USER + 2, 0, 0); });
    QTRY_COMPARE_WITH_TIMEOUT(answer.load(), LRESULT(42), 5000);
    sender.join();
    DestroyWindow(window);
}

void MessagePumpTest::timersFireWhileQtRuns() {
    MessagePump pump;
    int ticks = 0;
    HWND window = CreateHelperWindow(u"timer", [&](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
        if (msg == WM_TIMER) ++ticks;
        return 0;
    });
    SetTimer(window, 1, 10);
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 3, 5000);
    KillTimer(window, 1);
    DestroyWindow(window);
}

}  // namespace kiv::gui::test

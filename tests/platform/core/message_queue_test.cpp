#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/msg/message_queue.h"

namespace kiv {
namespace {

// Posted messages reach the window procedure on the creating thread, in
// order, and only while that thread pumps.
TEST(MessageQueue, PostedFromWorkerArriveInOrderOnlyWhenPumped) {
    std::vector<std::pair<UINT, WPARAM>> seen;
    std::thread::id procThread;
    HWND w = CreateHelperWindow(u"Test", [&](HWND, UINT m, WPARAM wp, LPARAM) {
        procThread = std::this_thread::get_id();
        seen.emplace_back(m, wp);
        return 0;
    });
    ASSERT_NE(w, nullptr);
    std::thread worker([&] {
        for (WPARAM i = 0; i < 5; ++i) EXPECT_TRUE(PostMessage(w, WM_USER + 1, i, 0));
    });
    worker.join();
    EXPECT_TRUE(seen.empty()) << "nothing may arrive before the thread pumps";
    EXPECT_EQ(PumpPendingMessages(), 5);
    ASSERT_EQ(seen.size(), 5u);
    for (WPARAM i = 0; i < 5; ++i) EXPECT_EQ(seen[i], std::make_pair(UINT(WM_USER + 1), i));
    EXPECT_EQ(procThread, std::this_thread::get_id());
    DestroyWindow(w);
    EXPECT_FALSE(PostMessage(w, WM_USER, 0, 0)) << "a destroyed window takes no messages";
}

TEST(MessageQueue, SendMessageAcrossThreadsWaitsForTheAnswer) {
    HWND w = CreateHelperWindow(u"Test", [](HWND, UINT m, WPARAM wp, LPARAM) { return LRESULT(m + wp); });
    std::atomic<LRESULT> answer{0};
    std::atomic<bool> done{false};
    std::thread sender([&] {
        answer = SendMessage(w, WM_USER, 7, 0);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(done) << "the sender must wait until the owner handles the message";
    MSG m;
    while (!done) {
        // Sent messages are handled inside PeekMessage, posted ones are not there.
        PeekMessage(&m, nullptr, 0, 0, PM_NOREMOVE);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    sender.join();
    EXPECT_EQ(answer, LRESULT(WM_USER + 7));
    DestroyWindow(w);
}

TEST(MessageQueue, TimersFireWhilePumpingAndStopWhenKilled) {
    int ticks = 0;
    HWND w = CreateHelperWindow(u"Test", [&](HWND, UINT m, WPARAM wp, LPARAM) {
        if (m == WM_TIMER && wp == 42) ++ticks;
        return 0;
    });
    ASSERT_EQ(SetTimer(w, 42, 5), UINT_PTR(42));
    MSG m;
    while (ticks < 3 && GetMessage(&m, nullptr, 0, 0)) DispatchMessage(&m);
    EXPECT_EQ(ticks, 3);
    EXPECT_TRUE(KillTimer(w, 42));
    EXPECT_FALSE(WaitMessage(30)) << "no tick after KillTimer";
    DestroyWindow(w);
}

TEST(MessageQueue, DestroyHandsQueuedMessagesToTheDropHandler) {
    std::vector<WPARAM> dropped;
    bool destroyedSeen = false;
    HWND w = CreateHelperWindow(
        u"Test", [&](HWND, UINT m, WPARAM, LPARAM) {
            if (m == WM_DESTROY) destroyedSeen = true;
            return 0;
        },
        [&](const MSG& m) { dropped.push_back(m.wParam); });
    PostMessage(w, WM_USER, 1, 0);
    PostMessage(w, WM_USER, 2, 0);
    EXPECT_TRUE(DestroyWindow(w));
    EXPECT_TRUE(destroyedSeen);
    EXPECT_EQ(dropped, (std::vector<WPARAM>{1, 2}));
    EXPECT_EQ(PumpPendingMessages(), 0);
}

TEST(MessageQueue, WakeHookRunsWhenAnotherThreadPosts) {
    std::atomic<int> wakes{0};
    SetQueueWakeHook([&] { ++wakes; });
    HWND w = CreateHelperWindow(u"Test", [](HWND, UINT, WPARAM, LPARAM) { return 0; });
    std::thread([&] { PostMessage(w, WM_USER, 0, 0); }).join();
    EXPECT_EQ(wakes, 1);
    SetQueueWakeHook({});
    PumpPendingMessages();
    DestroyWindow(w);
}

TEST(MessageQueue, QuitEndsGetMessage) {
    PostQuitMessage(3);
    MSG m;
    EXPECT_FALSE(GetMessage(&m, nullptr, 0, 0));
    EXPECT_EQ(m.message, UINT(WM_QUIT));
    EXPECT_EQ(m.wParam, WPARAM(3));
}

}  // namespace
}  // namespace kiv

#include "platform/msg/message_queue.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace kiv {
namespace {

using Clock = std::chrono::steady_clock;

struct Queue;

struct SentMessage {
    MSG msg{};
    LRESULT result = 0;
    bool done = false;
    std::shared_ptr<Queue> sender;
};

struct Timer {
    HWND hwnd;
    UINT_PTR id;
    std::chrono::milliseconds interval;
    Clock::time_point due;
};

struct Queue {
    std::mutex m;
    std::condition_variable cv;
    std::deque<MSG> posted;
    std::deque<std::shared_ptr<SentMessage>> sent;
    std::vector<Timer> timers;
    bool quit = false;
    int quitCode = 0;
    std::function<void()> wake;
};

struct Window {
    std::shared_ptr<Queue> queue;
    std::shared_ptr<WindowProc> proc;
    std::u16string title;
    std::shared_ptr<DropHandler> onDrop;
};

std::mutex g_windowsLock;
std::unordered_map<std::uintptr_t, Window>& Windows() {
    static auto* windows = new std::unordered_map<std::uintptr_t, Window>();  // outlives static destruction
    return *windows;
}
std::uintptr_t g_nextHandle = 0x10000;

thread_local std::shared_ptr<Queue> t_queue;

std::shared_ptr<Queue> MyQueue() {
    if (!t_queue) t_queue = std::make_shared<Queue>();
    return t_queue;
}

bool FindWindow(HWND hwnd, Window& out) {
    std::lock_guard lock(g_windowsLock);
    auto& w = Windows();
    auto it = w.find(reinterpret_cast<std::uintptr_t>(hwnd));
    if (it == w.end()) return false;
    out = it->second;
    return true;
}

bool Matches(const MSG& m, HWND hwnd, UINT lo, UINT hi) {
    if (hwnd && m.hwnd != hwnd) return false;
    if (lo == 0 && hi == 0) return true;
    return m.message >= lo && m.message <= hi;
}

void Notify(Queue& q, std::unique_lock<std::mutex>& lock) {
    auto wake = q.wake;
    q.cv.notify_all();
    lock.unlock();
    if (wake) wake();
}

LRESULT CallProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    Window w;
    if (!FindWindow(hwnd, w) || !w.proc || !*w.proc) return 0;
    return (*w.proc)(hwnd, msg, wp, lp);
}

// Handles the messages other threads sent to this thread. Called with the
// queue lock held; returns with it held.
void HandleSent(Queue& q, std::unique_lock<std::mutex>& lock) {
    while (!q.sent.empty()) {
        auto s = q.sent.front();
        q.sent.pop_front();
        lock.unlock();
        LRESULT r = CallProc(s->msg.hwnd, s->msg.message, s->msg.wParam, s->msg.lParam);
        {
            std::unique_lock sl(s->sender->m);
            s->result = r;
            s->done = true;
            s->sender->cv.notify_all();
        }
        lock.lock();
    }
}

// Takes a message matching the filter, or a due timer; false when none.
bool TakeMessage(Queue& q, MSG* out, HWND hwnd, UINT lo, UINT hi, bool remove) {
    for (auto it = q.posted.begin(); it != q.posted.end(); ++it) {
        if (Matches(*it, hwnd, lo, hi)) {
            *out = *it;
            if (remove) q.posted.erase(it);
            return true;
        }
    }
    if (q.quit) {
        *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(q.quitCode), 0};
        if (remove) q.quit = false;
        return true;
    }
    auto now = Clock::now();
    for (Timer& t : q.timers) {
        MSG m{t.hwnd, WM_TIMER, t.id, 0};
        if (t.due <= now && Matches(m, hwnd, lo, hi)) {
            *out = m;
            if (remove) t.due = now + t.interval;
            return true;
        }
    }
    return false;
}

std::chrono::milliseconds UntilNextTimer(const Queue& q) {
    auto best = std::chrono::milliseconds(3600 * 1000);
    auto now = Clock::now();
    for (const Timer& t : q.timers) {
        auto d = std::chrono::duration_cast<std::chrono::milliseconds>(t.due - now);
        if (d < best) best = d;
    }
    return best < std::chrono::milliseconds(0) ? std::chrono::milliseconds(0) : best;
}

}  // namespace

HWND CreateHelperWindow(const std::u16string& title, WindowProc proc, DropHandler onDrop) {
    std::lock_guard lock(g_windowsLock);
    std::uintptr_t h = g_nextHandle++;
    Windows()[h] = Window{MyQueue(), std::make_shared<WindowProc>(std::move(proc)), title,
                          std::make_shared<DropHandler>(std::move(onDrop))};
    return reinterpret_cast<HWND>(h);
}

BOOL DestroyWindow(HWND hwnd) {
    Window w;
    if (!FindWindow(hwnd, w)) return FALSE;
    if (w.proc && *w.proc) (*w.proc)(hwnd, WM_DESTROY, 0, 0);
    {
        std::lock_guard lock(g_windowsLock);
        Windows().erase(reinterpret_cast<std::uintptr_t>(hwnd));
    }
    std::vector<MSG> dropped;
    {
        std::lock_guard ql(w.queue->m);
        std::erase_if(w.queue->timers, [&](const Timer& t) { return t.hwnd == hwnd; });
        std::erase_if(w.queue->posted, [&](const MSG& m) {
            if (m.hwnd != hwnd) return false;
            dropped.push_back(m);
            return true;
        });
    }
    if (w.onDrop && *w.onDrop)
        for (const MSG& m : dropped) (*w.onDrop)(m);
    return TRUE;
}

BOOL IsWindow(HWND hwnd) {
    Window w;
    return FindWindow(hwnd, w) ? TRUE : FALSE;
}

std::u16string GetWindowTitle(HWND hwnd) {
    Window w;
    return FindWindow(hwnd, w) ? w.title : std::u16string();
}

BOOL PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<Queue> q;
    if (hwnd) {
        Window w;
        if (!FindWindow(hwnd, w)) return FALSE;
        q = w.queue;
    } else {
        q = MyQueue();
    }
    std::unique_lock lock(q->m);
    q->posted.push_back(MSG{hwnd, msg, wParam, lParam});
    Notify(*q, lock);
    return TRUE;
}

LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Window w;
    if (!FindWindow(hwnd, w)) return 0;
    auto me = MyQueue();
    if (w.queue == me) return CallProc(hwnd, msg, wParam, lParam);
    auto s = std::make_shared<SentMessage>();
    s->msg = MSG{hwnd, msg, wParam, lParam};
    s->sender = me;
    {
        std::unique_lock lock(w.queue->m);
        w.queue->sent.push_back(s);
        Notify(*w.queue, lock);
    }
    // Wait for the reply; messages sent to us meanwhile are handled, so two
    // threads sending to each other do not deadlock.
    std::unique_lock lock(me->m);
    while (!s->done) {
        HandleSent(*me, lock);
        if (s->done) break;
        me->cv.wait(lock, [&] { return s->done || !me->sent.empty(); });
    }
    return s->result;
}

void PostQuitMessage(int exitCode) {
    auto q = MyQueue();
    std::unique_lock lock(q->m);
    q->quit = true;
    q->quitCode = exitCode;
    Notify(*q, lock);
}

BOOL GetMessage(MSG* msg, HWND hwnd, UINT lo, UINT hi) {
    auto q = MyQueue();
    std::unique_lock lock(q->m);
    for (;;) {
        HandleSent(*q, lock);
        if (TakeMessage(*q, msg, hwnd, lo, hi, true)) return msg->message == WM_QUIT ? FALSE : TRUE;
        q->cv.wait_for(lock, UntilNextTimer(*q));
    }
}

BOOL PeekMessage(MSG* msg, HWND hwnd, UINT lo, UINT hi, UINT removeFlags) {
    auto q = MyQueue();
    std::unique_lock lock(q->m);
    HandleSent(*q, lock);
    return TakeMessage(*q, msg, hwnd, lo, hi, (removeFlags & PM_REMOVE) != 0) ? TRUE : FALSE;
}

LRESULT DispatchMessage(const MSG* msg) {
    if (!msg || !msg->hwnd) return 0;
    return CallProc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs) {
    Window w;
    if (!FindWindow(hwnd, w)) return 0;
    std::unique_lock lock(w.queue->m);
    auto interval = std::chrono::milliseconds(elapseMs == 0 ? 1 : elapseMs);
    for (Timer& t : w.queue->timers) {
        if (t.hwnd == hwnd && t.id == id) {
            t.interval = interval;
            t.due = Clock::now() + interval;
            Notify(*w.queue, lock);
            return id;
        }
    }
    w.queue->timers.push_back(Timer{hwnd, id, interval, Clock::now() + interval});
    Notify(*w.queue, lock);
    return id;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
    Window w;
    if (!FindWindow(hwnd, w)) return FALSE;
    std::lock_guard lock(w.queue->m);
    return std::erase_if(w.queue->timers, [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; }) ? TRUE : FALSE;
}

bool WaitMessage(int timeoutMs) {
    auto q = MyQueue();
    std::unique_lock lock(q->m);
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        MSG m;
        if (!q->sent.empty() || TakeMessage(*q, &m, nullptr, 0, 0, false)) return true;
        auto wait = UntilNextTimer(*q);
        if (timeoutMs >= 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left <= std::chrono::milliseconds(0)) return false;
            if (left < wait) wait = left;
        }
        q->cv.wait_for(lock, wait);
    }
}

int PumpPendingMessages() {
    int n = 0;
    MSG m;
    while (PeekMessage(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (m.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(m.wParam));
            break;
        }
        DispatchMessage(&m);
        ++n;
    }
    return n;
}

int NextTimerDelayMs() {
    auto q = MyQueue();
    std::lock_guard lock(q->m);
    if (q->timers.empty()) return -1;
    return static_cast<int>(UntilNextTimer(*q).count());
}

void SetQueueWakeHook(std::function<void()> hook) {
    auto q = MyQueue();
    std::lock_guard lock(q->m);
    q->wake = std::move(hook);
}

}  // namespace kiv

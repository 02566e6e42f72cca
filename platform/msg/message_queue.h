// Thread message queues and helper windows.
//
// Every thread has a queue, made on first use. A helper window is a handle
// bound to the thread that created it, with a window procedure; messages
// posted to it from any thread are queued on that thread and reach the
// procedure only when that thread pumps (GetMessage/PeekMessage followed by
// DispatchMessage). This is how components hand events from their worker
// threads to the thread that created them. SendMessage to another thread's
// window blocks until that thread has handled it, handling messages sent to
// the caller meanwhile. A host with an event loop of its own (Qt) installs a
// wake hook and pumps when it fires.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/com/types.h"

namespace kiv {

struct HWND__;
using HWND = HWND__*;
using UINT = unsigned int;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using UINT_PTR = std::uintptr_t;

enum : UINT {
    WM_NULL = 0x0000,
    WM_DESTROY = 0x0002,
    WM_QUIT = 0x0012,
    WM_TIMER = 0x0113,
    WM_USER = 0x0400,
};
enum : UINT { PM_NOREMOVE = 0, PM_REMOVE = 1 };

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

using WindowProc = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

// Called for each message still queued for a window when it is destroyed,
// so that what a message carries (a text, say) is freed, not leaked.
using DropHandler = std::function<void(const MSG&)>;

// Creates a hidden window bound to the calling thread. Null only when the
// process is out of resources.
HWND CreateHelperWindow(const std::u16string& title, WindowProc proc, DropHandler onDrop = {});
// Sends WM_DESTROY to the procedure and forgets the window; messages still
// queued for it are dropped (through its drop handler). WM_DESTROY runs on
// the calling thread.
BOOL DestroyWindow(HWND hwnd);
BOOL IsWindow(HWND hwnd);
std::u16string GetWindowTitle(HWND hwnd);

BOOL PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Returns the procedure's result, or 0 when the window does not exist (so a
// result of 0 alone does not prove the message was handled).
LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Posts a message with no window to the calling thread's own queue.
void PostQuitMessage(int exitCode);

// Waits for a message (hwnd and the range filter what is taken; 0,0,0 takes
// anything). Returns FALSE for WM_QUIT.
BOOL GetMessage(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax);
BOOL PeekMessage(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags);
LRESULT DispatchMessage(const MSG* msg);

// WM_TIMER with wParam = id every `elapseMs`, while the thread pumps.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs);
BOOL KillTimer(HWND hwnd, UINT_PTR id);

// Blocks until the calling thread's queue has something to handle or the
// time runs out (-1: no limit). True when there is something.
bool WaitMessage(int timeoutMs);

// Dispatches everything that is waiting on the calling thread; returns the
// number of messages handled. Stops early at WM_QUIT (which it re-posts).
int PumpPendingMessages();

// Milliseconds until the calling thread's next timer is due (0 when one is
// due now); -1 when the thread has no timer. A host loop that pumps on the
// wake hook schedules its next pump by this, since timers post nothing.
int NextTimerDelayMs();

// Called, from the posting thread, whenever a message arrives for the
// calling thread's queue. Pass an empty function to remove it.
void SetQueueWakeHook(std::function<void()> hook);

}  // namespace kiv

// Hidden windows and window messages on the Qt event loop.
//
// The network library expects the window-message model: a window class registered once per
// process, invisible windows of that class created on a thread, messages (number, wParam,
// lParam) posted to a window and handed to its class's window procedure on the window's
// thread in queue order, window timers that deliver WM_TIMER, and a window word holding the
// owning object. Here a window is a QObject living on the thread that created it; a posted
// message is an event queued to it; a window timer is a Qt timer of that object (monotonic,
// precise). `PostMessage` is safe from any thread and refuses windows already destroyed;
// everything else is called on the window's own thread. Messages are delivered only while that
// thread runs its event loop or pumps it (`ProcessMessages`, `Wait`).
// This module knows nothing of sockets or of the objects stored in the window word.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

class QThread;

namespace kairelon {

class TWindow;
using HWND = TWindow*; // nullptr: no window

using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

struct TMessage {
    unsigned Msg = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    LRESULT Result = 0;
};

constexpr unsigned WM_TIMER = 275;
constexpr unsigned WM_USER = 0x400;

using WNDPROC = LRESULT (*)(HWND window, unsigned message, WPARAM wParam, LPARAM lParam);

struct WNDCLASS {
    std::string lpszClassName;
    WNDPROC lpfnWndProc = nullptr;
    int cbWndExtra = 0; // bytes of window words (one pointer-sized word is kept)
};

// Window classes of the process. `GetClassInfo` fills `info` and returns true when a class of
// that name is registered; `RegisterClass` fails (false) for an empty name, a missing window
// procedure or a name already registered.
bool GetClassInfo(std::string_view className, WNDCLASS* info);
bool RegisterClass(const WNDCLASS& windowClass);
int ClassRegistrationCount(std::string_view className); // successful registrations so far

// Creates an invisible window of a registered class on the calling thread (the thread needs a
// Qt event dispatcher, which every thread running or pumping an event loop has); nullptr when
// the class is unknown or no application object exists.
HWND CreateWindowEx(std::string_view className);
// Destroys a window: its timers stop and its queued messages are dropped. Called on the
// window's thread; from another thread the window is refused new messages at once and deleted
// by its own thread's loop.
bool DestroyWindow(HWND window);
bool IsWindow(HWND window);

// Window word 0 (the only one): the owning object, or nullptr.
void SetWindowLongPtr(HWND window, void* value);
void* GetWindowLongPtr(HWND window);

// Queues a message for the window's thread. `deliver`, when given, runs on that thread just
// before the window procedure and may drop the message by returning false (used to hand over
// results that belong to the receiver, and to drop answers nobody waits for any more).
bool PostMessage(HWND window, unsigned message, WPARAM wParam, LPARAM lParam,
                 std::function<bool()> deliver = {});
// Calls the window procedure at once (same thread only); 0 for no window.
LRESULT SendMessage(HWND window, unsigned message, WPARAM wParam, LPARAM lParam);
// The default answer to messages a window procedure does not handle: 0, and the message is
// counted (for diagnostics and tests).
LRESULT DefWindowProc(HWND window, unsigned message, WPARAM wParam, LPARAM lParam);
int DefWindowProcCount(HWND window);

// Window timers: WM_TIMER with wParam = id every `elapseMs` milliseconds until killed. Setting
// an id that runs restarts it with the new interval. Both fail (false) for no window or when
// called from a thread that does not own the window.
bool SetTimer(HWND window, WPARAM id, std::uint32_t elapseMs);
bool KillTimer(HWND window, WPARAM id);
bool TimerIsSet(HWND window, WPARAM id);

// The thread a window belongs to, for code that must wake it.
QThread* WindowThread(HWND window);

// Makes every thread of this process run the event loop's plain implementation rather than
// the GLib one: it registers socket notifiers and takes posted messages without waking its own
// loop each time, which is most of what a server spends per connection when it makes and drops
// a watched socket for each. Call before the application object exists, in a program that needs
// no GLib sources (a server without windows); an explicit QT_NO_GLIB in the environment stays.
void UsePlainEventLoop();

} // namespace kairelon

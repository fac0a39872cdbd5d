// The invisible windows through which the socket component and its timer receive messages.
//
// `PsockAllocateHWnd` creates a window of class "PsockWindowClass" for a socket component and
// `TmrAllocateHWnd` one of class "TmrWindowClass" for a timer; each class is registered on
// first use, once per process. The object given is kept in the window word and receives the
// window's messages: the socket window hands every message numbered 1125 or above to
// `TPowersock::Wndproc`, the timer window hands WM_TIMER to `TThreadTimer::Wndproc`; all other
// messages, and every message while no object is stored, get the default answer. The window
// belongs to the calling thread. The owner destroys its window (`DestroyWindow`).
#pragma once

#include "platform/WindowMessages.h"

namespace kairelon {

class TPowersock;
class TThreadTimer;

constexpr const char* PsockWindowClassName = "PsockWindowClass";
constexpr const char* TmrWindowClassName = "TmrWindowClass";
constexpr unsigned FirstSocketMessage = 1125; // WM_USER + 101

// nullptr when the class cannot be registered or the window not created.
HWND PsockAllocateHWnd(TPowersock* object); // defined with the socket component
HWND TmrAllocateHWnd(TThreadTimer* object);

// The common steps: registers the class on first use (once per process, whichever thread
// comes first), creates the window on the calling thread and stores the object in it.
HWND AllocateHWnd(const char* className, WNDPROC procedure, void* object);

} // namespace kairelon

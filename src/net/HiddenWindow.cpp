#include "net/HiddenWindow.h"

#include "net/ThreadTimer.h"

namespace kairelon {
namespace {

LRESULT TimerWindowProc(HWND window, unsigned message, WPARAM wParam, LPARAM lParam) {
    auto* object = static_cast<TThreadTimer*>(GetWindowLongPtr(window));
    if (object != nullptr && message == WM_TIMER) {
        TMessage record{message, wParam, lParam, 0};
        object->Wndproc(record);
        return record.Result;
    }
    return DefWindowProc(window, message, wParam, lParam);
}

} // namespace

HWND AllocateHWnd(const char* className, WNDPROC procedure, void* object) {
    HWND window = CreateWindowEx(className);
    if (window == nullptr && !GetClassInfo(className, nullptr)) {
        WNDCLASS windowClass;
        windowClass.lpszClassName = className;
        windowClass.lpfnWndProc = procedure;
        windowClass.cbWndExtra = static_cast<int>(sizeof(void*));
        // Another thread may have registered it meanwhile; then the class exists all the same.
        RegisterClass(windowClass);
        window = CreateWindowEx(className);
    }
    if (window != nullptr && object != nullptr) {
        SetWindowLongPtr(window, object);
    }
    return window;
}

HWND TmrAllocateHWnd(TThreadTimer* object) {
    return AllocateHWnd(TmrWindowClassName, TimerWindowProc, object);
}

} // namespace kairelon

#include "net/ThreadTimer.h"

#include "framework/Exception.h"
#include "net/HiddenWindow.h"

namespace kairelon {

TThreadTimer::TThreadTimer(TComponent* AOwner) : TComponent(AOwner) {
    FEnabled = true;
    FInterval = 1000;
    FWindowHandle = TmrAllocateHWnd(this);
}

TThreadTimer::~TThreadTimer() {
    MarkDestroying();
    FEnabled = false;
    KillTimer(FWindowHandle, TimerId);
    DestroyWindow(FWindowHandle);
    FWindowHandle = nullptr;
}

void TThreadTimer::SetEnabled(bool value) {
    if (value != FEnabled) {
        FEnabled = value;
        UpdateTimer();
    }
}

void TThreadTimer::SetInterval(std::uint32_t value) {
    if (value != FInterval) {
        FInterval = value;
        UpdateTimer();
    }
}

void TThreadTimer::SetOnTimer(TNotifyEvent handler) {
    FOnTimer = std::move(handler);
    UpdateTimer();
}

bool TThreadTimer::Running() const {
    return TimerIsSet(FWindowHandle, TimerId);
}

void TThreadTimer::UpdateTimer() {
    KillTimer(FWindowHandle, TimerId);
    if (FInterval != 0 && FEnabled && FOnTimer) {
        if (!SetTimer(FWindowHandle, TimerId, FInterval)) {
            throw Exception("No Timer");
        }
    }
}

void TThreadTimer::Wndproc(TMessage& message) {
    if (message.Msg != WM_TIMER) {
        return;
    }
    try {
        Timer();
    } catch (const std::exception& error) {
        HandleException(this, error);
    }
}

void TThreadTimer::Timer() {
    if (FOnTimer) {
        // A copy: the handler may replace or clear OnTimer while it runs.
        const TNotifyEvent handler = FOnTimer;
        handler(this);
    }
}

} // namespace kairelon

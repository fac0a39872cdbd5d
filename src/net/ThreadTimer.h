// `TThreadTimer`: a non-visual timer driven by its own hidden window.
//
// The timer ticks every `Interval` milliseconds (a window timer with identifier 1 on a window
// of class "TmrWindowClass") and calls `OnTimer` on each tick, on the thread that created it,
// while that thread runs or pumps its event loop. It runs only while `Enabled` is set,
// `Interval` is not 0 and `OnTimer` is assigned; every change of one of these recomputes that
// (`UpdateTimer`), and each start begins a full new interval. It keeps ticking until one of
// the three goes away or it is destroyed. When the window timer cannot be set (no window, or a
// change made from a thread that does not own the timer) the setter raises `Exception`
// "No Timer". Exceptions escaping `OnTimer` go to the application's handler
// (`HandleException`). The socket component uses one as its time-out timer.
#pragma once

#include "net/Component.h"
#include "platform/WindowMessages.h"

#include <cstdint>

namespace kairelon {

class TThreadTimer : public TComponent {
public:
    static constexpr WPARAM TimerId = 1;

    explicit TThreadTimer(TComponent* AOwner = nullptr);
    ~TThreadTimer() override;

    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool value);
    std::uint32_t Interval() const { return FInterval; } // milliseconds; 0 stops the timer
    void SetInterval(std::uint32_t value);
    const TNotifyEvent& OnTimer() const { return FOnTimer; }
    void SetOnTimer(TNotifyEvent handler);

    HWND WindowHandle() const { return FWindowHandle; }
    bool Running() const; // a window timer is set

    // Called on each tick; calls OnTimer with this timer as Sender.
    virtual void Timer();
    void Wndproc(TMessage& message);

protected:
    void UpdateTimer();

private:
    std::uint32_t FInterval = 1000;
    HWND FWindowHandle = nullptr;
    TNotifyEvent FOnTimer;
    bool FEnabled = true;
};

} // namespace kairelon

#include "platform/WindowMessages.h"

#include <QBasicTimer>
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>
#include <QTimerEvent>

#include <climits>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace kairelon {
namespace {

QEvent::Type MessageEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

class TMessageEvent : public QEvent {
public:
    TMessageEvent(unsigned message, WPARAM wParam, LPARAM lParam, std::function<bool()> deliver)
        : QEvent(MessageEventType()), message_(message), wParam_(wParam), lParam_(lParam),
          deliver_(std::move(deliver)) {}

    unsigned message_;
    WPARAM wParam_;
    LPARAM lParam_;
    std::function<bool()> deliver_;
};

struct ClassTable {
    std::mutex lock;
    std::map<std::string, WNDCLASS, std::less<>> classes;
    std::map<std::string, int, std::less<>> registrations;
};

ClassTable& Classes() {
    static ClassTable table;
    return table;
}

struct WindowTable {
    std::mutex lock;
    std::unordered_set<TWindow*> live;
};

WindowTable& Windows() {
    static WindowTable table;
    return table;
}

bool OnOwnThread(const QObject* object) {
    return object->thread() == QThread::currentThread();
}

} // namespace

class TWindow : public QObject {
public:
    explicit TWindow(WNDPROC procedure) : procedure_(procedure) {}

    WNDPROC procedure_;
    void* word_ = nullptr;
    int defaultAnswers_ = 0;
    std::map<WPARAM, std::unique_ptr<QBasicTimer>> timers_;

protected:
    bool event(QEvent* event) override {
        if (event->type() != MessageEventType()) {
            return QObject::event(event);
        }
        auto* message = static_cast<TMessageEvent*>(event);
        if (message->deliver_ && !message->deliver_()) {
            return true;
        }
        procedure_(this, message->message_, message->wParam_, message->lParam_);
        return true;
    }

    void timerEvent(QTimerEvent* event) override {
        for (const auto& [id, timer] : timers_) {
            if (timer->timerId() == event->timerId()) {
                const WPARAM tick = id; // the procedure may kill this very timer
                procedure_(this, WM_TIMER, tick, 0);
                return;
            }
        }
    }
};

bool GetClassInfo(std::string_view className, WNDCLASS* info) {
    ClassTable& table = Classes();
    std::lock_guard<std::mutex> guard(table.lock);
    const auto found = table.classes.find(className);
    if (found == table.classes.end()) {
        return false;
    }
    if (info != nullptr) {
        *info = found->second;
    }
    return true;
}

bool RegisterClass(const WNDCLASS& windowClass) {
    if (windowClass.lpszClassName.empty() || windowClass.lpfnWndProc == nullptr) {
        return false;
    }
    ClassTable& table = Classes();
    std::lock_guard<std::mutex> guard(table.lock);
    if (!table.classes.emplace(windowClass.lpszClassName, windowClass).second) {
        return false;
    }
    ++table.registrations[windowClass.lpszClassName];
    return true;
}

int ClassRegistrationCount(std::string_view className) {
    ClassTable& table = Classes();
    std::lock_guard<std::mutex> guard(table.lock);
    const auto found = table.registrations.find(className);
    return found == table.registrations.end() ? 0 : found->second;
}

HWND CreateWindowEx(std::string_view className) {
    if (QCoreApplication::instance() == nullptr) {
        return nullptr;
    }
    WNDPROC procedure = nullptr;
    {
        ClassTable& table = Classes();
        std::lock_guard<std::mutex> guard(table.lock);
        const auto found = table.classes.find(className);
        if (found == table.classes.end()) {
            return nullptr;
        }
        procedure = found->second.lpfnWndProc;
    }
    auto* window = new TWindow(procedure);
    WindowTable& table = Windows();
    std::lock_guard<std::mutex> guard(table.lock);
    table.live.insert(window);
    return window;
}

bool DestroyWindow(HWND window) {
    if (window == nullptr) {
        return false;
    }
    {
        WindowTable& table = Windows();
        std::lock_guard<std::mutex> guard(table.lock);
        if (table.live.erase(window) == 0) {
            return false;
        }
    }
    if (OnOwnThread(window)) {
        window->timers_.clear();
        delete window; // drops the messages still queued for it
    } else {
        window->deleteLater();
    }
    return true;
}

bool IsWindow(HWND window) {
    WindowTable& table = Windows();
    std::lock_guard<std::mutex> guard(table.lock);
    return window != nullptr && table.live.count(window) != 0;
}

void SetWindowLongPtr(HWND window, void* value) {
    if (window != nullptr) {
        window->word_ = value;
    }
}

void* GetWindowLongPtr(HWND window) {
    return window != nullptr ? window->word_ : nullptr;
}

bool PostMessage(HWND window, unsigned message, WPARAM wParam, LPARAM lParam,
                 std::function<bool()> deliver) {
    WindowTable& table = Windows();
    std::lock_guard<std::mutex> guard(table.lock);
    if (window == nullptr || table.live.count(window) == 0) {
        return false;
    }
    QCoreApplication::postEvent(window,
                                new TMessageEvent(message, wParam, lParam, std::move(deliver)));
    return true;
}

LRESULT SendMessage(HWND window, unsigned message, WPARAM wParam, LPARAM lParam) {
    if (window == nullptr || !OnOwnThread(window)) {
        return 0;
    }
    return window->procedure_(window, message, wParam, lParam);
}

LRESULT DefWindowProc(HWND window, unsigned /*message*/, WPARAM /*wParam*/, LPARAM /*lParam*/) {
    if (window != nullptr) {
        ++window->defaultAnswers_;
    }
    return 0;
}

int DefWindowProcCount(HWND window) {
    return window != nullptr ? window->defaultAnswers_ : 0;
}

bool SetTimer(HWND window, WPARAM id, std::uint32_t elapseMs) {
    if (window == nullptr || !OnOwnThread(window)) {
        return false;
    }
    auto& timer = window->timers_[id];
    if (!timer) {
        timer = std::make_unique<QBasicTimer>();
    }
    const int interval =
        elapseMs > static_cast<std::uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(elapseMs);
    timer->start(interval, Qt::PreciseTimer, window);
    return timer->isActive();
}

bool KillTimer(HWND window, WPARAM id) {
    if (window == nullptr || !OnOwnThread(window)) {
        return false;
    }
    const auto found = window->timers_.find(id);
    if (found == window->timers_.end()) {
        return false;
    }
    window->timers_.erase(found);
    return true;
}

bool TimerIsSet(HWND window, WPARAM id) {
    if (window == nullptr) {
        return false;
    }
    const auto found = window->timers_.find(id);
    return found != window->timers_.end() && found->second->isActive();
}

QThread* WindowThread(HWND window) {
    return window != nullptr ? window->thread() : nullptr;
}

void UsePlainEventLoop() {
    if (qEnvironmentVariableIsEmpty("QT_NO_GLIB")) {
        qputenv("QT_NO_GLIB", "1");
    }
}

} // namespace kairelon

// Notice of the moments when a scheduled synchronisation may have been missed.
//
// The scheduler counts running time in ticks of a timer that stands still while the machine
// sleeps, and a run that falls into a time without network fails. A `WakeWatcher` tells its
// listener when the machine has woken from sleep (`WakeEvent::Resumed`) and when the network
// has come back with full connectivity (`WakeEvent::NetworkReturned`), so the engine can start
// the missed run. On Linux the watcher listens on the system bus for the login manager's
// sleep signal and for NetworkManager's state and connectivity (platform/linux/WakeWatcher.cpp).
// A watcher delivers its events on the thread that created it, from the event loop; it sends
// nothing and changes nothing. Tests inject their own through a `WakeWatcherLoader`.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace kairelon {

enum class WakeEvent {
    Resumed,         // the machine woke up from sleep or hibernation
    NetworkReturned, // the network reached full connectivity again
};

using WakeListener = std::function<void(WakeEvent)>;

class WakeWatcher {
public:
    virtual ~WakeWatcher() = default;
};

// Creates a watcher that calls the listener; null when there is nothing to watch.
using WakeWatcherLoader = std::function<std::unique_ptr<WakeWatcher>(WakeListener)>;

struct WakeWatcherOptions {
    // D-Bus address of the bus where the login manager and the network service are found;
    // empty: the system bus.
    std::string busAddress;
};

// The system's watcher: null when the bus cannot be reached. It needs neither service to be
// running now; a service that starts later is heard from then.
std::unique_ptr<WakeWatcher> LoadSystemWakeWatcher(WakeListener listener,
                                                   const WakeWatcherOptions& options = {});

} // namespace kairelon

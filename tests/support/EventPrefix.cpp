#include "support/EventPrefix.h"

#include "platform/NamedEvent.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>

namespace kairelon::test {

UniqueEventPrefix::UniqueEventPrefix() {
    static std::atomic<int> counter{0};
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    prefix_ = "kairelon-test-" + std::to_string(getpid()) + "-" + std::to_string(++counter) + "-" +
              std::to_string(ticks % 1000000) + "-";
    setenv("KAIRELON_EVENT_PREFIX", prefix_.c_str(), 1);
    previousTrust_ =
        SetEventTrust(TEventTrust{{static_cast<long>(geteuid())}, static_cast<long>(getegid())});
}

UniqueEventPrefix::~UniqueEventPrefix() {
    TNamedEvent::Remove(SyncBeginEventName);
    TNamedEvent::Remove(SyncDoneEventName);
    TNamedEvent::Remove(SyncRefusedEventName);
    SetEventTrust(previousTrust_);
    unsetenv("KAIRELON_EVENT_PREFIX");
}

} // namespace kairelon::test

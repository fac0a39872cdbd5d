// A unique prefix for the named events while the object lives, so that tests running in
// parallel never meet each other's events or those of an installed service. Events left
// behind under the prefix are removed when it ends. Meanwhile the events the test's own user
// and group create are trusted as the service's are, so tests run as any user.
#pragma once

#include "platform/NamedEvent.h"

#include <optional>
#include <string>

namespace kairelon::test {

class UniqueEventPrefix {
public:
    UniqueEventPrefix();
    ~UniqueEventPrefix();
    UniqueEventPrefix(const UniqueEventPrefix&) = delete;
    UniqueEventPrefix& operator=(const UniqueEventPrefix&) = delete;

    const std::string& Prefix() const { return prefix_; }

private:
    std::string prefix_;
    std::optional<TEventTrust> previousTrust_;
};

} // namespace kairelon::test

// A unique prefix for the named events while the object lives, so that tests running in
// parallel never meet each other's events or those of an installed service. Events left
// behind under the prefix are removed when it ends.
#pragma once

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
};

} // namespace kairelon::test

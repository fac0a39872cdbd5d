// A resolver for tests: answers from a table, optionally after a delay, counts its calls, and
// is installed for the lifetime of a `ResolverScope`. Unknown names get "host not found".
#pragma once

#include "platform/Resolver.h"

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace kairelon::test {

class FakeResolver : public TResolver {
public:
    void Add(const std::string& name, const std::string& dotted) {
        std::lock_guard<std::mutex> guard(lock_);
        in_addr address{};
        ::inet_aton(dotted.c_str(), &address);
        table_[name] = address.s_addr;
    }
    void SetDelayMs(int ms) { delayMs_ = ms; }
    int Calls() const { return calls_.load(); }
    std::string LastName() {
        std::lock_guard<std::mutex> guard(lock_);
        return lastName_;
    }

    TResolveResult Resolve(const std::string& name) override {
        ++calls_;
        {
            std::lock_guard<std::mutex> guard(lock_);
            lastName_ = name;
        }
        if (delayMs_ > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs_.load()));
        }
        std::lock_guard<std::mutex> guard(lock_);
        TResolveResult result;
        const auto found = table_.find(name);
        if (found == table_.end()) {
            result.error = 11001;
        } else {
            result.addresses.push_back(found->second);
        }
        return result;
    }

private:
    std::mutex lock_;
    std::map<std::string, std::uint32_t> table_;
    std::string lastName_;
    std::atomic<int> delayMs_{0};
    std::atomic<int> calls_{0};
};

class ResolverScope {
public:
    explicit ResolverScope(std::shared_ptr<TResolver> resolver)
        : previous_(SetResolver(std::move(resolver))) {}
    ~ResolverScope() { SetResolver(previous_); }
    ResolverScope(const ResolverScope&) = delete;
    ResolverScope& operator=(const ResolverScope&) = delete;

private:
    std::shared_ptr<TResolver> previous_;
};

} // namespace kairelon::test

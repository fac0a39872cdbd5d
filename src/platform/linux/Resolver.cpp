#include "platform/Resolver.h"

#include "platform/Sockets.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>

namespace kairelon {
namespace {

class GetAddrInfoResolver : public TResolver {
public:
    TResolveResult Resolve(const std::string& name) override {
        TResolveResult result;
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* list = nullptr;
        const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
        if (rc != 0) {
            switch (rc) {
            case EAI_NONAME:
                result.error = sock::WSAHOST_NOT_FOUND;
                break;
            case EAI_AGAIN:
                result.error = sock::WSATRY_AGAIN;
                break;
            case EAI_NODATA:
            case EAI_ADDRFAMILY:
                result.error = sock::WSANO_DATA;
                break;
            default:
                result.error = sock::WSANO_RECOVERY;
                break;
            }
            return result;
        }
        for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
            if (entry->ai_family == AF_INET && entry->ai_addr != nullptr) {
                const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
                result.addresses.push_back(address->sin_addr.s_addr);
            }
        }
        ::freeaddrinfo(list);
        if (result.addresses.empty()) {
            result.error = sock::WSANO_DATA;
        }
        return result;
    }
};

struct ResolverSlot {
    std::mutex lock;
    std::shared_ptr<TResolver> current;
};

ResolverSlot& Slot() {
    static auto* slot = new ResolverSlot; // never destroyed: workers may finish at exit
    return *slot;
}

struct Request {
    std::atomic<bool> cancelled{false};
};

struct RequestTable {
    std::mutex lock;
    std::unordered_map<int, std::shared_ptr<Request>> open;
    int next = 0;
};

RequestTable& Requests() {
    static auto* table = new RequestTable;
    return *table;
}

void ForgetRequest(int handle) {
    RequestTable& table = Requests();
    std::lock_guard<std::mutex> guard(table.lock);
    table.open.erase(handle);
}

// The lookup threads. Each is counted from its start until its last step, the post of its
// answer; once the lookups are wound down (at the application's end) nothing is posted any
// more, so no thread reaches the window tables or Qt while they are torn down.
struct LookupThreads {
    std::mutex lock;
    std::condition_variable ended;
    int running = 0;
    bool closed = false;
    std::atomic<bool> failStarts{false};
};

void WindDownAtExit() {
    sock::WindDownLookups(std::chrono::seconds(2));
}

LookupThreads& Lookups() {
    static auto* threads = [] {
        // Called when the application object is destroyed, before Qt is torn down.
        qAddPostRoutine(WindDownAtExit);
        return new LookupThreads; // never destroyed: a thread past the grace may still end
    }();
    return *threads;
}

} // namespace

std::shared_ptr<TResolver> SystemResolver() {
    static const std::shared_ptr<TResolver> resolver = std::make_shared<GetAddrInfoResolver>();
    return resolver;
}

std::shared_ptr<TResolver> SetResolver(std::shared_ptr<TResolver> resolver) {
    ResolverSlot& slot = Slot();
    std::lock_guard<std::mutex> guard(slot.lock);
    std::shared_ptr<TResolver> previous = slot.current ? slot.current : SystemResolver();
    slot.current = std::move(resolver);
    return previous;
}

std::shared_ptr<TResolver> CurrentResolver() {
    ResolverSlot& slot = Slot();
    std::lock_guard<std::mutex> guard(slot.lock);
    return slot.current ? slot.current : SystemResolver();
}

namespace sock {

int WSAAsyncGetHostByName(HWND window, unsigned message, const std::string& name, char* buffer,
                          int length) {
    if (window == nullptr || buffer == nullptr || length < HostEntryHeaderBytes + 4) {
        WSASetLastError(10022);
        return 0;
    }
    auto request = std::make_shared<Request>();
    int handle = 0;
    {
        RequestTable& table = Requests();
        std::lock_guard<std::mutex> guard(table.lock);
        table.next = table.next == 0x7FFFFFFF ? 1 : table.next + 1;
        handle = table.next;
        table.open.emplace(handle, request);
    }
    std::shared_ptr<TResolver> resolver = CurrentResolver();
    LookupThreads& threads = Lookups();
    {
        std::lock_guard<std::mutex> guard(threads.lock);
        if (threads.closed) {
            ForgetRequest(handle);
            WSASetLastError(WSAENETDOWN); // the application is ending
            return 0;
        }
        ++threads.running;
    }
    auto work = [resolver, name, window, message, buffer, length, request, handle]() mutable {
        TResolveResult result;
        try {
            result = resolver->Resolve(name);
        } catch (...) {
            result.error = WSANO_RECOVERY;
        }
        resolver.reset(); // the resolver is not used after the thread's last counted step
        if (result.error == 0 && result.addresses.empty()) {
            result.error = WSANO_DATA;
        }
        const int capacity = (length - HostEntryHeaderBytes) / 4;
        const int count = result.error != 0 ? 0
                          : static_cast<int>(result.addresses.size()) < capacity
                              ? static_cast<int>(result.addresses.size())
                              : capacity;
        // The entry is written on the asking thread, right before the message is handled, and
        // only while somebody still waits for it.
        auto deliver = [request, handle, buffer, result, count]() {
            if (request->cancelled.load()) {
                return false;
            }
            {
                RequestTable& table = Requests();
                std::lock_guard<std::mutex> guard(table.lock);
                table.open.erase(handle);
            }
            const auto n = static_cast<std::uint32_t>(count);
            std::memcpy(buffer, &n, sizeof n);
            for (int i = 0; i < count; ++i) {
                std::memcpy(buffer + HostEntryHeaderBytes + 4 * i, &result.addresses[i], 4);
            }
            return true;
        };
        LookupThreads& threads = Lookups();
        {
            std::lock_guard<std::mutex> guard(threads.lock);
            if (threads.closed) {
                ForgetRequest(handle);
            } else {
                PostMessage(window, message, static_cast<WPARAM>(handle),
                            WSAMAKESELECTREPLY(0, result.error), std::move(deliver));
            }
            --threads.running;
        }
        threads.ended.notify_all();
    };
    try {
        if (threads.failStarts.load()) {
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        }
        std::thread(std::move(work)).detach();
    } catch (const std::system_error&) {
        {
            std::lock_guard<std::mutex> guard(threads.lock);
            --threads.running;
        }
        threads.ended.notify_all();
        ForgetRequest(handle);
        WSASetLastError(WSAENOBUFS); // no thread for the lookup
        return 0;
    }
    return handle;
}

bool WindDownLookups(std::chrono::milliseconds grace) {
    LookupThreads& threads = Lookups();
    std::unique_lock<std::mutex> guard(threads.lock);
    const bool allEnded =
        threads.ended.wait_for(guard, grace, [&threads] { return threads.running == 0; });
    threads.closed = true;
    return allEnded;
}

int RunningLookups() {
    LookupThreads& threads = Lookups();
    std::lock_guard<std::mutex> guard(threads.lock);
    return threads.running;
}

int OpenLookupRequests() {
    RequestTable& table = Requests();
    std::lock_guard<std::mutex> guard(table.lock);
    return static_cast<int>(table.open.size());
}

void ReopenLookupsForTesting() {
    LookupThreads& threads = Lookups();
    std::lock_guard<std::mutex> guard(threads.lock);
    threads.closed = false;
}

void FailLookupThreadsForTesting(bool fail) {
    Lookups().failStarts.store(fail);
}

int WSACancelAsyncRequest(int handle) {
    RequestTable& table = Requests();
    std::lock_guard<std::mutex> guard(table.lock);
    const auto found = table.open.find(handle);
    if (found == table.open.end()) {
        WSASetLastError(10022);
        return SOCKET_ERROR;
    }
    found->second->cancelled.store(true);
    table.open.erase(found);
    return 0;
}

bool FirstHostAddress(const char* buffer, int length, std::uint32_t& addressNetworkOrder) {
    if (buffer == nullptr || length < HostEntryHeaderBytes + 4) {
        return false;
    }
    std::uint32_t count = 0;
    std::memcpy(&count, buffer, sizeof count);
    if (count == 0) {
        return false;
    }
    std::memcpy(&addressNetworkOrder, buffer + HostEntryHeaderBytes, 4);
    return true;
}

} // namespace sock
} // namespace kairelon

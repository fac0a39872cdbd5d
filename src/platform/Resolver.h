// Host name lookup off the event loop, with the resolver injectable for tests.
//
// A `TResolver` turns a host name into IPv4 addresses; it may block, so the asynchronous
// lookup (`WSAAsyncGetHostByName`) runs it on a worker thread and posts the completion as a
// message to the asking window, with the Windows Sockets reply layout: wParam = the request
// handle, high 16 bits of lParam = the error (11001 host not found, 11002 try again, 11003
// no recovery, 11004 no address), low 16 bits 0. The host entry is
// written into the caller's buffer on the caller's thread just before the message is handled,
// never by the worker. A request cancelled with `WSACancelAsyncRequest` posts nothing that
// reaches the window: its late answer is dropped. The default resolver uses the system's
// `getaddrinfo`; tests install their own with `SetResolver` and never depend on DNS. Lookup
// threads are wound down with the application (`WindDownLookups`).
#pragma once

#include "platform/WindowMessages.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kairelon {

struct TResolveResult {
    int error = 0;                        // 0, or a Windows Sockets host error (11001..11004)
    std::vector<std::uint32_t> addresses; // IPv4, network order, first = preferred
};

class TResolver {
public:
    virtual ~TResolver() = default;
    // Called on a worker thread (for the asynchronous lookup) or on the caller's thread.
    virtual TResolveResult Resolve(const std::string& name) = 0;
};

std::shared_ptr<TResolver> SystemResolver();
// The resolver in use; nullptr restores the system resolver. Returns the previous one.
std::shared_ptr<TResolver> SetResolver(std::shared_ptr<TResolver> resolver);
std::shared_ptr<TResolver> CurrentResolver();

namespace sock {

// Host entry layout in the caller's buffer: a 32-bit count, then the addresses (network order).
constexpr int HostEntryHeaderBytes = 4;

// Starts a lookup of `name`; the result goes into `buffer` (at most `length` bytes) and the
// completion to `window` as `message`. Returns the request handle (> 0), or 0 on failure.
int WSAAsyncGetHostByName(HWND window, unsigned message, const std::string& name, char* buffer,
                          int length);
int WSACancelAsyncRequest(int handle); // 0 when the request was still open

// Lookup threads are counted from their start until they have posted their answer. At the
// application's end (when its object is destroyed) the lookups are wound down: running ones get
// `grace` to finish, then no answer is posted any more and no lookup starts (the request then
// fails with WSAENETDOWN). Returns whether every lookup thread had finished. A lookup whose
// thread cannot start fails at once: 0 with WSAENOBUFS, nothing left open.
bool WindDownLookups(std::chrono::milliseconds grace);
int RunningLookups();                        // lookup threads that have not yet posted their answer
int OpenLookupRequests();                    // requests neither answered nor cancelled
void ReopenLookupsForTesting();              // undoes WindDownLookups
void FailLookupThreadsForTesting(bool fail); // true: no lookup thread can start
// The first address of a host entry written by a lookup; false when it holds none.
bool FirstHostAddress(const char* buffer, int length, std::uint32_t& addressNetworkOrder);

} // namespace sock
} // namespace kairelon

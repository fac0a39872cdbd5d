#include "platform/SocketErrors.h"

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace kairelon::sock {

// Errors of the layer itself (10067, 10091..10093) and of lookups (11001..11004) have no
// system error of their own.
constexpr SocketErrorEntry SocketErrorTable[] = {
    {WSAEINTR, "Interrupted system call", {EINTR}},
    {WSAEBADF, "Bad file number", {EBADF}},
    {WSAEACCES, "Permission denied", {EACCES, EPERM}},
    {WSAEFAULT, "Bad address", {EFAULT}},
    {WSAEINVAL, "Invalid argument", {EINVAL}},
    {WSAEMFILE, "Too many open files", {EMFILE, ENFILE}},
    {WSAEWOULDBLOCK, "Operation would block", {EAGAIN}}, // EWOULDBLOCK is the same value
    {WSAEINPROGRESS, "Operation now in progress", {EINPROGRESS}},
    {WSAEALREADY, "Operation already in progress", {EALREADY}},
    {WSAENOTSOCK, "Socket operation on non-socket", {ENOTSOCK}},
    {WSAEDESTADDRREQ, "Destination address required", {EDESTADDRREQ}},
    {WSAEMSGSIZE, "Message too long", {EMSGSIZE}},
    {WSAEPROTOTYPE, "Wrong protocol type for socket", {EPROTOTYPE}},
    {WSAENOPROTOOPT, "Bad protocol option", {ENOPROTOOPT}},
    {WSAEPROTONOSUPPORT, "Protocol not supported", {EPROTONOSUPPORT}},
    {WSAESOCKTNOSUPPORT, "Socket type not supported", {ESOCKTNOSUPPORT}},
    {WSAEOPNOTSUPP, "Operation not supported on socket", {EOPNOTSUPP}},
    {WSAEPFNOSUPPORT, "Protocol family not supported", {EPFNOSUPPORT}},
    {WSAEAFNOSUPPORT, "Address family not supported by protocol family", {EAFNOSUPPORT}},
    {WSAEADDRINUSE, "Address already in use", {EADDRINUSE}},
    {WSAEADDRNOTAVAIL, "Can't assign requested address", {EADDRNOTAVAIL}},
    {WSAENETDOWN, "Network is down", {ENETDOWN}},
    {WSAENETUNREACH, "Network is unreachable", {ENETUNREACH}},
    {WSAENETRESET, "Network dropped connection or reset", {ENETRESET}},
    {WSAECONNABORTED, "Software caused connection abort", {ECONNABORTED}},
    {WSAECONNRESET, "Connection reset by peer", {ECONNRESET}},
    {WSAENOBUFS, "No buffer space available", {ENOBUFS, ENOMEM}},
    {WSAEISCONN, "Socket is already connected", {EISCONN}},
    {WSAENOTCONN, "Socket is not connected", {ENOTCONN}},
    {WSAESHUTDOWN, "Can't send after socket shutdown", {ESHUTDOWN, EPIPE}},
    {WSAETOOMANYREFS, "Too many references, can't splice", {ETOOMANYREFS}},
    {WSAETIMEDOUT, "Connection timed out", {ETIMEDOUT}},
    {WSAECONNREFUSED, "Connection refused", {ECONNREFUSED}},
    {WSAELOOP, "Too many levels of symbolic links", {ELOOP}},
    {WSAENAMETOOLONG, "File name too long", {ENAMETOOLONG}},
    {WSAEHOSTDOWN, "Host is down", {EHOSTDOWN}},
    {WSAEHOSTUNREACH, "No route to Host", {EHOSTUNREACH}},
    {WSAENOTEMPTY, "Directory not empty", {ENOTEMPTY}},
    {WSAEPROCLIM, "Too many processes", {}},
    {WSAEUSERS, "Too many users", {EUSERS}},
    {WSAEDQUOT, "Disc quota exceeded", {EDQUOT}},
    {WSAESTALE, "Stale NFS file handle", {ESTALE}},
    {WSAEREMOTE, "Too many levels of remote in path", {EREMOTE}},
    {WSASYSNOTREADY, "Network subsystem is unavailable", {}},
    {WSAVERNOTSUPPORTED, "Incompatible version of WINSOCK.DLL", {}},
    {WSANOTINITIALISED, "Successful WSAStartup not yet performed", {}},
    {WSAHOST_NOT_FOUND, "Host not found", {}},
    {WSATRY_AGAIN, "Non-Authoritative Host not found", {}},
    {WSANO_RECOVERY, "Non-Recoverable error: FORMERR, REFUSED, NOTIMP", {}},
    {WSANO_DATA, "Valid name, no data record of requested type", {}},
    {0, "Unrecognized error code", {}},
};

namespace {

// The table's column of system errors turned round once, at compile time: errno → number, 0
// for none. Looked up on every failed call, would-block included.
constexpr int MaxMappedErrno = 255;

constexpr std::array<std::uint16_t, MaxMappedErrno + 1> NumberByErrno = [] {
    std::array<std::uint16_t, MaxMappedErrno + 1> numbers{};
    for (const SocketErrorEntry& entry : SocketErrorTable) {
        for (const int value : entry.SystemErrors) {
            if (value > 0) {
                // A value beyond the map, or named by two rows, stops the build here.
                numbers.at(static_cast<std::size_t>(value)) =
                    numbers.at(static_cast<std::size_t>(value)) == 0
                        ? static_cast<std::uint16_t>(entry.Number)
                        : throw "a system error named by two rows";
            }
        }
    }
    return numbers;
}();

} // namespace

int WSAErrorFromErrno(int errnoValue) {
    if (errnoValue == 0) {
        return 0;
    }
    if (errnoValue > 0 && errnoValue <= MaxMappedErrno && NumberByErrno[errnoValue] != 0) {
        return NumberByErrno[errnoValue];
    }
    return UnknownSystemErrorBase + errnoValue;
}

} // namespace kairelon::sock

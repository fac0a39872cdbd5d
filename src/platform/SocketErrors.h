// The socket error numbers and the table that gives each its text.
//
// Every failure of the sockets layer (platform/Sockets.h) and of the host lookup
// (platform/Resolver.h) is reported as a number of the Windows Sockets table; the socket
// component shows it to the user with its English text ("10061:Connection refused"). This
// header names the numbers and declares that table. The table itself is one list in the
// platform's sockets files: each row holds a number, its text and the system error values
// (errno) that the sockets layer reports as that number, so the three are written once, side by
// side, and no number can gain a system error without a text. Turning a number into the
// message shown is the socket component's work (net/Powersock.h), not this module's.
#pragma once

namespace kairelon::sock {

constexpr int WSABASEERR = 10000;
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEDESTADDRREQ = 10039;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEPROTOTYPE = 10041;
constexpr int WSAENOPROTOOPT = 10042;
constexpr int WSAEPROTONOSUPPORT = 10043;
constexpr int WSAESOCKTNOSUPPORT = 10044;
constexpr int WSAEOPNOTSUPP = 10045;
constexpr int WSAEPFNOSUPPORT = 10046;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAENETRESET = 10052;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETOOMANYREFS = 10059;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAELOOP = 10062;
constexpr int WSAENAMETOOLONG = 10063;
constexpr int WSAEHOSTDOWN = 10064;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSAENOTEMPTY = 10066;
constexpr int WSAEPROCLIM = 10067;
constexpr int WSAEUSERS = 10068;
constexpr int WSAEDQUOT = 10069;
constexpr int WSAESTALE = 10070;
constexpr int WSAEREMOTE = 10071;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;

// Numbers for system errors that the table does not know: this base plus the errno value.
constexpr int UnknownSystemErrorBase = 20000;

// One row of the table.
struct SocketErrorEntry {
    int Number;          // one of the numbers above; 0 in the last row only
    const char* Text;    // English, at most 51 characters
    int SystemErrors[2]; // the errno values reported as Number; 0 = none (more)
};

// Searched in this order; the last row (number 0) is the text of unknown numbers.
constexpr int SocketErrorCount = 51;
extern const SocketErrorEntry SocketErrorTable[SocketErrorCount];

// The table's number for a system error value: 0 for 0, UnknownSystemErrorBase + errnoValue for
// values no row names.
int WSAErrorFromErrno(int errnoValue);

} // namespace kairelon::sock

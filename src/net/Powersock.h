// `TPowersock`: the socket component, base of the daytime client and the server component.
//
// One instance owns one IPv4 TCP socket and turns the socket layer's notifications (messages
// to its hidden window, see net/HiddenWindow.h and platform/Sockets.h) into calls that look
// blocking to code on the thread that created it: every call that has to wait (lookup,
// connect, read, line read) pumps that thread's event loop while it waits, so events fire in
// the middle of the call and the application stays responsive. Received bytes are collected in
// `ReceiveBuffer` (a TNMFifoBuffer) by the notification handler; reads take them from there.
// One time-out timer (`TimeoutTimer`, a TThreadTimer) bounds each waiting phase. Failures are
// `ESockError` or `EAbortError` with fixed English texts; socket error numbers become text
// through the table `WinsockMessage`. Progress is reported as English status texts filtered by
// `ReportLevel`.
//
// Everything runs on the creating thread, except `Cancel`/`Abort`, which another thread may
// call (the server component cancels its clients): `Canceled` and `SignalEvent` are safe for
// that, and their status texts are reported on the creating thread, at its next pump. Lookup,
// connection and the addresses of both ends are defined in net/PowersockConnect.cpp; the stream
// and file transfers in net/PowersockStream.cpp; the command/reply exchange, listening and
// accepting in net/PowersockTransfer.cpp; the text helpers of the line protocols
// are in net/LineText.h; the daytime exchange is TNMDayTime (net/DayTime.h).
#pragma once

#include "framework/Exception.h"
#include "net/Component.h"
#include "net/FifoBuffer.h"
#include "net/ThreadTimer.h"
#include "platform/SocketErrors.h"
#include "platform/Sockets.h"
#include "platform/WindowMessages.h"

#include <netinet/in.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class QIODevice;
class QThread;

namespace kairelon {

KAIRELON_EXCEPTION(ESockError, Exception);  // socket and connection failures
KAIRELON_EXCEPTION(EAbortError, Exception); // operations ended by cancel or time-out

constexpr unsigned SocketNotifyMessage = 1125; // WM_USER + 101: socket notifications
constexpr unsigned AsyncReplyMessage = 1126;   // WM_USER + 102: lookup done; listening socket
constexpr int IoBufferSize = 65537;            // bytes

// The scratch area of a socket component: IoBufferSize bytes, not cleared (every user writes
// the bytes it then reads). A thread keeps the block of its last component for the next one
// (net/ConnectionPool.h): a server makes a component per connection.
class TIoBuffer {
public:
    TIoBuffer();
    ~TIoBuffer();
    TIoBuffer(const TIoBuffer&) = delete;
    TIoBuffer& operator=(const TIoBuffer&) = delete;
    char* data() { return block_; }
    char& operator[](std::size_t index) { return block_[index]; }
    std::size_t size() const { return IoBufferSize; }

private:
    char* block_;
};

constexpr int MaxChunk = 65536;        // bytes moved by one recv or send chunk
constexpr long FirstSocketEvents = 63; // every event
constexpr long LaterSocketEvents = 61; // every event but FD_WRITE

// Process-wide: whether the sockets layer started, and what it reported.
bool WinsockStarted();
const sock::WSADATA& WinsockData();
void SetWinsockStartedForTesting(bool started); // lets tests model a layer that did not start

// The error text table: 51 entries searched in order; the last one (number 0) is the text of
// unknown numbers. The sockets layer keeps it with the system errors of each number
// (platform/SocketErrors.h).
using TWinsockMessage = sock::SocketErrorEntry;
inline constexpr const TWinsockMessage (&WinsockMessage)[sock::SocketErrorCount] =
    sock::SocketErrorTable;

// A manual-reset event of the owning thread: `Wait` sleeps in the event loop until it is set.
// Setting it from another thread wakes the owner.
class TSignalEvent {
public:
    TSignalEvent();
    void SetEvent();
    void ResetEvent() { set_.store(false); }
    bool IsSet() const { return set_.load(); }

private:
    std::atomic<bool> set_{false};
    QThread* owner_;
};

using THandlerEvent = std::function<void(bool& Handled)>;
using TOnErrorEvent =
    std::function<void(TObject* Sender, std::uint16_t Errno, const std::string& Errmsg)>;
using TOnStatus = std::function<void(TObject* Sender, const std::string& Status)>;
using TOnHostResolved = std::function<void(TObject* Sender)>;

class TPowersock : public TComponent {
public:
    explicit TPowersock(TComponent* AOwner = nullptr);
    ~TPowersock() override;

    // Resolves Host (or ProxyHost), connects to Port (or ProxyPort) and waits until the
    // connection stands; raises ESockError on failure.
    virtual void Connect();
    virtual void Disconnect(); // closes the connection if one is established
    // Waits for an incoming connection announced on AsyncReplyMessage and accepts it; the
    // accepted socket, without notifications: whoever serves it asks for them on its own
    // window (WSAAsyncSelect), never on this listening component's.
    virtual sock::SOCKET Accept();
    virtual std::string Transaction(const std::string& command); // command line, reply line
    virtual void Abort(); // ends the current wait (as Cancel)
    void Cancel();

    void Wait(); // sleeps in the event loop until SignalEvent is set, then resets it
    void CertifyConnect();
    void ResolveRemoteHost();
    bool DataAvailable();            // bytes buffered, or the peer has closed
    int ClearInput();                // discards up to 65536 pending bytes; the recv result
    std::string Read(int count = 0); // count 0..65535; 0 = everything buffered
    std::string ReadLn();            // up to and including the next line feed
    void SendBuffer(const char* data, int length); // length 0..65535; 0 = up to a zero byte
    void Write(const std::string& text);
    void Writeln(const std::string& text);

    // The notification machinery.
    void ReadToBuffer();
    // The peer has closed: drop what is buffered and close our end (while connected), wake
    // the waits, then OnDisconnect. Errors of the close are swallowed.
    void PeerClosed();
    void RequestCloseSocket();
    void Wndproc(TMessage& message);

    // The time-out machinery.
    void TimerOn();
    void TimerOff();
    void TimerFired(TObject* Sender);
    // Runs a stream transfer as one time-out phase (the body may restart the countdown as data
    // flows); a cancel or time-out during it (both set Canceled) then raises
    // EAbortError(abortText), clearing Canceled.
    template <typename Body> void Transfer(const char* abortText, Body body);

    void InitWinsock();

    std::string ErrorManager(std::uint16_t ignore);
    void SetWSAError(std::uint16_t number, std::string text);
    std::string SocketErrorStr(std::uint16_t number);
    int GetLastErrorNo();
    void SetLastErrorNo(int number);

    void StatusMessage(std::uint8_t level, const std::string& text);

    void Close(sock::SOCKET socket);
    void CloseAfterData();
    void CloseImmediate();

    std::string GetRemoteIP();
    std::string GetLocalIP(); // empty when the local host name cannot be resolved

    void SetFifoCapacity(int bytes);
    int GetFifoCapacity();

    // Stream and file transfers and the data-connection address strings
    // (net/PowersockStream.cpp); the command/reply exchange and listening
    // (net/PowersockTransfer.cpp).
    void SendStream(QIODevice& stream);
    void SendRestStream(QIODevice& stream);
    void SendFile(const std::string& fileName);
    void CaptureStream(QIODevice& stream, int size); // -1 what is buffered; -2 until closed
    void CaptureFile(const std::string& fileName);
    void AppendFile(const std::string& fileName);
    void CaptureString(std::string& text, int size);
    void FilterHeader(QIODevice& fileStream);
    void Listen(bool useReplyMessage);
    std::string GetLocalAddress(); // e.g. "192,168,0,5"
    std::string GetPortString();   // e.g. ",4,210" for port 1234

    // Published properties.
    std::string Host;      // remote host name or dotted IPv4 address
    int Port = 0;          // remote port (16 bits used)
    int TimeOut = 0;       // milliseconds per waiting phase; 0 = no limit; never negative
    int ReportLevel = 0;   // status texts of level <= ReportLevel are reported
    std::string ProxyHost; // when set, resolved instead of Host, and ProxyPort is used
    int ProxyPort = 0;
    std::string About;
    TNotifyEvent OnConnect;
    TNotifyEvent OnDisconnect;
    TOnErrorEvent OnError;
    THandlerEvent OnInvalidHost;
    TOnHostResolved OnHostResolved;
    THandlerEvent OnConnectionRequired;
    TOnStatus OnStatus;
    TNotifyEvent OnConnectionFailed;

    // Hooks of the library itself (the server component, the transfers).
    TNotifyEvent OnDataReady;       // after a read notification filled ReceiveBuffer
    TNotifyEvent OnAccept;          // an incoming connection was reported
    TNotifyEvent OnReceiveProgress; // after each chunk taken by a capture
    TNotifyEvent OnSendProgress;    // after each successful send of a stream or file

    // State. Public because the server component sets it on the instances it creates, and
    // because waits and tests look at it; the component itself keeps it consistent.
    TIoBuffer IoBuffer;       // IoBufferSize bytes of scratch space, not cleared
    TSignalEvent SignalEvent; // set whenever something a wait tests has changed
    std::vector<std::string> WinsockInfo;
    std::int32_t BytesSent = 0;        // bytes sent by the current stream or file send
    std::atomic<bool> Canceled{false}; // a cancel was requested (also set by the time-out)
    bool ShuttingDown = false;         // the destructor runs: the last close makes no new socket
    std::int32_t LastErrorNo = 0;
    std::string LastStatus;
    TThreadTimer* TimeoutTimer = nullptr; // owned; OnTimer = TimerFired
    std::unique_ptr<TNMFifoBuffer> ReceiveBuffer;
    bool LastEventOk = false;          // the error half of the last notification was zero
    bool TimedOut = false;             // the time-out timer fired since the last TimerOn
    std::int32_t BytesTotal = 0;       // size of the stream being sent
    std::int32_t BytesReceived = 0;    // bytes taken by the current capture
    bool AsyncReplied = false;         // a message arrived on AsyncReplyMessage
    sockaddr_in RemoteAddress{};       // the peer; address 0 while unknown
    std::vector<char> HostEntryBuffer; // 1024 bytes: the result of the asynchronous lookup
    int LookupHandle = 0;              // the lookup being waited for, 0 for none
    std::string LastReply;             // last reply line of Transaction
    std::int16_t ReplyNumber = 0;      // leading number of LastReply
    sock::SOCKET SocketHandle = sock::INVALID_SOCKET;
    HWND WindowHandle = nullptr;
    bool Connected = false;
    // Listening (Listen): the local IPv4 address to bind, dotted; empty = every local address.
    std::string ListenAddress;
    int ListenBacklog = 5; // connections the system queues until they are accepted
    // Error half of the last FD_CONNECT: 0 connected, above 0 the attempt failed, -1 none seen
    // since the attempt began.
    int ConnectError = -1;

protected:
    // Waits (within TimeOut) for the connection announced to the listening socket and accepts
    // it; `peer` gets its address. ESockError when cancelled or refused.
    sock::SOCKET AcceptPending(sockaddr_in& peer);
    // Creates a new stream socket for this instance and asks for `events` on its window.
    void CreateSocket(long events);
    // ESockError when the sockets layer did not start; makes the socket when there is none,
    // raising that failure's own error.
    void CheckWinsock();
    // The opening shared by Connect and GetTimeStr: clears Canceled and the receive buffer,
    // refuses a component that is connected ("Already connected"), makes sure there is a
    // socket, resolves the host (ResolveWithRetry) and sets the remote port.
    void OpenConnection();
    // Gives up a connection attempt that did not connect: its socket is closed quietly (no
    // OnDisconnect: nothing was connected) and a fresh one takes its place, so the attempt
    // cannot complete later and answer the next one.
    void AbandonAttempt();
    // Resolves Host (at least once), asking OnInvalidHost once when the name is unknown.
    void ResolveWithRetry();
    // Sleeps in the event loop until something arrives (a notification, a timer tick, a posted
    // message, room to send after a send that would block), then handles what came.
    void WaitForMessages();
    // The stream transfers (net/PowersockStream.cpp): send the source from its position to its
    // end; move up to `limit` buffered bytes (one chunk at most) into a capture stream.
    void SendChunks(QIODevice& source, bool progressFirst);
    int CaptureChunk(QIODevice& stream, long long limit);

private:
    QThread* ownerThread_; // the creating thread, where events and status reports happen
};

// One waiting phase under the time-out: the countdown starts when the phase begins (TimerOn)
// and stops when it ends (TimerOff), however it ends.
class TTimeOutPhase {
public:
    explicit TTimeOutPhase(TPowersock& component) : component_(component) { component_.TimerOn(); }
    ~TTimeOutPhase() { component_.TimerOff(); }
    TTimeOutPhase(const TTimeOutPhase&) = delete;
    TTimeOutPhase& operator=(const TTimeOutPhase&) = delete;

private:
    TPowersock& component_;
};

template <typename Body> void TPowersock::Transfer(const char* abortText, Body body) {
    {
        TTimeOutPhase phase(*this);
        body();
    }
    if (Canceled) {
        Canceled = false;
        throw EAbortError(abortText);
    }
}

} // namespace kairelon

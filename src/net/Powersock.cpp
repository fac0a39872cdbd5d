#include "net/Powersock.h"

#include "framework/Messages.h"
#include "net/ConnectionPool.h"
#include "net/HiddenWindow.h"
#include "platform/Resolver.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace kairelon {
namespace {

// The sockets layer, started once per process on first use and stopped at process end.
struct WinsockLayer {
    std::atomic<bool> started{false};
    sock::WSADATA data;

    WinsockLayer() {
        try {
            started = sock::WSAStartup(0x0101, &data) == 0;
        } catch (...) {
        }
    }
    ~WinsockLayer() {
        try {
            if (started) {
                sock::WSACleanup();
            }
        } catch (...) {
        }
    }
};

WinsockLayer& Layer() {
    static WinsockLayer layer;
    return layer;
}

std::string HighLow(std::uint16_t version) {
    return std::to_string(version >> 8) + "." + std::to_string(version & 0xFF);
}

// The socket window's procedure: messages from 1125 up go to the component stored in the
// window, everything else gets the default answer.
LRESULT SocketWindowProc(HWND window, unsigned message, WPARAM wParam, LPARAM lParam) {
    auto* object = static_cast<TPowersock*>(GetWindowLongPtr(window));
    if (object != nullptr && message >= FirstSocketMessage) {
        TMessage record{message, wParam, lParam, 0};
        object->Wndproc(record);
        return record.Result;
    }
    return DefWindowProc(window, message, wParam, lParam);
}

// Carries a status report made on another thread to the component's own thread; it never
// reaches the window procedure.
constexpr unsigned StatusReportMessage = WM_USER + 110;

void BlockForEvents() {
    QEventLoop loop; // makes sure this thread has an event dispatcher to sleep in
    loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

} // namespace

TIoBuffer::TIoBuffer() {
    block_ = TakeKeptScratch(IoBufferSize);
    if (block_ == nullptr) {
        block_ = std::allocator<char>().allocate(IoBufferSize);
    }
}

TIoBuffer::~TIoBuffer() {
    if (!KeepScratch(block_, IoBufferSize)) {
        std::allocator<char>().deallocate(block_, IoBufferSize);
    }
}

HWND PsockAllocateHWnd(TPowersock* object) {
    return AllocateHWnd(PsockWindowClassName, SocketWindowProc, object);
}

bool WinsockStarted() {
    return Layer().started;
}
const sock::WSADATA& WinsockData() {
    return Layer().data;
}
void SetWinsockStartedForTesting(bool started) {
    Layer().started = started;
}

TSignalEvent::TSignalEvent() : owner_(QThread::currentThread()) {}

void TSignalEvent::SetEvent() {
    set_.store(true);
    if (QThread::currentThread() != owner_) {
        WakeUp(owner_);
    }
}

// ---- Construction and destruction ----------------------------------------------------------

TPowersock::TPowersock(TComponent* AOwner)
    : TComponent(AOwner), ownerThread_(QThread::currentThread()) {
    const bool firstSocket = !TakeNoFirstSocket();
    StatusMessage(8, "Create");
    WindowHandle = PsockAllocateHWnd(this);
    if (!Designing()) {
        ReceiveBuffer = std::make_unique<TNMFifoBuffer>();
    }
    ProxyHost.clear();
    HostEntryBuffer.assign(1024, 0);
    TimeoutTimer = new TThreadTimer(this);
    TimeoutTimer->SetEnabled(false);
    TimeoutTimer->SetOnTimer([this](TObject* Sender) { TimerFired(Sender); });
    TimeOut = 0;
    WinsockInfo.clear();
    if (WinsockStarted()) {
        const sock::WSADATA& data = WinsockData();
        WinsockInfo.push_back("Version= " + HighLow(data.wVersion));
        WinsockInfo.push_back("High Version= " + HighLow(data.wHighVersion));
        WinsockInfo.push_back(std::string("Description= ") + data.szDescription);
        WinsockInfo.push_back(std::string("System= ") + data.szSystemStatus);
        WinsockInfo.push_back("Max Sockets= " + std::to_string(data.iMaxSockets));
        WinsockInfo.push_back("Max Udp pack size= " + std::to_string(data.iMaxUdpDg));
    }
    Canceled = false;
    ShuttingDown = false;
    Connected = false;
    try {
        if (firstSocket) {
            InitWinsock();
        }
    } catch (...) {
        // The destructor does not run for a constructor that raised: release by hand.
        DestroyWindow(WindowHandle);
        WindowHandle = nullptr;
        if (SocketHandle != sock::INVALID_SOCKET) {
            sock::closesocket(SocketHandle);
        }
        throw;
    }
}

TPowersock::~TPowersock() {
    MarkDestroying();
    StatusMessage(8, "Destroy");
    try {
        TPowersock::Abort();
        Cancel();
    } catch (...) {
    }
    WinsockInfo.clear();
    delete TimeoutTimer;
    TimeoutTimer = nullptr;
    if (LookupHandle != 0) {
        sock::WSACancelAsyncRequest(LookupHandle);
        LookupHandle = 0;
    }
    HostEntryBuffer.clear();
    DestroyWindow(WindowHandle);
    WindowHandle = nullptr;
    ReceiveBuffer.reset();
    ShuttingDown = true;
    if (!Designing()) {
        try {
            RequestCloseSocket();
        } catch (...) {
        }
    }
}

void TPowersock::InitWinsock() {
    StatusMessage(8, "Initializing Winsock");
    if (Designing() || !WinsockStarted()) {
        return;
    }
    try {
        CreateSocket(FirstSocketEvents);
    } catch (...) {
        throw ESockError("Initializaton of windows sockets failed");
    }
}

void TPowersock::CreateSocket(long events) {
    SocketHandle = sock::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (SocketHandle == sock::INVALID_SOCKET) {
        ErrorManager(sock::WSAEWOULDBLOCK);
        throw ESockError(SocketErrorStr(static_cast<std::uint16_t>(LastErrorNo)));
    }
    linger off{};
    off.l_onoff = 0;
    off.l_linger = 0;
    sock::setsockopt(SocketHandle, SOL_SOCKET, SO_LINGER, &off, sizeof off);
    sock::WSAAsyncSelect(SocketHandle, WindowHandle, SocketNotifyMessage, events);
}

void TPowersock::CheckWinsock() {
    if (!WinsockStarted()) {
        throw ESockError(SocketErrorStr(sock::WSANOTINITIALISED));
    }
    if (SocketHandle == sock::INVALID_SOCKET) {
        // None left by the last close, or the component was made without one: make it now.
        // When that fails, its own error (no descriptor left, ...) is the one raised.
        CreateSocket(LaterSocketEvents);
    }
}

// ---- Notifications -------------------------------------------------------------------------

void TPowersock::Wndproc(TMessage& message) {
    const int event = sock::WSAGETSELECTEVENT(message.LParam);
    const int error = sock::WSAGETSELECTERROR(message.LParam);
    message.Result = 0;
    if (message.Msg == SocketNotifyMessage && event == sock::FD_CONNECT &&
        static_cast<sock::SOCKET>(message.WParam) != SocketHandle) {
        return; // the late outcome of an abandoned attempt: it concerns no socket of ours
    }
    LastEventOk = error == 0;
    try {
        if (message.Msg == SocketNotifyMessage) {
            switch (event) {
            case sock::FD_READ:
                ReadToBuffer();
                if (OnDataReady) {
                    OnDataReady(this);
                }
                break;
            case sock::FD_ACCEPT:
                Connected = true;
                SignalEvent.SetEvent();
                if (OnAccept) {
                    OnAccept(this);
                }
                break;
            case sock::FD_CONNECT:
                ConnectError = error;
                // A failed attempt changes LastEventOk, which the connect wait tests: wake it.
                SignalEvent.SetEvent();
                if (LastEventOk) {
                    Connected = true;
                    if (OnConnect) {
                        OnConnect(this);
                    }
                }
                break;
            case sock::FD_CLOSE:
                PeerClosed();
                break;
            default:
                break;
            }
        } else if (message.Msg == AsyncReplyMessage) {
            AsyncReplied = true;
            SignalEvent.SetEvent();
            if (event == sock::FD_ACCEPT) {
                Connected = true;
                if (!Destroying() && OnConnect) {
                    OnConnect(this);
                }
            }
        }
    } catch (...) {
        // A handler's failure must not leave the window procedure.
    }
}

void TPowersock::Wait() {
    while (!SignalEvent.IsSet()) {
        BlockForEvents();
    }
    SignalEvent.ResetEvent();
}

void TPowersock::WaitForMessages() {
    BlockForEvents();
}

// ---- Time-out ------------------------------------------------------------------------------

void TPowersock::TimerOn() {
    StatusMessage(8, "Timer On");
    TimedOut = false;
    TimeoutTimer->SetEnabled(false);
    if (TimeOut < 0) {
        throw ERangeError("Range check error");
    }
    TimeoutTimer->SetInterval(static_cast<std::uint32_t>(TimeOut));
    TimeoutTimer->SetEnabled(true);
}

void TPowersock::TimerOff() {
    StatusMessage(8, "Timer Off");
    TimeoutTimer->SetEnabled(false);
}

void TPowersock::TimerFired(TObject* /*Sender*/) {
    StatusMessage(8, "Timer Triggered");
    TimerOff();
    TimedOut = true;
    SignalEvent.SetEvent();
    Abort();
    // A derived Abort may mean something else (a server's cancels its clients); the time-out
    // ends this component's own wait all the same.
    if (!Canceled) {
        Cancel();
    }
}

void TPowersock::Abort() {
    StatusMessage(8, "Abort");
    Cancel();
}

void TPowersock::Cancel() {
    StatusMessage(8, "Canceling");
    Canceled = true;
    SignalEvent.SetEvent();
}

// ---- Receiving -----------------------------------------------------------------------------

int TPowersock::ClearInput() {
    StatusMessage(8, "Clearing Input");
    std::vector<char> scratch(MaxChunk);
    return sock::recv(SocketHandle, scratch.data(), MaxChunk, 0);
}

void TPowersock::ReadToBuffer() {
    int n = 0;
    do {
        n = sock::recv(SocketHandle, IoBuffer.data(), MaxChunk, 0);
        if (n == 0) {
            RequestCloseSocket();
        }
        if (n > 0) {
            ReceiveBuffer->Append(IoBuffer.data(), n);
        }
        SignalEvent.SetEvent();
    } while (n >= MaxChunk);
}

bool TPowersock::DataAvailable() {
    if (ReceiveBuffer->BufferSize() > 0) {
        return true;
    }
    char byte = 0;
    const int n = sock::recv(SocketHandle, &byte, 1, MSG_PEEK);
    if (n > 0) {
        ReadToBuffer();
        return true;
    }
    if (n == 0) {
        PeerClosed();
        return true;
    }
    return false;
}

void TPowersock::PeerClosed() {
    if (Connected) {
        try {
            ClearInput();
            RequestCloseSocket();
        } catch (...) {
        }
    }
    SignalEvent.SetEvent();
    if (OnDisconnect) {
        OnDisconnect(this);
    }
}

std::string TPowersock::Read(int count) {
    StatusMessage(8, "Read( " + std::to_string(count) + " )");
    if (count < 0 || count > 0xFFFF) {
        throw ERangeError("Range check error");
    }
    if (count == 0) {
        const int held = ReceiveBuffer->BufferSize();
        if (held > 0xFFFF) {
            throw ERangeError("Range check error");
        }
        count = held;
    }
    {
        TTimeOutPhase phase(*this);
        while (ReceiveBuffer->BufferSize() < count && !Canceled && !TimedOut) {
            Wait();
        }
    }
    std::string result;
    if (count != 0) {
        result.resize(static_cast<std::size_t>(std::min(count, ReceiveBuffer->BufferSize())));
        const int taken = ReceiveBuffer->Remove(result.data(), static_cast<int>(result.size()));
        result.resize(static_cast<std::size_t>(std::max(taken, 0)));
    }
    if (Canceled) {
        Canceled = false;
        throw EAbortError("Socket send aborted");
    }
    return result;
}

std::string TPowersock::ReadLn() {
    StatusMessage(8, "ReadLn");
    std::string result;
    int n = 0;
    TTimeOutPhase phase(*this);
    while (!TimedOut && !Canceled) {
        if (DataAvailable()) {
            n = ReceiveBuffer->Search("\n");
            if (n > 0) {
                break;
            }
        }
        Wait();
    }
    if (n > 0) {
        result.resize(static_cast<std::size_t>(n));
        const int taken = ReceiveBuffer->Remove(result.data(), n);
        result.resize(static_cast<std::size_t>(std::max(taken, 0)));
    }
    if (Canceled) {
        Canceled = false;
        throw EAbortError("Socket readln aborted");
    }
    return result;
}

// ---- Sending -------------------------------------------------------------------------------

void TPowersock::SendBuffer(const char* data, int length) {
    StatusMessage(4, "Sending Buffer");
    TTimeOutPhase phase(*this);
    if (!Canceled) {
        if (length < 0 || length > 0xFFFF) {
            throw ERangeError("Range check error");
        }
        if (length == 0) {
            const std::size_t size = data != nullptr ? ::strnlen(data, 0x10000) : 0;
            if (size > 0xFFFF) {
                throw ERangeError("Range check error");
            }
            length = static_cast<int>(size);
        }
        int remaining = length;
        while (remaining != 0 && !Canceled && !TimedOut) {
            const int n = sock::send(SocketHandle, data + (length - remaining), remaining, 0);
            if (n == 0) {
                break;
            }
            if (n > 0) {
                remaining -= n;
            } else {
                ErrorManager(sock::WSAEWOULDBLOCK);
                // Full: sleep until there is room, a message or the time-out.
                WaitForMessages();
            }
        }
    }
    if (Canceled) {
        Canceled = false;
        throw EAbortError("Socket send aborted");
    }
}

void TPowersock::Write(const std::string& text) {
    StatusMessage(8, "Write");
    if (text.size() <= 0xFFFF) {
        std::memcpy(IoBuffer.data(), text.data(), text.size());
        IoBuffer[text.size()] = '\0';
        SendBuffer(IoBuffer.data(), 0);
        return;
    }
    QBuffer stream;
    stream.setData(text.data(), static_cast<qsizetype>(text.size()));
    stream.open(QIODevice::ReadOnly);
    SendStream(stream);
}

void TPowersock::Writeln(const std::string& text) {
    StatusMessage(8, "Writeln");
    Write(text + "\r\n");
}

// ---- Errors and status ---------------------------------------------------------------------

std::string TPowersock::ErrorManager(std::uint16_t ignore) {
    LastErrorNo = sock::WSAGetLastError();
    if (LastErrorNo != ignore && LastErrorNo > 10000) {
        const std::string text = SocketErrorStr(static_cast<std::uint16_t>(LastErrorNo));
        if (OnError) {
            OnError(this, static_cast<std::uint16_t>(LastErrorNo), text);
        }
        throw ESockError(text);
    }
    return std::string();
}

void TPowersock::SetWSAError(std::uint16_t number, std::string text) {
    StatusMessage(8, "Setting Winsock Error");
    LastErrorNo = number;
    if (text.empty()) {
        text = SocketErrorStr(number);
    }
    sock::WSASetLastError(number);
    if (OnError) {
        OnError(this, number, text);
    }
}

std::string TPowersock::SocketErrorStr(std::uint16_t number) {
    StatusMessage(8, "Looking Up Error Message");
    std::string result;
    if (number == 0) {
        return result;
    }
    for (const TWinsockMessage& entry : WinsockMessage) {
        if (entry.Number == number) {
            result = std::to_string(number) + ":" + entry.Text;
        }
    }
    if (result.empty()) {
        result = "Unknown Error No. " + std::to_string(number);
    }
    return result;
}

int TPowersock::GetLastErrorNo() {
    StatusMessage(8, "Getting LastError Number");
    return LastErrorNo;
}

void TPowersock::SetLastErrorNo(int number) {
    StatusMessage(8, "Setting LastError Number");
    LastErrorNo = number;
}

void TPowersock::StatusMessage(std::uint8_t level, const std::string& text) {
    if (QThread::currentThread() != ownerThread_) {
        // Another thread (Cancel, Abort): LastStatus and OnStatus belong to the component's own
        // thread, which makes the report at its next pump. The message itself is dropped before
        // it reaches Wndproc, so it changes none of the notification state.
        PostMessage(WindowHandle, StatusReportMessage, 0, 0, [this, level, text] {
            StatusMessage(level, text);
            return false;
        });
        return;
    }
    if (level > ReportLevel) {
        return;
    }
    LastStatus = text;
    if (!Destroying() && OnStatus) {
        try {
            OnStatus(this, LastStatus);
        } catch (...) {
        }
    }
}

// ---- Socket options and addresses ----------------------------------------------------------

void TPowersock::Close(sock::SOCKET socket) {
    StatusMessage(8, "Closing Socket");
    if (socket < 0) {
        throw ERangeError("Range check error");
    }
    sock::closesocket(socket);
}

void TPowersock::CloseAfterData() {
    linger value{};
    value.l_onoff = 0;
    value.l_linger = 0;
    sock::setsockopt(SocketHandle, SOL_SOCKET, SO_LINGER, &value, sizeof value);
}

void TPowersock::CloseImmediate() {
    // Lingering on with a time of 0: a close ends the connection at once.
    linger value{};
    value.l_onoff = 1;
    value.l_linger = 0;
    sock::setsockopt(SocketHandle, SOL_SOCKET, SO_LINGER, &value, sizeof value);
}

void TPowersock::SetFifoCapacity(int bytes) {
    ReceiveBuffer->SetMemoryBufferCapacity(bytes);
}

int TPowersock::GetFifoCapacity() {
    return ReceiveBuffer->MemoryCapacity();
}

} // namespace kairelon

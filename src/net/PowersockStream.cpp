// The stream and file transfers of the socket component and the address strings of data
// connections: sending a whole stream, the rest of one or a whole file, capturing received bytes
// into a stream, a file or a string, copying a header block, and the PORT-style address of the
// local end. They run on the component's thread and pump its events like every other wait.
//
// Choices made where the protocol leaves room:
// - A capture that ends because the peer closed takes every byte still buffered, not just one
//   more chunk, so nothing the peer sent is left behind.
// - A capture towards a total size takes no more than the total needs: the stream ends at
//   exactly that size and later bytes stay buffered for the next read.
// - CaptureString takes at most `size` bytes per round when size > 0 (all that is buffered
//   otherwise), never more than is buffered; size -1 takes what is buffered now, once.
// - Every send is bounded by TimeOut: the countdown restarts whenever the peer takes bytes, so
//   a peer that stops reading ends the transfer with "Socket send aborted".
// - A send that the connection refuses (result 0) ends the transfer; a source that cannot be
//   read raises EInOutError instead of ending it as if it were complete.
#include "net/Powersock.h"

#include "framework/Exception.h"
#include "framework/Format.h"
#include "framework/Messages.h"

#include <QFile>
#include <QIODevice>

#include <algorithm>

namespace kairelon {
namespace {

// Reads the next chunk of at most MaxChunk bytes; EInOutError when the source fails, so a
// broken source cannot keep a transfer looping.
int ReadChunk(QIODevice& source, char* buffer) {
    const qint64 got = source.read(buffer, MaxChunk);
    if (got <= 0) {
        throw EInOutError("Read error on the stream being sent");
    }
    return static_cast<int>(got);
}

void WriteAll(QIODevice& target, const char* data, int count) {
    if (count > 0 && target.write(data, count) != count) {
        throw EInOutError("Write error on the capture stream");
    }
}

} // namespace

// Shared by the stream, rest-of-stream and file sends: the source from its current position to
// its end, inside a Transfer (whose countdown runs from the start); it restarts with each send
// that moved bytes (after the progress event when `progressFirst`, the file send; before it
// otherwise), so a peer that takes nothing for TimeOut milliseconds ends the transfer. A source
// that cannot be read raises EInOutError.
void TPowersock::SendChunks(QIODevice& source, bool progressFirst) {
    while (!Canceled && source.pos() < source.size()) {
        const int chunk = ReadChunk(source, IoBuffer.data());
        int remaining = chunk;
        while (remaining != 0 && !Canceled) {
            const int n =
                sock::send(SocketHandle, IoBuffer.data() + (chunk - remaining), remaining, 0);
            if (n == 0) {
                return; // the connection takes nothing more
            }
            if (n > 0) {
                remaining -= n;
                BytesSent += n;
                if (!progressFirst) {
                    TimerOn();
                }
                if (OnSendProgress) {
                    OnSendProgress(this);
                }
                if (progressFirst) {
                    TimerOn();
                }
                ProcessMessages();
            } else {
                ErrorManager(sock::WSAEWOULDBLOCK);
                WaitForMessages();
            }
        }
    }
}

void TPowersock::SendStream(QIODevice& stream) {
    StatusMessage(8, "SendStream");
    stream.seek(0);
    Transfer("Socket send aborted", [&] {
        if (!Canceled) {
            BytesSent = 0;
            BytesTotal = static_cast<std::int32_t>(stream.size());
            SendChunks(stream, false);
        }
    });
}

void TPowersock::SendRestStream(QIODevice& stream) {
    StatusMessage(8, "SendStream");
    Transfer("Socket send aborted", [&] {
        if (!Canceled) {
            BytesSent = 0;
            BytesTotal = static_cast<std::int32_t>(stream.size());
            SendChunks(stream, false);
        }
    });
}

void TPowersock::SendFile(const std::string& fileName) {
    StatusMessage(8, "SendFile");
    QFile file(QString::fromStdString(fileName));
    if (!file.open(QIODevice::ReadOnly)) {
        throw EFOpenError(
            Format("Cannot open file \"%s\". %s", fileName, file.errorString().toStdString()));
    }
    Transfer("Socket send aborted", [&] { SendChunks(file, true); });
}

// Moves up to `limit` buffered bytes (at most one chunk) into the stream; the count moved.
int TPowersock::CaptureChunk(QIODevice& stream, long long limit) {
    const qint64 held = ReceiveBuffer->BufferSize();
    const int n = static_cast<int>(std::min<qint64>({held, MaxChunk, limit}));
    if (n <= 0) {
        return 0;
    }
    const int taken = ReceiveBuffer->Remove(IoBuffer.data(), n);
    WriteAll(stream, IoBuffer.data(), taken);
    BytesReceived += taken;
    return taken;
}

void TPowersock::CaptureStream(QIODevice& stream, int size) {
    StatusMessage(8, "Capture Stream");
    BytesReceived = 0;
    // Bytes still wanted for a total size; unlimited for -1 (one round) and -2 (until closed).
    const auto wanted = [&]() -> qint64 {
        return size >= 0 ? std::max<qint64>(0, size - stream.size()) : MaxChunk;
    };
    Transfer("Socket capture aborted", [&] {
        if (!Canceled && wanted() > 0) {
            for (;;) {
                while (!(DataAvailable() || Canceled || !Connected || size == -1)) {
                    Wait();
                }
                CaptureChunk(stream, wanted());
                if (OnReceiveProgress) {
                    OnReceiveProgress(this);
                }
                TimerOn();
                if (!Connected || size == -1 || Canceled || wanted() == 0) {
                    break;
                }
            }
            // The peer closed: take everything it sent that is still buffered.
            if (!Connected && !Canceled && size != -1) {
                while (wanted() > 0 && CaptureChunk(stream, wanted()) > 0) {
                    if (OnReceiveProgress) {
                        OnReceiveProgress(this);
                    }
                }
            }
        }
    });
}

void TPowersock::CaptureFile(const std::string& fileName) {
    StatusMessage(8, "CaptureFile");
    QFile file(QString::fromStdString(fileName));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        throw EFCreateError(
            Format("Cannot create file \"%s\". %s", fileName, file.errorString().toStdString()));
    }
    CaptureStream(file, -2);
}

void TPowersock::AppendFile(const std::string& fileName) {
    StatusMessage(8, "Append File");
    QFile file(QString::fromStdString(fileName));
    if (!file.exists() || !file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        throw EFOpenError(Format("Cannot open file \"%s\". %s", fileName,
                                 file.exists() ? file.errorString().toStdString()
                                               : std::string("No such file or directory")));
    }
    CaptureStream(file, -2);
}

void TPowersock::CaptureString(std::string& text, int size) {
    StatusMessage(8, "Capture String");
    StatusMessage(8, "CaptureFile");
    BytesReceived = 0;
    text.clear();
    // One round: what is buffered now, at most `size` bytes when size > 0.
    const auto takeBuffered = [&]() {
        int n = ReceiveBuffer->BufferSize();
        if (size > 0) {
            n = std::min(n, size);
        }
        n = std::min(n, MaxChunk);
        if (n <= 0) {
            return 0;
        }
        const int taken = ReceiveBuffer->Remove(IoBuffer.data(), n);
        text.append(IoBuffer.data(), static_cast<std::size_t>(taken));
        BytesReceived += taken;
        return taken;
    };
    Transfer("Socket capture aborted", [&] {
        if (!Canceled) {
            for (;;) {
                while (ReceiveBuffer->BufferSize() == 0 && !Canceled && Connected && size != -1 &&
                       !DataAvailable()) {
                    Wait();
                }
                if (takeBuffered() > 0) {
                    TimerOn();
                }
                if (OnReceiveProgress) {
                    OnReceiveProgress(this);
                }
                if (!Connected || Canceled || size == -1) {
                    break;
                }
            }
            if (!Connected && !Canceled) {
                while (takeBuffered() > 0) {
                }
            }
        }
    });
}

void TPowersock::FilterHeader(QIODevice& fileStream) {
    StatusMessage(8, "FilterHeader");
    for (;;) {
        const std::string line = ReadLn();
        WriteAll(fileStream, line.data(), static_cast<int>(line.size()));
        if (line.empty() || line == "\n" || line == "\r\n") {
            break;
        }
    }
}

std::string TPowersock::GetLocalAddress() {
    sockaddr_in local{};
    sock::getsockname(SocketHandle, &local);
    std::string text = sock::inet_ntoa(local.sin_addr.s_addr);
    std::replace(text.begin(), text.end(), '.', ',');
    return text;
}

std::string TPowersock::GetPortString() {
    sockaddr_in local{};
    sock::getsockname(SocketHandle, &local);
    const int port = ntohs(local.sin_port);
    return Format(",%d,%d", port >> 8, port & 0xFF);
}

} // namespace kairelon

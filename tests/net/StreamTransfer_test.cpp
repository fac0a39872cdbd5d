// Stream, file and string transfers of the socket component between two components over
// loopback (a server component's connection instance at one end, a client at the other), the
// header filter, the command/reply exchange, listening and accepting, and the address strings.
#include "net/GeneralServer.h"

#include "framework/Exception.h"
#include "support/EventLoop.h"
#include "support/LoopbackServer.h"
#include "support/RawClient.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <vector>

using namespace kairelon;
using kairelon::test::ConnectLoopback;
using kairelon::test::LocalPortOf;
using kairelon::test::LoopbackServer;
using kairelon::test::PumpFor;
using kairelon::test::PumpUntil;

namespace {

std::string Pattern(std::size_t size, unsigned seed = 1) {
    std::string bytes(size, '\0');
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<char>(x >> 24);
    }
    return bytes;
}

// What the serving end saw.
struct Peer {
    std::mutex lock;
    std::int32_t bytesSent = -1;
    std::int32_t bytesTotal = -1;
    int progress = 0;
    std::string error;
};

using Conversation = std::function<void(TNMGeneralServer& connection, Peer& peer)>;

// A server whose every connection runs the given conversation, then closes.
class ScriptServer : public TNMGeneralServer {
public:
    ScriptServer(Conversation conversation, Peer* peer)
        : conversation_(std::move(conversation)), peer_(peer) {}
    void Serve() override {
        try {
            conversation_(*this, *peer_);
        } catch (const Exception& error) {
            std::lock_guard lock(peer_->lock);
            peer_->error = error.Message();
        }
    }

protected:
    TInstanceMaker InstanceMaker() override {
        return [conversation = conversation_, peer = peer_] {
            return new ScriptServer(conversation, peer);
        };
    }

private:
    Conversation conversation_;
    Peer* peer_;
};

int ListeningPort(TPowersock& component) {
    sockaddr_in local{};
    sock::getsockname(component.SocketHandle, &local);
    return ntohs(local.sin_port);
}

// A server on 127.0.0.1 running `conversation` for each connection, and a client component
// connected to it.
struct Link {
    Peer peer;
    ScriptServer server;
    TPowersock client;

    explicit Link(Conversation conversation) : server(std::move(conversation), &peer) {
        server.Port = 0;
        server.ListenAddress = "127.0.0.1";
        server.Loaded();
        client.Host = "127.0.0.1";
        client.Port = ListeningPort(server);
        client.TimeOut = 10000;
    }
    void Connect() {
        client.Connect();
        ASSERT_TRUE(client.Connected);
    }
    // Waits until the serving end has closed and everything it sent is buffered here.
    bool WaitUntilPeerClosed() {
        return PumpUntil(
            [&] {
                client.DataAvailable();
                return !client.Connected && server.ActiveConnections() == 0;
            },
            10000);
    }
};

Conversation SendBytes(std::string bytes) {
    return [bytes](TNMGeneralServer& c, Peer& peer) {
        QBuffer source;
        source.setData(bytes.data(), static_cast<int>(bytes.size()));
        source.open(QIODevice::ReadOnly);
        c.OnSendProgress = [&peer](TObject*) { ++peer.progress; };
        c.SendStream(source);
        std::lock_guard lock(peer.lock);
        peer.bytesSent = c.BytesSent;
        peer.bytesTotal = c.BytesTotal;
    };
}

Conversation WaitForALine() {
    return [](TNMGeneralServer& c, Peer&) { c.ReadLn(); };
}

} // namespace

TEST(StreamTransfer, EmptyFewAndLargeStreamsArriveWhole) {
    // 0 bytes, a few bytes, and more than the receiver's memory part, so that the receive
    // buffer spills to its overflow file and the capture reads back across it.
    for (const std::size_t size : {std::size_t{0}, std::size_t{5}, std::size_t{5 * 65536 + 123}}) {
        const std::string sent = Pattern(size, static_cast<unsigned>(size));
        Link link(SendBytes(sent));
        link.client.SetFifoCapacity(65536);
        link.Connect();
        ASSERT_TRUE(link.WaitUntilPeerClosed());
        EXPECT_EQ(link.client.ReceiveBuffer->BufferSize(), static_cast<int>(size));

        QBuffer received;
        received.open(QIODevice::WriteOnly);
        int progress = 0;
        link.client.OnReceiveProgress = [&](TObject*) { ++progress; };
        link.client.CaptureStream(received, -2);
        EXPECT_TRUE(received.data().toStdString() == sent) << "size " << size;
        EXPECT_EQ(link.client.BytesReceived, static_cast<std::int32_t>(size));
        EXPECT_EQ(link.client.ReceiveBuffer->BufferSize(), 0) << "a closed capture takes all";
        EXPECT_GE(progress, 1);

        std::lock_guard lock(link.peer.lock);
        EXPECT_EQ(link.peer.error, "");
        EXPECT_EQ(link.peer.bytesSent, static_cast<std::int32_t>(size));
        EXPECT_EQ(link.peer.bytesTotal, static_cast<std::int32_t>(size));
        EXPECT_EQ(link.peer.progress > 0, size > 0) << "an empty stream sends nothing";
    }
}

TEST(StreamTransfer, CaptureWhileTheBytesAreStillFlowing) {
    const std::string sent = Pattern(4 * 1024 * 1024 + 7, 9);
    Link link(SendBytes(sent));
    link.client.SetFifoCapacity(65536);
    link.Connect();
    QBuffer received;
    received.open(QIODevice::WriteOnly);
    link.client.CaptureStream(received, -2);
    EXPECT_EQ(received.data().size(), static_cast<int>(sent.size()));
    EXPECT_TRUE(received.data().toStdString() == sent);
}

TEST(StreamTransfer, SendRestStreamSendsOnlyWhatFollowsThePosition) {
    const std::string whole = Pattern(300000, 3);
    Link link([whole](TNMGeneralServer& c, Peer& peer) {
        QBuffer source;
        source.setData(whole.data(), static_cast<int>(whole.size()));
        source.open(QIODevice::ReadOnly);
        source.read(1000); // a part already read
        c.SendRestStream(source);
        std::lock_guard lock(peer.lock);
        peer.bytesSent = c.BytesSent;
        peer.bytesTotal = c.BytesTotal;
    });
    link.Connect();
    ASSERT_TRUE(link.WaitUntilPeerClosed());
    QBuffer received;
    received.open(QIODevice::WriteOnly);
    link.client.CaptureStream(received, -2);
    EXPECT_TRUE(received.data().toStdString() == whole.substr(1000));
    std::lock_guard lock(link.peer.lock);
    EXPECT_EQ(link.peer.bytesSent, 299000);
    EXPECT_EQ(link.peer.bytesTotal, 300000) << "the total is the whole stream's size";
}

TEST(StreamTransfer, CaptureOfWhatIsBufferedReturnsAtOnce) {
    Link link(WaitForALine()); // the server sends nothing
    link.Connect();
    QBuffer received;
    received.open(QIODevice::WriteOnly);
    QElapsedTimer clock;
    clock.start();
    link.client.CaptureStream(received, -1);
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(received.size(), 0);
    EXPECT_TRUE(link.client.Connected);
    link.client.Writeln("bye");
}

TEST(StreamTransfer, CaptureToATotalSizeStopsThereAndLeavesTheRest) {
    Link link(SendBytes("abcdefghij"));
    link.Connect();
    ASSERT_TRUE(link.WaitUntilPeerClosed());
    QBuffer received;
    received.open(QIODevice::WriteOnly);
    link.client.CaptureStream(received, 4);
    EXPECT_EQ(received.data().toStdString(), "abcd");
    EXPECT_EQ(link.client.Read(0), "efghij");

    // A stream already at its total needs nothing more and does not wait.
    link.client.CaptureStream(received, 2);
    EXPECT_EQ(received.data().toStdString(), "abcd");
}

TEST(StreamTransfer, TimeOutDuringACaptureAbortsIt) {
    Link link(WaitForALine());
    link.client.TimeOut = 300;
    link.Connect();
    QBuffer received;
    received.open(QIODevice::WriteOnly);
    QElapsedTimer clock;
    clock.start();
    try {
        link.client.CaptureStream(received, -2);
        FAIL() << "no time-out";
    } catch (const EAbortError& error) {
        EXPECT_EQ(error.Message(), "Socket capture aborted");
    }
    EXPECT_GE(clock.elapsed(), 250);
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_FALSE(link.client.Canceled) << "the flag is cleared when it is reported";
    std::string text = "stale";
    EXPECT_THROW(link.client.CaptureString(text, 0), EAbortError);
    EXPECT_EQ(text, "");
    link.client.TimeOut = 10000;
    link.client.Writeln("bye");
}

TEST(StreamTransfer, FilesAreSentCapturedAndAppended) {
    QTemporaryDir dir;
    const std::string source = dir.path().toStdString() + "/source.bin";
    const std::string content = Pattern(200000, 5);
    {
        QFile f(QString::fromStdString(source));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content.data(), static_cast<qint64>(content.size()));
    }
    const auto sendFile = [source](TNMGeneralServer& c, Peer&) { c.SendFile(source); };

    const std::string captured = dir.path().toStdString() + "/captured.bin";
    {
        QFile old(QString::fromStdString(captured));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(std::string(500000, 'x').c_str(), 500000); // replaced, not kept
    }
    {
        Link link(sendFile);
        link.Connect();
        link.client.CaptureFile(captured);
    }
    QFile got(QString::fromStdString(captured));
    ASSERT_TRUE(got.open(QIODevice::ReadOnly));
    EXPECT_TRUE(got.readAll().toStdString() == content);
    got.close();

    const std::string appended = dir.path().toStdString() + "/appended.bin";
    {
        QFile head(QString::fromStdString(appended));
        ASSERT_TRUE(head.open(QIODevice::WriteOnly));
        head.write("HEAD", 4);
    }
    {
        Link link(sendFile);
        link.Connect();
        link.client.AppendFile(appended);
    }
    QFile both(QString::fromStdString(appended));
    ASSERT_TRUE(both.open(QIODevice::ReadOnly));
    EXPECT_TRUE(both.readAll().toStdString() == "HEAD" + content);
}

TEST(StreamTransfer, FileErrorsComeFromTheFileAndLeaveNothingBehind) {
    QTemporaryDir dir;
    const std::string missing = dir.path().toStdString() + "/missing.bin";
    {
        Link link([missing](TNMGeneralServer& c, Peer&) { c.SendFile(missing); });
        link.Connect();
        ASSERT_TRUE(link.WaitUntilPeerClosed());
        std::lock_guard lock(link.peer.lock);
        EXPECT_NE(link.peer.error.find("Cannot open file"), std::string::npos) << link.peer.error;
    }
    Link link(SendBytes("data"));
    link.Connect();
    EXPECT_THROW(link.client.AppendFile(missing), EFOpenError);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(missing))) << "append creates nothing";
    EXPECT_THROW(link.client.CaptureFile(dir.path().toStdString()), EFCreateError);
}

TEST(StreamTransfer, ASourceThatCannotBeReadRaisesInEverySend) {
    // Claims 1000 bytes but fails every read.
    class BrokenSource : public QIODevice {
    public:
        qint64 size() const override { return 1000; }

    protected:
        qint64 readData(char*, qint64) override { return -1; }
        qint64 writeData(const char*, qint64) override { return -1; }
    };
    const std::vector<std::pair<const char*, std::function<void(TPowersock&, QIODevice&)>>> sends =
        {
            {"SendStream", [](TPowersock& c, QIODevice& d) { c.SendStream(d); }},
            {"SendRestStream", [](TPowersock& c, QIODevice& d) { c.SendRestStream(d); }},
        };
    for (const auto& [name, send] : sends) {
        SCOPED_TRACE(name);
        Link link(WaitForALine());
        link.Connect();
        BrokenSource source;
        source.open(QIODevice::ReadOnly);
        std::string raised = "(nothing raised)";
        try {
            send(link.client, source);
        } catch (const EInOutError& error) {
            raised = error.Message();
        }
        EXPECT_EQ(raised, "Read error on the stream being sent");
        EXPECT_EQ(link.client.BytesSent, 0);
        EXPECT_FALSE(link.client.TimeoutTimer->Enabled()) << "the time-out timer is off again";
        link.client.Disconnect();
    }
}

TEST(StreamTransfer, CaptureStringTakesEverythingUntilTheClose) {
    for (const int size : {0, 4}) {
        Link link(SendBytes("line one\nline two\n"));
        link.Connect();
        std::string text;
        link.client.CaptureString(text, size);
        EXPECT_EQ(text, "line one\nline two\n") << "size " << size;
        EXPECT_EQ(link.client.BytesReceived, 18);
    }
    Link idle(WaitForALine());
    idle.Connect();
    std::string text = "old";
    QElapsedTimer clock;
    clock.start();
    idle.client.CaptureString(text, -1);
    EXPECT_EQ(text, "");
    EXPECT_LT(clock.elapsed(), 1000);
    idle.client.Writeln("bye");
}

TEST(StreamTransfer, FilterHeaderCopiesTheHeaderAndLeavesTheBody) {
    Link link(SendBytes("Status: 200\r\nX-Thing: y\r\n\r\nbody bytes"));
    link.Connect();
    QBuffer header;
    header.open(QIODevice::WriteOnly);
    link.client.FilterHeader(header);
    EXPECT_EQ(header.data().toStdString(), "Status: 200\r\nX-Thing: y\r\n\r\n");
    ASSERT_TRUE(link.WaitUntilPeerClosed());
    EXPECT_EQ(link.client.Read(0), "body bytes");
}

TEST(Transaction, ReplyLineAndItsLeadingNumber) {
    LoopbackServer server([](int fd, LoopbackServer&) {
        std::string pending;
        char buffer[256];
        for (;;) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                return;
            }
            pending.append(buffer, static_cast<std::size_t>(n));
            std::size_t end;
            while ((end = pending.find("\r\n")) != std::string::npos) {
                const std::string command = pending.substr(0, end);
                pending.erase(0, end + 2);
                const std::string reply = command == "HELO"   ? "220 ready\r\n"
                                          : command == "NAME" ? "hello there\r\n"
                                          : command == "BIG"  ? "70000 too big\r\n"
                                                              : "500 what\r\n";
                LoopbackServer::SendAll(fd, reply);
            }
        }
    });
    TPowersock client;
    client.Host = "127.0.0.1";
    client.Port = server.Port();
    client.TimeOut = 5000;
    client.ReportLevel = 1;
    std::vector<std::string> statuses;
    client.OnStatus = [&](TObject*, const std::string& s) { statuses.push_back(s); };
    client.Connect();

    EXPECT_EQ(client.Transaction("HELO"), "220 ready\r\n");
    EXPECT_EQ(client.ReplyNumber, 220);
    EXPECT_EQ(client.LastReply, "220 ready\r\n");
    EXPECT_EQ(client.Transaction("NAME"), "hello there\r\n");
    EXPECT_EQ(client.ReplyNumber, 0) << "a reply that begins with a letter";
    EXPECT_THROW(client.Transaction("BIG"), ERangeError);
    EXPECT_EQ(client.Transaction("QUIT"), "500 what\r\n");
    EXPECT_EQ(client.ReplyNumber, 500);
    EXPECT_EQ(statuses, (std::vector<std::string>{"220 ready\r\n", "hello there\r\n",
                                                  "70000 too big\r\n", "500 what\r\n"}))
        << "each reply is reported at level 1";
}

TEST(ConnectionTimeOut, EveryWaitOfAServedConnectionEndsWithTheTimeOutError) {
    // A client that sends three bytes (no line end), never reads, and closes only after 4 s:
    // each wait of the serving instance must end after its TimeOut with the time-out error.
    struct Case {
        const char* name;
        std::function<void(TNMGeneralServer&)> wait;
        const char* raised;
    };
    const std::vector<Case> cases = {
        {"ReadLn", [](TNMGeneralServer& c) { c.ReadLn(); }, "Socket readln aborted"},
        {"Read", [](TNMGeneralServer& c) { c.Read(10); }, "Socket send aborted"},
        {"CaptureString",
         [](TNMGeneralServer& c) {
             std::string text;
             c.CaptureString(text, 0);
         },
         "Socket capture aborted"},
        {"CaptureStream",
         [](TNMGeneralServer& c) {
             QBuffer target;
             target.open(QIODevice::WriteOnly);
             c.CaptureStream(target, -2);
         },
         "Socket capture aborted"},
        {"SendBuffer",
         [](TNMGeneralServer& c) {
             // Fills the connection until one call has to wait out the time-out.
             const std::string chunk(65535, 'y');
             for (int i = 0; i < 2000; ++i) {
                 QElapsedTimer clock;
                 clock.start();
                 c.SendBuffer(chunk.data(), 65535);
                 if (clock.elapsed() >= 250) {
                     return;
                 }
             }
         },
         "Socket send aborted"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<qint64> elapsed{-1};
        Peer peer;
        ScriptServer server(
            [&c, &elapsed](TNMGeneralServer& connection, Peer&) {
                connection.TimeOut = 300;
                QElapsedTimer clock;
                clock.start();
                try {
                    c.wait(connection);
                } catch (...) {
                    elapsed = clock.elapsed();
                    throw;
                }
                elapsed = clock.elapsed();
            },
            &peer);
        server.Port = 0;
        server.ListenAddress = "127.0.0.1";
        server.Loaded();
        const int fd = ConnectLoopback(ListeningPort(server));
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(kairelon::test::SendAllBytes(fd, "abc"));
        PumpUntil([&] { return elapsed.load() >= 0; }, 4000);
        ::close(fd);
        ASSERT_TRUE(PumpUntil([&] { return server.ActiveConnections() == 0; }, 10000));
        std::lock_guard lock(peer.lock);
        EXPECT_EQ(peer.error, c.raised);
        EXPECT_GE(elapsed.load(), 290);
        EXPECT_LT(elapsed.load(), 3000) << "ended by the time-out, not by the client's close";
    }
}

TEST(ConnectionCancel, ACancelFromAnotherThreadIsReportedOnTheConnectionsOwnThread) {
    struct Seen {
        std::mutex lock;
        std::vector<std::string> texts;
        int foreign = 0; // reports made on a thread other than the connection's
        std::atomic<bool> waiting{false};
    } seen;
    Peer peer;
    ScriptServer server(
        [&seen](TNMGeneralServer& c, Peer&) {
            QThread* own = QThread::currentThread();
            c.ReportLevel = 8;
            c.OnStatus = [&seen, own](TObject*, const std::string& text) {
                std::lock_guard lock(seen.lock);
                seen.texts.push_back(text);
                if (QThread::currentThread() != own) {
                    ++seen.foreign;
                }
            };
            seen.waiting = true;
            c.ReadLn(); // the client never sends a line
        },
        &peer);
    server.Port = 0;
    server.ListenAddress = "127.0.0.1";
    server.Loaded();
    const int fd = ConnectLoopback(ListeningPort(server));
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(PumpUntil([&] { return seen.waiting.load(); }, 5000));
    PumpFor(100);   // inside the line wait
    server.Abort(); // cancels the connection from this thread
    ASSERT_TRUE(PumpUntil([&] { return server.ActiveConnections() == 0; }, 5000));
    ::close(fd);
    {
        std::lock_guard lock(peer.lock);
        EXPECT_EQ(peer.error, "Socket readln aborted");
    }
    std::lock_guard lock(seen.lock);
    EXPECT_EQ(seen.foreign, 0);
    EXPECT_NE(std::find(seen.texts.begin(), seen.texts.end(), "Canceling"), seen.texts.end())
        << "the cancel is still reported";
}

TEST(ListenAccept, AcceptTakesTheWaitingConnection) {
    TPowersock listener;
    listener.Port = 0;
    listener.ListenAddress = "127.0.0.1";
    listener.TimeOut = 5000;
    listener.Listen(true);
    const int port = ListeningPort(listener);
    EXPECT_EQ(listener.GetLocalAddress(), "127,0,0,1");
    EXPECT_EQ(listener.GetPortString(),
              "," + std::to_string(port >> 8) + "," + std::to_string(port & 0xFF));

    auto client = std::async(std::launch::async, [port] {
        const int fd = ConnectLoopback(port);
        const int local = LocalPortOf(fd);
        char byte = 0;
        const bool got = ::recv(fd, &byte, 1, 0) == 1 && byte == 'x';
        ::close(fd);
        return got ? local : -1;
    });
    const sock::SOCKET accepted = listener.Accept();
    ASSERT_NE(accepted, sock::INVALID_SOCKET);
    EXPECT_EQ(sock::send(accepted, "x", 1, 0), 1);
    PumpUntil([&] { return client.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
              5000);
    const int clientPort = client.get();
    EXPECT_EQ(ntohs(listener.RemoteAddress.sin_port), clientPort) << "the peer's address";
    PumpFor(300); // the client has closed: a close notification would have arrived by now
    EXPECT_EQ(ListeningPort(listener), port) << "the data peer's close leaves the listening socket";
    listener.Close(accepted);

    // And it still accepts.
    auto second = std::async(std::launch::async, [port] {
        const int fd = ConnectLoopback(port);
        const int local = LocalPortOf(fd);
        ::close(fd);
        return local;
    });
    const sock::SOCKET next = listener.Accept();
    ASSERT_NE(next, sock::INVALID_SOCKET);
    EXPECT_EQ(ntohs(listener.RemoteAddress.sin_port), second.get());
    listener.Close(next);
}

TEST(ListenAccept, AcceptWithoutAConnectionEndsWithTheTimeOut) {
    TPowersock listener;
    listener.Port = 0;
    listener.ListenAddress = "127.0.0.1";
    listener.TimeOut = 200;
    listener.Listen(true);
    try {
        listener.Accept();
        FAIL() << "accepted nothing";
    } catch (const ESockError& error) {
        EXPECT_EQ(error.Message(), "Accepting Canceled");
    }
    EXPECT_FALSE(listener.Canceled) << "cleared when reported, so the next Accept may wait";
}

TEST(ListenAccept, PortStringOfPort1234) {
    TPowersock listener;
    listener.Port = 1234;
    listener.ListenAddress = "127.0.0.1";
    try {
        listener.Listen(true);
    } catch (const ESockError&) {
        GTEST_SKIP() << "port 1234 is taken on this machine";
    }
    EXPECT_EQ(listener.GetPortString(), ",4,210");
}

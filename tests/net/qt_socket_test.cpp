// The Qt socket against real loopback connections.

#include "net/qt_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "qt_test_support.h"
#include "runtime/failure.h"

namespace monvia::net {
namespace {

using looptest::Client;
using looptest::kLoopback;
using looptest::pump;
using looptest::wait_until;

std::string all_bytes() {
    std::string s;
    for (int i = 0; i < 256; ++i) s.push_back(static_cast<char>(i));
    return s;
}

// A loopback server that keeps its accepted connections.
struct Server {
    QTcpServer server;
    std::vector<QTcpSocket*> peers;  // children of the server
    std::string received;

    Server() {
        EXPECT_TRUE(server.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* peer = server.nextPendingConnection()) {
                peers.push_back(peer);
                QObject::connect(peer, &QTcpSocket::readyRead, [this, peer] {
                    const QByteArray b = peer->readAll();
                    received.append(b.constData(), static_cast<size_t>(b.size()));
                });
            }
        });
    }
    int32_t port() const { return server.serverPort(); }
    QTcpSocket* peer() {
        return wait_until([this] { return !peers.empty(); }) ? peers.back() : nullptr;
    }
    void send(const std::string& bytes) {
        peer()->write(bytes.data(), static_cast<qint64>(bytes.size()));
        peer()->flush();
    }
    // Abortive close: the client's side sees a reset.
    void reset() {
        linger l{1, 0};
        ::setsockopt(static_cast<int>(peer()->socketDescriptor()), SOL_SOCKET, SO_LINGER, &l, sizeof l);
        peer()->abort();
    }
};

// A port nothing listens on: bound once, then let go.
int32_t free_port() {
    QTcpServer probe;
    EXPECT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const int32_t port = probe.serverPort();
    probe.close();
    return port;
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(Fd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    Fd& operator=(Fd&&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Makes fd listen on a free loopback port; gives its address.
sockaddr_in listen_on_loopback(int fd, int backlog) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), len), 0);
    EXPECT_EQ(::listen(fd, backlog), 0);
    EXPECT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    return addr;
}

// A listener whose accept queue is full: further handshakes never complete.
struct FullListener {
    Fd listener{::socket(AF_INET, SOCK_STREAM, 0)};
    std::vector<Fd> fillers;
    int32_t port = 0;

    FullListener() {
        sockaddr_in addr = listen_on_loopback(listener.get(), 0);
        port = ntohs(addr.sin_port);
        for (int i = 0; i < 3; ++i) {
            Fd f(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
            ::connect(f.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
            fillers.push_back(std::move(f));
        }
        pump(100);
    }
};

TEST(QtSocket, EveryAttemptEndsInExactlyOneConnectOrErrorEvent) {
    Server server;
    const int32_t closed_port = free_port();
    struct Case {
        const char* name;
        std::string host;
        int32_t port;
        std::string event;
        int16_t state;
    };
    const std::vector<Case> cases = {
        {"listening server", kLoopback, server.port(), "Connect", kConnected},
        {"nothing listening", kLoopback, closed_port, "Error 10061 Connection is forcefully rejected",
         kError},
        {"empty host", "", server.port(), "Error 11001 Authoritative answer: Host not found", kError},
        {"host name that cannot exist", "no such host", server.port(),
         "Error 11001 Authoritative answer: Host not found", kError},
        {"port 0", kLoopback, 0, "Error 10049 Address not available from the local machine", kError},
        {"port above 65535", kLoopback, 65536 + server.port(),
         "Error 10049 Address not available from the local machine", kError},
        {"negative port", kLoopback, -1, "Error 10049 Address not available from the local machine", kError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Client client;
        client.ws.connect(c.host, c.port);
        // The outcome comes from the event loop, never from inside connect().
        EXPECT_TRUE(client.events.empty());
        EXPECT_TRUE(client.ws.state() == kConnecting || client.ws.state() == kResolvingHost)
            << client.ws.state();
        ASSERT_TRUE(client.outcome());
        pump(50);
        EXPECT_EQ(client.events, std::vector<std::string>{c.event});
        EXPECT_EQ(client.ws.state(), c.state);
    }
}

TEST(QtSocket, HandshakeThatNeverCompletesEndsInTheTimeOutError) {
    FullListener full;
    Client client;
    client.ws.set_connect_timeout(300);
    client.ws.connect(kLoopback, full.port);
    ASSERT_TRUE(client.outcome());
    pump(100);
    EXPECT_EQ(client.events, std::vector<std::string>{"Error 10060 Connection timed out"});
    EXPECT_EQ(client.ws.state(), kError);
}

TEST(QtSocket, ConnectOnASocketThatIsNotClosedFails) {
    Server server;
    Client client;
    client.connect_to(server.port());
    try {
        client.ws.connect(kLoopback, server.port());
        FAIL() << "connect on a connected socket went through";
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), kErrInvalidOperation);
    }
    EXPECT_EQ(client.ws.state(), kConnected);
}

TEST(QtSocket, SendDataWhenNotConnectedFails) {
    FullListener full;
    struct Case {
        const char* name;
        std::function<void(QtSocket&)> bring;
    };
    const std::vector<Case> cases = {
        {"never connected", [](QtSocket&) {}},
        {"connecting", [&](QtSocket& ws) { ws.connect(kLoopback, full.port); }},
        {"after an error",
         [](QtSocket& ws) {
             ws.connect(kLoopback, 0);
             wait_until([&] { return ws.state() == kError; });
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QtSocket ws;
        c.bring(ws);
        try {
            ws.send_data("C|1|100");
            FAIL() << "send_data went through";
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), kErrBadState);
            EXPECT_EQ(f.description(),
                      "Wrong protocol or connection state for the requested transaction or request");
        }
    }
}

TEST(QtSocket, EveryByteValueSurvivesBothWays) {
    Server server;
    Client client;
    client.connect_to(server.port());
    const std::string bytes = all_bytes() + std::string(4, '\0') + all_bytes();
    client.ws.send_data(bytes);
    EXPECT_TRUE(client.events.empty());  // SendComplete comes from the event loop
    ASSERT_TRUE(wait_until([&] { return server.received.size() >= bytes.size(); }));
    EXPECT_EQ(server.received, bytes);
    EXPECT_EQ(client.events, std::vector<std::string>{"SendComplete"});

    server.send(bytes);
    ASSERT_TRUE(wait_until([&] { return client.read.size() >= bytes.size(); }));
    EXPECT_EQ(client.read, bytes);
}

TEST(QtSocket, ReplyInTwoPiecesGivesTwoArrivals) {
    Server server;
    Client client;
    client.connect_to(server.port());
    server.send("OK|1|");
    ASSERT_TRUE(wait_until([&] { return client.read == "OK|1|"; }));
    server.send("CREATED|100");
    ASSERT_TRUE(wait_until([&] { return client.read.size() >= 16; }));
    EXPECT_EQ(client.read, "OK|1|CREATED|100");
    EXPECT_EQ(client.events, (std::vector<std::string>{"DataArrival", "DataArrival"}));
}

TEST(QtSocket, DataArrivalIsNotRaisedWhenEverythingWasTaken) {
    Server server;
    Client client;
    client.read_on_arrival = false;
    client.connect_to(server.port());
    server.send("abc");
    ASSERT_TRUE(wait_until([&] { return !client.events.empty(); }));
    server.send("def");
    pump(100);
    // Both pieces wait; one get_data takes them all, later arrivals stay quiet.
    EXPECT_EQ(client.ws.get_data(), "abcdef");
    EXPECT_EQ(client.ws.get_data(), "");
    const auto arrivals = client.events.size();
    pump(100);
    EXPECT_EQ(client.events.size(), arrivals);
}

TEST(QtSocket, PeerCloseLeavesState8WithoutAnEventAndKeepsWaitingBytes) {
    Server server;
    Client client;
    client.read_on_arrival = false;
    client.connect_to(server.port());
    server.send("OK|1|CREATED|100");
    server.peer()->disconnectFromHost();
    ASSERT_TRUE(wait_until([&] { return client.ws.state() != kConnected; }));
    pump(100);
    EXPECT_EQ(client.ws.state(), kClosing);
    EXPECT_EQ(client.events, std::vector<std::string>{"DataArrival"});
    EXPECT_EQ(client.ws.get_data(), "OK|1|CREATED|100");
    EXPECT_THROW(client.ws.send_data("x"), Failure);
    // Close, and the same socket connects again.
    client.ws.close();
    client.connect_to(server.port());
    EXPECT_EQ(client.ws.state(), kConnected);
}

TEST(QtSocket, ResetRaisesError10054AndState9) {
    Server server;
    Client client;
    client.connect_to(server.port());
    server.send("OK|");
    ASSERT_TRUE(wait_until([&] { return client.read == "OK|"; }));
    server.reset();
    ASSERT_TRUE(wait_until([&] { return client.events.size() >= 2; }));
    pump(50);
    EXPECT_EQ(client.events,
              (std::vector<std::string>{"DataArrival", "Error 10054 Connection reset by remote side"}));
    EXPECT_EQ(client.ws.state(), kError);
}

TEST(QtSocket, CloseIsHarmlessAndStopsEveryEventOfTheConnection) {
    FullListener full;
    Server server;
    struct Case {
        const char* name;
        std::function<void(Client&)> before_close;
        std::function<void()> after_close;
    };
    const std::vector<Case> cases = {
        {"fresh socket", [](Client&) {}, [] {}},
        {"attempt that would time out",
         [&](Client& c) {
             c.ws.set_connect_timeout(200);
             c.ws.connect(kLoopback, full.port);
         },
         [] {}},
        {"attempt whose outcome is already queued", [&](Client& c) { c.ws.connect(kLoopback, 0); }, [] {}},
        {"open connection, the server sends and resets afterwards",
         [&](Client& c) { c.connect_to(server.port()); },
         [&] {
             server.send("late");
             server.reset();
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Client client;
        c.before_close(client);
        client.ws.close();
        client.ws.close();
        EXPECT_EQ(client.ws.state(), kClosed);
        c.after_close();
        pump(400);
        EXPECT_TRUE(client.events.empty()) << client.events.front();
        EXPECT_EQ(client.ws.get_data(), "");
    }
}

TEST(QtSocket, BytesSentJustBeforeCloseStillReachTheServer) {
    Server server;
    Client client;
    client.connect_to(server.port());
    client.ws.send_data("C|1|100");
    client.ws.close();
    ASSERT_TRUE(wait_until([&] { return server.received.size() >= 7; }));
    EXPECT_EQ(server.received, "C|1|100");
}

TEST(QtSocket, DestroyingTheSocketWithEventsQueuedIsQuiet) {
    Server server;
    int calls = 0;
    for (int32_t port : {server.port(), 0}) {
        // Port 0: the error is queued inside connect(); the server's port:
        // the handshake is in flight.
        auto ws = std::make_unique<QtSocket>();
        ws->on_connect([&] { ++calls; });
        ws->on_error([&](int32_t, const std::string&) { ++calls; });
        ws->connect(kLoopback, port);
        ws.reset();
    }
    pump(200);
    EXPECT_EQ(calls, 0);
}

TEST(QtSocket, HandlerMayDestroyTheSocketInsideItsOwnEvent) {
    Server server;
    auto ws = std::make_unique<QtSocket>();
    std::string got;
    ws->on_connect([&] {});
    ws->on_data_arrival([&](int32_t) {
        got = ws->get_data();
        ws.reset();
    });
    ws->connect(kLoopback, server.port());
    ASSERT_TRUE(wait_until([&] { return ws->state() == kConnected; }));
    server.send("bye");
    ASSERT_TRUE(wait_until([&] { return ws == nullptr; }));
    pump(50);
    EXPECT_EQ(got, "bye");
}

// A peer on a plain blocking socket in a thread of its own, so that what it
// sends is handed to the kernel in one call, whatever the client's event loop
// is doing meanwhile.
struct BlockingPeer {
    Fd listener{::socket(AF_INET, SOCK_STREAM, 0)};
    int32_t port = 0;
    std::thread thread;

    // Sends bytes once a client has connected and sent a byte, then closes
    // the connection.
    explicit BlockingPeer(std::string bytes) {
        port = ntohs(listen_on_loopback(listener.get(), 1).sin_port);
        thread = std::thread([fd = listener.get(), bytes = std::move(bytes)] {
            Fd peer(::accept(fd, nullptr, nullptr));
            char go;
            if (peer.get() < 0 || ::recv(peer.get(), &go, 1, 0) != 1) return;
            size_t sent = 0;
            while (peer.get() >= 0 && sent < bytes.size()) {
                const ssize_t n = ::send(peer.get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) break;
                sent += static_cast<size_t>(n);
            }
        });
    }
    ~BlockingPeer() {
        ::shutdown(listener.get(), SHUT_RDWR);
        thread.join();
    }
};

// Counts the passes of the event loop: a timer without delay fires once in
// every pass in which nothing more urgent is pending.
struct LoopPasses {
    int count = 0;
    QTimer timer;
    LoopPasses() {
        QObject::connect(&timer, &QTimer::timeout, [this] { ++count; });
        timer.start(0);
    }
};

std::string pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    return s;
}

TEST(QtSocket, TenMegabytesSentAtOnceArriveInOrderInBoundedPiecesWithTheLoopRunningBetween) {
    const std::string bytes = pattern(10 * 1024 * 1024);
    BlockingPeer peer(bytes);
    Client client;
    std::vector<size_t> pieces;
    std::vector<int> passes_at;
    LoopPasses passes;
    client.ws.on_data_arrival([&](int32_t waiting) {
        const std::string piece = client.ws.get_data();
        EXPECT_EQ(static_cast<size_t>(waiting), piece.size());
        pieces.push_back(piece.size());
        passes_at.push_back(passes.count);
        client.read += piece;
    });
    client.ws.on_send_complete([] {});
    client.connect_to(peer.port);
    client.ws.send_data("x");
    ASSERT_TRUE(wait_until([&] { return client.read.size() >= bytes.size(); }, 60'000));
    ASSERT_TRUE(wait_until([&] { return client.ws.state() == kClosing; }));
    pump(50);
    EXPECT_TRUE(client.read == bytes) << "the bytes came out of order or changed";
    EXPECT_TRUE(client.events.empty()) << client.events.front();  // no Error, only arrivals
    EXPECT_GE(pieces.size(), bytes.size() / (64 * 1024));
    EXPECT_LE(*std::max_element(pieces.begin(), pieces.end()), size_t{64 * 1024});
    for (size_t i = 1; i < passes_at.size(); ++i)
        ASSERT_GT(passes_at[i], passes_at[i - 1])
            << "pieces " << i - 1 << " and " << i << " came in one pass";
}

TEST(QtSocket, ClosingInTheHandlerOfTheFirstPieceDropsTheRestOfALargeReply) {
    BlockingPeer peer(pattern(1024 * 1024));
    Client client;
    client.ws.on_data_arrival([&](int32_t) {
        client.events.push_back("DataArrival");
        client.read += client.ws.get_data();
        client.ws.close();
    });
    client.ws.on_send_complete([] {});
    client.connect_to(peer.port);
    client.ws.send_data("x");
    ASSERT_TRUE(wait_until([&] { return !client.events.empty(); }));
    pump(300);
    EXPECT_EQ(client.events, std::vector<std::string>{"DataArrival"});
    EXPECT_EQ(client.ws.state(), kClosed);
    EXPECT_LE(client.read.size(), size_t{64 * 1024});
    EXPECT_EQ(client.read, pattern(client.read.size()));
}

}  // namespace
}  // namespace monvia::net

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

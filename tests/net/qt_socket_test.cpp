// The Qt socket against real loopback connections: what it does beyond the
// seam's rules, which tests/seams checks on both backends.

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

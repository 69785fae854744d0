// The TCP client socket seam's rules (net/socket.h), checked on every
// backend: the scripted in-memory network and, in builds with Qt, the Qt
// socket against real loopback connections. A case that holds on one backend
// and not on the other fails here. What only one backend does is tested
// beside that backend.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "backend_name.h"
#include "net/sim_network.h"
#include "net/socket.h"
#include "runtime/failure.h"
#include "sim/clock.h"

#ifdef MONVIA_CONTRACT_QT
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include "net/qt_socket.h"
#endif

namespace monvia::net {
namespace {

constexpr const char* kLoopback = "127.0.0.1";

// The in-memory network: services in virtual time, the clock run by the test.
struct InMemoryBackend {
    static constexpr const char* kName = "InMemory";
    // The service end of the test's connection.
    class Server {
    public:
        Server(InMemoryBackend& be, SimService& service) : be_(be), service_(service) {}
        int32_t port() const { return service_.port(); }
        void send(const std::string& bytes) { peer().send(bytes); }
        void close() { peer().close(); }
        // Abortive close: the client's side sees a reset.
        void reset() { peer().reset(); }
        std::string received() const { return service_.received(); }

    private:
        SimPeer& peer() {
            be_.wait_until([this] { return service_.last_connection() != nullptr; });
            return *service_.last_connection();
        }
        InMemoryBackend& be_;
        SimService& service_;
    };

    sim::Clock clock;
    SimNetwork network{clock};
    int32_t next_port = 16501;

    std::unique_ptr<Socket> socket() { return network.create_socket(); }
    std::unique_ptr<Server> server() {
        return std::make_unique<Server>(*this, network.listen(kLoopback, next_port++));
    }
    // A port of a known host where nothing listens.
    int32_t closed_port() {
        network.add_host(kLoopback);
        return next_port++;
    }
    // A port whose handshake never completes.
    int32_t silent_port() {
        network.listen(kLoopback, next_port).never_accept();
        return next_port++;
    }
    void set_connect_timeout(Socket&, int ms) { network.set_connect_timeout(ms); }
    // Runs events until pred holds; false when none is left and it does not.
    bool wait_until(const std::function<bool()>& pred) {
        while (!pred())
            if (!clock.run_next()) return false;
        return true;
    }
    // Runs everything that is still to come.
    void settle() {
        while (clock.run_next()) {
        }
    }
};

#ifdef MONVIA_CONTRACT_QT
// Processes Qt events for ms milliseconds.
void pump(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
}

// Real sockets on the loopback interface.
struct QtBackend {
    static constexpr const char* kName = "Qt";
    // A loopback server that keeps its accepted connections.
    class Server {
    public:
        explicit Server(QtBackend& be) : be_(be), server_(std::make_unique<QTcpServer>()) {
            // Made once, in place: the connections below keep this object.
            EXPECT_TRUE(server_->listen(QHostAddress::LocalHost, 0));
            QObject::connect(server_.get(), &QTcpServer::newConnection, [this] {
                while (QTcpSocket* peer = server_->nextPendingConnection()) {
                    peers_.push_back(peer);
                    QObject::connect(peer, &QTcpSocket::readyRead, [this, peer] {
                        const QByteArray b = peer->readAll();
                        received_->append(b.constData(), static_cast<size_t>(b.size()));
                    });
                }
            });
        }
        int32_t port() const { return server_->serverPort(); }
        void send(const std::string& bytes) {
            peer()->write(bytes.data(), static_cast<qint64>(bytes.size()));
            peer()->flush();
        }
        void close() { peer()->disconnectFromHost(); }
        void reset() {
            linger l{1, 0};
            ::setsockopt(static_cast<int>(peer()->socketDescriptor()), SOL_SOCKET, SO_LINGER, &l, sizeof l);
            peer()->abort();
        }
        std::string received() const { return *received_; }

    private:
        QTcpSocket* peer() {
            be_.wait_until([this] { return !peers_.empty(); });
            return peers_.back();
        }
        QtBackend& be_;
        std::unique_ptr<QTcpServer> server_;
        std::vector<QTcpSocket*> peers_;  // children of the server
        std::shared_ptr<std::string> received_ = std::make_shared<std::string>();
    };

    // A listener whose accept queue is full: further handshakes never complete.
    struct FullListener {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        std::vector<int> fillers;
        int32_t port = 0;
        FullListener() {
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            socklen_t len = sizeof addr;
            EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), len), 0);
            EXPECT_EQ(::listen(fd, 0), 0);
            EXPECT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len), 0);
            port = ntohs(addr.sin_port);
            for (int i = 0; i < 3; ++i) {
                fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
                ::connect(fillers.back(), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
            }
            pump(100);
        }
        ~FullListener() {
            for (int f : fillers) ::close(f);
            ::close(fd);
        }
    };

    std::vector<std::unique_ptr<FullListener>> full;

    std::unique_ptr<Socket> socket() { return std::make_unique<QtSocket>(); }
    std::unique_ptr<Server> server() { return std::make_unique<Server>(*this); }
    // A port nothing listens on: bound once, then let go.
    int32_t closed_port() {
        QTcpServer probe;
        EXPECT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        const int32_t port = probe.serverPort();
        probe.close();
        return port;
    }
    int32_t silent_port() {
        full.push_back(std::make_unique<FullListener>());
        return full.back()->port;
    }
    void set_connect_timeout(Socket& s, int ms) { static_cast<QtSocket&>(s).set_connect_timeout(ms); }
    // A limit keeps a broken backend from hanging the test; it is never
    // asserted on.
    bool wait_until(const std::function<bool()>& pred) {
        QElapsedTimer clock;
        clock.start();
        while (!pred() && clock.elapsed() < 10'000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        return pred();
    }
    // Gives anything still to come the time to come.
    void settle() { pump(300); }
};
#endif

std::string all_bytes() {
    std::string s;
    for (int i = 0; i < 256; ++i) s.push_back(static_cast<char>(i));
    return s;
}

// A socket whose events are written down.
struct Client {
    std::unique_ptr<Socket> ws;
    std::vector<std::string> events;
    std::string read;  // what the DataArrival handler took
    bool read_on_arrival = true;

    explicit Client(std::unique_ptr<Socket> s) : ws(std::move(s)) {
        ws->on_connect([this] { events.push_back("Connect"); });
        ws->on_error([this](int32_t n, const std::string& d) {
            events.push_back("Error " + std::to_string(n) + " " + d);
        });
        ws->on_data_arrival([this](int32_t n) {
            events.push_back("DataArrival " + std::to_string(n));
            if (read_on_arrival) read += ws->get_data();
        });
        ws->on_send_complete([this] { events.push_back("SendComplete"); });
    }
};

template <class Backend>
class SocketContract : public ::testing::Test {
protected:
    Client client() { return Client(be_.socket()); }
    bool outcome(Client& c) {
        return be_.wait_until([&] { return !c.events.empty(); });
    }
    // Connects, starting with an empty list of events, and takes the Connect
    // event off it.
    void connect(Client& c, int32_t port) {
        c.events.clear();
        c.ws->connect(kLoopback, port);
        ASSERT_TRUE(outcome(c));
        ASSERT_EQ(c.events, std::vector<std::string>{"Connect"});
        c.events.clear();
    }
    void expect_bad_state(Socket& ws) {
        try {
            ws.send_data("C|1|100");
            ADD_FAILURE() << "send_data went through";
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), kErrBadState);
            EXPECT_EQ(f.description(),
                      "Wrong protocol or connection state for the requested transaction or request");
        }
    }

    Backend be_;
};

#ifdef MONVIA_CONTRACT_QT
using Backends = ::testing::Types<InMemoryBackend, QtBackend>;
#else
using Backends = ::testing::Types<InMemoryBackend>;
#endif

TYPED_TEST_SUITE(SocketContract, Backends, monvia::seams::BackendName);

// ---- Connecting ---------------------------------------------------------------

TYPED_TEST(SocketContract, EveryAttemptEndsInExactlyOneConnectOrErrorEvent) {
    auto server = this->be_.server();
    const int32_t closed_port = this->be_.closed_port();
    struct Case {
        const char* name;
        std::string host;
        int32_t port;
        std::string event;
        int16_t state;
    };
    const std::vector<Case> cases = {
        {"listening server", kLoopback, server->port(), "Connect", kConnected},
        {"nothing listening", kLoopback, closed_port, "Error 10061 Connection is forcefully rejected",
         kError},
        {"empty host", "", server->port(), "Error 11001 Authoritative answer: Host not found", kError},
        {"host name that cannot exist", "no such host", server->port(),
         "Error 11001 Authoritative answer: Host not found", kError},
        {"port 0", kLoopback, 0, "Error 10049 Address not available from the local machine", kError},
        {"port above 65535", kLoopback, 65536 + server->port(),
         "Error 10049 Address not available from the local machine", kError},
        {"negative port", kLoopback, -1, "Error 10049 Address not available from the local machine", kError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Client client = this->client();
        client.ws->connect(c.host, c.port);
        // The outcome comes from the event loop, never from inside connect().
        EXPECT_TRUE(client.events.empty());
        EXPECT_TRUE(client.ws->state() == kConnecting || client.ws->state() == kResolvingHost)
            << client.ws->state();
        ASSERT_TRUE(this->outcome(client));
        this->be_.settle();
        EXPECT_EQ(client.events, std::vector<std::string>{c.event});
        EXPECT_EQ(client.ws->state(), c.state);
    }
}

TYPED_TEST(SocketContract, HandshakeThatNeverCompletesEndsInTheTimeOutError) {
    const int32_t port = this->be_.silent_port();
    Client client = this->client();
    this->be_.set_connect_timeout(*client.ws, 300);
    client.ws->connect(kLoopback, port);
    ASSERT_TRUE(this->outcome(client));
    this->be_.settle();
    EXPECT_EQ(client.events, std::vector<std::string>{"Error 10060 Connection timed out"});
    EXPECT_EQ(client.ws->state(), kError);
}

TYPED_TEST(SocketContract, ConnectOnASocketThatIsNotClosedFails) {
    auto server = this->be_.server();
    for (bool wait_for_connect : {false, true}) {
        SCOPED_TRACE(wait_for_connect ? "connected" : "connecting");
        Client client = this->client();
        client.ws->connect(kLoopback, server->port());
        if (wait_for_connect) {
            ASSERT_TRUE(this->outcome(client));
        }
        try {
            client.ws->connect(kLoopback, server->port());
            ADD_FAILURE() << "a second connect went through";
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), kErrInvalidOperation);
            EXPECT_EQ(f.description(), "Invalid operation at current state");
        }
        this->be_.settle();
        EXPECT_EQ(client.events, std::vector<std::string>{"Connect"});
        EXPECT_EQ(client.ws->state(), kConnected);
    }
}

// ---- Sending and receiving ----------------------------------------------------

TYPED_TEST(SocketContract, SendDataWhenNotConnectedFailsAndSendsNothing) {
    using Server = typename TypeParam::Server;
    const int32_t silent = this->be_.silent_port();
    struct Case {
        const char* name;
        std::function<void(Client&, Server&)> bring;
        int16_t state;
    };
    const std::vector<Case> cases = {
        {"never connected", [](Client&, Server&) {}, kClosed},
        {"connecting", [&](Client& c, Server&) { c.ws->connect(kLoopback, silent); }, kConnecting},
        {"after an error",
         [&](Client& c, Server&) {
             c.ws->connect(kLoopback, 0);
             this->be_.wait_until([&] { return c.ws->state() == kError; });
         },
         kError},
        {"after the peer closed",
         [&](Client& c, Server& server) {
             this->connect(c, server.port());
             server.close();
             this->be_.wait_until([&] { return c.ws->state() != kConnected; });
         },
         kClosing},
        {"after close",
         [&](Client& c, Server& server) {
             this->connect(c, server.port());
             c.ws->close();
         },
         kClosed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto server = this->be_.server();
        Client client = this->client();
        c.bring(client, *server);
        EXPECT_EQ(client.ws->state(), c.state);
        this->expect_bad_state(*client.ws);
        this->be_.settle();
        EXPECT_EQ(server->received(), "");
    }
}

TYPED_TEST(SocketContract, BytesReachThePeerExactlyAndEachSendCompletes) {
    auto server = this->be_.server();
    Client client = this->client();
    this->connect(client, server->port());
    client.ws->send_data("C|1|100");
    client.ws->send_data(std::string("S|\0|7", 5));
    // SendComplete comes from the event loop.
    EXPECT_TRUE(client.events.empty());
    ASSERT_TRUE(
        this->be_.wait_until([&] { return server->received().size() >= 12 && client.events.size() >= 2; }));
    this->be_.settle();
    EXPECT_EQ(server->received(), std::string("C|1|100S|\0|7", 12));
    EXPECT_EQ(client.events, (std::vector<std::string>{"SendComplete", "SendComplete"}));
}

TYPED_TEST(SocketContract, EveryByteValueSurvivesBothWays) {
    auto server = this->be_.server();
    Client client = this->client();
    this->connect(client, server->port());
    const std::string bytes = all_bytes() + std::string(4, '\0') + all_bytes();
    client.ws->send_data(bytes);
    ASSERT_TRUE(this->be_.wait_until([&] { return server->received().size() >= bytes.size(); }));
    EXPECT_EQ(server->received(), bytes);

    server->send(bytes);
    ASSERT_TRUE(this->be_.wait_until([&] { return client.read.size() >= bytes.size(); }));
    EXPECT_EQ(client.read, bytes);
}

TYPED_TEST(SocketContract, ReplyInTwoPiecesGivesTwoArrivals) {
    auto server = this->be_.server();
    Client client = this->client();
    this->connect(client, server->port());
    server->send("OK|1|");
    ASSERT_TRUE(this->be_.wait_until([&] { return client.read == "OK|1|"; }));
    server->send("CREATED|100");
    ASSERT_TRUE(this->be_.wait_until([&] { return client.read.size() >= 16; }));
    EXPECT_EQ(client.read, "OK|1|CREATED|100");
    EXPECT_EQ(client.events, (std::vector<std::string>{"DataArrival 5", "DataArrival 11"}));
}

TYPED_TEST(SocketContract, DataArrivalCountsEverythingWaitingAndGetDataTakesIt) {
    auto server = this->be_.server();
    Client client = this->client();
    client.read_on_arrival = false;
    this->connect(client, server->port());
    server->send("abc");
    ASSERT_TRUE(this->be_.wait_until([&] { return client.events.size() >= 1; }));
    server->send("de");
    ASSERT_TRUE(this->be_.wait_until([&] { return client.events.size() >= 2; }));
    EXPECT_EQ(client.events, (std::vector<std::string>{"DataArrival 3", "DataArrival 5"}));
    EXPECT_EQ(client.ws->get_data(), "abcde");
    EXPECT_EQ(client.ws->get_data(), "");
    // Nothing is left to announce.
    this->be_.settle();
    EXPECT_EQ(client.events.size(), 2u);
}

// ---- The peer closing ---------------------------------------------------------

TYPED_TEST(SocketContract, PeerCloseLeavesState8WithoutAnEventAndKeepsWaitingBytes) {
    auto server = this->be_.server();
    Client client = this->client();
    client.read_on_arrival = false;
    this->connect(client, server->port());
    server->send("OK|1|CREATED|100");
    server->close();
    ASSERT_TRUE(this->be_.wait_until([&] { return client.ws->state() != kConnected; }));
    this->be_.settle();
    EXPECT_EQ(client.ws->state(), kClosing);
    EXPECT_EQ(client.events, std::vector<std::string>{"DataArrival 16"});
    EXPECT_EQ(client.ws->get_data(), "OK|1|CREATED|100");
    this->expect_bad_state(*client.ws);
    // Close, and the same socket connects again.
    client.ws->close();
    this->connect(client, server->port());
    EXPECT_EQ(client.ws->state(), kConnected);
}

TYPED_TEST(SocketContract, ResetRaisesError10054AndState9) {
    auto server = this->be_.server();
    Client client = this->client();
    this->connect(client, server->port());
    server->send("OK|");
    ASSERT_TRUE(this->be_.wait_until([&] { return client.read == "OK|"; }));
    server->reset();
    ASSERT_TRUE(this->be_.wait_until([&] { return client.events.size() >= 2; }));
    this->be_.settle();
    EXPECT_EQ(client.events,
              (std::vector<std::string>{"DataArrival 3", "Error 10054 Connection reset by remote side"}));
    EXPECT_EQ(client.ws->state(), kError);
}

// ---- Closing ------------------------------------------------------------------

TYPED_TEST(SocketContract, CloseIsHarmlessInEveryStateAndStopsEveryEventOfTheConnection) {
    using Server = typename TypeParam::Server;
    const int32_t silent = this->be_.silent_port();
    struct Case {
        const char* name;
        std::function<void(Client&, Server&)> before_close;
        std::function<void(Server&)> after_close;
    };
    const std::vector<Case> cases = {
        {"fresh socket", [](Client&, Server&) {}, [](Server&) {}},
        {"attempt under way", [](Client& c, Server& server) { c.ws->connect(kLoopback, server.port()); },
         [](Server&) {}},
        {"attempt that would time out",
         [&](Client& c, Server&) {
             this->be_.set_connect_timeout(*c.ws, 200);
             c.ws->connect(kLoopback, silent);
         },
         [](Server&) {}},
        {"attempt whose outcome is already queued", [](Client& c, Server&) { c.ws->connect(kLoopback, 0); },
         [](Server&) {}},
        {"open connection, the server sends and resets afterwards",
         [&](Client& c, Server& server) { this->connect(c, server.port()); },
         [](Server& server) {
             server.send("late");
             server.reset();
         }},
        {"after an error",
         [&](Client& c, Server&) {
             c.ws->connect(kLoopback, 0);
             this->be_.wait_until([&] { return !c.events.empty(); });
             c.events.clear();
         },
         [](Server&) {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto server = this->be_.server();
        Client client = this->client();
        c.before_close(client, *server);
        client.ws->close();
        client.ws->close();
        EXPECT_EQ(client.ws->state(), kClosed);
        c.after_close(*server);
        this->be_.settle();
        EXPECT_TRUE(client.events.empty()) << client.events.front();
        EXPECT_EQ(client.ws->get_data(), "");
    }
}

TYPED_TEST(SocketContract, BytesSentJustBeforeCloseStillReachThePeer) {
    auto server = this->be_.server();
    Client client = this->client();
    this->connect(client, server->port());
    client.ws->send_data("C|1|100");
    client.ws->close();
    ASSERT_TRUE(this->be_.wait_until([&] { return server->received().size() >= 7; }));
    EXPECT_EQ(server->received(), "C|1|100");
}

TYPED_TEST(SocketContract, DestroyingTheSocketWithEventsQueuedIsQuiet) {
    auto server = this->be_.server();
    int calls = 0;
    for (int32_t port : {server->port(), 0}) {
        // Port 0: the error is queued inside connect(); the server's port:
        // the handshake is in flight.
        auto ws = this->be_.socket();
        ws->on_connect([&] { ++calls; });
        ws->on_error([&](int32_t, const std::string&) { ++calls; });
        ws->connect(kLoopback, port);
        ws.reset();
    }
    this->be_.settle();
    EXPECT_EQ(calls, 0);
}

TYPED_TEST(SocketContract, HandlerMayCloseOrDestroyTheSocketInsideItsOwnEvent) {
    for (bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "destroy" : "close");
        auto server = this->be_.server();
        auto ws = this->be_.socket();
        Socket* raw = ws.get();
        std::string got;
        int arrivals = 0;
        ws->on_connect([] {});
        ws->on_data_arrival([&](int32_t) {
            ++arrivals;
            got += raw->get_data();
            if (destroy)
                ws.reset();
            else
                raw->close();
        });
        ws->connect(kLoopback, server->port());
        ASSERT_TRUE(this->be_.wait_until([&] { return ws->state() == kConnected; }));
        server->send("one");
        ASSERT_TRUE(this->be_.wait_until([&] { return arrivals > 0; }));
        server->send("two");
        this->be_.settle();
        EXPECT_EQ(got, "one");
        EXPECT_EQ(arrivals, 1);
        if (!destroy) {
            EXPECT_EQ(ws->state(), kClosed);
        }
    }
}

}  // namespace
}  // namespace monvia::net

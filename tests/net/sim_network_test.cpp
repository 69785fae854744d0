// The scripted network's own guarantees, which the client's behaviour tests
// rely on: scripting, virtual time, the trace, lifetimes. The socket seam's
// rules are checked on both backends in tests/seams.

#include "net/sim_network.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "runtime/failure.h"
#include "sim/clock.h"

namespace monvia::net {
namespace {

constexpr const char* kHost = "127.0.0.1";
constexpr int32_t kPort = 16501;

// A socket whose events are written down with the virtual time they came at.
struct Rig {
    sim::Clock loop;
    SimNetwork network{loop};
    std::unique_ptr<Socket> ws = network.create_socket();
    std::vector<std::string> events;
    std::string read;  // what the DataArrival handler took
    bool read_on_arrival = true;

    Rig() {
        ws->on_connect([this] { note("Connect"); });
        ws->on_error(
            [this](int32_t n, const std::string& d) { note("Error " + std::to_string(n) + " " + d); });
        ws->on_data_arrival([this](int32_t n) {
            note("DataArrival " + std::to_string(n));
            if (read_on_arrival) read += ws->get_data();
        });
        ws->on_send_complete([this] { note("SendComplete"); });
    }

    void note(const std::string& e) { events.push_back(std::to_string(loop.now_ms()) + " " + e); }

    // Delivers everything that is due, however far in virtual time.
    void run() {
        while (loop.run_next()) {
        }
    }
    // Delivers what is due up to virtual time t, and stops the clock there.
    void run(int64_t t) {
        while (loop.has_pending() && loop.next_due_ms() <= t) loop.run_next();
        loop.advance_to(t);
    }

    void connect_and_run(const std::string& host = kHost, int32_t port = kPort) {
        ws->connect(host, port);
        run();
    }
};

struct OutcomeCase {
    const char* name;
    std::function<void(SimNetwork&)> setup;
    std::string host;
    int32_t port;
    std::string event;  // the one event, with its virtual time
    int16_t state;
};

// The outcome of every kind of scripted service, at the virtual time it comes;
// the outcomes themselves are the seam's (tests/seams).
TEST(SimNetwork, OutcomesComeAfterTheScriptedDelayInVirtualTime) {
    const std::vector<OutcomeCase> cases = {
        {"accepting service", [](SimNetwork& n) { n.listen(kHost, kPort); }, kHost, kPort, "1 Connect",
         kConnected},
        {"slow handshake", [](SimNetwork& n) { n.listen(kHost, kPort).accept_after(250); }, kHost, kPort,
         "250 Connect", kConnected},
        {"refusing service", [](SimNetwork& n) { n.listen(kHost, kPort).refuse(); }, kHost, kPort,
         "1 Error 10061 Connection is forcefully rejected", kError},
        {"known host, nothing listening", [](SimNetwork& n) { n.add_host(kHost); }, kHost, kPort,
         "1 Error 10061 Connection is forcefully rejected", kError},
        {"other port of a known host", [](SimNetwork& n) { n.listen(kHost, kPort); }, kHost, kPort + 1,
         "1 Error 10061 Connection is forcefully rejected", kError},
        {"unknown host", [](SimNetwork& n) { n.listen(kHost, kPort); }, "ticket.example", kPort,
         "1 Error 11001 Authoritative answer: Host not found", kError},
        {"handshake never completes", [](SimNetwork& n) { n.listen(kHost, kPort).never_accept(); }, kHost,
         kPort, "20000 Error 10060 Connection timed out", kError},
        {"handshake slower than the time-out",
         [](SimNetwork& n) { n.listen(kHost, kPort).accept_after(25'000); }, kHost, kPort,
         "20000 Error 10060 Connection timed out", kError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        c.setup(rig.network);
        rig.ws->connect(c.host, c.port);
        // Nothing happens inside the call itself.
        EXPECT_TRUE(rig.events.empty());
        EXPECT_EQ(rig.ws->state(), kConnecting);
        rig.run();
        EXPECT_EQ(rig.events, std::vector<std::string>{c.event});
        EXPECT_EQ(rig.ws->state(), c.state);
    }
}

TEST(SimNetwork, ConnectDelayAndTimeOutCanBeChanged) {
    Rig rig;
    rig.network.set_connect_delay(40);
    rig.network.set_connect_timeout(500);
    rig.network.listen(kHost, kPort).never_accept();
    rig.network.listen(kHost, 1);
    rig.connect_and_run();
    rig.ws->close();
    rig.connect_and_run(kHost, 1);
    EXPECT_EQ(rig.events, (std::vector<std::string>{"500 Error 10060 Connection timed out", "540 Connect"}));
}

TEST(SimNetwork, BytesReachTheServiceExactlyAndEachSendCompletes) {
    Rig rig;
    auto& service = rig.network.listen(kHost, kPort);
    rig.connect_and_run();
    rig.ws->send_data("C|1|100");
    rig.ws->send_data(std::string("S|\0|7", 5));
    rig.run();
    ASSERT_EQ(service.connections().size(), 1u);
    const SimPeer& peer = *service.connections()[0];
    EXPECT_EQ(peer.received(), std::string("C|1|100S|\0|7", 12));
    ASSERT_EQ(peer.pieces().size(), 2u);
    EXPECT_EQ(peer.pieces()[0].bytes, "C|1|100");
    EXPECT_EQ(peer.pieces()[1].bytes, std::string("S|\0|7", 5));
    EXPECT_EQ(rig.events, (std::vector<std::string>{"1 Connect", "1 SendComplete", "1 SendComplete"}));
}

TEST(SimNetwork, PiecesArriveAfterTheirDelayInStreamOrder) {
    Rig rig;
    rig.network.listen(kHost, kPort).on_receive([](SimPeer& peer, const std::string&) {
        peer.send("OK|1|", 100);
        peer.send("CREATED|100", 0);  // cannot overtake the first piece
        peer.send("\r\nmore", 400);
    });
    rig.connect_and_run();
    rig.ws->send_data("C|1|100");
    rig.run();
    EXPECT_EQ(rig.events, (std::vector<std::string>{"1 Connect", "1 SendComplete", "101 DataArrival 5",
                                                    "101 DataArrival 11", "401 DataArrival 6"}));
    EXPECT_EQ(rig.read, "OK|1|CREATED|100\r\nmore");
}

TEST(SimNetwork, ScriptedPeerCloseTakesEffectInStreamOrder) {
    Rig rig;
    rig.read_on_arrival = false;
    auto& service = rig.network.listen(kHost, kPort);
    service.on_receive([](SimPeer& peer, const std::string&) {
        peer.send("OK|1|CREATED|100");
        peer.close(50);
        peer.send("after close");  // dropped: this end has closed
    });
    rig.connect_and_run();
    rig.ws->send_data("C|1|100");
    rig.run(30);
    EXPECT_EQ(rig.ws->state(), kConnected);
    rig.run();
    EXPECT_EQ(rig.ws->state(), kClosing);
    EXPECT_EQ(rig.events, (std::vector<std::string>{"1 Connect", "1 SendComplete", "1 DataArrival 16"}));
    EXPECT_EQ(rig.ws->get_data(), "OK|1|CREATED|100");
    EXPECT_TRUE(service.last_connection()->closed_by_service());
    EXPECT_FALSE(service.last_connection()->closed_by_client());
    // A new attempt needs close() first, as on a real socket.
    rig.ws->close();
    EXPECT_TRUE(service.last_connection()->closed_by_client());
    rig.connect_and_run();
    EXPECT_EQ(rig.ws->state(), kConnected);
    EXPECT_EQ(service.connections().size(), 2u);
}

TEST(SimNetwork, ScriptedResetFollowsTheDataSentBeforeIt) {
    Rig rig;
    rig.network.listen(kHost, kPort).on_receive([](SimPeer& peer, const std::string&) {
        peer.send("OK|");
        peer.reset(5);
    });
    rig.connect_and_run();
    rig.ws->send_data("S|1");
    rig.run();
    EXPECT_EQ(rig.events, (std::vector<std::string>{"1 Connect", "1 SendComplete", "1 DataArrival 3",
                                                    "6 Error 10054 Connection reset by remote side"}));
    EXPECT_EQ(rig.ws->state(), kError);
    EXPECT_EQ(rig.read, "OK|");
}

TEST(SimNetwork, CloseLeavesNothingQueuedOnTheClock) {
    struct Case {
        const char* name;
        std::function<void(Rig&)> before_close;
    };
    const std::vector<Case> cases = {
        {"fresh socket", [](Rig&) {}},
        {"attempt under way", [](Rig& r) { r.ws->connect(kHost, kPort); }},
        {"attempt that would time out",
         [](Rig& r) {
             r.network.listen(kHost, 2).never_accept();
             r.ws->connect(kHost, 2);
         }},
        {"reply on its way",
         [](Rig& r) {
             r.network.service(kHost, kPort)->on_accept([](SimPeer& p) {
                 p.send("late", 100);
                 p.reset(200);
             });
             r.ws->connect(kHost, kPort);
             r.run(1);
             r.events.clear();
             r.ws->send_data("x");
         }},
        {"after an error",
         [](Rig& r) {
             r.connect_and_run(kHost, 3);
             r.events.clear();
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.network.listen(kHost, kPort);
        c.before_close(rig);
        rig.ws->close();
        rig.ws->close();
        EXPECT_EQ(rig.ws->state(), kClosed);
        rig.run();
        EXPECT_TRUE(rig.events.empty()) << rig.events.front();
        EXPECT_EQ(rig.ws->get_data(), "");
        // Nothing is queued that could still fire later.
        EXPECT_FALSE(rig.loop.has_pending());
    }
}

// The service's record of a connection follows the client's close: bytes
// sent just before it still arrive, and the connection no longer counts as
// open, so a scenario can tell a closed connection from a live one.
TEST(SimNetwork, AConnectionTheClientClosedIsNoLongerOpen) {
    Rig rig;
    auto& service = rig.network.listen(kHost, kPort);
    rig.connect_and_run();
    ASSERT_TRUE(service.last_connection()->open());
    rig.ws->send_data("C|1|100");
    rig.ws->close();
    rig.run();
    EXPECT_EQ(service.received(), "C|1|100");
    EXPECT_TRUE(service.last_connection()->closed_by_client());
    EXPECT_FALSE(service.last_connection()->closed_by_service());
    EXPECT_FALSE(service.last_connection()->open());
}

TEST(SimNetwork, TraceListsCallsAndEventsInOrder) {
    Rig rig;
    std::vector<std::string> trace;
    rig.network.on_trace([&](const std::string& line) { trace.push_back(line); });
    rig.network.listen(kHost, kPort).on_receive([](SimPeer& peer, const std::string& bytes) {
        peer.send("OK|" + bytes.substr(2));
        peer.close();
    });
    rig.ws->close();
    rig.ws->connect(kHost, kPort);
    rig.run();
    rig.ws->send_data("S|7");
    rig.run();
    EXPECT_EQ(trace,
              (std::vector<std::string>{"close", "connect 127.0.0.1 16501", "event Connect", "send S|7",
                                        "peer received S|7", "event SendComplete", "peer send OK|7",
                                        "event DataArrival 4", "get OK|7", "peer close"}));
}

TEST(SimNetwork, SocketAndNetworkMayGoInEitherOrder) {
    {
        // The socket goes first, with events still queued.
        sim::Clock loop;
        SimNetwork network(loop);
        auto& service = network.listen(kHost, kPort);
        service.on_accept([](SimPeer& p) { p.send("x", 100); });
        auto ws = network.create_socket();
        bool fired = false;
        ws->on_data_arrival([&](int32_t) { fired = true; });
        ws->connect(kHost, kPort);
        while (service.connections().empty() && loop.run_next()) {
        }
        ws.reset();
        while (loop.run_next()) {
        }
        EXPECT_FALSE(fired);
        EXPECT_TRUE(service.last_connection()->closed_by_client());
    }
    {
        // The network goes first: the socket still works, its services are gone.
        sim::Clock loop;
        std::unique_ptr<Socket> ws;
        int received = 0;
        {
            SimNetwork network(loop);
            network.listen(kHost, kPort).on_receive([&](SimPeer&, const std::string&) { ++received; });
            ws = network.create_socket();
            ws->connect(kHost, kPort);
            while (loop.run_next()) {
            }
            ASSERT_EQ(ws->state(), kConnected);
        }
        ws->send_data("C|1|100");
        while (loop.run_next()) {
        }
        EXPECT_EQ(received, 0);
        ws->close();
        EXPECT_EQ(ws->state(), kClosed);
    }
}

}  // namespace
}  // namespace monvia::net

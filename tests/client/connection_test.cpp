// Opening, reusing and reopening the connection, and the socket's errors.

#include <gtest/gtest.h>

#include "sim_rig.h"
#include "ui/guard.h"

namespace monvia::client::testing {
namespace {

// The description the socket gave with its last Error event.
std::string last_error_line(const std::vector<std::string>& trace) {
    for (auto it = trace.rbegin(); it != trace.rend(); ++it)
        if (it->starts_with("event Error ")) return it->substr(std::string("event Error ").size());
    return {};
}

TEST(Connection, AnOpenConnectionIsReusedWhateverHostAndPortSay) {
    SimRig rig;
    rig.tick_keep();
    rig.echo_ok();
    rig.send_and_settle();
    ASSERT_EQ(rig.test->WS().state(), net::kConnected);

    rig.type("txtIP", "elsewhere.invalid");
    rig.type("txtPort", "1");
    rig.clear_trace();
    rig.press_send();
    const int64_t tick_at = rig.tk.now_ms() + 1;
    rig.tk.run_until_idle();
    // No Close, no Connect, no wait: the request goes out in the first tick.
    EXPECT_EQ(rig.client_calls(), std::vector<std::string>{"send C|1|100"});
    ASSERT_EQ(rig.service().connections().size(), 1u);
    const auto& pieces = rig.service().last_connection()->pieces();
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[1].at_ms, tick_at);
    EXPECT_EQ(rig.text("txtRes"), "--> C|1|100\r\n<-- OK C|1|100");
}

TEST(Connection, AConnectionTheServiceClosedIsReopenedOnTheNextRequest) {
    SimRig rig;
    rig.tick_keep();
    rig.service().on_receive([](net::SimPeer& peer, const std::string& bytes) {
        peer.send("OK " + bytes);
        peer.close(10);
    });
    rig.send_and_settle();
    EXPECT_EQ(rig.test->WS().state(), net::kClosing);  // not noticed yet
    rig.clear_trace();
    rig.send_and_settle();
    EXPECT_EQ(rig.client_calls(),
              (std::vector<std::string>{"close", "connect 127.0.0.1 16501", "send C|1|100"}));
    EXPECT_EQ(rig.service().connections().size(), 2u);
}

TEST(Connection, APortThatIsNotANumberConnectsToPortZero) {
    struct Case {
        std::string port;
        std::string connect_line;
        bool connects;
    };
    const std::vector<Case> cases = {
        {"", "connect 127.0.0.1 0", false},
        {"abc", "connect 127.0.0.1 0", false},
        {"   ", "connect 127.0.0.1 0", false},
        {"99999999999", "connect 127.0.0.1 0", false},
        {" 16501 ", "connect 127.0.0.1 16501", true},
        {"16500.5", "connect 127.0.0.1 16500", false},  // half to even, nothing listens there
        {"16501.5", "connect 127.0.0.1 16502", false},
        {"16501.4", "connect 127.0.0.1 16501", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.port);
        SimRig rig;
        rig.type("txtPort", c.port);
        rig.send_and_settle();
        const auto calls = rig.client_calls();
        ASSERT_GE(calls.size(), 2u);
        EXPECT_EQ(calls[1], c.connect_line);
        EXPECT_EQ(rig.requests().size(), c.connects ? 1u : 0u);
        EXPECT_TRUE(rig.tk.boxes().empty());
        EXPECT_TRUE(rig.frame_enabled());
        EXPECT_EQ(rig.text("txtPort"), c.port);
    }
}

TEST(Connection, AFailedAttemptLeavesOnlyTheErrorInTheTranscript) {
    struct Case {
        const char* what;
        std::string host;
        std::string port;
        int32_t number;
        int64_t at_least_ms;  // when the verdict came
    };
    const std::vector<Case> cases = {
        {"nothing listens on the port", "127.0.0.1", "16502", 10061, 1},
        {"the host is unknown", "no-such-host.invalid", "16501", 11001, 1},
        {"the host field is empty", "", "16501", 11001, 1},
        {"port zero", "127.0.0.1", "0", 10049, 1},
        {"the service never answers the handshake", "silent.test", "16501", 10060, 20'000},
        {"the service refuses", "refusing.test", "16501", 10061, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SimRig rig;
        rig.network.listen("silent.test", 16501).never_accept();
        rig.network.listen("refusing.test", 16501).refuse();
        rig.control("txtRes").set_text("--> C|1|100\r\n<-- an earlier reply");
        rig.type("txtIP", c.host);
        rig.type("txtPort", c.port);
        rig.tick_automatic();
        rig.type("txtQty", "5");
        rig.send_and_settle();

        const std::string error = last_error_line(rig.trace);
        const std::string number = std::to_string(c.number);
        ASSERT_TRUE(error.starts_with(number + " ")) << error;
        const std::string description = error.substr(number.size() + 1);
        EXPECT_FALSE(description.empty());
        EXPECT_EQ(rig.text("txtRes"), number + " - " + description);
        EXPECT_GE(rig.tk.now_ms(), c.at_least_ms);
        EXPECT_EQ(rig.test->ConnectOutcome, kOutcomeError);
        // Nothing went out; the series is over with the request fields usable
        // and holding the request that was not sent.
        EXPECT_TRUE(rig.requests().empty());
        EXPECT_TRUE(rig.frame_enabled());
        EXPECT_FALSE(rig.timer_armed());
        EXPECT_EQ(rig.text("txtTicket"), "1");
        EXPECT_EQ(rig.text("txtQty"), "5");
        EXPECT_TRUE(rig.tk.boxes().empty());
        EXPECT_FALSE(rig.tk.program_ended());
    }
}

TEST(Connection, AnErrorOnAnOpenConnectionIsShownAndTheNextRequestReconnects) {
    SimRig rig;
    rig.tick_keep();
    rig.service().on_receive([&rig](net::SimPeer& peer, const std::string& bytes) {
        peer.send("OK " + bytes);
        if (rig.service().connections().size() == 1) peer.reset(100);
    });
    rig.send_and_settle();
    EXPECT_EQ(rig.text("txtRes").substr(0, 8), "10054 - ");
    EXPECT_EQ(rig.test->ConnectOutcome, kOutcomeError);
    // The error handler itself does not close the socket.
    EXPECT_EQ(rig.trace.back().substr(0, 18), "event Error 10054 ");
    EXPECT_EQ(rig.test->WS().state(), net::kError);

    rig.clear_trace();
    rig.send_and_settle();
    EXPECT_EQ(rig.client_calls(),
              (std::vector<std::string>{"close", "connect 127.0.0.1 16501", "send C|1|100"}));
    EXPECT_EQ(rig.text("txtRes"), "--> C|1|100\r\n<-- OK C|1|100");
}

TEST(Connection, ClosingTheWindowDuringTheWaitEndsTheProgramPromptly) {
    SimRig rig;
    rig.service().never_accept();
    rig.press_send();
    rig.tk.clock().post(300, [&rig] { rig.window->close(); });
    rig.tk.run_until_idle();
    EXPECT_TRUE(rig.tk.program_ended());
    EXPECT_EQ(rig.tk.now_ms(), 300);  // the wait did not go on to the time-out
    EXPECT_TRUE(rig.tk.boxes().empty());
    rig.clear_trace();
    rig.test.reset();
    EXPECT_EQ(rig.trace, std::vector<std::string>{"close"});
}

TEST(Connection, AFailingConnectCallEndsTheProgramThroughTheReport) {
    SimRig rig(/*faulty=*/true);
    const Failure failure(10014, "The argument is invalid");
    rig.faults->fail_connect = failure;
    rig.send_and_settle();
    ASSERT_EQ(rig.tk.boxes().size(), 1u);
    EXPECT_EQ(rig.tk.boxes()[0].title, "VeluntTest");
    EXPECT_EQ(rig.tk.boxes()[0].text, unhandled_failure_text(failure));
    EXPECT_TRUE(rig.tk.program_ended());
    EXPECT_FALSE(rig.frame_enabled());  // the step stopped at the failing call
}

TEST(Connection, AFailingGetDataEndsTheProgramThroughTheReport) {
    SimRig rig(/*faulty=*/true);
    rig.echo_ok();
    rig.faults->fail_get = Failure(40006, "Wrong protocol or connection state");
    rig.send_and_settle();
    ASSERT_EQ(rig.tk.boxes().size(), 1u);
    EXPECT_EQ(rig.tk.boxes()[0].title, "VeluntTest");
    EXPECT_TRUE(rig.tk.program_ended());
    EXPECT_EQ(rig.text("txtRes"), "--> C|1|100");
}

TEST(Connection, AFailingSendIsIgnoredAndTheLineStillShown) {
    SimRig rig(/*faulty=*/true);
    rig.faults->fail_send = Failure(40006, "Wrong protocol or connection state");
    rig.tick_automatic();
    rig.tick_keep();
    rig.type("txtQty", "2");
    rig.send_and_settle();
    EXPECT_TRUE(rig.tk.boxes().empty());
    EXPECT_TRUE(rig.requests().empty());
    EXPECT_EQ(rig.text("txtRes"), "--> C|2|100");
    EXPECT_EQ(rig.text("txtTicket"), "2");
    EXPECT_EQ(rig.text("txtQty"), "1");
    EXPECT_TRUE(rig.frame_enabled());
}

}  // namespace
}  // namespace monvia::client::testing

// Send, Stop and the timer-driven series of requests.

#include <gtest/gtest.h>

#include "sim_rig.h"

namespace monvia::client::testing {
namespace {

TEST(SendCycle, TheClickOnlyArmsTheTimerAndLocksTheFields) {
    SimRig rig;
    rig.network.set_connect_delay(50);
    rig.press_send();
    EXPECT_TRUE(rig.trace.empty());  // no connection, nothing sent inside the click
    EXPECT_TRUE(rig.timer_armed());
    EXPECT_EQ(rig.timer_interval(), 1);
    EXPECT_FALSE(rig.frame_enabled());
    // Looked at from inside the first step, while it waits for the socket.
    bool looked = false;
    rig.tk.clock().post(10, [&] {
        looked = true;
        EXPECT_EQ(rig.client_calls(), (std::vector<std::string>{"close", "connect 127.0.0.1 16501"}));
        EXPECT_FALSE(rig.timer_armed());  // off while connecting
        EXPECT_FALSE(rig.frame_enabled());
    });
    rig.tk.run_until_idle();
    EXPECT_TRUE(looked);
    EXPECT_EQ(rig.requests(), std::vector<std::string>{"C|1|100"});
    EXPECT_TRUE(rig.frame_enabled());
}

TEST(SendCycle, AutomaticSeriesCountsDown) {
    struct Case {
        const char* what;
        bool create;
        std::string ticket;
        std::string quantity;
        std::vector<std::string> lines;
        std::string ticket_after;
        std::string quantity_after;
    };
    const std::vector<Case> cases = {
        {"Create 1 to 3", true, "1", "3", {"C|1|100", "C|2|100", "C|3|100"}, "3", "1"},
        {"Check state 7 twice", false, "7", "2", {"S|7", "S|7"}, "7", "1"},
        {"quantity 1", true, "1", "1", {"C|1|100"}, "1", "1"},
        {"quantity 0", true, "1", "0", {"C|1|100"}, "1", "0"},
        {"quantity -1", true, "1", "-1", {"C|1|100"}, "1", "-1"},
        {"quantity above 16 bits", true, "1", "32768", {"C|1|100"}, "1", "32768"},
        {"quantity 2.5 rounds to 2", true, "1", "2.5", {"C|1|100", "C|2|100"}, "2", "1"},
        {"quantity not a number", true, "1", "many", {"C|1|100"}, "1", "many"},
        {"a ticket that is not a number starts again at 1",
         true,
         "x",
         "3",
         {"C|0|100", "C|1|100", "C|2|100"},
         "2",
         "1"},
        {"negative tickets count up through zero",
         true,
         "-1",
         "3",
         {"C|-1|100", "C|0|100", "C|1|100"},
         "1",
         "1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SimRig rig;
        if (!c.create) rig.choose_check_state();
        rig.tick_automatic();
        rig.type("txtTicket", c.ticket);
        rig.type("txtQty", c.quantity);
        rig.send_and_settle();
        EXPECT_EQ(rig.requests(), c.lines);
        EXPECT_EQ(rig.text("txtTicket"), c.ticket_after);
        EXPECT_EQ(rig.text("txtQty"), c.quantity_after);
        EXPECT_TRUE(rig.frame_enabled());
        EXPECT_FALSE(rig.timer_armed());
        EXPECT_TRUE(rig.tk.boxes().empty());
    }
}

TEST(SendCycle, WithoutAutomaticOneRequestWhateverTheQuantity) {
    SimRig rig;
    rig.type("txtQty", "100");
    rig.send_and_settle();
    EXPECT_EQ(rig.requests(), std::vector<std::string>{"C|1|100"});
    EXPECT_EQ(rig.text("txtTicket"), "1");
    EXPECT_EQ(rig.text("txtQty"), "100");
}

TEST(SendCycle, RequestsFollowOneSecondAfterEachStep) {
    struct Case {
        bool keep;
        int64_t connect_delay;
        int64_t gap;  // from one request to the next
    };
    for (const Case c : {Case{false, 1, 1001}, Case{false, 40, 1040}, Case{true, 40, 1000}}) {
        SCOPED_TRACE(c.connect_delay);
        SimRig rig;
        rig.echo_ok();
        rig.network.set_connect_delay(c.connect_delay);
        if (c.keep) rig.tick_keep();
        rig.tick_automatic();
        rig.type("txtQty", "4");
        rig.send_and_settle();
        const auto times = rig.request_times();
        ASSERT_EQ(times.size(), 4u);
        EXPECT_EQ(times[0], 1 + c.connect_delay);  // first tick 1 ms after the click
        for (size_t i = 1; i < times.size(); ++i) EXPECT_EQ(times[i] - times[i - 1], c.gap) << i;
    }
}

TEST(SendCycle, FieldsAreLockedWhileTheSeriesRuns) {
    SimRig rig;
    rig.tick_automatic();
    rig.type("txtQty", "2");
    rig.press_send();
    rig.tk.advance(500);  // first request sent, waiting for the next step
    ASSERT_EQ(rig.requests().size(), 1u);
    EXPECT_TRUE(rig.timer_armed());
    EXPECT_EQ(rig.timer_interval(), 1000);
    EXPECT_FALSE(rig.frame_enabled());
    EXPECT_FALSE(rig.window->type("txtTicket", "9"));
    EXPECT_FALSE(rig.window->type("txtAmount", "9"));
    EXPECT_FALSE(rig.window->type("txtQty", "9"));
    EXPECT_FALSE(rig.window->click("optChk"));
    EXPECT_FALSE(rig.window->click("chkAuto"));
    EXPECT_FALSE(rig.window->click("cmdSend"));
    // Host, port, Keep Conection and Stop stay usable.
    EXPECT_TRUE(rig.window->type("txtIP", "127.0.0.1"));
    EXPECT_TRUE(rig.window->type("txtPort", "16501"));
    EXPECT_TRUE(rig.window->click("chkKeep"));
    EXPECT_TRUE(rig.window->click("chkKeep"));
    rig.tk.run_until_idle();
    EXPECT_EQ(rig.requests().size(), 2u);
    EXPECT_TRUE(rig.window->type("txtTicket", "9"));
}

TEST(SendCycle, StopWhileWaitingSendsExactlyOneMore) {
    SimRig rig;
    rig.tick_automatic();
    rig.type("txtQty", "5");
    rig.press_send();
    rig.tk.advance(500);
    ASSERT_EQ(rig.requests().size(), 1u);
    rig.click("cmdStop");
    EXPECT_EQ(rig.text("txtQty"), "1");
    EXPECT_TRUE(rig.timer_armed());  // Stop touches nothing else
    EXPECT_FALSE(rig.frame_enabled());
    rig.tk.run_until_idle();
    EXPECT_EQ(rig.requests(), (std::vector<std::string>{"C|1|100", "C|2|100"}));
    EXPECT_EQ(rig.text("txtTicket"), "2");
    EXPECT_EQ(rig.text("txtQty"), "1");
    EXPECT_TRUE(rig.frame_enabled());
}

TEST(SendCycle, StopWhileConnectingMakesThatRequestTheLast) {
    SimRig rig;
    rig.service().accept_after(500);
    rig.tick_automatic();
    rig.type("txtQty", "5");
    rig.press_send();
    rig.tk.clock().post(100, [&rig] {
        ASSERT_TRUE(rig.client_calls().back().starts_with("connect "));
        ASSERT_TRUE(rig.requests().empty());
        EXPECT_FALSE(rig.window->click("cmdSend"));
        rig.click("cmdStop");
    });
    rig.tk.run_until_idle();
    EXPECT_EQ(rig.requests(), std::vector<std::string>{"C|1|100"});
    EXPECT_EQ(rig.text("txtTicket"), "1");
    EXPECT_EQ(rig.text("txtQty"), "1");
    EXPECT_TRUE(rig.frame_enabled());
}

TEST(SendCycle, StopWhenIdleOnlySetsTheQuantity) {
    SimRig rig;
    rig.click("cmdStop");
    EXPECT_EQ(rig.text("txtQty"), "1");
    EXPECT_FALSE(rig.timer_armed());
    EXPECT_TRUE(rig.frame_enabled());
    rig.tk.run_until_idle();
    EXPECT_TRUE(rig.trace.empty());
}

TEST(SendCycle, RefusedAtTheThirdStepOfFive) {
    SimRig rig;
    rig.service().on_receive([&rig](net::SimPeer& peer, const std::string&) {
        peer.send("OK");
        if (rig.service().connections().size() == 2) rig.service().refuse();
    });
    rig.tick_automatic();
    rig.type("txtQty", "5");
    rig.send_and_settle();
    EXPECT_EQ(rig.requests(), (std::vector<std::string>{"C|1|100", "C|2|100"}));
    EXPECT_EQ(rig.text("txtTicket"), "3");
    EXPECT_EQ(rig.text("txtQty"), "3");
    EXPECT_TRUE(rig.frame_enabled());
    EXPECT_FALSE(rig.timer_armed());
    EXPECT_TRUE(rig.text("txtRes").starts_with("10061 - "));

    // Once the service accepts again, the next Send takes the series up
    // where it stopped.
    rig.echo_ok();
    rig.service().accept_after(1);
    rig.send_and_settle();
    EXPECT_EQ(rig.requests(),
              (std::vector<std::string>{"C|1|100", "C|2|100", "C|3|100", "C|4|100", "C|5|100"}));
    EXPECT_EQ(rig.text("txtTicket"), "5");
    EXPECT_EQ(rig.text("txtQty"), "1");
}

TEST(SendCycle, TheTicketLimitEndsTheSeries) {
    SimRig rig;
    rig.tick_automatic();
    rig.type("txtTicket", "2147483647");
    rig.type("txtQty", "3");
    rig.send_and_settle();
    EXPECT_EQ(rig.requests(), std::vector<std::string>{"C|2147483647|100"});
    EXPECT_EQ(rig.text("txtTicket"), "2147483647");
    EXPECT_EQ(rig.text("txtQty"), "2");
    EXPECT_TRUE(rig.frame_enabled());
    EXPECT_FALSE(rig.timer_armed());
    EXPECT_TRUE(rig.tk.boxes().empty());
    EXPECT_FALSE(rig.tk.program_ended());
}

TEST(SendCycle, CheckStateAtTheTicketLimitGoesOn) {
    SimRig rig;
    rig.choose_check_state();
    rig.tick_automatic();
    rig.type("txtTicket", "2147483647");
    rig.type("txtQty", "2");
    rig.send_and_settle();
    EXPECT_EQ(rig.requests(), (std::vector<std::string>{"S|2147483647", "S|2147483647"}));
    EXPECT_EQ(rig.text("txtQty"), "1");
    EXPECT_TRUE(rig.frame_enabled());
}

}  // namespace
}  // namespace monvia::client::testing

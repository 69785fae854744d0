// The request line on the wire and the transcript of requests and replies.

#include <gtest/gtest.h>

#include "sim_rig.h"

namespace monvia::client::testing {
namespace {

struct LineCase {
    bool create;
    std::string ticket;
    std::string amount;
    std::string decimal_separator;
    std::string line;
};

TEST(RequestLine, BytesOnTheWire) {
    const std::vector<LineCase> cases = {
        {true, "1", "100", ".", "C|1|100"},
        {false, "1", "100", ".", "S|1"},
        {false, "42", "100", ".", "S|42"},
        {false, "42", "not a number", ".", "S|42"},  // the amount is not part of it
        {true, "abc", "100", ".", "C|0|100"},
        {true, "1", "", ".", "C|1|0"},
        {false, "-5", "100", ".", "S|-5"},
        {true, "  17  ", "0100", ".", "C|17|100"},
        {true, "007", "+25", ".", "C|7|25"},
        {true, "2147483647", "-2147483648", ".", "C|2147483647|-2147483648"},
        {true, "2147483648", "100", ".", "C|0|100"},  // out of range counts as 0
        {true, "2.5", "3.5", ".", "C|2|4"},           // halves to even
        {true, "12,5", "13,5", ",", "C|12|14"},       // the user's decimal separator
        {true, "12.5", "100", ",", "C|0|100"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ticket + " / " + c.amount);
        SimRig rig;
        rig.tk.set_decimal_separator(c.decimal_separator);
        if (!c.create) rig.choose_check_state();
        rig.type("txtTicket", c.ticket);
        rig.type("txtAmount", c.amount);
        rig.send_and_settle();
        // One send, exactly the line: nothing appended, nothing after it.
        EXPECT_EQ(rig.requests(), std::vector<std::string>{c.line});
        EXPECT_EQ(rig.service().received(), c.line);
        EXPECT_EQ(rig.text("txtRes"), "--> " + c.line);
        // The fields keep what was typed.
        EXPECT_EQ(rig.text("txtTicket"), c.ticket);
        EXPECT_EQ(rig.text("txtAmount"), c.amount);
    }
}

TEST(RequestLine, OneExchangeInOrder) {
    SimRig rig;
    rig.echo_ok();
    rig.send_and_settle();
    // Close comes first whatever the state; the transcript line is written
    // before any event can be delivered.
    const std::vector<std::string> expected = {
        "close",
        "connect 127.0.0.1 16501",
        "event Connect",
        "send C|1|100",
        "peer received C|1|100",
        "event SendComplete",
        "peer send OK C|1|100",
        "event DataArrival 10",
        "get OK C|1|100",
        "close",
    };
    EXPECT_EQ(rig.trace, expected);
    EXPECT_EQ(rig.text("txtRes"), "--> C|1|100\r\n<-- OK C|1|100");
    EXPECT_EQ(rig.test->WS().state(), net::kClosed);
    EXPECT_TRUE(rig.service().last_connection()->closed_by_client());
}

TEST(RequestLine, NotSentWhenTheSocketIsNotConnected) {
    SimRig rig;
    rig.control("txtRes").set_text("earlier");
    rig.test->SendRequest();
    rig.tk.run_until_idle();
    EXPECT_TRUE(rig.trace.empty());
    EXPECT_EQ(rig.text("txtRes"), "earlier");
}

struct ReplyCase {
    const char* what;
    bool keep;
    std::vector<std::pair<std::string, int64_t>> pieces;  // bytes, delay after the request
    std::string transcript;
    int16_t state_after;
};

TEST(Reply, PiecesAndKeepConection) {
    const std::vector<ReplyCase> cases = {
        {"one piece", false, {{"OK", 5}}, "--> C|1|100\r\n<-- OK", net::kClosed},
        {"two pieces, kept",
         true,
         {{"PART1", 5}, {"PART2", 50}},
         "--> C|1|100\r\n<-- PART1\r\n<-- PART2",
         net::kConnected},
        {"two pieces, not kept: the second never arrives",
         false,
         {{"PART1", 5}, {"PART2", 50}},
         "--> C|1|100\r\n<-- PART1",
         net::kClosed},
        {"a reply holding line breaks",
         true,
         {{"line one\r\nline two\nline three", 5}},
         "--> C|1|100\r\n<-- line one\r\nline two\nline three",
         net::kConnected},
        {"bytes outside ASCII and a zero byte",
         true,
         {{std::string("\xe9t\xe9\0end", 7), 5}},
         std::string("--> C|1|100\r\n<-- ") + std::string("\xc3\xa9t\xc3\xa9\0end", 9),
         net::kConnected},
        {"an empty-looking reply of blanks", false, {{"  ", 5}}, "--> C|1|100\r\n<--   ", net::kClosed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SimRig rig;
        if (c.keep) rig.tick_keep();
        rig.service().on_receive([&c](net::SimPeer& peer, const std::string&) {
            for (const auto& [bytes, delay] : c.pieces) peer.send(bytes, delay);
        });
        rig.send_and_settle();
        EXPECT_EQ(rig.text("txtRes"), c.transcript);
        EXPECT_EQ(rig.test->WS().state(), c.state_after);
    }
}

TEST(Reply, KeepConectionIsReadWhenTheReplyArrives) {
    struct Case {
        bool keep_at_send;
        bool keep_at_reply;
    };
    for (const Case c : {Case{false, true}, Case{true, false}}) {
        SCOPED_TRACE(c.keep_at_send);
        SimRig rig;
        if (c.keep_at_send) rig.tick_keep();
        rig.service().on_receive([](net::SimPeer& peer, const std::string&) { peer.send("LATE", 500); });
        rig.press_send();
        rig.tk.advance(100);
        ASSERT_EQ(rig.requests().size(), 1u);
        if (c.keep_at_reply != c.keep_at_send) rig.tick_keep();
        rig.tk.run_until_idle();
        EXPECT_EQ(rig.text("txtRes"), "--> C|1|100\r\n<-- LATE");
        EXPECT_EQ(rig.test->WS().state(), c.keep_at_reply ? net::kConnected : net::kClosed);
    }
}

TEST(Reply, ALateReplyStandsUnderTheNextRequest) {
    SimRig rig;
    rig.tick_keep();
    rig.tick_automatic();
    rig.type("txtQty", "2");
    // The first request is answered only after the second has gone out.
    rig.service().on_receive([](net::SimPeer& peer, const std::string& bytes) {
        if (bytes == "C|1|100") peer.send("ANSWER 1", 1500);
    });
    rig.send_and_settle();
    EXPECT_EQ(rig.requests(), (std::vector<std::string>{"C|1|100", "C|2|100"}));
    EXPECT_EQ(rig.text("txtRes"), "--> C|2|100\r\n<-- ANSWER 1");
}

TEST(Reply, UnsolicitedDataIsAddedTheSameWay) {
    SimRig rig;
    rig.tick_keep();
    rig.service().on_accept([](net::SimPeer& peer) {
        peer.send("HELLO", 100);
        peer.send("PING", 5000);
    });
    rig.send_and_settle();
    EXPECT_EQ(rig.text("txtRes"), "--> C|1|100\r\n<-- HELLO\r\n<-- PING");
    EXPECT_EQ(rig.requests(), std::vector<std::string>{"C|1|100"});
}

TEST(Reply, ManyPiecesOnAKeptConnection) {
    // A long-lived kept connection: the transcript is appended to, so it
    // keeps every piece in order without being rebuilt each time.
    constexpr int kPieces = 100'000;
    SimRig rig;
    rig.tick_keep();
    rig.service().on_receive([](net::SimPeer& peer, const std::string&) {
        for (int i = 0; i < kPieces; ++i) peer.send(std::to_string(i % 10), 1 + i);
    });
    rig.send_and_settle();
    const std::string res = rig.text("txtRes");
    const std::string head = "--> C|1|100";
    ASSERT_EQ(res.size(), head.size() + kPieces * std::string("\r\n<-- 0").size());
    EXPECT_TRUE(res.starts_with(head + "\r\n<-- 0\r\n<-- 1\r\n<-- 2"));
    EXPECT_TRUE(res.ends_with("\r\n<-- 8\r\n<-- 9"));
}

}  // namespace
}  // namespace monvia::client::testing

// The simulated machine on its own: operations and the levels, cash boxes
// and outcomes they leave.

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>

#include "cash_machine.h"

using namespace monvia::cashsim;

namespace {

CashMachine connected_machine(std::vector<Denomination> ds = factory_denominations()) {
    CashMachine m(std::move(ds));
    m.set_host("localhost");
    EXPECT_TRUE(m.connect().ok);
    return m;
}

int64_t total_money(const CashMachine& m) {
    return m.level_value() + m.cash_box_value(Kind::Coin) + m.cash_box_value(Kind::Note);
}

std::string current_levels(const CashMachine& m) {
    std::string out;
    for (const auto& d : m.denominations()) out += (out.empty() ? "" : ";") + std::to_string(d.current);
    return out;
}

// Coins only, with the given current levels for 5, 10, 20 and 50.
std::vector<Denomination> coins(int32_t c5, int32_t c10, int32_t c20, int32_t c50) {
    return {{5, Kind::Coin, c5, 100, c5, 0, false},
            {10, Kind::Coin, c10, 100, c10, 0, false},
            {20, Kind::Coin, c20, 100, c20, 0, false},
            {50, Kind::Coin, c50, 100, c50, 0, false},
            {500, Kind::Note, 0, 10, 0, 0, false}};
}

TEST(Host, WhichHostsAreReachable) {
    const std::string own = own_host_name();
    ASSERT_FALSE(own.empty());
    const struct {
        std::string host;
        bool reachable;
    } cases[] = {
        {"localhost", true},
        {"LocalHost", true},
        {"127.0.0.1", true},
        {"127.1.2.3", true},
        {"::1", true},
        {"0:0:0:0:0:0:0:1", true},
        {own, true},
        {"", false},
        {"10.0.0.1", false},
        {"128.0.0.1", false},
        {"::2", false},
        {"localhost ", false},
        {" localhost", false},
        {"example.invalid", false},
        {"127.0.0.1:80", false},
        {"localhost.evil", false},
    };
    for (const auto& c : cases) EXPECT_EQ(host_reachable(c.host), c.reachable) << "\"" << c.host << "\"";
}

TEST(Connection, ConnectOutcomes) {
    const struct {
        std::string host;
        bool ok;
        int16_t code;
        std::string text;
    } cases[] = {
        {"localhost", true, 0, ""},
        {"127.0.0.1", true, 0, ""},
        {"", false, -2, "No host set: write Host before Connect"},
        {"cashdesk-7", false, -3, "Host unreachable: cashdesk-7"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        CashMachine m;
        m.set_host(c.host);
        const Outcome o = m.connect();
        EXPECT_EQ(o.ok, c.ok);
        EXPECT_EQ(o.code, c.code);
        EXPECT_EQ(o.text, c.text);
        EXPECT_EQ(m.connected(), c.ok);
        EXPECT_EQ(m.last_error_code(), c.code);
        EXPECT_EQ(m.last_error_text(), c.text);
    }
}

TEST(Connection, FailedReconnectDropsTheLinkAndDisconnectEndsIt) {
    CashMachine m = connected_machine();
    m.set_host("nowhere");
    EXPECT_FALSE(m.connect().ok);
    EXPECT_FALSE(m.connected());
    m.set_host("localhost");
    EXPECT_TRUE(m.connect().ok);
    EXPECT_TRUE(m.connect().ok);  // connecting again is fine
    m.disconnect();
    EXPECT_FALSE(m.connected());
    m.disconnect();  // and so is disconnecting twice
    EXPECT_FALSE(m.pay(5).outcome.ok);
}

TEST(Connection, EveryOperationNeedsTheLink) {
    CashMachine m;
    const std::function<Outcome()> ops[] = {
        [&] { return m.configure(); },
        [&] { return m.charge(100).outcome; },
        [&] { return m.pay(100).outcome; },
        [&] { return m.pay_specific(100).outcome; },
        [&] { return m.change().outcome; },
        [&] { return m.add_change().outcome; },
        [&] { return m.cash_box_control(0, 0).outcome; },
        [&] { return m.empty_cash_box(0).outcome; },
        [&] { return m.levels(2).outcome; },
        [&] { return m.amounts().outcome; },
    };
    const int64_t before = total_money(m);
    for (const auto& op : ops) {
        const Outcome o = op();
        EXPECT_FALSE(o.ok);
        EXPECT_EQ(o.code, -1);
        EXPECT_EQ(o.text, "Not connected: call Connect first");
    }
    EXPECT_EQ(total_money(m), before);
    EXPECT_EQ(m.levels(3).values, "");
    EXPECT_EQ(m.cash_box_control(15, 42).change_value, 42);  // passed back untouched
}

TEST(Payment, Charge) {
    const struct {
        int32_t amount;
        bool ok;
        int16_t code;
        int32_t inserted;
        int32_t returned;
        std::string text;
    } cases[] = {
        {125, true, 0, 200, 75, ""},  // one coin covers it
        {200, true, 0, 200, 0, ""},
        {1250, true, 0, 2000, 750, ""},    // one note covers it
        {45000, true, 0, 45000, 0, ""},    // four of the largest accepted note and one for the rest
        {150000, true, 0, 150000, 0, ""},  // the level overflows into the cash box
        {123, false, 2, 200, 75, "Not enough change: returned 75 of 77"},
        {0, false, 1, 0, 0, "Invalid amount 0: the amount must be greater than 0"},
        {-5, false, 1, 0, 0, "Invalid amount -5: the amount must be greater than 0"},
        {INT32_MAX, false, 5, 0, 0, "Cash box full: no room for the money to cover 2147483647"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.amount);
        CashMachine m = connected_machine();
        const int64_t before = total_money(m);
        const ChargeResult r = m.charge(c.amount);
        EXPECT_EQ(r.outcome.ok, c.ok);
        EXPECT_EQ(r.outcome.code, c.code);
        EXPECT_EQ(r.outcome.text, c.text);
        EXPECT_EQ(r.inserted, c.inserted);
        EXPECT_EQ(r.returned, c.returned);
        // The machine keeps what was inserted less what it gave back.
        EXPECT_EQ(total_money(m), before + c.inserted - c.returned);
    }
}

TEST(Payment, ChargeFillsLevelsThenTheCashBox) {
    CashMachine m = connected_machine();
    ASSERT_TRUE(m.charge(150000).outcome.ok);
    const Denomination& ten_thousand = m.denominations()[10];
    ASSERT_EQ(ten_thousand.value, 10000);
    EXPECT_EQ(ten_thousand.current, 10);  // its maximum
    EXPECT_EQ(ten_thousand.cash_box, 1 + 5);
    EXPECT_EQ(m.cash_box_value(Kind::Note), 31000 + 50000);

    // 125 paid with a 200 coin: 50, 20 and 5 come back.
    CashMachine n = connected_machine();
    ASSERT_TRUE(n.charge(125).outcome.ok);
    EXPECT_EQ(current_levels(n), "39;40;39;29;30;21;20;20;10;4;0;0");
}

TEST(Payment, ChargeWithEveryDenominationInhibited) {
    auto ds = factory_denominations();
    for (auto& d : ds) d.inhibited = true;
    CashMachine m = connected_machine(ds);
    const ChargeResult r = m.charge(100);
    EXPECT_FALSE(r.outcome.ok);
    EXPECT_EQ(r.outcome.code, 9);
    EXPECT_EQ(r.inserted, 0);
}

TEST(Payment, PayAndPaySpecific) {
    const struct {
        const char* op;
        int32_t amount;
        bool ok;
        int16_t code;
        int32_t paid;
        std::string text;
    } cases[] = {
        {"pay", 75, true, 0, 75, ""},
        {"pay", 79900, true, 0, 79900, ""},  // everything in the levels
        {"pay", 77, false, 2, 75, "Not enough change: paid 75 of 77"},
        {"pay", 100000, false, 2, 79900, "Not enough change: paid 79900 of 100000"},
        {"pay", 0, false, 1, 0, "Invalid amount 0: the amount must be greater than 0"},
        {"specific", 75, true, 0, 75, ""},
        {"specific", 77, false, 3, 0, "Amount not payable: 77"},
        {"specific", 100000, false, 3, 0, "Amount not payable: 100000"},
        {"specific", -1, false, 1, 0, "Invalid amount -1: the amount must be greater than 0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.op) + " " + std::to_string(c.amount));
        CashMachine m = connected_machine();
        const int64_t before = m.level_value();
        const PayResult r = std::string(c.op) == "pay" ? m.pay(c.amount) : m.pay_specific(c.amount);
        EXPECT_EQ(r.outcome.ok, c.ok);
        EXPECT_EQ(r.outcome.code, c.code);
        EXPECT_EQ(r.outcome.text, c.text);
        EXPECT_EQ(r.paid, c.paid);
        EXPECT_EQ(m.level_value(), before - c.paid);
    }
}

TEST(Payment, ExactPayoutFindsCombinationsLargestFirstMisses) {
    // 60 from one 50 and three 20s with no 10: taking the 50 first leads nowhere.
    const struct {
        std::vector<Denomination> levels;
        int32_t amount;
        bool payable;
        std::string left;  // levels of 5;10;20;50;500 after
    } cases[] = {
        {coins(0, 0, 3, 1), 60, true, "0;0;0;1;0"},
        {coins(0, 0, 3, 1), 110, true, "0;0;0;0;0"},
        {coins(0, 0, 3, 1), 30, false, "0;0;3;1;0"},
        {coins(1, 0, 4, 1), 85, true, "0;0;0;1;0"},  // four 20s and the 5, not the 50
        {coins(0, 0, 0, 0), 5, false, "0;0;0;0;0"},
        {coins(100, 100, 100, 100), 8500, true, "0;0;0;0;0"},
        {coins(100, 100, 100, 100), 8505, false, "100;100;100;100;0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.amount);
        CashMachine m = connected_machine(c.levels);
        const PayResult r = m.pay_specific(c.amount);
        EXPECT_EQ(r.outcome.ok, c.payable);
        EXPECT_EQ(r.paid, c.payable ? c.amount : 0);
        EXPECT_EQ(current_levels(m), c.left);
    }
}

TEST(Payment, ChangeAndAddChange) {
    CashMachine m = connected_machine();
    const ChangeResult c = m.change();
    EXPECT_TRUE(c.outcome.ok);
    EXPECT_EQ(c.inserted, 500);
    EXPECT_EQ(c.paid, 500);
    EXPECT_EQ(current_levels(m), "40;40;40;30;29;18;21;20;10;4;0;0");

    ASSERT_TRUE(m.pay(75).outcome.ok);
    const AddChangeResult a = m.add_change();
    EXPECT_TRUE(a.outcome.ok);
    EXPECT_EQ(a.added, 75 + 100 + 400);  // back to the float; the extra 500 note stays
    EXPECT_EQ(m.add_change().added, 0);  // nothing left to top up

    CashMachine poor = connected_machine(coins(0, 0, 1, 1));
    const ChangeResult refused = poor.change();
    EXPECT_FALSE(refused.outcome.ok);
    EXPECT_EQ(refused.outcome.code, 2);
    EXPECT_EQ(refused.outcome.text, "Not enough change to change a note of 500");
    EXPECT_EQ(refused.inserted, 0);
    EXPECT_EQ(current_levels(poor), "0;0;1;1;0");
}

TEST(CashBox, Control) {
    const struct {
        const char* name;
        std::function<void(CashMachine&)> before;
        int32_t mode;
        int32_t change_in;
        bool ok;
        int16_t code;
        int32_t coins, notes, change_out;
    } cases[] = {
        {"count", nullptr, 0, 0, true, 0, 2000, 31000, 79900},
        {"count ignores ChangeValue", nullptr, 0, 555, true, 0, 2000, 31000, 79900},
        {"blind with nothing above the float", nullptr, 7, 0, true, 0, 2000, 31000, 79900},
        {"blind after a sale", [](CashMachine& m) { m.charge(125); }, 7, 0, true, 0, 2200, 31000, 79825},
        {"keep 10000", nullptr, 15, 10000, true, 0, 2400, 100500, 10000},
        {"keep nothing", nullptr, 15, 0, true, 0, 11900, 101000, 0},
        {"keep an amount that cannot be matched", nullptr, 15, 7, true, 0, 11890, 101000, 10},
        {"keep everything", nullptr, 15, 79900, true, 0, 2000, 31000, 79900},
        {"keep more than there is", nullptr, 15, 100000, false, 2, 2000, 31000, 100000},
        {"keep a negative amount", nullptr, 15, -5, false, 1, 2000, 31000, -5},
        {"unknown mode", nullptr, 3, 9, false, 6, 2000, 31000, 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CashMachine m = connected_machine();
        if (c.before) c.before(m);
        const int64_t money = total_money(m);
        const CashBoxResult r = m.cash_box_control(c.mode, c.change_in);
        EXPECT_EQ(r.outcome.ok, c.ok);
        EXPECT_EQ(r.outcome.code, c.code) << r.outcome.text;
        EXPECT_EQ(r.coins_value, c.coins);
        EXPECT_EQ(r.notes_value, c.notes);
        EXPECT_EQ(r.change_value, c.change_out);
        EXPECT_EQ(total_money(m), money);  // money only moves inside the machine
    }
}

TEST(CashBox, ControlRefusesWhenTheCashBoxCannotTakeIt) {
    auto ds = factory_denominations();
    ds[0].cash_box = CashMachine::kCoinBoxCapacity - 15 - 10;  // room for ten more coins
    CashMachine m = connected_machine(ds);
    const CashBoxResult r = m.cash_box_control(15, 0);
    EXPECT_FALSE(r.outcome.ok);
    EXPECT_EQ(r.outcome.code, 5);
    EXPECT_EQ(r.outcome.text, "Cash box full: no room to move the change into it");
    EXPECT_EQ(r.change_value, 0);       // as passed
    EXPECT_EQ(m.level_value(), 79900);  // nothing moved
}

TEST(CashBox, Empty) {
    const struct {
        int32_t which;
        bool ok;
        int16_t code;
        int32_t value;
        std::string text;
    } steps[] = {
        {0, true, 0, 2000, ""},
        {0, false, 4, 0, "Coin cash box empty"},
        {1, true, 0, 31000, ""},
        {1, false, 4, 0, "Note cash box empty"},
        {2, false, 8, 0, "Unknown cash box side 2: 0 coins, 1 notes"},
        {-1, false, 8, 0, "Unknown cash box side -1: 0 coins, 1 notes"},
    };
    CashMachine m = connected_machine();
    for (const auto& s : steps) {
        SCOPED_TRACE(s.which);
        const EmptyResult r = m.empty_cash_box(s.which);
        EXPECT_EQ(r.outcome.ok, s.ok);
        EXPECT_EQ(r.outcome.code, s.code);
        EXPECT_EQ(r.value, s.value);
        EXPECT_EQ(r.outcome.text, s.text);
    }
    EXPECT_EQ(m.level_value(), 79900);  // the change levels are not touched
}

TEST(Inventory, LevelLists) {
    const std::string denoms = "5;10;20;50;100;200;500;1000;2000;5000;10000;20000";
    const struct {
        int32_t kind;
        bool ok;
        std::string values;
    } cases[] = {
        {0, true, "40;40;40;30;30;20;20;20;10;4;0;0"},
        {1, true, "200;200;200;150;150;100;50;50;30;20;10;0"},
        {2, true, "40;40;40;30;30;20;20;20;10;4;0;0"},
        {3, true, "0;0;0;0;10;5;0;5;3;2;1;0"},
        {4, true, "ok;ok;ok;ok;ok;ok;ok;ok;ok;ok;empty;none"},
        {5, true, "0;0;0;0;0;0;0;0;0;0;0;1"},
        {6, false, ""},
        {-1, false, ""},
    };
    CashMachine m = connected_machine();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        const ListResult r = m.levels(c.kind);
        EXPECT_EQ(r.outcome.ok, c.ok);
        EXPECT_EQ(r.values, c.values);
        EXPECT_EQ(r.denoms, c.ok ? denoms : "");
        if (!c.ok) {
            EXPECT_EQ(r.outcome.code, 7);
            EXPECT_EQ(r.outcome.text, "Unknown level kind " + std::to_string(c.kind) + ": 0 to 5 are known");
        }
    }
    const AmountsResult a = m.amounts();
    EXPECT_TRUE(a.outcome.ok);
    EXPECT_EQ(a.denoms, denoms);
    EXPECT_EQ(a.quantities, "40;40;40;30;30;20;20;20;10;4;0;0");
    EXPECT_EQ(a.value, 79900);
}

TEST(Inventory, LevelStatusThresholds) {
    const struct {
        int32_t current, max;
        const char* status;
    } cases[] = {
        {0, 100, "empty"},  {1, 100, "low"},   {9, 100, "low"},   {10, 100, "ok"},
        {89, 100, "ok"},    {90, 100, "high"}, {99, 100, "high"}, {100, 100, "full"},
        {101, 100, "full"}, {1, 5, "ok"},      {0, 0, "none"},    {5, 0, "none"},
    };
    for (const auto& c : cases) {
        Denomination d;
        d.current = c.current;
        d.max = c.max;
        EXPECT_STREQ(level_status(d), c.status) << c.current << "/" << c.max;
    }
}

TEST(Errors, HandleError) {
    const struct {
        int32_t code;
        std::string text;
        bool ok;
        bool cleared;
        int16_t last_code_after;  // the machine's last error was code 1 (invalid amount) before
    } cases[] = {
        {1, "", true, true, 0},            // the refusal it had is cleared
        {0, "", true, true, 1},            // nothing to handle
        {3, "", true, true, 1},            // recoverable, but not the last error: that stays
        {-1, "", true, false, 1},          // not connected: needs Connect
        {2, "", true, false, 1},           // not enough change: needs AddChange
        {5, "", true, false, 1},           // cash box full: needs emptying
        {55, "Quenzo", false, false, 10},  // unknown to the machine
        {65537, "", false, false, 10},     // beyond 16 bits
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        CashMachine m = connected_machine();
        ASSERT_FALSE(m.pay(0).outcome.ok);
        const HandleResult r = m.handle_error(c.code, c.text);
        EXPECT_EQ(r.outcome.ok, c.ok);
        EXPECT_EQ(r.cleared, c.cleared);
        EXPECT_EQ(m.last_error_code(), c.last_code_after);
    }
    CashMachine m;
    EXPECT_EQ(m.handle_error(55, "Quenzo").outcome.text, "Unknown error code 55 (Quenzo)");
    EXPECT_EQ(m.handle_error(56, "").outcome.text, "Unknown error code 56");
}

TEST(Errors, LastErrorStaysUntilTheNextFailure) {
    CashMachine m = connected_machine();
    EXPECT_EQ(m.last_error_code(), 0);
    EXPECT_EQ(m.last_error_text(), "");
    m.pay_specific(77);
    EXPECT_EQ(m.last_error_code(), 3);
    ASSERT_TRUE(m.pay(5).outcome.ok);
    EXPECT_EQ(m.last_error_code(), 3);  // a success does not hide what went wrong last
    EXPECT_EQ(m.last_error_text(), "Amount not payable: 77");
    m.fail(-300, "Scripted");
    EXPECT_EQ(m.last_error_code(), -300);
    EXPECT_EQ(m.last_error_text(), "Scripted");
}

TEST(Machine, MoneyIsNeitherMadeNorLost) {
    // A fixed series of operations; after each one the money in the machine
    // must have changed by exactly what went in and out.
    CashMachine m = connected_machine();
    int64_t expected = total_money(m);
    for (int i = 1; i <= 300; ++i) {
        const int32_t amount = (i * 7919) % 30000 + 1;
        switch (i % 6) {
            case 0: {
                auto r = m.charge(amount);
                expected += r.inserted - r.returned;
                break;
            }
            case 1:
                expected -= m.pay(amount % 5000 + 1).paid;
                break;
            case 2:
                expected -= m.pay_specific(amount % 3000 + 5).paid;
                break;
            case 3: {
                auto r = m.change();
                expected += r.inserted - r.paid;
                break;
            }
            case 4:
                m.cash_box_control(i % 12 == 4 ? 7 : 15, amount);
                break;
            case 5:
                if (i % 30 == 5) expected -= m.empty_cash_box(i % 2).value;
                if (i % 25 == 5) expected += m.add_change().added;
                break;
        }
        ASSERT_EQ(total_money(m), expected) << "after step " << i;
        for (const auto& d : m.denominations()) {
            ASSERT_GE(d.current, 0);
            ASSERT_GE(d.cash_box, 0);
        }
        ASSERT_LE(m.cash_box_pieces(Kind::Coin), CashMachine::kCoinBoxCapacity);
        ASSERT_LE(m.cash_box_pieces(Kind::Note), CashMachine::kNoteBoxCapacity);
    }
}

TEST(Machine, Colours) {
    CashMachine m;
    EXPECT_EQ(m.colour_a(), 0u);
    m.set_colour_a(0x00FFC0C0);
    m.set_colour_b(-4);
    EXPECT_EQ(m.colour_a(), 0x00FFC0C0u);
    EXPECT_EQ(m.colour_b(), -4);
}

}  // namespace

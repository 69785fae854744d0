// What the in-memory toolkit does beyond the seam's rules (those are checked
// on both backends in tests/seams): virtual time, recorded boxes, deadlocks.

#include "ui/sim_toolkit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/failure.h"

namespace {

using namespace monvia::ui;

WindowSpec small_window() {
    WindowSpec w;
    w.name = "W";
    w.caption = "W";
    w.controls = {
        {"frm", ControlKind::Frame, "", 0, 0, 3000, 3000, 1, "", kNone, 0},
        {"optA", ControlKind::OptionButton, "A", 10, 10, 500, 300, 2, "frm", kChecked, 0},
        {"optB", ControlKind::OptionButton, "B", 10, 400, 500, 300, 3, "frm", kNone, 0},
        {"txtIn", ControlKind::TextBox, "1", 10, 800, 500, 300, 4, "frm", kNone, 0},
        {"chk", ControlKind::CheckBox, "C", 4000, 10, 500, 300, 5, "", kNone, 0},
        {"txtOut", ControlKind::TextBox, "", 4000, 400, 500, 300, 6, "", kMultiLine | kReadOnly, 0},
        {"cmd", ControlKind::Button, "Go", 4000, 800, 500, 300, 7, "", kNone, 0},
        {"tmr", ControlKind::Timer, "", 0, 0, 0, 0, -1, "", kDisabled, 1},
    };
    return w;
}

TEST(SimToolkit, TimerTicksPeriodicallyUntilDisabled) {
    SimToolkit tk;
    auto win = tk.create_window(small_window());
    auto& t = win->control("tmr");
    std::vector<int64_t> ticks;
    t.on_timer([&] {
        ticks.push_back(tk.now_ms());
        if (ticks.size() == 3) t.set_enabled(false);
    });
    t.set_interval(1000);
    t.set_enabled(true);
    tk.advance(10'000);
    EXPECT_EQ(ticks, (std::vector<int64_t>{1000, 2000, 3000}));
}

TEST(SimToolkit, RearmingInsideTheTickRestartsTheCount) {
    SimToolkit tk;
    auto win = tk.create_window(small_window());
    auto& t = win->control("tmr");
    std::vector<int64_t> ticks;
    t.on_timer([&] {
        ticks.push_back(tk.now_ms());
        t.set_enabled(false);
        if (ticks.size() < 3) {
            t.set_interval(1000);
            t.set_enabled(true);
        }
    });
    t.set_interval(1);
    t.set_enabled(true);
    tk.run_until_idle();
    EXPECT_EQ(ticks, (std::vector<int64_t>{1, 1001, 2001}));
}

TEST(SimToolkit, WaitingForAnEventThatCannotComeFailsLoudly) {
    SimToolkit tk;
    EXPECT_THROW(tk.process_events(), SimDeadlock);
}

TEST(SimToolkit, TheWindowTestsDriveIsTheLatestOpenOne) {
    SimToolkit tk;
    auto first = tk.create_window(small_window());
    auto second = tk.create_window(small_window());
    EXPECT_EQ(tk.window(), second.get());
    tk.window()->close();
    EXPECT_EQ(tk.window(), first.get());
    tk.window()->close();
    EXPECT_EQ(tk.window(), nullptr);
    EXPECT_TRUE(tk.program_ended());
}

TEST(SimToolkit, BoxesAreRecordedInOrderAndObserved) {
    SimToolkit tk;
    std::vector<std::string> seen;
    tk.on_message_box([&](const SimToolkit::Box& b) { seen.push_back(b.title + ":" + b.text); });
    tk.message_box("T", "one");
    tk.message_box("T", "two");
    ASSERT_EQ(tk.boxes().size(), 2u);
    EXPECT_EQ(tk.boxes()[1].text, "two");
    EXPECT_EQ(seen, (std::vector<std::string>{"T:one", "T:two"}));
}

TEST(SimToolkit, EventsAtTheSameTimeRunInPostingOrder) {
    SimToolkit tk;
    std::string order;
    tk.clock().post(5, [&] { order += "a"; });
    tk.clock().post(5, [&] { order += "b"; });
    tk.clock().post(1, [&] { order += "c"; });
    auto id = tk.clock().post(3, [&] { order += "x"; });
    tk.clock().cancel(id);
    tk.run_until_idle();
    EXPECT_EQ(order, "cab");
    EXPECT_EQ(tk.now_ms(), 5);
}

}  // namespace

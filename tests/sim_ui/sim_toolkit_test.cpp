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

TEST(SimToolkit, ADisabledFrameMakesItsChildrenUnreachable) {
    SimToolkit tk;
    auto win = tk.create_window(small_window());
    auto& w = *tk.window();
    w.control("frm").set_enabled(false);
    EXPECT_FALSE(w.type("txtIn", "2"));
    EXPECT_FALSE(w.click("optB"));
    EXPECT_EQ(w.control("txtIn").text(), "1");
    EXPECT_TRUE(w.control("txtIn").enabled());  // its own flag is untouched
    EXPECT_TRUE(w.click("chk"));
    w.control("frm").set_enabled(true);
    EXPECT_TRUE(w.type("txtIn", "2"));
    EXPECT_EQ(w.control("txtIn").text(), "2");
}

TEST(SimToolkit, OptionButtonsAreExclusiveAndCheckBoxesToggle) {
    SimToolkit tk;
    auto win = tk.create_window(small_window());
    auto& w = *tk.window();
    EXPECT_EQ(w.control("optA").value(), -1);
    EXPECT_EQ(w.control("optB").value(), 0);
    w.click("optB");
    EXPECT_EQ(w.control("optA").value(), 0);
    EXPECT_EQ(w.control("optB").value(), -1);
    EXPECT_EQ(w.control("chk").value(), 0);
    w.click("chk");
    EXPECT_EQ(w.control("chk").value(), 1);
}

TEST(SimToolkit, ReadOnlyTextCannotBeTypedButCanBeWrittenByTheProgram) {
    SimToolkit tk;
    auto win = tk.create_window(small_window());
    EXPECT_FALSE(tk.window()->type("txtOut", "x"));
    win->control("txtOut").set_text("y");
    EXPECT_EQ(win->control("txtOut").text(), "y");
}

TEST(SimToolkit, WaitingForAnEventThatCannotComeFailsLoudly) {
    SimToolkit tk;
    EXPECT_THROW(tk.process_events(), SimDeadlock);
}

TEST(SimToolkit, ClosingTheLastWindowEndsTheProgramAndUnwindsWaits) {
    SimToolkit tk;
    auto win = tk.create_window(small_window());
    std::vector<std::string> trace;
    win->on_unload([&] { trace.push_back("unload"); });
    tk.clock().post(5, [&] { tk.window()->close(); });
    EXPECT_THROW(
        {
            for (;;) tk.process_events();
        },
        monvia::ProgramEnded);
    EXPECT_EQ(trace, (std::vector<std::string>{"unload"}));
    EXPECT_TRUE(tk.program_ended());
    EXPECT_EQ(tk.window(), nullptr);
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

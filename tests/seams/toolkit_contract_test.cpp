// The window toolkit seam's rules (ui/toolkit.h), checked on every backend:
// the in-memory toolkit and, in builds with Qt, the Qt toolkit on its
// offscreen platform. A case that holds on one backend and not on the other
// fails here. What only one backend does is tested beside that backend.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "backend_name.h"
#include "probe_layout.h"
#include "runtime/failure.h"
#include "ui/sim_toolkit.h"
#include "ui/toolkit.h"

#ifdef MONVIA_CONTRACT_QT
#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include "ui/qt_toolkit.h"
#endif

namespace monvia::ui {
namespace {

using seams::probe_layout;

// What a test does as the user or as the clock, on the in-memory toolkit.
struct InMemoryBackend {
    static constexpr const char* kName = "InMemory";
    SimToolkit tk;

    Toolkit& toolkit() { return tk; }
    static SimWindow& sim(Window& w) { return static_cast<SimWindow&>(w); }
    void show(Window& w) { w.show(); }
    void click(Window& w, const char* name) { sim(w).click(name); }
    // Replaces the text of a text box by typing, as far as the box lets the user.
    void type(Window& w, const char* name, const std::string& text) { sim(w).type(name, text); }
    void close(Window& w) { sim(w).close(); }
    bool shown(Window& w) { return sim(w).shown() && !sim(w).closed(); }
    bool reachable(Window& w, const char* name) { return sim(w).control(name).reachable(); }
    bool armed(Control& c) { return static_cast<SimControl&>(c).armed(); }
    // Runs fn as an event of the loop about ms from now.
    void post(int ms, std::function<void()> fn) { tk.clock().post(ms, std::move(fn)); }
    // Processes events until pred holds; false when it never does.
    bool wait_until(const std::function<bool()>& pred) {
        while (!pred() && tk.clock().has_pending()) tk.process_events();
        return pred();
    }
};

#ifdef MONVIA_CONTRACT_QT
QApplication& application() { return *static_cast<QApplication*>(QCoreApplication::instance()); }

// The same on the Qt toolkit, through the window system where a user would
// act, so that Qt's own rules apply.
struct QtBackend {
    static constexpr const char* kName = "Qt";
    QtToolkit tk{application()};

    Toolkit& toolkit() { return tk; }
    static QtWindow& qt(Window& w) { return static_cast<QtWindow&>(w); }
    void show(Window& w) {
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(qt(w).widget()));
    }
    void click(Window& w, const char* name) {
        QWidget* c = qt(w).control(name).widget();
        QWidget* top = c->window();
        const QPoint at(std::min(8, c->width() / 2), c->height() / 2);
        QTest::mouseClick(top->windowHandle(), ::Qt::LeftButton, ::Qt::NoModifier, c->mapTo(top, at));
    }
    void type(Window& w, const char* name, const std::string& text) {
        QWidget* c = qt(w).control(name).widget();
        c->setFocus();
        QTest::keyClick(c, ::Qt::Key_A, ::Qt::ControlModifier);
        QTest::keyClicks(c, QString::fromStdString(text));
    }
    void close(Window& w) { qt(w).widget()->close(); }
    bool shown(Window& w) { return qt(w).widget()->isVisible(); }
    bool reachable(Window& w, const char* name) { return qt(w).control(name).widget()->isEnabled(); }
    bool armed(Control& c) { return static_cast<QtControl&>(c).timer()->isActive(); }
    void post(int ms, std::function<void()> fn) { QTimer::singleShot(ms, &application(), std::move(fn)); }
    // A watchdog gives up after a while so that a broken backend fails the
    // test instead of hanging it; the time is a limit, never asserted on.
    bool wait_until(const std::function<bool()>& pred) {
        bool expired = false;
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [&] { expired = true; });
        watchdog.start(5000);
        while (!pred() && !expired) tk.process_events();
        return pred();
    }
};
#endif

template <class Backend>
class ToolkitContract : public ::testing::Test {
protected:
    void SetUp() override {
        for (const auto& row : probe_layout().controls) {
            const std::string name = row.name;
            win_->control(name).on_click([this, name] { clicks_.push_back(name); });
        }
    }
    Control& c(const char* name) { return win_->control(name); }
    void show() { be_.show(*win_); }
    void click(const char* name) { be_.click(*win_, name); }
    Toolkit& tk() { return be_.toolkit(); }

    Backend be_;
    std::unique_ptr<Window> win_ = be_.toolkit().create_window(probe_layout());
    std::vector<std::string> clicks_;
};

#ifdef MONVIA_CONTRACT_QT
using Backends = ::testing::Types<InMemoryBackend, QtBackend>;
#else
using Backends = ::testing::Types<InMemoryBackend>;
#endif

TYPED_TEST_SUITE(ToolkitContract, Backends, monvia::seams::BackendName);

// ---- Controls and clicks ------------------------------------------------------

TYPED_TEST(ToolkitContract, ClicksReachTheirHandlersOnlyWhenTheControlCanBeReached) {
    this->show();
    struct Case {
        const char* control;
        bool disable_frame;
        bool reaches_handler;
        const char* value_of;  // a control whose value the click decides
        int value;
    };
    const Case cases[] = {
        {"cmdQuit", false, true, nullptr, 0}, {"chkOut", false, true, "chkOut", 0},  // starts ticked
        {"chkOut", false, true, "chkOut", 1}, {"optA", false, true, "optB", 0},  // selecting A deselects B
        {"optA", false, true, "optA", -1},    // clicking the selected one again
        {"cmdGo", false, false, nullptr, 0},  // disabled by its table row
        {"chkIn", true, false, "chkIn", 0},   // inside a disabled frame
        {"optB", true, false, "optB", 0},     {"chkIn", false, true, "chkIn", 1},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.control) + (k.disable_frame ? " in disabled frame" : ""));
        this->c("frmBox").set_enabled(!k.disable_frame);
        this->clicks_.clear();
        this->click(k.control);
        EXPECT_EQ(this->clicks_,
                  k.reaches_handler ? std::vector<std::string>{k.control} : std::vector<std::string>{});
        if (k.value_of) {
            EXPECT_EQ(this->c(k.value_of).value(), k.value);
        }
    }
}

TYPED_TEST(ToolkitContract, TheHandlerSeesTheValueTheClickLeft) {
    this->show();
    int seen = 99;
    this->c("chkIn").on_click([&] { seen = this->c("chkIn").value(); });
    this->click("chkIn");
    EXPECT_EQ(seen, 1);
}

TYPED_TEST(ToolkitContract, ProgramChangesRaiseNoClick) {
    this->c("chkOut").set_value(0);
    this->c("chkIn").set_value(1);
    this->c("optA").set_value(-1);
    this->c("optY").set_value(-1);
    this->c("cmdQuit").set_text("Leave");
    EXPECT_TRUE(this->clicks_.empty());
}

TYPED_TEST(ToolkitContract, AHandlerMayReplaceItselfWhileItRuns) {
    this->show();
    int first = 0, second = 0;
    this->c("cmdQuit").on_click([&] {
        ++first;
        this->c("cmdQuit").on_click([&] { ++second; });
    });
    this->click("cmdQuit");
    this->click("cmdQuit");
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
}

TYPED_TEST(ToolkitContract, AnUnknownControlNameIsRefused) {
    EXPECT_THROW(this->win_->control("cmdNone"), std::out_of_range);
    EXPECT_THROW(this->win_->control(""), std::out_of_range);
}

TYPED_TEST(ToolkitContract, OptionButtonsAreExclusiveWithinTheirContainer) {
    struct Step {
        const char* option;
        int set;
        std::map<std::string, int> values;  // all four option buttons afterwards
    };
    const Step steps[] = {
        {nullptr, 0, {{"optA", 0}, {"optB", -1}, {"optX", -1}, {"optY", 0}}},  // as the table starts
        {"optA", -1, {{"optA", -1}, {"optB", 0}, {"optX", -1}, {"optY", 0}}},
        {"optY", 1, {{"optA", -1}, {"optB", 0}, {"optX", 0}, {"optY", -1}}},  // any non-zero selects
        {"optY", 0, {{"optA", -1}, {"optB", 0}, {"optX", 0}, {"optY", 0}}},   // the program may clear a group
        {"optX", -1, {{"optA", -1}, {"optB", 0}, {"optX", -1}, {"optY", 0}}},
        {"optB", 0, {{"optA", -1}, {"optB", 0}, {"optX", -1}, {"optY", 0}}},  // clearing one not selected
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.option ? std::string(s.option) + " = " + std::to_string(s.set) : "start");
        if (s.option) this->c(s.option).set_value(s.set);
        for (const auto& [name, value] : s.values) EXPECT_EQ(this->c(name.c_str()).value(), value) << name;
    }
    // A user click still works after the group was cleared by the program.
    this->show();
    this->c("optY").set_value(0);
    this->click("optY");
    EXPECT_EQ(this->c("optY").value(), -1);
    EXPECT_EQ(this->c("optX").value(), 0);
}

// A check box is ticked or not: there is no greyed state on the seam.
TYPED_TEST(ToolkitContract, CheckBoxValuesAreZeroOrOne) {
    const std::pair<int, int> cases[] = {{1, 1}, {0, 0}, {2, 1}, {0, 0}, {5, 1}, {-1, 1}, {0, 0}};
    for (auto [set, read] : cases) {
        this->c("chkIn").set_value(set);
        EXPECT_EQ(this->c("chkIn").value(), read) << "set " << set;
    }
    // The user's clicks toggle between ticked and unticked, whatever was set.
    this->show();
    this->c("chkIn").set_value(2);
    std::vector<int> after_clicks;
    for (int i = 0; i < 3; ++i) {
        this->click("chkIn");
        after_clicks.push_back(this->c("chkIn").value());
    }
    EXPECT_EQ(after_clicks, (std::vector<int>{0, 1, 0}));
}

TYPED_TEST(ToolkitContract, ControlsWithoutAValueReadZero) {
    for (const char* name : {"cmdQuit", "txtIn", "lblIn", "frmBox", "tmrOff"}) {
        this->c(name).set_value(1);
        EXPECT_EQ(this->c(name).value(), 0) << name;
    }
}

TYPED_TEST(ToolkitContract, ADisabledFrameMakesItsChildrenUnreachableAndKeepsTheirOwnFlags) {
    const char* inside[] = {"optA", "optB", "txtIn", "chkIn", "lblIn"};
    this->c("chkIn").set_enabled(false);  // disabled on its own, before the frame
    this->c("frmBox").set_enabled(false);
    EXPECT_FALSE(this->c("frmBox").enabled());
    for (const char* name : inside) {
        EXPECT_FALSE(this->be_.reachable(*this->win_, name)) << name;
        EXPECT_EQ(this->c(name).enabled(), std::string(name) != "chkIn") << name;
    }
    EXPECT_TRUE(this->be_.reachable(*this->win_, "chkOut"));
    EXPECT_TRUE(this->be_.reachable(*this->win_, "cmdQuit"));
    // Nothing typed reaches a box inside it.
    this->show();
    this->be_.type(*this->win_, "txtIn", "2");
    EXPECT_EQ(this->c("txtIn").text(), "in");

    this->c("frmBox").set_enabled(true);
    for (const char* name : inside)
        EXPECT_EQ(this->be_.reachable(*this->win_, name), std::string(name) != "chkIn") << name;
    this->c("chkIn").set_enabled(true);
    EXPECT_TRUE(this->be_.reachable(*this->win_, "chkIn"));
    this->be_.type(*this->win_, "txtIn", "2");
    EXPECT_EQ(this->c("txtIn").text(), "2");
}

// ---- Texts ------------------------------------------------------------------

TYPED_TEST(ToolkitContract, TextsComeBackExactlyAsSet) {
    const std::string texts[] = {
        "",
        "Charge",
        "C|1|100",
        "--> C|1|100\r\n<-- OK\r\n<-- done",
        "lone\nline feed and lone\rreturn",
        "\r\n",
        "caf\xc3\xa9 \xe2\x82\xac 5",  // UTF-8
        std::string("nul\0byte", 8),   // a reply may carry a zero byte
        "bad \xff\xfe utf-8",          // kept as the bytes that were set
        "<b>not</b> &amp; markup",
        std::string(40000, 'x'),  // beyond Qt's default line-edit limit
    };
    const char* controls[] = {"txtIn", "txtLog", "txtNote", "cmdQuit", "chkOut", "optA", "lblIn", "frmBox"};
    for (const char* name : controls)
        for (const std::string& t : texts) {
            SCOPED_TRACE(std::string(name) + ": " + t.substr(0, 40));
            this->c(name).set_text(t);
            EXPECT_EQ(this->c(name).text(), t);
        }
}

TYPED_TEST(ToolkitContract, AppendingGivesExactlyTheConcatenation) {
    const std::string pieces[] = {"--> C|1|100", "\r\n<-- OK", "\r\n<-- \xe2\x82",   "\xac",
                                  "\r",          "\nend",      std::string("\0|", 2)};
    for (const char* name : {"txtLog", "txtIn", "cmdQuit"}) {
        SCOPED_TRACE(name);
        std::string expected = this->c(name).text();
        for (const std::string& piece : pieces) {
            this->c(name).append_text(piece);
            expected += piece;
            EXPECT_EQ(this->c(name).text(), expected);
        }
    }
}

TYPED_TEST(ToolkitContract, WhatTheUserTypesIsRead) {
    this->show();
    this->be_.type(*this->win_, "txtIn", "12,5");
    EXPECT_EQ(this->c("txtIn").text(), "12,5");
}

TYPED_TEST(ToolkitContract, AReadOnlyBoxCannotBeTypedIntoButTheProgramWritesIt) {
    this->show();
    this->be_.type(*this->win_, "txtLog", "typed");
    EXPECT_EQ(this->c("txtLog").text(), "one\r\ntwo");
    this->c("txtLog").set_text("y");
    EXPECT_EQ(this->c("txtLog").text(), "y");
}

// ---- Timers -----------------------------------------------------------------

TYPED_TEST(ToolkitContract, ATimerTicksRepeatedlyWhileEnabledWithAnInterval) {
    Control& t = this->c("tmrOff");
    int ticks = 0;
    t.on_timer([&] {
        if (++ticks == 3) t.set_enabled(false);
    });
    EXPECT_FALSE(this->be_.armed(t));
    t.set_enabled(true);
    EXPECT_TRUE(this->be_.armed(t));
    EXPECT_TRUE(this->be_.wait_until([&] { return ticks >= 3; }));
    EXPECT_FALSE(this->be_.armed(t));

    // Disabled, it stays quiet while other events come and go.
    bool later = false;
    this->be_.post(100, [&] { later = true; });
    EXPECT_TRUE(this->be_.wait_until([&] { return later; }));
    EXPECT_EQ(ticks, 3);
}

TYPED_TEST(ToolkitContract, RearmingInsideTheTickRestartsTheCount) {
    Control& t = this->c("tmrOff");
    int ticks = 0;
    t.on_timer([&] {
        ++ticks;
        t.set_enabled(false);
        if (ticks < 3) {
            t.set_interval(10);
            t.set_enabled(true);
        }
    });
    t.set_interval(1);
    t.set_enabled(true);
    EXPECT_TRUE(this->be_.wait_until([&] { return ticks >= 3; }));
    EXPECT_FALSE(this->be_.armed(t));
    EXPECT_EQ(t.interval(), 10);
}

TYPED_TEST(ToolkitContract, TimerStateFollowsEnabledAndInterval) {
    Control& t = this->c("tmrOff");
    struct Step {
        const char* what;
        std::function<void()> change;
        bool armed;
        int interval;
    };
    const Step steps[] = {
        {"enabled", [&] { t.set_enabled(true); }, true, 25},
        {"interval 0 stops it", [&] { t.set_interval(0); }, false, 0},
        {"interval again", [&] { t.set_interval(1000); }, true, 1000},
        {"re-armed with another interval", [&] { t.set_interval(1); }, true, 1},
        {"disabled", [&] { t.set_enabled(false); }, false, 1},
        {"negative interval", [&] { t.set_interval(-5); }, false, -5},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        s.change();
        EXPECT_EQ(this->be_.armed(t), s.armed);
        EXPECT_EQ(t.interval(), s.interval);
    }
}

TYPED_TEST(ToolkitContract, AClosedWindowsTimersStop) {
    this->show();
    this->c("tmrOff").set_enabled(true);
    ASSERT_TRUE(this->be_.armed(this->c("tmrOn")));
    this->be_.close(*this->win_);
    EXPECT_FALSE(this->be_.shown(*this->win_));
    EXPECT_FALSE(this->be_.armed(this->c("tmrOff")));
    EXPECT_FALSE(this->be_.armed(this->c("tmrOn")));
    this->c("tmrOff").set_interval(10);  // nor can it be re-armed
    EXPECT_FALSE(this->be_.armed(this->c("tmrOff")));
}

// ---- Event waits and program end -----------------------------------------

TYPED_TEST(ToolkitContract, ProcessEventsThrowsOnceTheProgramHasEnded) {
    EXPECT_FALSE(this->tk().program_ended());
    this->tk().end_program(4);
    this->tk().end_program(9);  // the first code stands
    EXPECT_TRUE(this->tk().program_ended());
    try {
        this->tk().process_events();
        ADD_FAILURE() << "process_events returned after the program ended";
    } catch (const ProgramEnded& e) {
        EXPECT_EQ(e.exit_code(), 4);
    }
    EXPECT_EQ(this->tk().run(), 4);
}

TYPED_TEST(ToolkitContract, AWaitUnwindsWhenAHandlerEndsTheProgram) {
    this->be_.post(20, [&] { this->tk().end_program(7); });
    int code = -1;
    try {
        for (;;) this->tk().process_events();
    } catch (const ProgramEnded& e) {
        code = e.exit_code();
    }
    EXPECT_EQ(code, 7);
}

TYPED_TEST(ToolkitContract, ClosingTheLastWindowRunsUnloadFirstThenEndsTheWait) {
    this->show();
    std::vector<std::string> trace;
    this->win_->on_unload([&] {
        trace.push_back(std::string("unload, shown ") + (this->be_.shown(*this->win_) ? "yes" : "no") +
                        ", ended " + (this->tk().program_ended() ? "yes" : "no"));
    });
    this->be_.post(0, [&] { this->be_.close(*this->win_); });
    bool ended = false;
    try {
        for (;;) this->tk().process_events();
    } catch (const ProgramEnded& e) {
        ended = true;
        EXPECT_EQ(e.exit_code(), 0);
    }
    EXPECT_TRUE(ended);
    EXPECT_EQ(trace, std::vector<std::string>{"unload, shown yes, ended no"});
    EXPECT_FALSE(this->be_.shown(*this->win_));
}

TYPED_TEST(ToolkitContract, OnlyTheLastOfTwoWindowsEndsTheProgram) {
    auto other = this->tk().create_window(probe_layout());
    this->show();
    this->be_.show(*other);
    int unloads = 0;
    this->win_->on_unload([&] { ++unloads; });
    other->on_unload([&] { ++unloads; });
    this->be_.close(*this->win_);
    EXPECT_FALSE(this->tk().program_ended());
    this->be_.close(*this->win_);  // a second close of the same window is nothing
    EXPECT_EQ(unloads, 1);
    EXPECT_FALSE(this->tk().program_ended());
    this->be_.close(*other);
    EXPECT_EQ(unloads, 2);
    EXPECT_TRUE(this->tk().program_ended());
}

TYPED_TEST(ToolkitContract, RunReturnsTheExitCode) {
    struct Case {
        const char* what;
        std::function<void(TypeParam&, Window&)> ender;
        int code;
    };
    const Case cases[] = {
        {"end_program from an event", [](TypeParam& b, Window&) { b.toolkit().end_program(5); }, 5},
        {"the user closes the last window", [](TypeParam& b, Window& w) { b.close(w); }, 0},
    };
    // A program ends once: each case has a toolkit and a window of its own.
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        TypeParam b;
        auto win = b.toolkit().create_window(probe_layout());
        b.show(*win);
        b.post(10, [&] { k.ender(b, *win); });
        EXPECT_EQ(b.toolkit().run(), k.code);
        EXPECT_TRUE(b.toolkit().program_ended());
    }
}

TYPED_TEST(ToolkitContract, EndingInsideANestedWaitUnwindsItAndEndsRun) {
    this->show();
    bool unwound = false;
    Control& t = this->c("tmrOff");
    t.set_interval(5);
    t.on_timer([&] {
        t.set_enabled(false);
        try {
            for (;;) this->tk().process_events();  // like a wait for a connection verdict
        } catch (const ProgramEnded&) {
            unwound = true;
            throw;
        }
    });
    t.set_enabled(true);
    this->be_.post(50, [&] { this->tk().end_program(3); });
    EXPECT_EQ(this->tk().run(), 3);
    EXPECT_TRUE(unwound);
}

TYPED_TEST(ToolkitContract, AnExceptionLeavingAHandlerComesOutOfTheWait) {
    Control& t = this->c("tmrOff");
    t.set_interval(1);
    t.on_timer([&] {
        t.set_enabled(false);
        throw std::runtime_error("unguarded");
    });
    t.set_enabled(true);
    EXPECT_THROW(this->tk().run(), std::runtime_error);

    t.set_enabled(true);
    try {
        for (;;) this->tk().process_events();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "unguarded");
    }
    EXPECT_FALSE(this->tk().program_ended());
}

}  // namespace
}  // namespace monvia::ui

// The client window as it opens: the layout table, start values, what is
// reachable, and the byte-to-text rule of the transcript.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "client/client_layout.h"
#include "expected_layout.h"
#include "sim_rig.h"

namespace monvia::client::testing {
namespace {

TEST(ClientLayout, WindowAndTimerAsDeclared) {
    const ui::WindowSpec& w = Test_layout();
    EXPECT_EQ(w.name, "Test");
    EXPECT_EQ(w.caption, "Velunt Test");
    EXPECT_EQ(w.client_width, 4575);
    EXPECT_EQ(w.client_height, 6390);
    EXPECT_EQ(w.initial_focus, "txtIP");

    // Places, texts and tab indexes of the rows are checked on the Qt
    // widgets; here what only the table holds: the timer's start state and
    // the flags of the transcript and the option group.
    const ui::ControlSpec* timer = ui::find_control(w, "Timer1");
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->kind, ui::ControlKind::Timer);
    EXPECT_TRUE(timer->flags & ui::kDisabled);
    EXPECT_EQ(timer->interval_ms, 1);

    const ui::ControlSpec* res = ui::find_control(w, "txtRes");
    EXPECT_EQ(res->flags & (ui::kMultiLine | ui::kReadOnly), ui::kMultiLine | ui::kReadOnly);
    EXPECT_TRUE(ui::find_control(w, "optNew")->flags & ui::kChecked);
    EXPECT_FALSE(ui::find_control(w, "optChk")->flags & ui::kChecked);
}

TEST(ClientLayout, TabIndexesGiveTheTabStops) {
    // Sort the focusable controls by tab index and fold the option group into
    // the stop of its selected button.
    std::vector<const ui::ControlSpec*> focusable;
    for (const auto& c : Test_layout().controls)
        if (c.kind != ui::ControlKind::Label && c.kind != ui::ControlKind::Frame &&
            c.kind != ui::ControlKind::Timer)
            focusable.push_back(&c);
    std::sort(focusable.begin(), focusable.end(),
              [](const auto* a, const auto* b) { return a->tab_index < b->tab_index; });
    std::vector<std::string> stops;
    for (const auto* c : focusable) {
        if (c->kind == ui::ControlKind::OptionButton) {
            if (!(c->flags & ui::kChecked)) continue;
        }
        stops.push_back(c->name);
    }
    EXPECT_EQ(stops, expected_tab_stops());
}

TEST(ClientLayout, VisibleControlsFitTheirContainerAndBarelyTouch) {
    const ui::WindowSpec& w = Test_layout();
    struct Rect {
        int l, t, r, b;
    };
    std::map<std::string, Rect> abs;
    for (const auto& c : w.controls) {
        if (c.kind == ui::ControlKind::Timer) continue;
        int l = c.left, t = c.top;
        int cw = w.client_width, ch = w.client_height;
        if (!c.container.empty()) {
            const ui::ControlSpec* frame = ui::find_control(w, c.container);
            ASSERT_NE(frame, nullptr) << c.name;
            l += frame->left;
            t += frame->top;
            cw = frame->width;
            ch = frame->height;
        }
        EXPECT_LE(c.left + c.width, cw) << c.name;
        EXPECT_LE(c.top + c.height, ch) << c.name;
        abs[c.name] = {l, t, l + c.width, t + c.height};
    }
    // The only overlaps are the last pixel (15 twips) of the Ticket and
    // Amount labels under the left edge of their text boxes.
    std::vector<std::string> overlaps;
    for (const auto& a : w.controls) {
        for (const auto& b : w.controls) {
            if (&a >= &b || !abs.count(a.name) || !abs.count(b.name)) continue;
            if (b.container == a.name || a.container == b.name) continue;  // a frame holds its children
            const Rect& x = abs[a.name];
            const Rect& y = abs[b.name];
            const int dx = std::min(x.r, y.r) - std::max(x.l, y.l);
            const int dy = std::min(x.b, y.b) - std::max(x.t, y.t);
            if (dx > 0 && dy > 0) overlaps.push_back(a.name + "/" + b.name + " " + std::to_string(dx));
        }
    }
    EXPECT_EQ(overlaps, (std::vector<std::string>{"txtTicket/Label2 15", "txtAmount/Label3 15"}));
}

TEST(ClientWindow, StartValues) {
    SimRig rig;
    EXPECT_TRUE(rig.window->shown());
    EXPECT_EQ(rig.window->focus(), "txtIP");
    const std::vector<std::pair<const char*, const char*>> texts = {
        {"txtIP", "127.0.0.1"}, {"txtPort", "16501"}, {"txtTicket", "1"},
        {"txtAmount", "100"},   {"txtQty", "100"},    {"txtRes", ""},
    };
    for (const auto& [name, text] : texts) EXPECT_EQ(rig.text(name), text) << name;
    EXPECT_EQ(rig.control("optNew").value(), ui::kSelected);
    EXPECT_EQ(rig.control("optChk").value(), ui::kNotSelected);
    EXPECT_EQ(rig.control("chkAuto").value(), ui::kUnticked);
    EXPECT_EQ(rig.control("chkKeep").value(), ui::kUnticked);
    EXPECT_TRUE(rig.frame_enabled());
    EXPECT_FALSE(rig.control("Timer1").enabled());
    EXPECT_FALSE(rig.timer_armed());
    EXPECT_EQ(rig.timer_interval(), 1);
    EXPECT_EQ(rig.test->WS().state(), net::kClosed);
    EXPECT_EQ(rig.test->ConnectOutcome, kOutcomePending);
    EXPECT_TRUE(rig.trace.empty());
}

TEST(ClientWindow, OptionsAndCheckBoxesDoNothingByThemselves) {
    SimRig rig;
    rig.choose_check_state();
    EXPECT_EQ(rig.control("optNew").value(), ui::kNotSelected);
    EXPECT_EQ(rig.control("optChk").value(), ui::kSelected);
    rig.click("optNew");
    EXPECT_EQ(rig.control("optNew").value(), ui::kSelected);
    EXPECT_EQ(rig.control("optChk").value(), ui::kNotSelected);
    rig.tick_automatic();
    rig.tick_keep();
    EXPECT_EQ(rig.control("chkAuto").value(), ui::kTicked);
    EXPECT_EQ(rig.control("chkKeep").value(), ui::kTicked);
    rig.tk.run_until_idle();
    EXPECT_TRUE(rig.trace.empty());
    EXPECT_FALSE(rig.timer_armed());
    EXPECT_EQ(rig.tk.now_ms(), 0);
}

TEST(ClientWindow, TranscriptCannotBeEdited) {
    SimRig rig;
    EXPECT_FALSE(rig.window->type("txtRes", "typed"));
    EXPECT_EQ(rig.text("txtRes"), "");
}

TEST(ClientWindow, ClosingTheWindowEndsTheProgramAndClosesTheSocket) {
    SimRig rig;
    rig.tick_keep();
    rig.send_and_settle();
    ASSERT_EQ(rig.test->WS().state(), net::kConnected);
    net::SimPeer* peer = rig.service().last_connection();
    rig.window->close();
    EXPECT_TRUE(rig.tk.program_ended());
    EXPECT_TRUE(rig.tk.boxes().empty());
    rig.test.reset();
    EXPECT_TRUE(peer->closed_by_client());
}

TEST(ReceivedBytes, EveryByteBecomesOneCharacter) {
    struct Case {
        std::string bytes;
        std::string text;  // UTF-8
    };
    const std::vector<Case> cases = {
        {"", ""},
        {"OK 12|ready", "OK 12|ready"},
        {std::string("a\0b", 3), std::string("a\0b", 3)},
        {"\r\n\t", "\r\n\t"},
        {"\x7f", "\x7f"},
        {"\x80", "\xc2\x80"},
        {"caf\xe9", "caf\xc3\xa9"},
        {"\xff\xfe", "\xc3\xbf\xc3\xbe"},
        // Bytes that look like UTF-8 are still taken one by one.
        {"\xc3\xa9", "\xc3\x83\xc2\xa9"},
    };
    for (const auto& c : cases) EXPECT_EQ(bytes_to_text(c.bytes), c.text) << c.bytes;
}

}  // namespace
}  // namespace monvia::client::testing

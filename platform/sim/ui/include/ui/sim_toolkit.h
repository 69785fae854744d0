#pragma once
// The deterministic in-memory window toolkit, for tests; the seam's rules are
// in ui/toolkit.h. What it adds: controls are plain objects that tests type
// into, click, tick and read; message boxes are recorded and answered at
// once; a virtual clock (sim/clock.h) drives timers and every other posted
// event (the in-memory network posts its socket events on the same clock),
// and process_events() delivers the next due event. Waiting for an event
// that can never come throws SimDeadlock instead of hanging the test.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/clock.h"
#include "ui/toolkit.h"

namespace monvia::ui {

// Deliberately not a std::exception: the handler guard turns every
// std::exception into the unhandled-failure report, and a deadlocked test must
// fail loudly instead of being reported as an ordinary program failure.
class SimDeadlock {
public:
    explicit SimDeadlock(std::string what) : what_(std::move(what)) {}
    const std::string& what() const { return what_; }

private:
    std::string what_;
};

class SimToolkit;
class SimWindow;

class SimControl : public Control {
public:
    SimControl(SimWindow& window, const ControlSpec& layout);
    ~SimControl() override;

    const std::string& name() const override { return layout_.name; }
    ControlKind kind() const override { return layout_.kind; }
    std::string text() const override { return text_; }
    void set_text(const std::string& text) override { text_ = text; }
    void append_text(const std::string& more) override { text_ += more; }
    int value() const override { return value_; }
    void set_value(int value) override;
    bool enabled() const override { return enabled_; }
    void set_enabled(bool enabled) override;
    int interval() const override { return interval_; }
    void set_interval(int ms) override;
    void on_click(std::function<void()> handler) override { click_ = std::move(handler); }
    void on_timer(std::function<void()> handler) override { timer_ = std::move(handler); }

    const ControlSpec& layout() const { return layout_; }
    // Enabled itself and inside enabled containers: what a user can reach.
    bool reachable() const;
    // A timer that is enabled with an interval above 0.
    bool armed() const { return tick_event_ != 0; }

private:
    friend class SimWindow;
    void reschedule();
    void tick();

    SimWindow& window_;
    ControlSpec layout_;
    std::string text_;
    int value_ = 0;
    bool enabled_ = true;
    int interval_ = 0;
    std::function<void()> click_;
    std::function<void()> timer_;
    sim::Clock::EventId tick_event_ = 0;
};

class SimWindow : public Window {
public:
    SimWindow(SimToolkit& toolkit, const WindowSpec& layout);
    ~SimWindow() override;

    const WindowSpec& layout() const override { return layout_; }
    SimControl& control(std::string_view name) override;
    void show() override { shown_ = true; }
    void on_unload(std::function<void()> handler) override { unload_ = std::move(handler); }

    // What a user does. Each returns false, doing nothing, when the control
    // cannot be reached (disabled, or inside a disabled frame) or the window is closed.
    // click: a check box toggles, an option button becomes selected, then the click handler runs.
    bool click(std::string_view name);
    // Replaces the text of an editable text box.
    bool type(std::string_view name, const std::string& text);
    // Closes the window as the user would: the unload handler runs, then the
    // window is gone; with no window left the program ends.
    void close();

    bool shown() const { return shown_; }
    bool closed() const { return closed_; }
    SimToolkit& toolkit() { return toolkit_; }
    // The control that has the keyboard focus at start.
    const std::string& focus() const { return layout_.initial_focus; }

private:
    friend class SimControl;
    SimToolkit& toolkit_;
    WindowSpec layout_;
    std::vector<std::unique_ptr<SimControl>> controls_;
    std::function<void()> unload_;
    bool shown_ = false;
    bool closed_ = false;
};

class SimToolkit : public Toolkit {
public:
    struct Box {
        std::string title;
        std::string text;
    };

    SimToolkit();
    ~SimToolkit() override;

    std::unique_ptr<Window> create_window(const WindowSpec& layout) override;
    void message_box(const std::string& title, const std::string& text) override;
    void process_events() override;
    int run() override;
    void end_program(int exit_code) override;
    bool program_ended() const override { return ended_; }
    std::string decimal_separator() const override { return decimal_separator_; }

    // Test side.
    sim::Clock& clock() { return clock_; }
    int64_t now_ms() const { return clock_.now_ms(); }
    void set_decimal_separator(std::string s) { decimal_separator_ = std::move(s); }
    const std::vector<Box>& boxes() const { return boxes_; }
    // Called for every box as it is shown (to put it in a shared trace).
    void on_message_box(std::function<void(const Box&)> observer) { observer_ = std::move(observer); }
    // Called inside every box while it is "open", before it is answered.
    void while_box_open(std::function<void(const Box&)> action) { while_open_ = std::move(action); }
    int exit_code() const { return exit_code_; }
    // The most recently created window that is still open.
    SimWindow* window();

    // Runs every event due within the next ms milliseconds of virtual time,
    // then sets the clock to that time. Stops early when the program ends.
    void advance(int64_t ms);
    // Runs events until none is left, the program ends, or limit_ms of virtual
    // time have passed (then throws SimDeadlock: something keeps re-arming).
    void run_until_idle(int64_t limit_ms = 3'600'000);

private:
    friend class SimWindow;
    void window_closed(SimWindow* w);
    void window_destroyed(SimWindow* w);

    sim::Clock clock_;
    std::vector<SimWindow*> windows_;  // open windows, oldest first
    std::vector<Box> boxes_;
    std::function<void(const Box&)> observer_;
    std::function<void(const Box&)> while_open_;
    std::string decimal_separator_ = ".";
    bool ended_ = false;
    int exit_code_ = 0;
};

}  // namespace monvia::ui

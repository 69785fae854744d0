#pragma once
// The window toolkit seam. The programs see windows, controls, a modal
// message box, a timer, event processing and program end only through these
// classes; there is a Qt implementation and a deterministic in-memory one.
// The rules below hold for both (tests/seams checks them on both); a
// backend's header says only what it adds.
//
// - Handlers (clicks, ticks, unload) run only while events are processed
//   (process_events(), run(), a message box), never inside a call that
//   changes a control: the program setting a value, text or flag raises no
//   click. A handler may replace itself while it runs.
// - A user's click or typing reaches only a control that can be reached: a
//   control that is enabled, inside containers that are enabled, in a window
//   that is open. A click ticks or unticks a check box, or selects an option
//   button, before its handler runs, so the handler sees the new value.
// - An exception that leaves a handler comes out of the process_events() or
//   run() call that delivered it; the program goes on unless it was ended.

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "ui/window_layout.h"

namespace monvia::ui {

// The values of Control::value(): a check box's and an option button's.
inline constexpr int kUnticked = 0;
inline constexpr int kTicked = 1;
inline constexpr int kSelected = -1;
inline constexpr int kNotSelected = 0;

// One control of a created window. Which properties mean something depends on
// its kind; the others are inert.
class Control {
public:
    virtual ~Control() = default;

    virtual const std::string& name() const = 0;
    virtual ControlKind kind() const = 0;

    // Text of a text box, caption of the others (UTF-8). Comes back exactly
    // as set, byte for byte (zero bytes, line breaks of every kind, bytes that
    // are not UTF-8), until the user edits it. A line break the user types
    // into a multi-line box reads as CR LF.
    virtual std::string text() const = 0;
    virtual void set_text(const std::string& text) = 0;
    // Adds to the end of the text. Backends override it so that a text box
    // that grows piece by piece (a transcript) is not copied for every piece.
    virtual void append_text(const std::string& more) { set_text(text() + more); }

    // Check box: 0 unticked, 1 ticked; setting any other value than 0 ticks
    // it (there is no greyed state). Option button: -1 selected, 0 not;
    // setting any value other than 0 selects it and deselects the others of
    // its container, setting 0 deselects it (a group may be left with none
    // selected). Other kinds have no value: it reads 0.
    virtual int value() const = 0;
    virtual void set_value(int value) = 0;

    // A disabled frame disables every control inside it; a control's own
    // flag stays as it was set.
    virtual bool enabled() const = 0;
    virtual void set_enabled(bool enabled) = 0;

    // Timers: milliseconds between ticks. A timer ticks repeatedly while it is
    // enabled, its interval is above 0 and its window is open; setting either
    // restarts the count. The interval reads back as set, 0 or negative too.
    virtual int interval() const = 0;
    virtual void set_interval(int ms) = 0;

    // Click of a button, check box or option button; tick of a timer.
    virtual void on_click(std::function<void()> handler) = 0;
    virtual void on_timer(std::function<void()> handler) = 0;
};

class Window {
public:
    virtual ~Window() = default;

    virtual const WindowSpec& layout() const = 0;
    // Throws std::out_of_range for a name the window does not have.
    virtual Control& control(std::string_view name) = 0;

    virtual void show() = 0;
    // Raised when the user closes the window, while it is still there and
    // before the program ends for it; a second close is nothing. A closed
    // window's timers stop and cannot be re-armed.
    virtual void on_unload(std::function<void()> handler) = 0;
};

class Toolkit {
public:
    virtual ~Toolkit() = default;

    virtual std::unique_ptr<Window> create_window(const WindowSpec& layout) = 0;

    // Modal message box: OK button only, no icon. Returns when dismissed.
    virtual void message_box(const std::string& title, const std::string& text) = 0;

    // Handles pending events once. When nothing is pending it blocks until an
    // event arrives (it never spins). Throws ProgramEnded, carrying the exit
    // code, once end_program() has been called or the last open window has
    // been closed (exit code 0).
    virtual void process_events() = 0;

    // Runs the event loop until the program ends; returns the exit code.
    // Returns at once when the program has already ended.
    virtual int run() = 0;

    // Ends the program: every wait unwinds with ProgramEnded and run()
    // returns. Only the first call counts; its exit code stands.
    virtual void end_program(int exit_code) = 0;
    virtual bool program_ended() const = 0;

    // The user's decimal separator, for the number conversions.
    virtual std::string decimal_separator() const = 0;
};

}  // namespace monvia::ui

#pragma once
// The window toolkit seam. The programs see windows, controls, a modal
// message box, a timer, event processing and program end only through these
// classes; there is a Qt implementation and a deterministic in-memory one.

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "ui/window_layout.h"

namespace monvia::ui {

// One control of a created window. Which properties mean something depends on
// its kind; the others are inert.
class Control {
public:
    virtual ~Control() = default;

    virtual const std::string& name() const = 0;
    virtual ControlKind kind() const = 0;

    // Text of a text box, caption of the others (UTF-8).
    virtual std::string text() const = 0;
    virtual void set_text(const std::string& text) = 0;
    // Adds to the end of the text. Backends override it so that a text box
    // that grows piece by piece (a transcript) is not copied for every piece.
    virtual void append_text(const std::string& more) { set_text(text() + more); }

    // Check box: 0 unticked, 1 ticked. Option button: -1 selected, 0 not.
    // Selecting an option button deselects the others of its container.
    virtual int value() const = 0;
    virtual void set_value(int value) = 0;

    // A disabled frame disables every control inside it; a control's own
    // flag stays as it was set.
    virtual bool enabled() const = 0;
    virtual void set_enabled(bool enabled) = 0;

    // Timers: milliseconds between ticks. A timer ticks repeatedly while it is
    // enabled and its interval is above 0; setting either restarts the count.
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
    // Raised when the user closes the window, before it goes away.
    virtual void on_unload(std::function<void()> handler) = 0;
};

class Toolkit {
public:
    virtual ~Toolkit() = default;

    virtual std::unique_ptr<Window> create_window(const WindowSpec& layout) = 0;

    // Modal message box: OK button only, no icon. Returns when dismissed.
    virtual void message_box(const std::string& title, const std::string& text) = 0;

    // Handles pending events once. When nothing is pending it blocks until an
    // event arrives (it never spins). Throws ProgramEnded once end_program()
    // has been called or the last window has been closed.
    virtual void process_events() = 0;

    // Runs the event loop until the program ends; returns the exit code.
    virtual int run() = 0;

    // Ends the program: every wait unwinds with ProgramEnded and run() returns.
    virtual void end_program(int exit_code) = 0;
    virtual bool program_ended() const = 0;

    // The user's decimal separator, for the number conversions.
    virtual std::string decimal_separator() const = 0;
};

}  // namespace monvia::ui

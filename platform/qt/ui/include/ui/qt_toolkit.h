#pragma once
// The Qt 6 window toolkit. A window is a top-level QWidget with absolutely
// placed child widgets (no layouts: controls keep their designed places
// whatever size the window is given), a frame is a QGroupBox, a timer a
// precise QTimer, the message box a QMessageBox.
//
// Use: main() makes the QApplication, hands it to the toolkit, creates its
// window, and calls run() (not QApplication::exec(): the toolkit decides when
// the program ends, which is when end_program() is called or the last of its
// windows is closed). The toolkit must outlive its windows.
//
// The seam's rules are in ui/toolkit.h. What Qt adds: handlers run from
// inside the Qt event loop, which cannot carry an exception, so one that
// leaves a handler is held there and rethrown from the process_events() or
// run() call that was waiting; ProgramEnded leaving a handler is dropped,
// since the program is already over.

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/toolkit.h"

class QApplication;
class QAbstractButton;
class QButtonGroup;
class QEventLoop;
class QLabel;
class QLineEdit;
class QMessageBox;
class QTimer;
class QWidget;

namespace monvia::ui {

class QtToolkit;
class QtWindow;
class TextArea;

// 0x00BBGGRR (red in bits 0-7) as 0xRRGGBB, the order QColor::fromRgb takes.
constexpr uint32_t bgr_to_rgb(uint32_t bgr) {
    return ((bgr & 0xFFu) << 16) | (bgr & 0xFF00u) | ((bgr >> 16) & 0xFFu);
}

class QtControl final : public Control {
public:
    // parent is the window's widget or the frame's widget; unused for a timer.
    QtControl(QtWindow& window, const ControlSpec& row, QWidget* parent);
    ~QtControl() override;
    QtControl(const QtControl&) = delete;
    QtControl& operator=(const QtControl&) = delete;

    const std::string& name() const override { return layout_.name; }
    ControlKind kind() const override { return layout_.kind; }
    std::string text() const override;
    void set_text(const std::string& text) override;
    void append_text(const std::string& more) override;
    int value() const override;
    void set_value(int value) override;
    bool enabled() const override { return enabled_; }
    void set_enabled(bool enabled) override;
    int interval() const override { return interval_; }
    void set_interval(int ms) override;
    void on_click(std::function<void()> handler) override { click_ = std::move(handler); }
    void on_timer(std::function<void()> handler) override { tick_ = std::move(handler); }

    // The control's row of the window's table.
    const ControlSpec& row() const { return layout_; }
    // The control's widget; nullptr for a timer.
    QWidget* widget() const { return widget_.get(); }
    // The timer of a Timer control; nullptr for the others.
    QTimer* timer() const { return timer_.get(); }

private:
    friend class QtWindow;
    // Starts or stops a timer after a change of its state; any change restarts the count.
    void rearm();
    void clicked();
    void ticked();
    void fit_label();

    QtWindow& window_;
    ControlSpec layout_;
    std::unique_ptr<QWidget> widget_;
    std::unique_ptr<QTimer> timer_;
    // Typed views of widget_ (not owners).
    QAbstractButton* button_ = nullptr;
    QLineEdit* line_ = nullptr;
    TextArea* area_ = nullptr;  // a multi-line text box
    QLabel* label_ = nullptr;
    // The text exactly as the program last set it (all but a multi-line box,
    // which keeps its own). Qt normalises some text on the way in (invalid
    // UTF-8 turns into replacement characters), so as long as the user has not
    // edited the control, text() gives back these bytes rather than Qt's version.
    std::string exact_text_;
    bool enabled_ = true;
    int interval_ = 0;
    std::function<void()> click_;
    std::function<void()> tick_;
};

class QtWindow final : public Window {
public:
    // Throws std::invalid_argument for a table it cannot build: two controls
    // with one name, a container that is not a frame listed before its
    // contents, an initial focus that names no control.
    QtWindow(QtToolkit& toolkit, const WindowSpec& table);
    ~QtWindow() override;
    QtWindow(const QtWindow&) = delete;
    QtWindow& operator=(const QtWindow&) = delete;

    const WindowSpec& layout() const override { return layout_; }
    QtControl& control(std::string_view name) override;
    void show() override;
    void on_unload(std::function<void()> handler) override { unload_ = std::move(handler); }

    // The top-level widget.
    QWidget* widget() const { return widget_.get(); }
    // Controls in creation order.
    const std::vector<std::unique_ptr<QtControl>>& controls() const { return controls_; }
    bool closed() const { return closed_; }

private:
    friend class QtToolkit;
    friend class QtControl;
    class Surface;
    // The user closed the window: unload handler, then the window is gone.
    void closed_by_user();
    QtToolkit* toolkit() const { return toolkit_; }
    // The exclusive group of the option buttons in a container ("" the window).
    QButtonGroup& option_group(const std::string& container);

    QtToolkit* toolkit_;  // cleared if the toolkit goes first
    WindowSpec layout_;
    std::unique_ptr<QWidget> widget_;
    std::map<std::string, std::unique_ptr<QButtonGroup>> option_groups_;
    // Declared after widget_ so that the controls, whose widgets are children
    // of it, are destroyed first.
    std::vector<std::unique_ptr<QtControl>> controls_;
    std::function<void()> unload_;
    bool closed_ = false;
};

class QtToolkit final : public Toolkit {
public:
    // app: the program's QApplication, made by main() and alive for as long
    // as the toolkit. The toolkit turns off the application's own "quit when
    // the last window closes" and restores it when it goes.
    explicit QtToolkit(QApplication& app);
    ~QtToolkit() override;
    QtToolkit(const QtToolkit&) = delete;
    QtToolkit& operator=(const QtToolkit&) = delete;

    std::unique_ptr<Window> create_window(const WindowSpec& table) override;
    // Shown over the most recently opened window that is still open. Ctrl+C
    // while it is open puts its text on the clipboard.
    void message_box(const std::string& title, const std::string& text) override;
    void process_events() override;
    // Throws std::logic_error when called while run() is already running.
    int run() override;
    void end_program(int exit_code) override;
    bool program_ended() const override { return ended_; }
    std::string decimal_separator() const override;

    // The message box on screen, innermost first when boxes are nested; nullptr when none.
    QMessageBox* open_message_box() const { return boxes_.empty() ? nullptr : boxes_.back(); }

private:
    friend class QtWindow;
    friend class QtControl;
    // Runs a handler from inside the Qt event loop, holding what it throws.
    // Once the program has ended, handlers no longer run (as a stopped loop
    // would deliver nothing), except the unload handler.
    void deliver(const std::function<void()>& handler, bool even_after_end = false);
    void rethrow_held();
    void window_opened(QtWindow* w);
    void window_closed(QtWindow* w);
    void window_destroyed(QtWindow* w);

    QApplication& app_;
    bool app_quit_on_last_window_closed_;
    std::vector<QtWindow*> windows_;   // live windows, oldest first
    std::vector<QMessageBox*> boxes_;  // open message boxes, outermost first
    QEventLoop* run_loop_ = nullptr;   // the loop of run() while it runs
    std::exception_ptr held_;
    bool ended_ = false;
    int exit_code_ = 0;
};

}  // namespace monvia::ui

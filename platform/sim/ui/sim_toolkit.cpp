#include "ui/sim_toolkit.h"

#include <algorithm>
#include <cstdio>

#include "runtime/failure.h"

namespace monvia::ui {

// ---- SimControl ------------------------------------------------------------

SimControl::SimControl(SimWindow& window, const ControlSpec& layout)
    : window_(window), layout_(layout), text_(layout.text), interval_(layout.interval_ms) {
    if (layout.flags & kChecked) value_ = layout.kind == ControlKind::OptionButton ? -1 : 1;
    enabled_ = !(layout.flags & kDisabled);
}

SimControl::~SimControl() {
    if (tick_event_) window_.toolkit().clock().cancel(tick_event_);
}

void SimControl::set_value(int value) {
    if (layout_.kind == ControlKind::CheckBox) {
        value_ = value != 0 ? 1 : 0;
        return;
    }
    if (layout_.kind == ControlKind::OptionButton) {
        const bool selected = value != 0;
        if (selected) {
            // One selected option per container.
            for (auto& c : window_.controls_)
                if (c.get() != this && c->layout_.kind == ControlKind::OptionButton &&
                    c->layout_.container == layout_.container)
                    c->value_ = 0;
        }
        value_ = selected ? -1 : 0;
    }
    // Other kinds have no value: it stays 0.
}

void SimControl::set_enabled(bool enabled) {
    enabled_ = enabled;
    if (layout_.kind == ControlKind::Timer) reschedule();
}

void SimControl::set_interval(int ms) {
    interval_ = ms;
    if (layout_.kind == ControlKind::Timer) reschedule();
}

bool SimControl::reachable() const {
    if (!enabled_ || window_.closed()) return false;
    if (layout_.container.empty()) return true;
    return window_.control(layout_.container).reachable();
}

void SimControl::reschedule() {
    auto& clock = window_.toolkit().clock();
    if (tick_event_) {
        clock.cancel(tick_event_);
        tick_event_ = 0;
    }
    if (enabled_ && interval_ > 0 && !window_.closed())
        tick_event_ = clock.post(interval_, [this] { tick(); });
}

void SimControl::tick() {
    tick_event_ = 0;
    // Periodic: the next tick is due one interval from now unless the handler
    // disables the timer or changes its interval.
    reschedule();
    if (timer_) timer_();
}

// ---- SimWindow -------------------------------------------------------------

SimWindow::SimWindow(SimToolkit& toolkit, const WindowSpec& layout) : toolkit_(toolkit), layout_(layout) {
    for (const auto& c : layout_.controls) controls_.push_back(std::make_unique<SimControl>(*this, c));
    for (auto& c : controls_)
        if (c->kind() == ControlKind::Timer) c->reschedule();
    toolkit_.windows_.push_back(this);
}

SimWindow::~SimWindow() {
    controls_.clear();
    toolkit_.window_destroyed(this);
}

SimControl& SimWindow::control(std::string_view name) {
    for (auto& c : controls_)
        if (c->name() == name) return *c;
    throw std::out_of_range("window " + layout_.name + " has no control " + std::string(name));
}

bool SimWindow::click(std::string_view name) {
    SimControl& c = control(name);
    if (!c.reachable()) return false;
    switch (c.kind()) {
        case ControlKind::CheckBox:
            c.set_value(c.value() ? 0 : 1);
            break;
        case ControlKind::OptionButton:
            c.set_value(-1);
            break;
        case ControlKind::Button:
            break;
        default:
            return false;
    }
    if (c.click_) c.click_();
    return true;
}

bool SimWindow::type(std::string_view name, const std::string& text) {
    SimControl& c = control(name);
    if (!c.reachable() || c.kind() != ControlKind::TextBox || (c.layout().flags & kReadOnly)) return false;
    c.set_text(text);
    return true;
}

void SimWindow::close() {
    if (closed_) return;
    if (unload_) unload_();
    closed_ = true;
    for (auto& c : controls_) c->reschedule();  // a closed window's timers stop
    toolkit_.window_closed(this);
}

// ---- SimToolkit ------------------------------------------------------------

SimToolkit::SimToolkit() = default;
SimToolkit::~SimToolkit() = default;

std::unique_ptr<Window> SimToolkit::create_window(const WindowSpec& layout) {
    return std::make_unique<SimWindow>(*this, layout);
}

void SimToolkit::message_box(const std::string& title, const std::string& text) {
    Box box{title, text};
    boxes_.push_back(box);
    if (observer_) observer_(box);
    if (while_open_) while_open_(box);
}

void SimToolkit::process_events() {
    if (ended_) throw ProgramEnded(exit_code_);
    if (!clock_.run_next()) {
        const char* what = "the program waits for an event, but no event can ever come";
        std::fprintf(stderr, "SimDeadlock: %s\n", what);
        throw SimDeadlock(what);
    }
    if (ended_) throw ProgramEnded(exit_code_);
}

int SimToolkit::run() {
    try {
        while (!ended_ && clock_.run_next()) {
        }
    } catch (const ProgramEnded&) {
        // A handler that was waiting unwound as the program ended.
    }
    return exit_code_;
}

void SimToolkit::end_program(int exit_code) {
    if (ended_) return;
    ended_ = true;
    exit_code_ = exit_code;
}

SimWindow* SimToolkit::window() {
    for (auto it = windows_.rbegin(); it != windows_.rend(); ++it)
        if (!(*it)->closed()) return *it;
    return nullptr;
}

void SimToolkit::advance(int64_t ms) {
    const int64_t until = clock_.now_ms() + ms;
    while (!ended_ && clock_.has_pending() && clock_.next_due_ms() <= until) clock_.run_next();
    if (!ended_) clock_.advance_to(until);
}

void SimToolkit::run_until_idle(int64_t limit_ms) {
    const int64_t until = clock_.now_ms() + limit_ms;
    while (!ended_ && clock_.has_pending()) {
        if (clock_.next_due_ms() > until)
            throw SimDeadlock("events keep coming after the time limit: something re-arms forever");
        clock_.run_next();
    }
}

void SimToolkit::window_closed(SimWindow* w) {
    (void)w;
    const bool any_open =
        std::any_of(windows_.begin(), windows_.end(), [](SimWindow* x) { return !x->closed(); });
    if (!any_open) end_program(0);
}

void SimToolkit::window_destroyed(SimWindow* w) {
    windows_.erase(std::remove(windows_.begin(), windows_.end(), w), windows_.end());
}

}  // namespace monvia::ui

#include "ui/qt_toolkit.h"

#include <QAbstractButton>
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFontMetrics>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <limits>
#include <set>
#include <stdexcept>
#include <utility>

#include "qt_text_area.h"
#include "runtime/failure.h"

namespace monvia::ui {

namespace {

QString qstr(const std::string& s) { return QString::fromStdString(s); }

QFont to_qfont(const FontSpec& wanted) {
    QFont font(qstr(wanted.family));
    if (wanted.point_size > 0) font.setPointSize(wanted.point_size);
    // Weight 0 means "no preference", which is the regular weight.
    const int weight = wanted.weight <= 0 ? 400 : std::clamp(wanted.weight, 1, 1000);
    font.setWeight(static_cast<QFont::Weight>(weight));
    font.setItalic(wanted.italic);
    font.setUnderline(wanted.underline);
    font.setStrikeOut(wanted.strike_out);
    return font;
}

// The message box. Ctrl+C copies the text, so that an outcome can be pasted
// into a bug report; Qt does that only on some platforms, so it is done here.
class ReportBox final : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->matches(QKeySequence::Copy)) {
            if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setText(text());
            event->accept();
            return;
        }
        QMessageBox::keyPressEvent(event);
    }
};

// Only the selected button of a group takes the Tab focus (all do while none
// is selected); the others still take the focus when clicked.
void fix_option_tab_stop(QButtonGroup& group) {
    const QList<QAbstractButton*> buttons = group.buttons();
    const auto it =
        std::find_if(buttons.begin(), buttons.end(), [](QAbstractButton* b) { return b->isChecked(); });
    QAbstractButton* selected = it == buttons.end() ? nullptr : *it;
    for (QAbstractButton* b : buttons)
        b->setFocusPolicy(selected && b != selected ? Qt::ClickFocus : Qt::StrongFocus);
}

void validate(const WindowSpec& table) {
    std::set<std::string> seen;
    for (const auto& c : table.controls) {
        if (!c.container.empty()) {
            const ControlSpec* frame = nullptr;
            for (const auto& earlier : table.controls) {
                if (&earlier == &c) break;
                if (earlier.name == c.container) frame = &earlier;
            }
            if (!frame || frame->kind != ControlKind::Frame)
                throw std::invalid_argument("window " + table.name + ": control " + c.name +
                                            " is placed in " + c.container +
                                            ", which is not a frame listed before it");
        }
        if (!seen.insert(c.name).second)
            throw std::invalid_argument("window " + table.name + ": two controls are named " + c.name);
    }
    if (!table.initial_focus.empty() && !seen.count(table.initial_focus))
        throw std::invalid_argument("window " + table.name + ": the initial focus " + table.initial_focus +
                                    " is not one of its controls");
}

}  // namespace

// ---- QtControl -------------------------------------------------------------

QtControl::QtControl(QtWindow& window, const ControlSpec& row, QWidget* parent)
    : window_(window),
      layout_(row),
      exact_text_(row.text),
      enabled_(!(row.flags & kDisabled)),
      interval_(row.interval_ms) {
    const QString text = qstr(layout_.text);
    const bool checked = layout_.flags & kChecked;
    switch (layout_.kind) {
        case ControlKind::Button: {
            auto b = std::make_unique<QPushButton>(text, parent);
            // Neither the default (Enter) nor the cancel (Escape) button.
            b->setAutoDefault(false);
            b->setDefault(false);
            button_ = b.get();
            widget_ = std::move(b);
            break;
        }
        case ControlKind::CheckBox: {
            auto b = std::make_unique<QCheckBox>(text, parent);
            b->setChecked(checked);
            button_ = b.get();
            widget_ = std::move(b);
            break;
        }
        case ControlKind::OptionButton: {
            // The option buttons of one container are one exclusive group.
            // An explicit group, because Qt's automatic grouping by parent
            // widget gets confused by a second group inside a frame.
            auto b = std::make_unique<QRadioButton>(text, parent);
            window_.option_group(layout_.container).addButton(b.get());
            b->setChecked(checked);
            button_ = b.get();
            widget_ = std::move(b);
            break;
        }
        case ControlKind::TextBox:
            if (layout_.flags & kMultiLine) {
                auto t = std::make_unique<TextArea>(parent);
                t->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
                t->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
                t->setLineWrapMode(QPlainTextEdit::WidgetWidth);
                // Tab goes on to the next control, as in every other text box.
                t->setTabChangesFocus(true);
                if (layout_.flags & kReadOnly) {
                    t->setReadOnly(true);
                    t->setUndoRedoEnabled(false);
                    t->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
                    // A read-only box shows what a program wrote, such as a
                    // reply of megabytes without a line break. Wrapping at
                    // word boundaries searches the rest of such a "word" for
                    // every line it fills, which grows with the square of its
                    // length; wrapping anywhere costs in proportion to the
                    // text, and since the box has no scroll bars it is also
                    // the only way every character stays on view.
                    t->setWordWrapMode(QTextOption::WrapAnywhere);
                }
                t->set_exact_text(layout_.text);
                area_ = t.get();
                widget_ = std::move(t);
            } else {
                auto t = std::make_unique<QLineEdit>(text, parent);
                // No length limit: Qt's default of 32767 characters would cut texts.
                t->setMaxLength(std::numeric_limits<int>::max());
                t->setReadOnly(layout_.flags & kReadOnly);
                line_ = t.get();
                widget_ = std::move(t);
            }
            widget_->setFocusPolicy(Qt::StrongFocus);
            break;
        case ControlKind::Label: {
            auto l = std::make_unique<QLabel>(parent);
            l->setTextFormat(Qt::PlainText);
            l->setText(text);
            l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            l->setWordWrap(true);
            // The window's colour shows through behind the text.
            l->setAutoFillBackground(false);
            label_ = l.get();
            widget_ = std::move(l);
            break;
        }
        case ControlKind::Frame: {
            auto g = std::make_unique<QGroupBox>(text, parent);
            g->setFlat(false);
            widget_ = std::move(g);
            break;
        }
        case ControlKind::Timer:
            timer_ = std::make_unique<QTimer>();
            timer_->setTimerType(Qt::PreciseTimer);
            timer_->setSingleShot(false);
            QObject::connect(timer_.get(), &QTimer::timeout, timer_.get(), [this] { ticked(); });
            break;
    }
    if (widget_) {
        widget_->setObjectName(qstr(layout_.name));
        widget_->setGeometry(twips_to_pixels(layout_.left), twips_to_pixels(layout_.top),
                             twips_to_pixels(layout_.width), twips_to_pixels(layout_.height));
        if (!enabled_) widget_->setEnabled(false);
    }
    if (label_) fit_label();
    // clicked() comes from the user only (mouse, Space, arrow keys in a
    // group), never from setChecked().
    if (button_) QObject::connect(button_, &QAbstractButton::clicked, button_, [this] { clicked(); });
    rearm();
}

QtControl::~QtControl() {
    if (timer_) timer_->stop();
}

std::string QtControl::text() const {
    if (line_) {
        const QString shown = line_->text();
        return shown == qstr(exact_text_) ? exact_text_ : shown.toStdString();
    }
    if (area_) return area_->exact_text();
    return exact_text_;
}

void QtControl::set_text(const std::string& text) {
    if (area_) {
        area_->set_exact_text(text);  // the box keeps its own text
        return;
    }
    const QString q = qstr(text);
    if (line_) {
        line_->setText(q);
    } else if (button_) {
        button_->setText(q);
    } else if (label_) {
        label_->setText(q);
        fit_label();
    } else if (auto* frame = qobject_cast<QGroupBox*>(widget_.get())) {
        frame->setTitle(q);
    }
    exact_text_ = text;
}

void QtControl::append_text(const std::string& more) {
    // A transcript grows at the end of its document, without the whole text
    // being read and written again for every piece.
    if (area_) return area_->append_exact_text(more);
    set_text(text() + more);
}

void QtControl::fit_label() {
    // A label is never narrower than the longest word of its caption: a word
    // cannot wrap onto the next line, and a word cut short reads as another
    // word. Its place and height stay as designed.
    const QFontMetrics metrics(label_->font());
    int widest = 0;
    for (const QString& word : label_->text().split(QChar(u' '), Qt::SkipEmptyParts))
        widest = std::max(widest, metrics.horizontalAdvance(word) + 1);
    label_->resize(std::max(twips_to_pixels(layout_.width), widest), label_->height());
}

int QtControl::value() const {
    switch (layout_.kind) {
        case ControlKind::CheckBox:
            return button_->isChecked() ? 1 : 0;
        case ControlKind::OptionButton:
            return button_->isChecked() ? -1 : 0;
        default:
            return 0;
    }
}

void QtControl::set_value(int value) {
    if (layout_.kind == ControlKind::CheckBox) {
        button_->setChecked(value != 0);
    } else if (layout_.kind == ControlKind::OptionButton) {
        if (value != 0) {
            button_->setChecked(true);  // Qt deselects the others of the group
        } else if (button_->isChecked()) {
            // Qt refuses to clear the selected button of an exclusive group;
            // the program may, leaving the group with none selected.
            QButtonGroup* group = button_->group();
            if (group) group->setExclusive(false);
            button_->setChecked(false);
            if (group) group->setExclusive(true);
        }
    }
}

void QtControl::set_enabled(bool enabled) {
    enabled_ = enabled;
    // Qt keeps the widget's own flag apart from its parents': the children of
    // a disabled frame are disabled in effect and come back as they were.
    if (widget_) widget_->setEnabled(enabled);
    rearm();
}

void QtControl::set_interval(int ms) {
    interval_ = ms;
    rearm();
}

void QtControl::rearm() {
    if (!timer_) return;
    if (enabled_ && interval_ > 0 && !window_.closed())
        timer_->start(interval_);  // also restarts a running count
    else
        timer_->stop();
}

void QtControl::clicked() {
    if (QtToolkit* tk = window_.toolkit()) tk->deliver(click_);
}

void QtControl::ticked() {
    if (QtToolkit* tk = window_.toolkit()) tk->deliver(tick_);
}

// ---- QtWindow --------------------------------------------------------------

class QtWindow::Surface final : public QWidget {
public:
    explicit Surface(QtWindow& owner) : owner_(owner) {}

protected:
    void closeEvent(QCloseEvent* event) override {
        // The unload handler runs before the window goes away; the close is never refused.
        owner_.closed_by_user();
        event->accept();
    }

private:
    QtWindow& owner_;
};

QtWindow::QtWindow(QtToolkit& toolkit, const WindowSpec& table) : toolkit_(&toolkit), layout_(table) {
    validate(layout_);
    widget_ = std::make_unique<Surface>(*this);
    widget_->setObjectName(qstr(layout_.name));
    widget_->setWindowTitle(qstr(layout_.caption));
    // A top-level widget's size is its client area, without the frame.
    widget_->resize(twips_to_pixels(layout_.client_width), twips_to_pixels(layout_.client_height));
    // A value with its top byte set names a system colour; the platform's own is kept then.
    if (layout_.back_color && (*layout_.back_color >> 24) == 0) {
        QPalette palette = widget_->palette();
        palette.setColor(QPalette::Window, QColor::fromRgb(bgr_to_rgb(*layout_.back_color)));
        widget_->setPalette(palette);
        widget_->setAutoFillBackground(true);
    }
    // Set on the window, the font is inherited by every control.
    if (layout_.font) widget_->setFont(to_qfont(*layout_.font));

    controls_.reserve(layout_.controls.size());
    for (const auto& c : layout_.controls) {
        QWidget* parent = c.container.empty() ? widget_.get() : control(c.container).widget();
        controls_.push_back(std::make_unique<QtControl>(*this, c, parent));
    }

    // Every control has a name assistive technology shows and automation
    // finds it by (its object name stays the control's name, which Windows
    // UI Automation shows as its automation id), and a label is tied to the
    // control beside it, so that the accessibility layer tells which label
    // names which text field.
    for (auto& c : controls_) {
        QWidget* w = c->widget();
        if (!w) continue;
        w->setAccessibleName(qstr(accessible_name(layout_, c->row())));
        if (c->row().kind != ControlKind::TextBox) continue;
        if (const ControlSpec* label = label_beside(layout_, c->row()))
            if (auto* l = qobject_cast<QLabel*>(control(label->name).widget()); l && !l->buddy())
                l->setBuddy(w);
    }

    // Tab order by tab index, among the controls that can take the focus
    // (Qt ignores a tab order that names a widget which takes none, such as a
    // label or a frame).
    std::vector<QtControl*> order;
    for (auto& c : controls_)
        if (c->widget() && c->row().tab_index >= 0 && c->widget()->focusPolicy() != Qt::NoFocus)
            order.push_back(c.get());
    std::stable_sort(order.begin(), order.end(), [](const QtControl* a, const QtControl* b) {
        return a->row().tab_index < b->row().tab_index;
    });
    for (size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1]->widget(), order[i]->widget());

    // An option group is one Tab stop, its selected button. Qt on its own
    // stops at the group's first button in the chain, selected or not.
    for (auto& [container, group] : option_groups_) {
        QButtonGroup* g = group.get();
        fix_option_tab_stop(*g);
        QObject::connect(g, &QButtonGroup::buttonToggled, g, [g] { fix_option_tab_stop(*g); });
    }

    toolkit.window_opened(this);
}

QtWindow::~QtWindow() {
    // Last created first: every frame comes before its contents in the table,
    // so a frame's children are gone before the frame.
    while (!controls_.empty()) controls_.pop_back();
    widget_.reset();
    if (toolkit_) toolkit_->window_destroyed(this);
}

QButtonGroup& QtWindow::option_group(const std::string& container) {
    auto& group = option_groups_[container];
    if (!group) group = std::make_unique<QButtonGroup>();
    return *group;
}

QtControl& QtWindow::control(std::string_view name) {
    for (auto& c : controls_)
        if (c->name() == name) return *c;
    throw std::out_of_range("window " + layout_.name + " has no control " + std::string(name));
}

namespace {

// Puts a window with a designed start place there on the primary screen,
// kept within the screen's usable area: from the client size before it is
// first shown, and again from the frame once the platform has given it one.
void place_window(QWidget& w, const WindowSpec& layout) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!layout.start_place || !screen) return;
    const QRect all = screen->geometry();
    const QRect usable = screen->availableGeometry();
    const QSize outer = w.isVisible() ? w.frameGeometry().size() : w.size();
    const auto [x, y] = place_on_screen(*layout.start_place, outer.width(), outer.height(),
                                        {all.x(), all.y(), all.width(), all.height()},
                                        {usable.x(), usable.y(), usable.width(), usable.height()});
    // move() places a top-level window by its frame's top-left corner.
    if (w.pos() != QPoint(x, y)) w.move(x, y);
}

}  // namespace

void QtWindow::show() {
    if (closed_) return;
    const bool first = !widget_->testAttribute(Qt::WA_WState_ExplicitShowHide);
    if (first) place_window(*widget_, layout_);
    widget_->show();
    if (first) place_window(*widget_, layout_);
    if (!layout_.initial_focus.empty())
        if (QWidget* w = control(layout_.initial_focus).widget()) w->setFocus(Qt::OtherFocusReason);
    widget_->raise();
    widget_->activateWindow();
}

void QtWindow::closed_by_user() {
    if (closed_) return;
    if (toolkit_) toolkit_->deliver(unload_, /*even_after_end=*/true);
    closed_ = true;
    for (auto& c : controls_) c->rearm();  // a closed window's timers stop
    if (toolkit_) toolkit_->window_closed(this);
}

// ---- QtToolkit -------------------------------------------------------------

QtToolkit::QtToolkit(QApplication& app)
    : app_(app), app_quit_on_last_window_closed_(app.quitOnLastWindowClosed()) {
    // Program end is decided here (end_program, or the last of the toolkit's
    // windows closed), not by Qt counting its windows.
    QApplication::setQuitOnLastWindowClosed(false);
}

QtToolkit::~QtToolkit() {
    for (QtWindow* w : windows_) w->toolkit_ = nullptr;
    QApplication::setQuitOnLastWindowClosed(app_quit_on_last_window_closed_);
}

std::unique_ptr<Window> QtToolkit::create_window(const WindowSpec& table) {
    return std::make_unique<QtWindow>(*this, table);
}

void QtToolkit::message_box(const std::string& title, const std::string& text) {
    QWidget* parent = nullptr;
    for (auto it = windows_.rbegin(); it != windows_.rend(); ++it)
        if (!(*it)->closed()) {
            parent = (*it)->widget();
            break;
        }
    auto box = std::make_unique<ReportBox>(parent);
    box->setIcon(QMessageBox::NoIcon);
    box->setWindowTitle(qstr(title));
    // The text is shown as it stands: a component's error text is not markup.
    box->setTextFormat(Qt::PlainText);
    box->setText(qstr(text));
    box->setStandardButtons(QMessageBox::Ok);
    // Some styles put a picture on the standard buttons; the box has none.
    if (QAbstractButton* ok = box->button(QMessageBox::Ok)) ok->setIcon(QIcon());
    box->setDefaultButton(QMessageBox::Ok);
    box->setEscapeButton(QMessageBox::Ok);
    box->setWindowModality(Qt::ApplicationModal);

    QPointer<QMessageBox> alive(box.get());
    boxes_.push_back(box.get());
    box->exec();
    boxes_.erase(std::find(boxes_.begin(), boxes_.end(), box.get()));
    // Should its parent window have been destroyed while it was open, Qt
    // destroyed the box with it.
    if (!alive) static_cast<void>(box.release());
}

void QtToolkit::process_events() {
    if (ended_) throw ProgramEnded(exit_code_);
    // Handles what is pending once; when nothing is, sleeps in the event
    // dispatcher until something arrives.
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    rethrow_held();
    if (ended_) throw ProgramEnded(exit_code_);
}

int QtToolkit::run() {
    if (run_loop_) throw std::logic_error("QtToolkit::run: the event loop is already running");
    rethrow_held();
    if (ended_) return exit_code_;
    QEventLoop loop;
    run_loop_ = &loop;
    loop.exec();
    run_loop_ = nullptr;
    rethrow_held();
    return exit_code_;
}

void QtToolkit::end_program(int exit_code) {
    if (ended_) return;
    ended_ = true;
    exit_code_ = exit_code;
    // Every wait unwinds: open boxes close, run() returns, and a
    // process_events() asleep in the dispatcher wakes up and throws.
    for (auto it = boxes_.rbegin(); it != boxes_.rend(); ++it) (*it)->reject();
    if (run_loop_) run_loop_->exit(exit_code);
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) dispatcher->wakeUp();
}

std::string QtToolkit::decimal_separator() const { return QLocale::system().decimalPoint().toStdString(); }

void QtToolkit::deliver(const std::function<void()>& handler, bool even_after_end) {
    if (!handler || (ended_ && !even_after_end)) return;
    // A copy: the handler may replace itself while it runs.
    const std::function<void()> run_handler = handler;
    try {
        run_handler();
    } catch (const ProgramEnded&) {
        // The program is over; the wait it came out of has unwound.
    } catch (...) {
        if (!held_) held_ = std::current_exception();
        if (run_loop_) run_loop_->exit(exit_code_);
    }
}

void QtToolkit::rethrow_held() {
    if (!held_) return;
    std::exception_ptr e = std::exchange(held_, nullptr);
    std::rethrow_exception(e);
}

void QtToolkit::window_opened(QtWindow* w) { windows_.push_back(w); }

void QtToolkit::window_closed(QtWindow*) {
    const bool any_open =
        std::any_of(windows_.begin(), windows_.end(), [](QtWindow* x) { return !x->closed(); });
    if (!any_open) end_program(0);
}

void QtToolkit::window_destroyed(QtWindow* w) {
    windows_.erase(std::remove(windows_.begin(), windows_.end(), w), windows_.end());
}

}  // namespace monvia::ui

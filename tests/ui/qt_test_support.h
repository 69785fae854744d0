#pragma once
// Helpers shared by the Qt backend tests.

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <functional>
#include <memory>
#include <string>

#include "probe_layout.h"
#include "runtime/failure.h"
#include "ui/qt_toolkit.h"

namespace monvia::ui::testing {

using seams::probe_layout;

inline QApplication& application() { return *static_cast<QApplication*>(QCoreApplication::instance()); }

// create_window() gives the seam's Window; the tests want the Qt one.
inline std::unique_ptr<QtWindow> make_window(QtToolkit& tk, const WindowSpec& table) {
    auto w = tk.create_window(table);
    return std::unique_ptr<QtWindow>(static_cast<QtWindow*>(w.release()));
}

// Clicks as a user does, through the window system, so that Qt's own rules
// apply: a modal box blocks the window, a disabled control takes no click,
// and a check box or option button reacts near its indicator.
inline void user_click(QWidget* w) {
    QWidget* top = w->window();
    const QPoint at(std::min(8, w->width() / 2), w->height() / 2);
    QTest::mouseClick(top->windowHandle(), Qt::LeftButton, Qt::NoModifier, w->mapTo(top, at));
}

inline std::string name_of(const QObject* o) {
    return o ? o->objectName().toStdString() : std::string("(none)");
}

// Processes events until pred() holds. A watchdog gives up after limit_ms so
// that a broken backend fails the test instead of hanging it; the time is a
// limit, never something a test asserts on.
inline bool wait_until(QtToolkit& tk, const std::function<bool()>& pred, int limit_ms = 5000) {
    bool expired = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] { expired = true; });
    watchdog.start(limit_ms);
    while (!pred() && !expired) tk.process_events();
    return pred();
}

}  // namespace monvia::ui::testing

// Preloaded (LD_PRELOAD) into an installed program under test, which has no
// test hooks of its own: once the application runs, it presses the buttons
// whose captions MONVIA_DRIVER_PRESS lists (comma-separated) one after the
// other, prints the text of every message box as one line "box: <text>"
// (line breaks shown as " | ") and dismisses it, and closes the windows
// when all are pressed. A program that never gets that far is ended after a
// generous limit, so that a broken install fails the test instead of hanging it.

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

namespace {

struct Driver {
    QStringList presses;
    int next = 0;
    bool pressing = false;
    int ticks = 0;
};

Driver& driver() {
    static Driver d;
    return d;
}

QMessageBox* open_box() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) return box;
    return nullptr;
}

QPushButton* button(const QString& caption) {
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->isVisible() && !qobject_cast<QMessageBox*>(top))
            for (QPushButton* b : top->findChildren<QPushButton*>())
                if (b->text() == caption && b->isVisible()) return b;
    return nullptr;
}

void step() {
    Driver& d = driver();
    if (++d.ticks > 600) {  // 30 s at 50 ms a tick
        std::printf("driver: gave up waiting\n");
        std::fflush(stdout);
        std::_Exit(3);
    }
    if (QMessageBox* box = open_box()) {
        std::printf("box: %s\n", qPrintable(box->text().replace(QChar('\n'), QStringLiteral(" | "))));
        std::fflush(stdout);
        box->accept();
        return;
    }
    // A press runs its handler, and any box it opens, inside click(). It is
    // made from the event loop, not from this timer's own slot: a timer does
    // not fire again while its slot runs.
    if (d.pressing) return;
    if (d.next < d.presses.size()) {
        QPushButton* b = button(d.presses[d.next]);
        if (!b) return;  // the window is not up yet
        ++d.next;
        d.pressing = true;
        QMetaObject::invokeMethod(
            b,
            [b] {
                b->click();
                driver().pressing = false;
            },
            Qt::QueuedConnection);
        return;
    }
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->isVisible()) top->close();
}

void start() {
    driver().presses =
        QString::fromLocal8Bit(std::getenv("MONVIA_DRIVER_PRESS")).split(',', Qt::SkipEmptyParts);
    // Runs while the application object is still being made, before it has
    // an event dispatcher: the timer starts from the event loop.
    QObject* app = QCoreApplication::instance();
    QMetaObject::invokeMethod(
        app,
        [app] {
            auto* timer = new QTimer(app);
            QObject::connect(timer, &QTimer::timeout, step);
            timer->start(50);
        },
        Qt::QueuedConnection);
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(start)

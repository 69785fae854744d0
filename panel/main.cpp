// Testing: the device test panel. Wires the Qt toolkit, the process class
// registry and the panel window, then runs the event loop.

#include <QApplication>
#include <cstdio>

#include "com/apartment.h"
#include "com/registry.h"
#include "panel_window.h"
#include "runtime/failure.h"
#include "ui/display_check.h"
#include "ui/qt_toolkit.h"

namespace {

// The user-interface thread is in the component apartment for the life of
// the program; it leaves only after the window and its device are gone.
int run(int argc, char** argv) {
    monvia::com::Apartment apartment;
    QApplication app(argc, argv);
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.monvia.Testing"));
    monvia::ui::QtToolkit toolkit(app);
    int code = 0;
    {
        monvia::panel::frmTest form(toolkit, monvia::com::ClassRegistry::process());
        form.show();
        code = toolkit.run();
    }
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    if (!monvia::ui::display_available("Testing")) return 2;
    monvia::ui::prepare_runtime_directory();
    try {
        return run(argc, argv);
    } catch (const monvia::Failure& f) {
        // Only the apartment can fail before the window is there.
        std::fprintf(stderr, "Testing: %s\n", f.description().c_str());
        return 1;
    }
}

// Testing: the device test panel. Wires the Qt toolkit, the process class
// registry and the panel window, then runs the event loop.

#include <QApplication>

#include "com/registry.h"
#include "panel_window.h"
#include "ui/display_check.h"
#include "ui/qt_toolkit.h"

int main(int argc, char** argv) {
    if (!monvia::ui::display_available("Testing")) return 2;
    monvia::ui::prepare_runtime_directory();
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

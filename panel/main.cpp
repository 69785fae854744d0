// Testing: the device test panel. Wires the Qt toolkit, the process class
// registry and the panel window, then runs the event loop.

#include <QApplication>

#include "com/registry.h"
#include "panel_window.h"
#include "ui/display_check.h"
#include "ui/qt_toolkit.h"

int main(int argc, char** argv) {
    if (!monvia::ui::display_available("Testing")) return 2;
    QApplication app(argc, argv);
    monvia::ui::QtToolkit toolkit(app);
    int code = 0;
    {
        monvia::panel::frmTest form(toolkit, monvia::com::ClassRegistry::process());
        form.show();
        code = toolkit.run();
    }
    return code;
}

// VeluntTest: the client window on the Qt toolkit with a Qt socket.

#include <QApplication>
#include <memory>

#include "client/client_window.h"
#include "net/qt_socket.h"
#include "ui/display_check.h"
#include "ui/qt_toolkit.h"

int main(int argc, char** argv) {
    if (!monvia::ui::display_available("VeluntTest")) return 2;
    monvia::ui::prepare_runtime_directory();
    QApplication app(argc, argv);
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.monvia.VeluntTest"));
    monvia::ui::QtToolkit toolkit(app);
    // Destroyed before the toolkit: Form_Terminate closes the socket.
    monvia::client::Test test(toolkit, std::make_unique<monvia::net::QtSocket>());
    test.show();
    return toolkit.run();
}

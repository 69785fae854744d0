// The yardstick for the panel's start-up figures: the least a Qt 6 widgets
// program does to put a window of the panel's size on the screen. It is
// built with the same compiler, flags and build type as the programs.

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare Qt Window"));
    window.resize(522, 288);
    window.show();
    return app.exec();
}

// The seam contract tests run every case on each backend; the Qt backends
// need one application object for the whole process, made here before any
// test runs, on the offscreen platform unless told otherwise.

#include <gtest/gtest.h>

#ifdef MONVIA_CONTRACT_QT
#include <QApplication>
#endif

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
#ifdef MONVIA_CONTRACT_QT
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
#endif
    return RUN_ALL_TESTS();
}

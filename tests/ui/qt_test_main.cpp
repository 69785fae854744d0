// The Qt backend tests need one QApplication for the whole process; it is
// made here, before any test runs. They run on the offscreen platform, also
// when started by hand or for test discovery without the test's environment.

#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}

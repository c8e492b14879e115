// main() for Qt tests: the application object must outlive every test and die before Qt's own
// statics do, so it lives on main's stack.

#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    // ctest sets this for the run; test discovery runs the program without it.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

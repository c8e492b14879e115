// main() for tests that look at real pixels: starts an Xvfb server of their own and runs the Qt
// application on it through the X11 platform.

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "xvfb.h"

int main(int argc, char** argv) {
    bool listing = false;
    for (int i = 1; i < argc; ++i) {
        listing = listing || std::string_view(argv[i]) == "--gtest_list_tests";
    }
    std::unique_ptr<XvfbServer> xvfb;
    if (listing) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    } else {
        xvfb = std::make_unique<XvfbServer>();
        if (!xvfb->Running()) {
            std::fprintf(stderr, "cannot start Xvfb (scripts/install-deps.sh installs it)\n");
            return 1;
        }
        setenv("DISPLAY", xvfb->Display().c_str(), 1);
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// main() for tests that look at real pixels: starts an Xvfb server of their own, runs the Qt
// application on it through the X11 platform, and stops it afterwards.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

// Starts Xvfb on the first display number that has no server, and waits until it listens.
// Returns the server's pid, or -1.
pid_t StartXvfb(std::string& display) {
    for (int number = 90; number < 190; ++number) {
        const std::string lock = "/tmp/.X" + std::to_string(number) + "-lock";
        if (access(lock.c_str(), F_OK) == 0) {
            continue;
        }
        display = ":" + std::to_string(number);
        const pid_t pid = fork();
        if (pid == 0) {
            execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", "800x300x24", "-nolisten",
                   "tcp", static_cast<char*>(nullptr));
            _exit(127);
        }
        if (pid < 0) {
            return -1;
        }
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
        for (int wait = 0; wait < 200; ++wait) {
            if (access(socket.c_str(), F_OK) == 0) {
                return pid;
            }
            if (waitpid(pid, nullptr, WNOHANG) == pid) {
                break;  // lost a race for this number: try the next one
            }
            usleep(50 * 1000);
        }
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    bool listing = false;
    for (int i = 1; i < argc; ++i) {
        listing = listing || std::string_view(argv[i]) == "--gtest_list_tests";
    }
    pid_t xvfb = -1;
    if (listing) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    } else {
        std::string display;
        xvfb = StartXvfb(display);
        if (xvfb < 0) {
            std::fprintf(stderr, "cannot start Xvfb (scripts/install-deps.sh installs it)\n");
            return 1;
        }
        setenv("DISPLAY", display.c_str(), 1);
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    int result = 0;
    {
        QApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    if (xvfb > 0) {
        kill(xvfb, SIGTERM);
        waitpid(xvfb, nullptr, 0);
    }
    return result;
}

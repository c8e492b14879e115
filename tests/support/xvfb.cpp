#include "xvfb.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

XvfbServer::XvfbServer() {
    // A display number without a lock file has no server; wait until the new one listens.
    for (int number = 90; number < 190; ++number) {
        const std::string lock = "/tmp/.X" + std::to_string(number) + "-lock";
        if (access(lock.c_str(), F_OK) == 0) {
            continue;
        }
        const std::string display = ":" + std::to_string(number);
        const pid_t pid = fork();
        if (pid == 0) {
            // A test killed on its timeout never runs the destructor: take the server with it.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", "800x300x24", "-nolisten",
                   "tcp", static_cast<char*>(nullptr));
            _exit(127);
        }
        if (pid < 0) {
            return;
        }
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
        for (int wait = 0; wait < 200; ++wait) {
            if (access(socket.c_str(), F_OK) == 0) {
                pid_ = pid;
                display_ = display;
                return;
            }
            if (waitpid(pid, nullptr, WNOHANG) == pid) {
                break;  // lost a race for this number: try the next one
            }
            usleep(50 * 1000);
        }
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
}

XvfbServer::~XvfbServer() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

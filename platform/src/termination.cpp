#include "platform/termination.h"

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <initializer_list>

namespace platform {
namespace {

// Process-wide because a signal handler can reach nothing else.
int signalPipe[2] = {-1, -1};

void OnTerminate(int) {
    const char byte = 1;
    (void)!write(signalPipe[1], &byte, 1);
}

}  // namespace

int WatchTerminationSignals() {
    if (signalPipe[0] < 0 &&
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, signalPipe) != 0) {
        signalPipe[0] = signalPipe[1] = -1;
        return -1;
    }
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        std::signal(signal, OnTerminate);
    }
    return signalPipe[0];
}

void AcknowledgeTerminationSignals(int fd) {
    char bytes[64];
    while (read(fd, bytes, sizeof bytes) > 0) {
    }
}

}  // namespace platform

#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// One of our programs run as a user runs it: its own working folder, its environment with some
// variables set or removed, lines written to its standard input, its error stream kept in a file.
class ChildProcess {
  public:
    struct Options {
        std::vector<std::string> argv;
        std::string folder;                                    // empty: the test's own
        std::vector<std::pair<std::string, std::string>> set;  // NAME, VALUE
        std::vector<std::string> unset;                        // NAME
        std::string errorFile;                                 // empty: the test's stderr
    };

    explicit ChildProcess(const Options& options);
    ~ChildProcess();  // kills it if it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    bool Write(const std::string& text);
    void Signal(int signal) const;
    // The exit status (or 128 + the signal that ended it); -1 when it still runs after timeout.
    int Wait(std::chrono::milliseconds timeout);

  private:
    pid_t pid_ = -1;
    int input_ = -1;
    int status_ = -1;
};

}  // namespace testsupport

#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

extern char** environ;

namespace testsupport {

ChildProcess::ChildProcess(const Options& options) {
    // Everything the child needs is built before fork: only async-signal-safe calls follow it.
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        bool drop = false;
        for (const auto& u : options.unset) {
            drop = drop || u == name;
        }
        for (const auto& [n, v] : options.set) {
            drop = drop || n == name;
        }
        if (!drop) {
            env.push_back(entry);
        }
    }
    for (const auto& [n, v] : options.set) {
        env.push_back(n + "=" + v);
    }
    std::vector<char*> envp;
    for (auto& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> args = options.argv;
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    int pipeFds[2];
    if (argv.size() < 2 || pipe2(pipeFds, O_CLOEXEC) != 0) {
        return;
    }
    const int errorFd =
        options.errorFile.empty()
            ? -1
            : open(options.errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(pipeFds[0], STDIN_FILENO);
        if (errorFd >= 0) {
            dup2(errorFd, STDERR_FILENO);
        }
        if (!options.folder.empty() && chdir(options.folder.c_str()) != 0) {
            _exit(126);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(pipeFds[0]);
    if (errorFd >= 0) {
        close(errorFd);
    }
    input_ = pipeFds[1];
}

ChildProcess::~ChildProcess() {
    if (input_ >= 0) {
        close(input_);
    }
    if (pid_ > 0 && status_ < 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

bool ChildProcess::Write(const std::string& text) {
    return input_ >= 0 && write(input_, text.data(), text.size()) == ssize_t(text.size());
}

void ChildProcess::Signal(int signal) const {
    if (pid_ > 0 && status_ < 0) {
        kill(pid_, signal);
    }
}

int ChildProcess::Wait(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (pid_ > 0 && status_ < 0) {
        int raw = 0;
        if (waitpid(pid_, &raw, WNOHANG) == pid_) {
            status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            break;
        }
        if (std::chrono::steady_clock::now() >= end) {
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status_;
}

}  // namespace testsupport

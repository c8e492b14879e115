// How fast Tamborex comes up, and what it costs while it runs. On a private JACK server and an
// Xvfb server of its own, with a bank of 128 named entries whose current patch is active and
// polls every 20 ms:
//  - start-up: from starting the process to the bar's window being mapped, median of 20 runs;
//  - idle CPU over the given seconds (60 by default) and resident memory of one running copy.
// Runs tamborex-virtual-stick, which is Tamborex with an SDL virtual joystick attached, so the
// start-up shows no "No joystick" message and the patch really polls.
//
//     startup [seconds]

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "jack_server.h"
#include "tamborex/session/session.h"
#include "tamborex/storage/patch_file.h"
#include "xvfb.h"

// Last: Xlib defines names such as None that the headers above use.
#include <X11/Xlib.h>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

void WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

void PrepareBank(const fs::path& dir) {
    std::array<CPatch, 2> patches;
    patches[0].active = 1;
    patches[0].pollIntervalCode = 0;
    patches[0].outputDevice = 0;  // the program's own port: there on every backend
    patches[0].axes[AXIS_X].controller = 9;
    CBankState bank;
    for (int entry = 0; entry < kBankEntries; ++entry) {
        const fs::path file = dir / ("entry" + std::to_string(entry) + ".txp");
        bank.patchNames[entry] = "Entry " + std::to_string(entry);
        bank.patchPaths[entry] = file.string();
        WriteFile(file, FormatPatchFile(bank.patchNames[entry], patches));
    }
    WriteFile(dir / kBankFileName, FormatBank(bank));
}

pid_t Launch(const fs::path& dir) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) {
            _exit(127);
        }
        const int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execl(TAMBOREX_PROGRAM, TAMBOREX_PROGRAM, static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

void Stop(pid_t pid) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

// Milliseconds from fork to the first top-level window mapped, or -1.
double TimeToBar(Display* x, const fs::path& dir, pid_t& pid) {
    XSelectInput(x, DefaultRootWindow(x), SubstructureNotifyMask);
    XSync(x, True);
    const auto start = Clock::now();
    pid = Launch(dir);
    while (Clock::now() - start < std::chrono::seconds(20)) {
        while (XPending(x) > 0) {
            XEvent event;
            XNextEvent(x, &event);
            if (event.type == MapNotify) {
                return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return -1;
}

long CpuTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    // Fields after the command's closing parenthesis: state is field 3, utime 14, stime 15.
    std::istringstream rest(text.substr(text.rfind(')') + 2));
    std::string field;
    long utime = 0;
    long stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) {
            utime = std::stol(field);
        } else if (i == 15) {
            stime = std::stol(field);
        }
    }
    return utime + stime;
}

std::string Memory(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    std::string result;
    while (std::getline(status, line)) {
        // Most of the resident set is JACK's shared segment, mapped by every client.
        for (const char* key : {"VmRSS:", "RssAnon:", "RssFile:", "RssShmem:"}) {
            if (line.rfind(key, 0) == 0) {
                std::istringstream fields(line);
                std::string name;
                long kb = 0;
                fields >> name >> kb;
                result += name + " " + std::to_string(kb / 1024) + " MB  ";
            }
        }
    }
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    testsupport::JackTestServer jack("tbx-bench-startup");
    XvfbServer xvfb;
    if (!jack.Running() || !xvfb.Running()) {
        std::fprintf(stderr, "needs jackd and Xvfb (scripts/install-deps.sh installs both)\n");
        return 1;
    }
    jack.MakeDefault();
    setenv("DISPLAY", xvfb.Display().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    const fs::path dir = fs::temp_directory_path() / ("tbx-startup-" + std::to_string(getpid()));
    fs::create_directories(dir);
    PrepareBank(dir);
    Display* x = XOpenDisplay(xvfb.Display().c_str());
    if (x == nullptr) {
        std::fprintf(stderr, "cannot open %s\n", xvfb.Display().c_str());
        return 1;
    }

    std::vector<double> times;
    for (int run = 0; run < 20; ++run) {
        pid_t pid = -1;
        const double ms = TimeToBar(x, dir, pid);
        Stop(pid);
        if (ms >= 0) {
            times.push_back(ms);
        }
    }
    std::sort(times.begin(), times.end());
    if (times.empty()) {
        std::printf("the bar never appeared\n");
    } else {
        std::printf("start to bar shown: %zu runs  median %.1f ms  min %.1f ms  max %.1f ms\n",
                    times.size(), times[times.size() / 2], times.front(), times.back());
    }

    // Idle with low-latency input on (a new user's setting) and off.
    for (const bool lowLatency : {true, false}) {
        WriteFile(dir / kExtraSettingsFile, FormatExtraSettings({"auto", "", lowLatency}));
        pid_t pid = -1;
        TimeToBar(x, dir, pid);
        std::this_thread::sleep_for(std::chrono::seconds(3));
        const long before = CpuTicks(pid);
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const long after = CpuTicks(pid);
        const double percent = 100.0 * static_cast<double>(after - before) /
                               static_cast<double>(sysconf(_SC_CLK_TCK)) / seconds;
        std::printf(
            "idle, polling every 20 ms, low-latency input %s, %d s: CPU %.2f %% of one "
            "core;  %s\n",
            lowLatency ? "on" : "off", seconds, percent, Memory(pid).c_str());
        Stop(pid);
    }
    XCloseDisplay(x);
    fs::remove_all(dir);
    return 0;
}

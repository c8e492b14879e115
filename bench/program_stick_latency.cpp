// Tamborex as a user runs it (its Qt bar on an Xvfb server of its own, a real-time JACK server,
// 64 frames at 48 kHz), on a virtual joystick moved through tamborex-virtual-stick's standard
// input: from writing the move to the control change arriving at another JACK client. With
// low-latency input on, with the bar alone and then with the Joystick options dialog open (the
// activity light repaints the bar on every message), and with its live monitor shown; and with it
// off, at the 20 ms poll. Side by side with each low-latency line, the same moves through the
// floor: a minimal loop in a process of its own that reads SDL every millisecond and writes through
// a plain JACK client, its virtual stick moved by the same lines on its standard input at the same
// moment.
//
// usage: program_stick_latency [moves per phase (default 150)]

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <SDL.h>
#include <jack/jack.h>

#include <iostream>

#include "jack_peer.h"
#include "jack_server.h"
#include "platform/midi.h"
#include "platform/virtual_stick.h"
#include "stick_programs.h"
#include "tamborex/session/session.h"
#include "tamborex/storage/patch_file.h"
#include "xvfb.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::JackPeer;

struct Program {
    pid_t pid = -1;
    int input = -1;  // the program's standard input

    Program(const fs::path& dir, const char* path = TAMBOREX_PROGRAM, const char* arg = nullptr) {
        int fds[2];
        if (pipe(fds) != 0) {
            return;
        }
        pid = fork();
        if (pid == 0) {
            if (chdir(dir.c_str()) != 0) {
                _exit(127);
            }
            dup2(fds[0], STDIN_FILENO);
            const int null = open("/dev/null", O_RDWR);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
            close(fds[1]);
            execl(path, path, arg, static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[0]);
        input = fds[1];
    }
    ~Program() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        if (input >= 0) {
            close(input);
        }
    }
    void Say(const std::string& line) const {
        const std::string text = line + "\n";
        (void)!write(input, text.data(), text.size());
    }
};

struct Figures {
    double medianMs = 0;
    double p99Ms = 0;
    int lost = 0;
};

// The floor's process: a virtual stick moved by "a 0 VALUE" lines on standard input, read every
// millisecond by a plain loop that sends control change 7 through a plain JACK client.
int FloorChild() {
    if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) {
        return 1;
    }
    platform::VirtualStick stick("Floor Stick", 3, 4, 0);
    JackPeer out("FloorLoop", JackPeer::Role::Source);
    std::atomic<bool> stop{false};
    std::thread loop([&] { bench::RunFloorLoop(out, stop); });
    bench::MoveFromInput(stick);
    stop = true;
    loop.join();
    return 0;
}

Figures Measured(const std::vector<std::uint64_t>& movedUs, const std::vector<int>& values,
                 JackPeer& sink, std::size_t before) {
    const auto all = sink.WaitForArrivals(1u << 20, 1ms);
    const std::vector<JackPeer::Arrival> arrivals(all.begin() + static_cast<long>(before),
                                                  all.end());
    Figures f;
    std::vector<double> delays;
    for (std::size_t m = 0; m < movedUs.size(); ++m) {
        const std::uint64_t until = m + 1 < movedUs.size() ? movedUs[m + 1] : ~0ull;
        const auto hit = std::find_if(arrivals.begin(), arrivals.end(), [&](const auto& a) {
            return a.arrivedUs >= movedUs[m] && a.arrivedUs < until && a.bytes[2] == values[m];
        });
        if (hit == arrivals.end()) {
            ++f.lost;
        } else {
            delays.push_back(static_cast<double>(hit->arrivedUs - movedUs[m]) / 1000.0);
        }
    }
    std::sort(delays.begin(), delays.end());
    if (!delays.empty()) {
        f.medianMs = delays[delays.size() / 2];
        f.p99Ms = delays[delays.size() * 99 / 100];
    }
    return f;
}

// Moves X between its ends at random moments, in each program at once (in turns, which goes
// first); each move is timed until its value arrives at that program's sink.
std::vector<Figures> Measure(const std::vector<std::pair<const Program*, JackPeer*>>& paths,
                             int moves, std::mt19937& random) {
    std::uniform_int_distribution<int> pause(40, 100);
    std::vector<std::size_t> before;
    for (const auto& [program, sink] : paths) {
        before.push_back(sink->WaitForArrivals(1u << 20, 1ms).size());
    }
    std::vector<std::vector<std::uint64_t>> movedUs(paths.size());
    std::vector<int> values;
    for (int m = 0; m < moves; ++m) {
        std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
        const bool up = m % 2 == 0;
        for (std::size_t i = 0; i < paths.size(); ++i) {
            const std::size_t p = (i + static_cast<std::size_t>(m)) % paths.size();
            movedUs[p].push_back(jack_get_time());
            paths[p].first->Say(up ? "a 0 32767" : "a 0 -32768");
        }
        values.push_back(up ? 127 : 0);
    }
    std::this_thread::sleep_for(300ms);
    std::vector<Figures> figures;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        figures.push_back(Measured(movedUs[i], values, *paths[i].second, before[i]));
    }
    return figures;
}

void Report(const char* label, const Figures& f) {
    std::printf("%-40s median %6.2f ms  p99 %6.2f ms  lost %d\n", label, f.medianMs, f.p99Ms,
                f.lost);
}

bool WaitForPort(JackPeer& sink, const char* port) {
    for (int i = 0; i < 200; ++i) {
        if (sink.Connect(port, sink.Port("in"))) {
            return true;
        }
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

}  // namespace

// The program's p99 against the floor's, measured side by side.
void Compare(const char* label, const std::vector<Figures>& f) {
    Report(label, f[0]);
    Report("  the minimal loop beside it", f[1]);
    const double ratio = f[1].p99Ms > 0 ? f[0].p99Ms / f[1].p99Ms : 0;
    std::printf("  p99 ratio %.2f (1.2 or less) and under 3 ms: %s\n", ratio,
                ratio > 0 && ratio <= 1.2 && f[0].p99Ms < 3.0 && f[0].lost == 0 ? "met" : "MISSED");
}

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "floor-child") {
        return FloorChild();
    }
    const int moves = argc > 1 ? std::max(10, std::atoi(argv[1])) : 150;
    testsupport::JackTestServer jack("tbx-bench-program", 64, true);
    XvfbServer xvfb;
    if (!jack.Running() || !xvfb.Running()) {
        std::fprintf(stderr, "needs jackd and Xvfb (scripts/install-deps.sh installs both)\n");
        return 1;
    }
    jack.MakeDefault();
    setenv("DISPLAY", xvfb.Display().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    JackPeer sink("ProgramSink", JackPeer::Role::Sink);
    JackPeer floorSink("FloorSink", JackPeer::Role::Sink);
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    Program floor(fs::temp_directory_path(), self.c_str(), "floor-child");
    if (!WaitForPort(floorSink, "FloorLoop:out")) {
        std::fprintf(stderr, "the minimal loop's port never appeared\n");
        return 1;
    }
    std::mt19937 random(11);
    std::printf("%d moves per line, Tamborex under Xvfb, real-time JACK, 64 frames at 48 kHz\n",
                moves);
    for (const bool lowLatency : {true, false}) {
        const fs::path dir =
            fs::temp_directory_path() / ("tbx-program-latency-" + std::to_string(getpid()));
        fs::create_directories(dir);
        bench::PrepareStickBank(dir, lowLatency);
        {
            Program program(dir);
            if (!WaitForPort(sink, "Tamborex:out")) {
                std::fprintf(stderr, "Tamborex's port never appeared\n");
                return 1;
            }
            std::this_thread::sleep_for(1s);
            if (lowLatency) {
                Compare("low latency, bar alone",
                        Measure({{&program, &sink}, {&floor, &floorSink}}, moves, random));
            } else {
                Report("20 ms poll, bar alone", Measure({{&program, &sink}}, moves, random)[0]);
            }
            if (lowLatency) {
                // "Edit" on the bar opens the Joystick options dialog.
                if (std::system("xdotool mousemove 312 12 click 1") != 0) {
                    std::fprintf(stderr, "xdotool failed\n");
                }
                std::this_thread::sleep_for(1s);
                Compare("low latency, Joystick options open",
                        Measure({{&program, &sink}, {&floor, &floorSink}}, moves, random));
                // Alt+M in the dialog shows its live monitor, which then repaints on every move
                // and every message sent.
                if (std::system("xdotool key alt+m") != 0) {
                    std::fprintf(stderr, "xdotool failed\n");
                }
                std::this_thread::sleep_for(1s);
                Compare("low latency, monitor open",
                        Measure({{&program, &sink}, {&floor, &floorSink}}, moves, random));
            }
        }
        fs::remove_all(dir);
    }
    return 0;
}

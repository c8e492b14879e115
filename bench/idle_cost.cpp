// What each program costs while a controller is attached and at rest, on a real-time JACK server
// at 1,024 frames (the server's own cycle stays out of the figure) and at 64: Tamborex as a user
// runs it (headless, and with its bar on an Xvfb server of its own; a bank whose patch is active,
// low-latency input on) and Corvane's mapper at "High" with low latency, each in a process of its
// own on a virtual stick. Prints each process's CPU over 10 s at rest, its busiest threads' wake
// ups, and the delay of the first move after the rest until its message arrives.
//
// usage: idle_cost [seconds at rest (default 10)]

#include <SDL.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <jack/jack.h>

#include "child_process.h"
#include "jack_peer.h"
#include "jack_server.h"
#include "mapper.h"
#include "platform/file_io.h"
#include "platform/joystick.h"
#include "platform/midi.h"
#include "platform/timer.h"
#include "platform/virtual_stick.h"
#include "tamborex/storage/bank_file.h"
#include "tamborex/storage/patch_file.h"
#include "tamborex/storage/port_names.h"
#include "xvfb.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::ChildProcess;
using testsupport::JackPeer;

void WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    int cause = 0;
    platform::WriteStage stage{};
    if (!platform::WriteFileAtomically(path.string(), bytes, cause, stage)) {
        std::fprintf(stderr, "could not write %s\n", path.c_str());
    }
}

// One entry whose patch is active and plays axis X as control change 7 on the program's port.
void PrepareBank(const fs::path& dir) {
    std::array<CPatch, 2> patches;
    patches[0].active = 1;
    patches[0].pollIntervalCode = 0;
    patches[0].outputDevice = 0;
    patches[0].axes[AXIS_X].controller = 9;
    CBankState bank;
    bank.patchNames[0] = "Idle";
    bank.patchPaths[0] = (dir / "idle.txp").string();
    WriteFile(dir / "idle.txp", FormatPatchFile(bank.patchNames[0], patches));
    WriteFile(dir / kBankFileName, FormatBank(bank));
    WriteFile(dir / kExtraSettingsFile, FormatExtraSettings({"jack", "", true}));
}

// Corvane's mapper on a virtual stick of its own, moved by "a 0 VALUE" lines on standard input,
// playing on its own port until standard input ends.
int CorvaneChild() {
    if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) {
        return 1;
    }
    platform::VirtualStick stick("Idle Stick", 3, 4, 0);
    auto midi = platform::CreateMidiService("CorvaneIdle", platform::MidiBackend::Jack);
    auto joystick = platform::CreateJoystickService();
    auto timer = platform::CreatePeriodicTimer();
    corvane::ExtraSettings extra;
    extra.lowLatency = true;
    corvane::Mapper mapper(*midi, *joystick, *timer, corvane::Settings{false, 0, 0, 0, 2}, extra);
    mapper.Controls()[corvane::kXAxis] = corvane::ControlAssignment(7, 0, 50, 100);
    mapper.Start();
    std::string line;
    while (std::getline(std::cin, line)) {
        int axis = 0;
        int value = 0;
        if (std::sscanf(line.c_str(), "a %d %d", &axis, &value) == 2) {
            stick.Axis(axis, static_cast<Sint16>(value));
        }
    }
    mapper.Shutdown();
    return 0;
}

struct ThreadTicks {
    std::string id;
    long ticks = 0;
    long wakeups = 0;
};

std::vector<ThreadTicks> Threads(pid_t pid) {
    std::vector<ThreadTicks> threads;
    std::error_code error;
    for (const auto& task :
         fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        ThreadTicks t;
        t.id = task.path().filename().string();
        std::ifstream stat(task.path() / "stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string skip;
        for (int i = 3; i < 14; ++i) {
            fields >> skip;
        }
        long user = 0;
        long system = 0;
        fields >> user >> system;
        t.ticks = user + system;
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
                t.wakeups = std::atol(line.c_str() + 24);
            }
        }
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        t.id += " " + name;
        threads.push_back(t);
    }
    return threads;
}

// CPU over the rest, then the first move after it, timed until its message reaches the sink.
void Measure(const char* label, ChildProcess& program, JackPeer& sink, const char* port,
             int seconds) {
    bool linked = false;
    for (int i = 0; i < 200 && !linked; ++i) {
        std::this_thread::sleep_for(50ms);
        linked = sink.Connect(port, sink.Port("in"));
    }
    if (!linked) {
        std::printf("%-28s its port %s never appeared\n", label, port);
        return;
    }
    program.Write("a 0 -32768\n");
    std::this_thread::sleep_for(3s);  // past the time the stick counts as in use
    const auto before = Threads(program.Pid());
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const auto after = Threads(program.Pid());
    long ticks = 0;
    std::vector<std::pair<long, std::string>> busiest;
    for (const ThreadTicks& a : after) {
        const auto b = std::find_if(before.begin(), before.end(),
                                    [&](const ThreadTicks& t) { return t.id == a.id; });
        const long dt = a.ticks - (b == before.end() ? 0 : b->ticks);
        const long dw = a.wakeups - (b == before.end() ? 0 : b->wakeups);
        ticks += dt;
        busiest.emplace_back(dw, a.id + " " + std::to_string(dw / seconds) + "/s");
    }
    std::sort(busiest.rbegin(), busiest.rend());
    const double percent =
        100.0 * static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK) * seconds);
    std::printf("%-28s %5.2f %% of a core at rest (target under 1 %%): %s; wake-ups:", label,
                percent, percent < 1.0 ? "met" : "MISSED");
    for (std::size_t i = 0; i < std::min<std::size_t>(3, busiest.size()); ++i) {
        std::printf(" %s", busiest[i].second.c_str());
    }
    std::printf("\n");
    std::vector<double> delays;
    for (int move = 0; move < 3; ++move) {
        const std::size_t seen = sink.WaitForArrivals(1u << 20, 1ms).size();
        const std::uint64_t movedUs = jack_get_time();
        program.Write(move % 2 == 0 ? "a 0 32767\n" : "a 0 -32768\n");
        const auto arrivals = sink.WaitForArrivals(seen + 1, 1s);
        if (arrivals.size() > seen) {
            delays.push_back(static_cast<double>(arrivals[seen].arrivedUs - movedUs) / 1000.0);
        }
        std::this_thread::sleep_for(3s);
    }
    std::printf("%-28s first move after 3 s at rest:", "");
    for (double d : delays) {
        std::printf(" %.2f ms", d);
    }
    const bool met = delays.size() == 3 && *std::max_element(delays.begin(), delays.end()) < 5.0;
    std::printf(" (target within 5 ms): %s\n", met ? "met" : "MISSED");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "corvane-child") {
        return CorvaneChild();
    }
    const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 10;
    XvfbServer xvfb;
    if (!xvfb.Running()) {
        std::fprintf(stderr, "needs Xvfb (scripts/install-deps.sh installs it)\n");
        return 1;
    }
    const fs::path dir = fs::temp_directory_path() / ("tbx-idle-" + std::to_string(getpid()));
    for (const int frames : {1024, 64}) {
        testsupport::JackTestServer jack("tbx-bench-idle", frames, true);
        if (!jack.Running()) {
            std::fprintf(stderr, "jackd did not start\n");
            return 1;
        }
        jack.MakeDefault();
        JackPeer sink("IdleSink", JackPeer::Role::Sink);
        std::printf("real-time JACK, %d frames at 48 kHz\n", frames);
        for (const bool headless : {true, false}) {
            fs::create_directories(dir);
            PrepareBank(dir);
            ChildProcess::Options options;
            options.argv = {TAMBOREX_PROGRAM};
            options.folder = dir.string();
            options.errorFile = "/dev/null";
            if (headless) {
                options.argv.push_back("--headless");
            } else {
                options.set = {{"DISPLAY", xvfb.Display()}, {"QT_QPA_PLATFORM", "xcb"}};
            }
            ChildProcess program(options);
            Measure(headless ? "Tamborex headless" : "Tamborex with its bar", program, sink,
                    "Tamborex:out", seconds);
            program.Signal(SIGTERM);
            program.Wait(10s);
            fs::remove_all(dir);
        }
        ChildProcess::Options options;
        options.argv = {fs::read_symlink("/proc/self/exe").string(), "corvane-child"};
        options.errorFile = "/dev/null";
        ChildProcess corvane(options);
        Measure("Corvane low latency, High", corvane, sink, "CorvaneIdle:out", seconds);
    }
    return 0;
}

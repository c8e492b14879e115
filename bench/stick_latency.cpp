// From a virtual joystick move to the control change arriving at another JACK client, on a
// real-time JACK server (64 frames at 48 kHz), side by side in one run:
//   - the floor: a minimal loop that reads SDL every millisecond (what SDL's own event wait does
//     without a video system) and writes through a plain JACK client;
//   - Tamborex's engine with low-latency input, and with it off at the fastest poll (20 ms);
//   - Tamborex with low-latency input and the axis shaped: without smoothing, and with the
//     default smoothing (there the figure is the time until the output reaches the new end,
//     and "first" the time until the first message of the move);
//   - Corvane's mapper with low latency at "High", and without it.
// Each path sends to a sink of its own; each move is timed until the first message with its new
// value arrives. Then: messages per full-range sweep of one axis (low latency against the 20 ms
// poll), and the process's idle CPU with every path running and no input.
//
// usage: stick_latency [moves (default 300)] [--monitor]
//   --monitor: the first two Tamborex and the two Corvane paths with their live monitor's work

#include <SDL.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <jack/jack.h>

#include "jack_peer.h"
#include "jack_server.h"
#include "mapper.h"
#include "platform/joystick.h"
#include "platform/midi.h"
#include "platform/midi_sent_log.h"
#include "platform/timer.h"
#include "platform/virtual_stick.h"
#include "stick_programs.h"
#include "tamborex/devices/joystick.h"
#include "tamborex/devices/midi_out.h"
#include "tamborex/engine/engine.h"
#include "tamborex/testing/loop_ui_thread.h"
#include "tamborex/testing/test_window.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using testsupport::IndexOf;
using testsupport::JackPeer;

// Tamborex's engine on the real services, axis X to control change 7.
struct TamborexPath {
    std::unique_ptr<platform::MidiService> midi;
    std::unique_ptr<platform::JoystickService> joystickService = platform::CreateJoystickService();
    CLoopUiThreadRunner ui;
    CTestBankLink bank;
    std::unique_ptr<CWinMIDIOut> out;
    std::unique_ptr<CJoystick> joystick;
    std::unique_ptr<CEngine> engine;

    // What the Joystick options' live monitor does while shown, without its painting: the
    // engine keeps its log of messages sent, and 60 times a second the controller and the log
    // are read on the user-interface thread.
    platform::MidiSentLog sentLog;
    std::unique_ptr<CTimer> monitorLook;
    platform::RawJoyState monitorState{};
    std::array<platform::MidiSentLog::Entry, platform::MidiSentLog::kEntries> monitorEntries{};

    enum class Shape { None, Unsmoothed, Smoothed };

    TamborexPath(const char* name, const std::string& sinkPort, bool lowLatency,
                 Shape shape = Shape::None, bool monitor = false)
        : midi(platform::CreateMidiService(name, platform::MidiBackend::Jack)) {
        out = std::make_unique<CWinMIDIOut>(*midi);
        joystick = std::make_unique<CJoystick>(*joystickService, [](std::string_view) {});
        engine = std::make_unique<CEngine>(*out, *joystick, ui.loop, ui.loop, bank);
        out->Open(static_cast<std::int16_t>(IndexOf(midi->ListOutputs(), sinkPort)));
        ui.loop.Post([this, lowLatency, shape] {
            joystick->Init();
            CPatch& patch = engine->patches[0];
            patch.axes[AXIS_X].controller = 9;
            if (shape != Shape::None) {
                patch.axes[AXIS_X].shape.hysteresis = 1;
                if (shape == Shape::Smoothed) {
                    patch.axes[AXIS_X].shape.smoothing = kDefaultSmoothing;
                }
                engine->ApplyAxisShape(AXIS_X);
            }
            patch.pollIntervalCode = 0;
            engine->SetLowLatency(lowLatency);
            engine->SetPatchActive(0, 1);
        });
        if (monitor) {
            ui.loop.Post([this] {
                engine->SetSentLog(&sentLog);
                monitorLook = ui.loop.StartTimer(16, [this] {
                    (void)joystickService->Poll();
                    (void)joystickService->GetState(monitorState);
                    (void)sentLog.Snapshot(monitorEntries);
                });
            });
        }
        joystickService->SetEventListener(
            [this](platform::JoyEvent) { engine->OnJoystickEvent(); });
    }
    ~TamborexPath() {
        joystickService->SetEventListener({});
        std::atomic<bool> done{false};
        ui.loop.Post([&] {
            monitorLook.reset();
            engine->SetSentLog(nullptr);
            engine->SetPatchActive(0, 0);
            done = true;
        });
        while (!done) {
            std::this_thread::sleep_for(1ms);
        }
    }
};

struct CorvanePath {
    std::unique_ptr<platform::MidiService> midi;
    std::unique_ptr<platform::JoystickService> joystick = platform::CreateJoystickService();
    std::unique_ptr<platform::PeriodicTimer> timer = platform::CreatePeriodicTimer();
    std::unique_ptr<corvane::Mapper> mapper;

    // What Corvane's live monitor does while shown, without its painting: the ports keep the
    // log of messages sent, and 60 times a second the whole controller and the log are read on
    // another thread (the window's).
    platform::MidiSentLog sentLog;
    std::atomic<bool> stopLook{false};
    std::thread monitorLook;

    CorvanePath(const char* name, const std::string& sinkPort, bool lowLatency,
                bool monitor = false)
        : midi(platform::CreateMidiService(name, platform::MidiBackend::Jack)) {
        corvane::ExtraSettings extra;
        extra.lowLatency = lowLatency;
        mapper = std::make_unique<corvane::Mapper>(
            *midi, *joystick, *timer,
            corvane::Settings{false, 0, IndexOf(midi->ListOutputs(), sinkPort), 0, 2}, extra);
        mapper->Controls()[corvane::kXAxis] = corvane::ControlAssignment(7, 0, 50, 100);
        mapper->Start();
        if (monitor) {
            mapper->SetSentLog(&sentLog);
            monitorLook = std::thread([this] {
                platform::RawJoyState state{};
                std::array<platform::MidiSentLog::Entry, platform::MidiSentLog::kEntries> seen{};
                while (!stopLook) {
                    (void)joystick->ReadWhole(state);
                    (void)sentLog.Snapshot(seen);
                    std::this_thread::sleep_for(16ms);
                }
            });
        }
    }
    ~CorvanePath() {
        stopLook = true;
        if (monitorLook.joinable()) {
            monitorLook.join();
        }
        mapper->SetSentLog(nullptr);
        mapper->Shutdown();
    }
};

struct Figures {
    double medianMs = 0;
    double p99Ms = 0;
    int lost = 0;
};

// anyValue: the first message after the move, whatever its value.
Figures Measure(const std::vector<std::uint64_t>& movedUs, const std::vector<int>& values,
                const std::vector<JackPeer::Arrival>& arrivals, bool anyValue = false) {
    Figures f;
    std::vector<double> delays;
    std::size_t next = 0;
    for (std::size_t m = 0; m < movedUs.size(); ++m) {
        const std::uint64_t until = m + 1 < movedUs.size() ? movedUs[m + 1] : ~0ull;
        while (next < arrivals.size() && arrivals[next].arrivedUs < movedUs[m]) {
            ++next;
        }
        bool found = false;
        for (std::size_t a = next; a < arrivals.size() && arrivals[a].arrivedUs < until; ++a) {
            if (anyValue || arrivals[a].bytes[2] == values[m]) {
                delays.push_back(static_cast<double>(arrivals[a].arrivedUs - movedUs[m]) / 1000.0);
                found = true;
                break;
            }
        }
        f.lost += found ? 0 : 1;
    }
    std::sort(delays.begin(), delays.end());
    if (!delays.empty()) {
        f.medianMs = delays[delays.size() / 2];
        f.p99Ms = delays[delays.size() * 99 / 100];
    }
    return f;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    // --monitor as the last argument: Tamborex's and Corvane's first two paths each run with
    // their live monitor's work.
    const bool monitor = argc > 1 && std::string(argv[argc - 1]) == "--monitor";
    const int moves = argc > (monitor ? 2 : 1) ? std::max(10, std::atoi(argv[1])) : 300;
    testsupport::JackTestServer server("tbx-bench-stick", 64, true);
    if (!server.Running()) {
        std::fprintf(stderr, "jackd did not start\n");
        return 1;
    }
    server.MakeDefault();
    if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) {
        std::fprintf(stderr, "SDL: %s\n", SDL_GetError());
        return 1;
    }
    platform::VirtualStick stick("Latency Stick", 3, 4, 0);
    stick.Axis(0, -32768);

    const char* labels[] = {"minimal SDL loop",    "Tamborex low latency", "Tamborex 20 ms poll",
                            "Corvane low latency", "Corvane High (10 ms)", "Tamborex shaped",
                            "Tamborex smoothed"};
    constexpr int kPaths = 7;
    std::vector<std::unique_ptr<JackPeer>> sinks;
    for (int i = 0; i < kPaths; ++i) {
        sinks.push_back(
            std::make_unique<JackPeer>("StickSink" + std::to_string(i), JackPeer::Role::Sink));
    }
    // What low-latency input costs a program while nothing moves: its joystick service
    // reporting changes, against the same service not asked to.
    {
        auto idle = platform::CreateJoystickService();
        const double before = CpuSeconds();
        std::this_thread::sleep_for(5s);
        const double quiet = CpuSeconds() - before;
        idle->SetEventListener([](platform::JoyEvent) {});
        std::this_thread::sleep_for(2500ms);  // past the time the stick counts as in use
        const double during = CpuSeconds();
        std::this_thread::sleep_for(5s);
        const double watching = CpuSeconds() - during;
        idle->SetEventListener({});
        std::printf(
            "idle CPU added by reporting joystick changes, stick at rest: %.2f %% of a "
            "core (process %.2f %% without, %.2f %% with; target under 1 %%)\n",
            (watching - quiet) / 5.0 * 100.0, quiet / 5.0 * 100.0, watching / 5.0 * 100.0);
    }
    JackPeer floorOut("FloorLoop", JackPeer::Role::Source);
    floorOut.Connect(floorOut.Port("out"), sinks[0]->Port("in"));
    std::atomic<bool> stop{false};
    std::thread floor([&] { bench::RunFloorLoop(floorOut, stop); });
    {
        TamborexPath tamborexQuick("TbxQuick", sinks[1]->Port("in"), true,
                                   TamborexPath::Shape::None, monitor);
        TamborexPath tamborexPoll("TbxPoll", sinks[2]->Port("in"), false, TamborexPath::Shape::None,
                                  monitor);
        if (monitor) {
            std::printf("Tamborex and Corvane with the live monitor's work running\n");
        }
        CorvanePath corvaneQuick("CvnQuick", sinks[3]->Port("in"), true, monitor);
        CorvanePath corvaneHigh("CvnHigh", sinks[4]->Port("in"), false, monitor);
        TamborexPath tamborexShaped("TbxShaped", sinks[5]->Port("in"), true,
                                    TamborexPath::Shape::Unsmoothed);
        TamborexPath tamborexSmoothed("TbxSmoothed", sinks[6]->Port("in"), true,
                                      TamborexPath::Shape::Smoothed);
        std::this_thread::sleep_for(500ms);

        std::mt19937 random(7);
        std::uniform_int_distribution<int> pause(30, 90);
        const auto [movedUs, values] = bench::ThrowAxisZero(stick, moves, random);
        std::this_thread::sleep_for(300ms);
        // The first move after the stick has rested long enough for the services to look less
        // often.
        std::vector<std::uint64_t> restedUs;
        std::vector<int> restedValues;
        for (int m = 0; m < 10; ++m) {
            std::this_thread::sleep_for(2500ms + std::chrono::milliseconds(pause(random)));
            const bool up = (moves + m) % 2 == 0;
            restedUs.push_back(jack_get_time());
            stick.Axis(0, up ? 32767 : -32768);
            restedValues.push_back(up ? 127 : 0);
        }
        std::this_thread::sleep_for(300ms);

        std::printf("%d moves at random moments, real-time JACK, 64 frames at 48 kHz (1.33 ms)\n",
                    moves);
        std::vector<Figures> figures;
        std::vector<Figures> firsts;
        for (int i = 0; i < kPaths; ++i) {
            const auto arrivals = sinks[i]->WaitForArrivals(1u << 20, 1ms);
            figures.push_back(Measure(movedUs, values, arrivals));
            firsts.push_back(Measure(movedUs, values, arrivals, true));
            std::printf("%-22s median %6.2f ms  p99 %6.2f ms  lost %d   first: median %6.2f ms\n",
                        labels[i], figures[i].medianMs, figures[i].p99Ms, figures[i].lost,
                        firsts[i].medianMs);
        }
        for (int i : {5, 6}) {
            std::printf("%s: median %+.2f ms against Tamborex low latency unshaped\n", labels[i],
                        figures[i].medianMs - figures[1].medianMs);
        }
        // What the default smoothing itself adds: the same shaped axis with it and without it.
        const double endAdded = figures[6].medianMs - figures[5].medianMs;
        const double firstAdded = firsts[6].medianMs - firsts[5].medianMs;
        std::printf(
            "default smoothing against none: end value median %+.2f ms (p99 %+.2f ms), first "
            "message median %+.2f ms; at most +2 ms: %s\n",
            endAdded, figures[6].p99Ms - figures[5].p99Ms, firstAdded,
            endAdded <= 2.0 && firstAdded <= 2.0 && figures[6].lost == 0 ? "met" : "MISSED");
        std::printf("first move after 2.5 s at rest, 10 each:\n");
        for (int i = 0; i < kPaths; ++i) {
            const auto arrivals = sinks[i]->WaitForArrivals(1u << 20, 1ms);
            std::vector<JackPeer::Arrival> late(arrivals.begin(), arrivals.end());
            const Figures rested = Measure(restedUs, restedValues, late);
            std::printf("%-22s median %6.2f ms  max %6.2f ms  lost %d\n", labels[i],
                        rested.medianMs, rested.p99Ms, rested.lost);
        }
        for (int i : {1, 3}) {
            const double ratio =
                figures[0].medianMs > 0 ? figures[i].medianMs / figures[0].medianMs : 0;
            std::printf(
                "%s: median %.2fx the loop's (1.2 or less), p99 under 3 ms, none lost: %s\n",
                labels[i], ratio,
                ratio <= 1.2 && figures[i].p99Ms < 3.0 && figures[i].lost == 0 ? "met" : "MISSED");
        }

        // One full-range sweep of X in 2,000 steps over two seconds.
        std::vector<std::size_t> before;
        for (int i = 1; i < kPaths; ++i) {
            before.push_back(sinks[i]->WaitForArrivals(1u << 20, 1ms).size());
        }
        for (int step = 0; step <= 2000; ++step) {
            stick.Axis(0, static_cast<Sint16>(-32768 + step * 65535 / 2000));
            std::this_thread::sleep_for(1ms);
        }
        std::this_thread::sleep_for(300ms);
        for (int i = 1; i < kPaths; ++i) {
            std::printf("sweep, %-22s %zu messages\n", labels[i],
                        sinks[i]->WaitForArrivals(1u << 20, 1ms).size() - before[i - 1]);
        }
    }
    stop = true;
    floor.join();
    stick.Unplug();
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    return 0;
}

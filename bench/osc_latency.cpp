// OSC out, timed on a real-time JACK server (64 frames at 48 kHz) and the loopback:
//   1. a virtual joystick move to the OSC datagram arriving at a UDP reader, beside the same
//      move to the control change arriving at another JACK client, in the same run (Tamborex's
//      whole core with low-latency input);
//   2. six axes changing at 1 kHz for a while (60 s by default), each pass mirrored as one bundle:
//      datagrams and messages sent against those read (nothing may be lost), and what the mirror
//      adds to a pass, per OSC message, against the same passes with OSC off.
//
// usage: osc_latency [moves (default 300)] [seconds at 1 kHz (default 60)]

#include <SDL.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "fake_joystick.h"
#include "fake_midi.h"
#include "jack_peer.h"
#include "jack_server.h"
#include "platform/joystick.h"
#include "platform/midi.h"
#include "platform/virtual_stick.h"
#include "stick_programs.h"
#include "tamborex/app/core.h"
#include "tamborex/testing/loop_ui_thread.h"
#include "tamborex/testing/test_window.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using testsupport::IndexOf;
using testsupport::JackPeer;

// A UDP reader on 127.0.0.1: when each datagram came (JACK's clock, as the sinks use), the value
// of the first /control it holds, and how many messages.
class DatagramReader {
  public:
    struct Arrival {
        std::uint64_t arrivedUs = 0;
        int controlValue = -1;
        int messages = 0;
    };

    DatagramReader() {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&at), sizeof at);
        const int big = 8 << 20;
        setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
        socklen_t length = sizeof at;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&at), &length);
        port_ = ntohs(at.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~DatagramReader() {
        stop_ = true;
        thread_.join();
        close(fd_);
    }
    int Port() const { return port_; }
    std::vector<Arrival> Arrivals() {
        std::lock_guard lock(mutex_);
        return arrivals_;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        arrivals_.clear();
    }

  private:
    void Run() {
        std::vector<std::uint8_t> buffer(65536);
        pollfd p{fd_, POLLIN, 0};
        while (!stop_) {
            if (poll(&p, 1, 50) <= 0) {
                continue;
            }
            const ssize_t got = recv(fd_, buffer.data(), buffer.size(), 0);
            if (got <= 0) {
                continue;
            }
            Arrival a;
            a.arrivedUs = jack_get_time();
            // A bundle: 16 bytes of head, then size-prefixed messages.
            std::size_t at = 16;
            while (at + 4 <= static_cast<std::size_t>(got)) {
                const std::uint32_t size = (std::uint32_t{buffer[at]} << 24) |
                                           (std::uint32_t{buffer[at + 1]} << 16) |
                                           (std::uint32_t{buffer[at + 2]} << 8) | buffer[at + 3];
                const char* message = reinterpret_cast<const char*>(buffer.data() + at + 4);
                if (a.controlValue < 0 && std::strcmp(message, "/control") == 0 && size >= 28) {
                    // "/control" (12) ",iii" (8), channel, controller, value.
                    const std::uint8_t* v = buffer.data() + at + 4 + 28;
                    a.controlValue = v[3];
                }
                ++a.messages;
                at += 4 + size;
            }
            std::lock_guard lock(mutex_);
            arrivals_.push_back(a);
        }
    }

    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<Arrival> arrivals_;
};

struct Figures {
    double medianMs = 0;
    double p99Ms = 0;
    int lost = 0;
};

template <typename Arrival, typename ValueOf>
Figures Measure(const std::vector<std::uint64_t>& movedUs, const std::vector<int>& values,
                const std::vector<Arrival>& arrivals, ValueOf valueOf) {
    Figures f;
    std::vector<double> delays;
    for (std::size_t m = 0; m < movedUs.size(); ++m) {
        const std::uint64_t until = m + 1 < movedUs.size() ? movedUs[m + 1] : ~0ull;
        bool found = false;
        for (const Arrival& a : arrivals) {
            if (a.arrivedUs >= movedUs[m] && a.arrivedUs < until && valueOf(a) == values[m]) {
                delays.push_back(static_cast<double>(a.arrivedUs - movedUs[m]) / 1000.0);
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

// Runs f on the loop's thread and waits for it.
template <typename F>
void OnLoop(CLoopUiThreadRunner& ui, F&& f) {
    std::atomic<bool> done{false};
    ui.loop.Post([&] {
        f();
        done = true;
    });
    while (!done) {
        std::this_thread::sleep_for(1ms);
    }
}

void StickToOsc(int moves, const std::filesystem::path& dir) {
    JackPeer sink("OscBenchSink", JackPeer::Role::Sink);
    DatagramReader reader;
    platform::VirtualStick stick("OSC Latency Stick", 6, 4, 0);
    stick.Axis(0, -32768);
    auto midi = platform::CreateMidiService("TbxOscBench", platform::MidiBackend::Jack);
    auto joystick = platform::CreateJoystickService();
    CLoopUiThreadRunner ui;
    std::unique_ptr<CTamborexCore> core;
    OnLoop(ui, [&] {
        core = std::make_unique<CTamborexCore>(
            ui.loop, *midi, *joystick, (dir / "Tamborex.bnk").string(),
            COscLink::Overrides{"127.0.0.1:" + std::to_string(reader.Port()), ""});
        CSession& s = core->Session();
        s.Startup();
        s.SelectOutput(IndexOf(midi->ListOutputs(), sink.Port("in")));
        s.PatchForEditing().axes[AXIS_X].controller = 9;  // control change 7
        s.SetLowLatencyInput(true);
        s.SetPollInterval(0);
        s.SetActive(true);
    });
    std::this_thread::sleep_for(500ms);

    std::mt19937 random(7);
    const auto [movedUs, values] = bench::ThrowAxisZero(stick, moves, random);
    std::this_thread::sleep_for(300ms);
    const Figures toMidi = Measure(movedUs, values, sink.WaitForArrivals(1u << 20, 1ms),
                                   [](const JackPeer::Arrival& a) { return int{a.bytes[2]}; });
    const Figures toOsc = Measure(movedUs, values, reader.Arrivals(),
                                  [](const DatagramReader::Arrival& a) { return a.controlValue; });
    std::printf("%d moves at random moments, real-time JACK, 64 frames at 48 kHz (1.33 ms)\n",
                moves);
    std::printf("stick to MIDI (JACK sink)    median %6.2f ms  p99 %6.2f ms  lost %d\n",
                toMidi.medianMs, toMidi.p99Ms, toMidi.lost);
    std::printf("stick to OSC datagram        median %6.2f ms  p99 %6.2f ms  lost %d\n",
                toOsc.medianMs, toOsc.p99Ms, toOsc.lost);
    std::printf("OSC p99 under 2 ms: %s\n",
                toOsc.p99Ms < 2.0 && toOsc.lost == 0 ? "met" : "MISSED");
    OnLoop(ui, [&] {
        core->Session().SetActive(false);
        core.reset();
    });
    stick.Unplug();
}

// Passes of six changing axes at 1 kHz on the fake services, the mirror on or off.
struct PassRun {
    std::vector<double> passUs;
    std::uint64_t sent = 0;
    std::uint64_t dropped = 0;
    std::uint64_t late = 0;  // passes that began more than 1 ms after their moment
};

PassRun RunPasses(const std::filesystem::path& dir, int port, std::chrono::seconds length) {
    platform::FakeMidiService midi;
    platform::FakeJoystickService stick;
    midi.SetOutputs({"Tamborex", "Synth"});
    midi.SetInputs({"Tamborex"});
    stick.Attach();
    CTestWindow window;
    window.recordCalls = false;
    CTamborexCore core(
        window, midi, stick, (dir / "Tamborex.bnk").string(),
        COscLink::Overrides{port > 0 ? "127.0.0.1:" + std::to_string(port) : "", ""});
    CSession& s = core.Session();
    s.Startup();
    s.SelectOutput(1);
    s.SetLowLatencyInput(false);
    for (int a = 0; a < kAxisCount; ++a) {
        s.PatchForEditing().axes[a].controller = 9 + a;
        s.PatchForEditing().axes[a].minimumMovement = 0;
    }
    s.PatchForEditing().active = 1;
    midi.ReserveLog(64);
    s.Engine().PollJoystick();
    s.Engine().PollJoystick();
    PassRun run;
    const std::uint64_t before = core.Osc().Sender() ? core.Osc().Sender()->Sent() : 0;
    const auto passes = std::chrono::duration_cast<std::chrono::milliseconds>(length).count();
    run.passUs.reserve(static_cast<std::size_t>(passes));
    const auto start = Clock::now();
    for (long i = 0; i < passes; ++i) {
        const auto due = start + std::chrono::milliseconds(i);
        std::this_thread::sleep_until(due);
        if (Clock::now() - due > 1ms) {
            ++run.late;
        }
        midi.ClearEvents();
        for (int a = 0; a < kAxisCount; ++a) {
            // Every axis end to end each pass, so each pass mirrors all six and their MIDI.
            stick.SetAxis(a, static_cast<std::int16_t>((i + a) % 2 != 0 ? 32767 : -32768));
        }
        const auto t0 = Clock::now();
        s.Engine().PollJoystick();
        run.passUs.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    if (core.Osc().Sender() != nullptr) {
        run.sent = core.Osc().Sender()->Sent() - before;
        run.dropped = core.Osc().Sender()->Dropped();
    }
    s.Shutdown();
    return run;
}

double Mean(const std::vector<double>& v) {
    double sum = 0;
    for (const double x : v) {
        sum += x;
    }
    return v.empty() ? 0 : sum / static_cast<double>(v.size());
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int moves = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;
    const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 60;
    const auto dir =
        std::filesystem::temp_directory_path() / ("tbx-osc-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    {
        testsupport::JackTestServer server("tbx-26-bench-osc", 64, true);
        if (!server.Running()) {
            std::fprintf(stderr, "jackd did not start\n");
            return 1;
        }
        server.MakeDefault();
        if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) {
            std::fprintf(stderr, "SDL: %s\n", SDL_GetError());
            return 1;
        }
        StickToOsc(moves, dir);
        SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    }

    DatagramReader reader;
    const PassRun on = RunPasses(dir, reader.Port(), std::chrono::seconds(seconds));
    std::this_thread::sleep_for(300ms);
    const auto arrivals = reader.Arrivals();
    std::uint64_t messages = 0;
    for (const auto& a : arrivals) {
        messages += static_cast<std::uint64_t>(a.messages);
    }
    const PassRun off = RunPasses(dir, 0, std::chrono::seconds(std::min(seconds, 10)));
    const double perPassOn = Mean(on.passUs);
    const double perPassOff = Mean(off.passUs);
    // Six /tamborex/axis and six /control a pass; the warm-up passes before may add a bundle.
    const std::uint64_t expected = on.passUs.size() * 12;
    std::printf(
        "six axes at 1 kHz for %d s: %zu passes, %llu datagrams sent, %zu read, %llu "
        "dropped; %llu messages read of %llu (%s); %llu passes began late\n",
        seconds, on.passUs.size(), static_cast<unsigned long long>(on.sent), arrivals.size(),
        static_cast<unsigned long long>(on.dropped), static_cast<unsigned long long>(messages),
        static_cast<unsigned long long>(expected),
        arrivals.size() >= on.sent && messages >= expected && on.dropped == 0 ? "nothing lost"
                                                                              : "LOST SOME",
        static_cast<unsigned long long>(on.late));
    std::printf(
        "a pass of six axes: mean %.2f us, median %.2f us with OSC; mean %.2f us, median "
        "%.2f us without\n",
        perPassOn, Median(on.passUs), perPassOff, Median(off.passUs));
    std::printf("OSC's cost per message: %.3f us (mean), %.3f us (median) -- 12 messages a pass\n",
                (perPassOn - perPassOff) / 12.0, (Median(on.passUs) - Median(off.passUs)) / 12.0);
    std::filesystem::remove_all(dir);
    return 0;
}

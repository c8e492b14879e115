// From moving a virtual joystick axis to the control change arriving at a JACK input, at the
// "High" rate (10 ms): Corvane's mapper, and a direct "read SDL, send with RtMidi" loop at the
// same rate, in the same run. Prints median and p99 of each and the ratio of the medians.

#include <SDL.h>
#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "jack_server.h"
#include "mapper.h"
#include "platform/joystick.h"
#include "platform/midi.h"
#include "platform/timer.h"
#include "platform/virtual_stick.h"

namespace {

using testsupport::IndexOf;

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kProbePort = "LatencyProbe:in";

// What the probe's JACK input saw last.
std::atomic<int> lastValue{-1};
std::atomic<std::int64_t> lastArrivalNs{0};

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

void OnProbeInput(double, std::vector<unsigned char>* message, void*) {
    if (message->size() == 3 && ((*message)[0] & 0xF0) == 0xB0) {
        lastArrivalNs = NowNs();
        lastValue = (*message)[2];
    }
}

struct Figures {
    double medianMs = 0;
    double p99Ms = 0;
    int lost = 0;
};

// Moves the stick between its ends at random moments and times each move until its message
// arrives.
Figures Measure(platform::VirtualStick& stick, int moves) {
    std::mt19937 random(42);
    std::uniform_int_distribution<int> pause(0, 10000);
    std::vector<double> latencies;
    int lost = 0;
    for (int i = 0; i < moves; ++i) {
        const bool up = i % 2 == 0;
        std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
        const std::int64_t start = NowNs();
        stick.Axis(0, up ? 32767 : -32768);
        const int expected = up ? 127 : 0;
        const auto deadline = Clock::now() + 200ms;
        while (!(lastValue == expected && lastArrivalNs > start) && Clock::now() < deadline) {
            std::this_thread::sleep_for(50us);
        }
        if (lastValue == expected && lastArrivalNs > start) {
            latencies.push_back((lastArrivalNs - start) / 1e6);
        } else {
            ++lost;
        }
    }
    std::sort(latencies.begin(), latencies.end());
    if (latencies.empty()) {
        return {0, 0, lost};
    }
    return {latencies[latencies.size() / 2], latencies[latencies.size() * 99 / 100], lost};
}

}  // namespace

int main(int argc, char** argv) {
    const int moves = argc > 1 ? std::max(10, std::atoi(argv[1])) : 1000;
    testsupport::JackTestServer server("tbx-bench-corvane-latency");
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

    RtMidiIn probe(RtMidi::UNIX_JACK, "LatencyProbe");
    probe.setCallback(&OnProbeInput);
    probe.openVirtualPort("in");

    Figures corvane;
    {
        auto midi = platform::CreateMidiService("Corvane", platform::MidiBackend::Jack);
        auto joystick = platform::CreateJoystickService();
        auto timer = platform::CreatePeriodicTimer();
        const int out = IndexOf(midi->ListOutputs(), kProbePort);
        corvane::Mapper mapper(*midi, *joystick, *timer, {false, 0, out, 0, 2});
        mapper.Controls()[corvane::kXAxis] = corvane::ControlAssignment(7, 0, 50, 100);
        mapper.Start();
        std::this_thread::sleep_for(200ms);
        corvane = Measure(stick, moves);
        mapper.Shutdown();
    }

    Figures direct;
    {
        RtMidiOut out(RtMidi::UNIX_JACK, "DirectLoop");
        for (unsigned i = 0; i < out.getPortCount(); ++i) {
            if (out.getPortName(i) == kProbePort) {
                out.openPort(i, "out");
            }
        }
        std::atomic<bool> stop{false};
        std::thread loop([&] {
            SDL_Joystick* j = SDL_JoystickOpen(0);  // the virtual stick, the only one
            Sint16 previous = SDL_JoystickGetAxis(j, 0);
            auto next = Clock::now();
            while (!stop) {
                next += 10ms;
                std::this_thread::sleep_until(next);
                SDL_JoystickUpdate();
                const Sint16 now = SDL_JoystickGetAxis(j, 0);
                if (now != previous) {
                    previous = now;
                    const unsigned char message[3] = {
                        0xB0, 7, static_cast<unsigned char>((now + 32768) * 127 / 65535)};
                    out.sendMessage(message, 3);
                }
            }
            SDL_JoystickClose(j);
        });
        std::this_thread::sleep_for(200ms);
        direct = Measure(stick, moves);
        stop = true;
        loop.join();
    }

    std::printf("moves: %d each, JACK period 128 frames at 48 kHz (2.7 ms)\n", moves);
    std::printf("Corvane      median %6.2f ms  p99 %6.2f ms  lost %d\n", corvane.medianMs,
                corvane.p99Ms, corvane.lost);
    std::printf("direct loop  median %6.2f ms  p99 %6.2f ms  lost %d\n", direct.medianMs,
                direct.p99Ms, direct.lost);
    const double ratio = direct.medianMs > 0 ? corvane.medianMs / direct.medianMs : 0;
    std::printf("ratio of medians %.3f (target 1.1 or less): %s\n", ratio,
                ratio > 0 && ratio <= 1.1 ? "met" : "MISSED");
    stick.Unplug();
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    return 0;
}

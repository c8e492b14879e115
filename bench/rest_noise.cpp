// A stick at rest that is not quite still: every axis of an SDL virtual joystick wanders by up
// to 1.5 % of its travel around its centre, a new reading every 5 ms, through Tamborex's engine
// on the real joystick service with low-latency input. Side by side in one run: every axis with
// the soft-centre preset, which should send nothing at all, and every axis unshaped, which shows
// what the noise would send without it. MIDI goes to the in-memory service, which counts it.
//
// usage: rest_noise [seconds (default 60)]

#include <SDL.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

#include "fake_midi.h"
#include "platform/joystick.h"
#include "platform/virtual_stick.h"
#include "tamborex/devices/joystick.h"
#include "tamborex/devices/midi_out.h"
#include "tamborex/engine/engine.h"
#include "tamborex/testing/loop_ui_thread.h"
#include "tamborex/testing/test_window.h"

namespace {

using namespace std::chrono_literals;

struct Path {
    platform::FakeMidiService midi;
    std::unique_ptr<platform::JoystickService> service = platform::CreateJoystickService();
    CLoopUiThreadRunner ui;
    CTestBankLink bank;
    CWinMIDIOut out{midi};
    CJoystick joystick{*service, [](std::string_view) {}};
    CEngine engine{out, joystick, ui.loop, ui.loop, bank};

    explicit Path(bool shaped) {
        midi.SetOutputs({"Tamborex", "Synth"});
        out.Open(1);
        std::atomic<bool> ready{false};
        ui.loop.Post([this, shaped, &ready] {
            joystick.Init();
            for (int a = 0; a < kAxisCount; ++a) {
                AxisRecord& axis = engine.patches[0].axes[a];
                axis.controller = 9 + a;
                if (shaped) {
                    ApplyShapePreset(axis.shape, ShapePreset::SoftCentre);
                }
                engine.ApplyAxisShape(a);
            }
            engine.patches[0].pollIntervalCode = 0;
            engine.SetLowLatency(true);
            engine.SetPatchActive(0, 1);
            ready = true;
        });
        while (!ready) {
            std::this_thread::sleep_for(1ms);
        }
        service->SetEventListener([this](platform::JoyEvent) { engine.OnJoystickEvent(); });
    }
    ~Path() {
        service->SetEventListener({});
        std::atomic<bool> done{false};
        ui.loop.Post([&] {
            engine.SetPatchActive(0, 0);
            done = true;
        });
        while (!done) {
            std::this_thread::sleep_for(1ms);
        }
    }
    std::size_t Sent() const { return midi.SentBytes().size(); }
};

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) {
        std::fprintf(stderr, "SDL: %s\n", SDL_GetError());
        return 1;
    }
    platform::VirtualStick stick("Noisy Stick", 6, 4, 0);
    for (int a = 0; a < kAxisCount; ++a) {
        stick.Axis(a, 0);
    }
    int result = 0;
    {
        Path shaped(true);
        Path plain(false);
        std::this_thread::sleep_for(1s);  // the first readings go out; then only noise
        const std::size_t shapedBefore = shaped.Sent();
        const std::size_t plainBefore = plain.Sent();
        std::mt19937 random(23);
        constexpr int kNoise = 65535 * 15 / 1000;  // 1.5 % of the travel, either way
        std::uniform_int_distribution<int> wander(-kNoise, kNoise);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        long readings = 0;
        while (std::chrono::steady_clock::now() < end) {
            for (int a = 0; a < kAxisCount; ++a) {
                stick.Axis(a, static_cast<Sint16>(wander(random)));
            }
            ++readings;
            std::this_thread::sleep_for(5ms);
        }
        std::this_thread::sleep_for(200ms);
        const std::size_t shapedSent = shaped.Sent() - shapedBefore;
        const std::size_t plainSent = plain.Sent() - plainBefore;
        std::printf("%d s at rest, six axes each wandering within +-1.5 %% (%ld readings each)\n",
                    seconds, readings);
        std::printf("soft centre: %zu messages (target 0): %s\n", shapedSent,
                    shapedSent == 0 ? "met" : "MISSED");
        std::printf("unshaped, for comparison: %zu messages\n", plainSent);
        result = shapedSent == 0 ? 0 : 2;
    }
    stick.Unplug();
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    return result;
}

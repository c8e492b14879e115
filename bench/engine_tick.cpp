// One Tamborex poll tick with six changing axes and eight button edges, on the in-memory
// platform, and the fake platform's own share of it, so the engine's cost can be told apart.

#include <benchmark/benchmark.h>

#include "fake_joystick.h"
#include "fake_midi.h"
#include "tamborex/engine/engine.h"
#include "tamborex/testing/test_window.h"

namespace {

void BM_PollTick(benchmark::State& state) {
    platform::FakeMidiService midi;
    midi.SetOutputs({"Tamborex", "Synth"});
    platform::FakeJoystickService stick;
    stick.Attach();
    CTestWindow window;
    window.recordCalls = false;
    CTestBankLink bank;
    bank.thru = false;
    CWinMIDIOut out(midi);
    out.Open(1);
    CJoystick joystick(stick, [](std::string_view) {});
    joystick.Init();
    CEngine engine(out, joystick, window, window, bank);
    for (int b = 0; b < kPolledButtons; ++b) {
        engine.patches[0].buttons[b].mode = b % 2 ? MODE_NOTE : MODE_SUSTAIN;
    }
    for (int a = 0; a < kAxisCount; ++a) {
        engine.patches[0].axes[a].controller = 9 + a;
        engine.patches[0].axes[a].minimumMovement = 0;
    }
    engine.SetPatchActive(0, 1);
    int i = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const bool odd = (++i % 2) != 0;
        for (int a = 0; a < kAxisCount; ++a) {
            stick.SetAxis(a, static_cast<std::int16_t>(odd ? 30000 : -30000));
        }
        for (int b = 0; b < kPolledButtons; ++b) {
            stick.SetButton(b, odd);
        }
        if (i % 200 == 0) {
            midi.ClearEvents();
        }
        state.ResumeTiming();
        engine.PollJoystick();
    }
}
BENCHMARK(BM_PollTick)->Iterations(20000)->Repetitions(5)->ReportAggregatesOnly(true);

// The fake's share of one tick: a poll and a state read, fourteen recorded sends.
void BM_FakePlatformShare(benchmark::State& state) {
    platform::FakeMidiService midi;
    midi.SetOutputs({"Synth"});
    platform::MidiOutHandle handle = platform::kNoHandle;
    (void)midi.OpenOutput(0, handle);
    platform::FakeJoystickService stick;
    stick.Attach();
    (void)stick.Open();
    stick.Acquire();
    platform::RawJoyState raw;
    int i = 0;
    for (auto _ : state) {
        if (++i % 200 == 0) {
            state.PauseTiming();
            midi.ClearEvents();
            state.ResumeTiming();
        }
        benchmark::DoNotOptimize(stick.Poll());
        benchmark::DoNotOptimize(stick.GetState(raw));
        for (int s = 0; s < 14; ++s) {
            benchmark::DoNotOptimize(midi.SendShort(handle, 0x4007B0));
        }
    }
}
BENCHMARK(BM_FakePlatformShare)->Iterations(20000)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();

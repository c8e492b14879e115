// One Tamborex poll tick with six changing axes and eight button edges, on the in-memory
// platform, and the fake platform's own share of it, so the engine's cost can be told apart.

#include <benchmark/benchmark.h>

#include "fake_joystick.h"
#include "fake_midi.h"
#include "tamborex/engine/engine.h"
#include "tamborex/testing/test_window.h"

namespace {

// shaped: every axis shaped (soft centre: dead zones, drawn curve, smoothing, hysteresis; X, Y
// and Z in 14 bits), to be set beside the unshaped tick.
void PollTicks(benchmark::State& state, bool shaped) {
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
        AxisRecord& axis = engine.patches[0].axes[a];
        axis.controller = 9 + a;
        axis.minimumMovement = 0;
        if (shaped) {
            ApplyShapePreset(axis.shape, ShapePreset::SoftCentre);
            axis.shape.resolution = a < 3 ? 14 : 7;
            engine.ApplyAxisShape(a);
        }
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

void BM_PollTick(benchmark::State& state) {
    PollTicks(state, false);
}
BENCHMARK(BM_PollTick)->Iterations(20000)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_PollTickShaped(benchmark::State& state) {
    PollTicks(state, true);
}
BENCHMARK(BM_PollTickShaped)->Iterations(20000)->Repetitions(5)->ReportAggregatesOnly(true);

// The shaping alone: one pass over six axes (calibration to smoothing), with the input moving
// each pass. The per-axis figure is the one held to 0.2 us.
void BM_ShapeSixAxes(benchmark::State& state) {
    std::array<AxisRecord, kAxisCount> axes{};
    std::array<CAxisShaper, kAxisCount> shapers{};
    for (int a = 0; a < kAxisCount; ++a) {
        ApplyShapePreset(axes[a].shape, ShapePreset::SoftCentre);
        axes[a].shape.resolution = a % 2 ? 14 : 7;
    }
    axes[4].shape.curve = CurveKind::S;
    axes[4].shape.strength = 0.6;
    axes[5].shape.curve = CurveKind::Exponential;
    axes[5].shape.strength = 0.4;
    std::int64_t t = 0;
    std::int32_t raw = 0;
    for (auto _ : state) {
        t += 1000;
        raw = (raw + 7919) & 0xFFFF;
        for (int a = 0; a < kAxisCount; ++a) {
            benchmark::DoNotOptimize(shapers[a].Shape(axes[a], raw ^ (a * 4099), t, 40'000));
        }
    }
    // Seconds per axis, printed with its SI prefix ("40n" is 40 ns).
    state.counters["per_axis"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kAxisCount,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ShapeSixAxes)->Repetitions(5)->ReportAggregatesOnly(true);

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

// One Corvane tick with all seven controls changing, on the in-memory platform. The figure
// includes the fake's joystick read and its recording of each send.

#include <benchmark/benchmark.h>

#include "fake_joystick.h"
#include "fake_midi.h"
#include "fake_timer.h"
#include "mapper.h"

namespace {

void BM_CorvaneTick(benchmark::State& state) {
    platform::FakeMidiService midi;
    midi.SetOutputs({"Corvane"});
    platform::FakeJoystickService joystick;
    joystick.Attach();
    platform::FakeTimer timer;
    corvane::Mapper mapper(midi, joystick, timer, {false, 0, -1, 0, 2});
    mapper.Start();
    for (int c = 0; c < corvane::kControlCount; ++c) {
        mapper.Controls()[c] = corvane::ControlAssignment(c == 1 ? 0 : c + 1, 0, 50, 100);
    }
    int i = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const bool odd = (++i % 2) != 0;
        for (int axis = 0; axis < 3; ++axis) {
            joystick.SetAxis(axis, static_cast<std::int16_t>(odd ? 30000 : -30000));
        }
        for (int b = 0; b < 4; ++b) {
            joystick.SetButton(b, odd);
        }
        if (i % 500 == 0) {
            midi.ClearEvents();  // keep the log inside its reserved room
        }
        state.ResumeTiming();
        mapper.OnTick();
    }
}
BENCHMARK(BM_CorvaneTick)->Iterations(20000)->Repetitions(5)->ReportAggregatesOnly(true);

// The fake's own share: seven recorded sends and one read.
void BM_FakePlatformShare(benchmark::State& state) {
    platform::FakeMidiService midi;
    midi.SetOutputs({"Corvane"});
    platform::MidiOutHandle out = platform::kNoHandle;
    (void)midi.OpenOutput(0, out);
    platform::FakeJoystickService joystick;
    joystick.Attach();
    platform::SimpleJoyState read;
    int i = 0;
    for (auto _ : state) {
        if (++i % 500 == 0) {
            state.PauseTiming();
            midi.ClearEvents();
            state.ResumeTiming();
        }
        benchmark::DoNotOptimize(joystick.ReadSimple(read));
        for (int s = 0; s < 7; ++s) {
            benchmark::DoNotOptimize(midi.SendShort(out, 0x0007B0));
        }
    }
}
BENCHMARK(BM_FakePlatformShare)->Iterations(20000)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();

// Cost of one short-message send: on the in-memory fake, and through RtMidi to a private JACK
// server's virtual port.

#include <benchmark/benchmark.h>

#include <thread>

#include "fake_midi.h"
#include "jack_server.h"
#include "platform/midi.h"

namespace {

testsupport::JackTestServer* server = nullptr;

void BM_FakeSendShort(benchmark::State& state) {
    platform::FakeMidiService midi;
    midi.SetOutputs({"Synth"});
    platform::MidiOutHandle out = platform::kNoHandle;
    (void)midi.OpenOutput(0, out);
    std::uint8_t value = 0;
    int logged = 0;
    for (auto _ : state) {
        if (++logged == 4000) {  // keep the log within its reserved room
            logged = 0;
            state.PauseTiming();
            midi.ClearEvents();
            state.ResumeTiming();
        }
        benchmark::DoNotOptimize(
            midi.SendShort(out, platform::PackShortMessage(0xB0, 7, value++ & 0x7F)));
    }
}
BENCHMARK(BM_FakeSendShort)->Iterations(3000)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_JackSendShort(benchmark::State& state) {
    if (server == nullptr || !server->Running()) {
        state.SkipWithError("jackd did not start");
        return;
    }
    server->MakeDefault();
    auto midi = platform::CreateMidiService("TbxBench", platform::MidiBackend::Jack);
    platform::MidiOutHandle out = platform::kNoHandle;
    if (midi->OpenOutput(0, out) != platform::MidiResult::NoError) {
        state.SkipWithError("could not open the JACK port");
        return;
    }
    std::uint8_t value = 0;
    int sent = 0;
    for (auto _ : state) {
        if (++sent % 40 == 0) {  // let a JACK cycle drain RtMidi's ring, as real use would
            state.PauseTiming();
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
            state.ResumeTiming();
        }
        benchmark::DoNotOptimize(
            midi->SendShort(out, platform::PackShortMessage(0xB0, 7, value++ & 0x7F)));
    }
}
BENCHMARK(BM_JackSendShort)->Iterations(2000)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
    testsupport::JackTestServer jack("tbx-bench-midi-send");
    server = &jack;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

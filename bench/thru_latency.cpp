// MIDI thru through Tamborex on a private real-time JACK server (64 frames at 48 kHz), side by
// side in one run with a plain JACK client that copies its input to its output in the same
// cycle: numbered control changes at 2 kHz from a source client, through each path, to a sink
// client. Two Tamborex paths: the engine and its ports in this process, and the program as a user
// runs it (headless, thru ticked in its bank, its own "in" and "out" ports). Prints median and p99
// of the delay from the source's send to the sink's cycle, and how many were lost, doubled or
// reordered. Then a burst of 1,000 messages sent at once from the program's own thread, and the
// service's counters.
//
// usage: thru_latency [messages (default 100000)] [rate Hz (default 2000)]

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "child_process.h"
#include "jack_peer.h"
#include "jack_server.h"
#include "platform/file_io.h"
#include "platform/joystick.h"
#include "tamborex/devices/midi_in.h"
#include "tamborex/devices/midi_out.h"
#include "tamborex/devices/midi_thru.h"
#include "tamborex/engine/engine.h"
#include "tamborex/storage/bank_file.h"
#include "tamborex/storage/patch_file.h"
#include "tamborex/storage/port_names.h"
#include "tamborex/testing/loop_ui_thread.h"
#include "tamborex/testing/test_window.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using testsupport::JackPeer;

constexpr int kMaxMessages = 16 * 16384;  // channel and two data bytes carry the number
constexpr int kPeriodFrames = 64;

std::uint32_t Numbered(int seq) {
    return platform::PackShortMessage(static_cast<std::uint8_t>(0xB0 | (seq >> 14)),
                                      static_cast<std::uint8_t>((seq >> 7) & 0x7F),
                                      static_cast<std::uint8_t>(seq & 0x7F));
}

int NumberOf(const JackPeer::Arrival& a) {
    return ((a.bytes[0] & 0x0F) << 14) | (a.bytes[1] << 7) | a.bytes[2];
}

struct Figures {
    double medianMs = 0;
    double p99Ms = 0;
    int lost = 0;
    int doubled = 0;
    int reordered = 0;
};

Figures Measure(const std::vector<std::uint64_t>& sentUs,
                const std::vector<JackPeer::Arrival>& arrivals) {
    Figures f;
    std::vector<int> seen(sentUs.size(), 0);
    std::vector<double> delays;
    int last = -1;
    for (const auto& a : arrivals) {
        const int seq = NumberOf(a);
        if (seq >= static_cast<int>(sentUs.size())) {
            continue;
        }
        if (++seen[seq] > 1) {
            ++f.doubled;
            continue;
        }
        if (seq < last) {
            ++f.reordered;
        }
        last = seq;
        delays.push_back(static_cast<double>(a.arrivedUs - sentUs[seq]) / 1000.0);
    }
    f.lost = static_cast<int>(std::count(seen.begin(), seen.end(), 0));
    std::sort(delays.begin(), delays.end());
    if (!delays.empty()) {
        f.medianMs = delays[delays.size() / 2];
        f.p99Ms = delays[delays.size() * 99 / 100];
    }
    return f;
}

void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    int cause = 0;
    platform::WriteStage stage{};
    if (!platform::WriteFileAtomically(path.string(), bytes, cause, stage)) {
        std::fprintf(stderr, "could not write %s\n", path.c_str());
    }
}

// A bank with thru ticked, reading the program's own "in" port and playing on its own "out".
void PrepareThruBank(const std::filesystem::path& dir) {
    std::array<CPatch, 2> patches;
    patches[0].active = 1;
    patches[0].outputDevice = 0;
    CBankState bank;
    bank.midiThru = 1;
    bank.midiInDevice = 0;
    bank.patchNames[0] = "Thru";
    bank.patchPaths[0] = (dir / "thru.txp").string();
    WriteFile(dir / "thru.txp", FormatPatchFile(bank.patchNames[0], patches));
    WriteFile(dir / kBankFileName, FormatBank(bank));
    WriteFile(dir / kExtraSettingsFile, FormatExtraSettings({"jack", "", true}));
}

void Report(const char* label, const Figures& f) {
    std::printf("%-22s median %6.3f ms  p99 %6.3f ms  lost %d  doubled %d  reordered %d\n", label,
                f.medianMs, f.p99Ms, f.lost, f.doubled, f.reordered);
}

}  // namespace

int main(int argc, char** argv) {
    const int count = std::clamp(argc > 1 ? std::atoi(argv[1]) : 100000, 10, kMaxMessages);
    const int rate = std::clamp(argc > 2 ? std::atoi(argv[2]) : 2000, 1, 20000);
    testsupport::JackTestServer server("tbx-bench-thru", kPeriodFrames, true);
    if (!server.Running()) {
        std::fprintf(stderr, "jackd did not start\n");
        return 1;
    }
    server.MakeDefault();

    // The floor: source -> plain copier -> sink.
    JackPeer floorSource("FloorSource", JackPeer::Role::Source);
    JackPeer copier("PlainCopier", JackPeer::Role::Copier);
    JackPeer floorSink("FloorSink", JackPeer::Role::Sink);
    // Tamborex: source -> Tamborex's input, thru on -> Tamborex's output -> sink.
    JackPeer source("TbxSource", JackPeer::Role::Source);
    JackPeer sink("TbxSink", JackPeer::Role::Sink);
    JackPeer burstSink("BurstSink", JackPeer::Role::Sink);
    // The program: source -> Tamborex:in, thru in its bank -> Tamborex:out -> sink.
    JackPeer programSource("PrgSource", JackPeer::Role::Source);
    JackPeer programSink("PrgSink", JackPeer::Role::Sink);
    if (!floorSource.Ok() || !copier.Ok() || !floorSink.Ok() || !source.Ok() || !sink.Ok() ||
        !burstSink.Ok() || !programSource.Ok() || !programSink.Ok()) {
        std::fprintf(stderr, "a JACK client did not open\n");
        return 1;
    }
    floorSource.Connect(floorSource.Port("out"), copier.Port("in"));
    copier.Connect(copier.Port("out"), floorSink.Port("in"));

    auto midi = platform::CreateMidiService("TbxEngine", platform::MidiBackend::Jack);
    auto joystickService = platform::CreateJoystickService();
    CLoopUiThreadRunner ui;
    CTestBankLink bank;
    CMidiThru thru(*midi);
    bank.byService = &thru;
    CWinMIDIOut out(*midi);
    CJoystick joystick(*joystickService, [](std::string_view) {});
    CEngine engine(out, joystick, ui.loop, ui.loop, bank);
    CWinMIDIIn in(*midi, [&](std::uint32_t m, std::uint32_t ts) { engine.OnMidiInput(m, ts); });
    out.SetThru(&thru);
    in.SetThru(&thru);
    thru.SetWanted(true);
    const auto outputs = midi->ListOutputs();
    const auto toSink = std::find(outputs.begin(), outputs.end(), sink.Port("in"));
    if (toSink == outputs.end() || !out.Open(static_cast<std::int16_t>(toSink - outputs.begin())) ||
        !in.Open(0) || !thru.Forwarding()) {
        std::fprintf(stderr, "Tamborex's ports did not open\n");
        return 1;
    }
    source.Connect(source.Port("out"), "TbxEngine:in");

    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("tbx-bench-thru-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    PrepareThruBank(dir);
    testsupport::ChildProcess program({{TAMBOREX_PROGRAM, "--headless"}, dir.string(), {}, {}, {}});
    bool linked = false;
    for (int i = 0; i < 200 && !linked; ++i) {
        std::this_thread::sleep_for(50ms);
        linked = programSink.Connect("Tamborex:out", programSink.Port("in")) &&
                 programSource.Connect(programSource.Port("out"), "Tamborex:in");
    }
    if (!linked) {
        std::fprintf(stderr, "the program's ports did not appear\n");
        return 1;
    }
    std::this_thread::sleep_for(500ms);

    std::vector<std::uint64_t> floorSent(static_cast<std::size_t>(count));
    std::vector<std::uint64_t> sent(static_cast<std::size_t>(count));
    std::vector<std::uint64_t> programSent(static_cast<std::size_t>(count));
    const auto step = std::chrono::nanoseconds(1000000000 / rate);
    auto next = Clock::now();
    for (int seq = 0; seq < count; ++seq) {
        next += step;
        std::this_thread::sleep_until(next);
        floorSent[seq] = floorSource.Send(Numbered(seq), 3);
        sent[seq] = source.Send(Numbered(seq), 3);
        programSent[seq] = programSource.Send(Numbered(seq), 3);
    }
    std::this_thread::sleep_for(300ms);
    const Figures floorFigures = Measure(floorSent, floorSink.WaitForArrivals(count, 1s));
    const Figures tbx = Measure(sent, sink.WaitForArrivals(count, 1s));
    const Figures whole = Measure(programSent, programSink.WaitForArrivals(count, 1s));
    program.Signal(SIGTERM);
    program.Wait(10s);
    std::filesystem::remove_all(dir);

    // A burst from the program's own thread, straight at the port.
    out.Open(static_cast<std::int16_t>(
        std::find(outputs.begin(), outputs.end(), burstSink.Port("in")) - outputs.begin()));
    std::this_thread::sleep_for(100ms);
    const auto before = midi->Counters();
    constexpr int kBurst = 1000;
    for (int seq = 0; seq < kBurst; ++seq) {
        const std::uint32_t m = Numbered(seq);
        const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(m),
                                       static_cast<std::uint8_t>(m >> 8),
                                       static_cast<std::uint8_t>(m >> 16), 0};
        out.Send(bytes, 3);
    }
    const auto burst = burstSink.WaitForArrivals(kBurst, 2s);
    int inOrder = 0;
    for (std::size_t i = 0; i < burst.size(); ++i) {
        inOrder += NumberOf(burst[i]) == static_cast<int>(i) ? 1 : 0;
    }
    const std::uint32_t cycles =
        burst.empty() ? 0 : (burst.back().frame - burst.front().frame) / kPeriodFrames + 1;
    const auto after = midi->Counters();

    std::printf("%d messages at %d Hz, real-time JACK, period %d frames at 48 kHz (%.2f ms)\n",
                count, rate, kPeriodFrames, kPeriodFrames / 48.0);
    Report("plain JACK copier", floorFigures);
    Report("Tamborex thru", tbx);
    Report("Tamborex program thru", whole);
    for (const Figures* f : {&tbx, &whole}) {
        const double ratio = floorFigures.medianMs > 0 ? f->medianMs / floorFigures.medianMs : 0;
        const bool met = ratio > 0 && ratio <= 1.1 && f->p99Ms < 2.0 &&
                         f->lost <= floorFigures.lost && f->doubled <= floorFigures.doubled &&
                         f->reordered == 0;
        std::printf(
            "%s: median ratio %.3f (1.1 or less), p99 under 2 ms, lost and doubled no more, none "
            "reordered: %s\n",
            f == &tbx ? "engine" : "program", ratio, met ? "met" : "MISSED");
    }
    std::printf(
        "burst of %d from the program's thread: %zu arrived, %d in order, over %u cycles, "
        "%llu carried, %llu dropped: %s\n",
        kBurst, burst.size(), inOrder, cycles,
        static_cast<unsigned long long>(after.carried - before.carried),
        static_cast<unsigned long long>(after.dropped - before.dropped),
        inOrder == kBurst ? "met" : "MISSED");
    std::printf("counters:\n%s", platform::FormatMidiCounters(after).c_str());
    return 0;
}

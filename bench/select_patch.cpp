// SelectPatch of a patch file: load it, close and reopen the output port, re-arm polling. On the
// in-memory platform and with RtMidi on a private JACK server: median and p99 over 200 switches
// between two bank entries, so every switch really reloads and reopens.

#include <rtmidi/RtMidi.h>

#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "fake_joystick.h"
#include "fake_midi.h"
#include "jack_server.h"
#include "tamborex/session/session.h"
#include "tamborex/storage/patch_file.h"
#include "tamborex/testing/test_window.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Figures {
    double medianMs = 0;
    double p99Ms = 0;
    int failures = 0;
};

// Entry 0 plays on port0 and entry 1 on port1.
Figures Measure(platform::MidiService& midi, const std::string& port0, const std::string& port1,
                const std::string& folder) {
    platform::FakeJoystickService stick;
    stick.Attach();
    CTestWindow bar;
    bar.recordCalls = false;
    CSession session(midi, stick, bar, folder + "/Tamborex.bnk");
    Attach(session, bar);
    session.Joystick().Init();
    const CWinMIDIOut& out = CSessionTestAccess::MidiOut(session);
    auto deviceOf = [&out](const std::string& port) {
        for (std::uint32_t i = 0; i < out.DeviceCount(); ++i) {
            if (out.GetDevName(static_cast<int>(i)) == port) {
                return static_cast<std::int32_t>(i);
            }
        }
        return -1;
    };
    for (int entry = 0; entry < 2; ++entry) {
        std::array<CPatch, 2> slots;
        slots[0].outputDevice = deviceOf(entry == 0 ? port0 : port1);
        slots[0].active = 1;
        slots[0].buttons[entry].mode = MODE_NOTE;
        const std::string path = folder + "/entry" + std::to_string(entry) + ".txp";
        const auto bytes = FormatPatchFile("Entry " + std::to_string(entry), slots);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        CSessionTestAccess::Bank(session).patchPaths[entry] = path;
    }
    std::vector<double> times;
    for (int i = 0; i < 200; ++i) {
        session.SetPatchNumber(i % 2);
        const auto start = Clock::now();
        session.SelectPatch();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times[times.size() * 99 / 100],
            static_cast<int>(bar.messages.size())};
}

}  // namespace

int main() {
    const std::string folder =
        (std::filesystem::temp_directory_path() / ("tbx-select-" + std::to_string(getpid())))
            .string();
    std::filesystem::create_directories(folder);

    platform::FakeMidiService fake;
    fake.SetOutputs({"Tamborex", "Synth"});
    const Figures onFake = Measure(fake, "Synth", "Synth", folder);

    testsupport::JackTestServer server("tbx-bench-select");
    if (!server.Running()) {
        std::fprintf(stderr, "jackd did not start\n");
        return 1;
    }
    server.MakeDefault();
    RtMidiIn sink(RtMidi::UNIX_JACK, "SelectSink");
    sink.openVirtualPort("in");
    RtMidiIn other(RtMidi::UNIX_JACK, "OtherSink");
    other.openVirtualPort("in");
    auto jack = platform::CreateMidiService("Tamborex", platform::MidiBackend::Jack);
    const Figures onJack = Measure(*jack, "SelectSink:in", "SelectSink:in", folder);
    const Figures twoPorts = Measure(*jack, "SelectSink:in", "OtherSink:in", folder);

    std::printf("SelectPatch, 200 switches between two entries\n");
    std::printf("fake platform  median %7.3f ms  p99 %7.3f ms  messages %d\n", onFake.medianMs,
                onFake.p99Ms, onFake.failures);
    std::printf("JACK           median %7.3f ms  p99 %7.3f ms  messages %d\n", onJack.medianMs,
                onJack.p99Ms, onJack.failures);
    std::printf("JACK, entries on two different ports: median %.3f ms  p99 %.3f ms\n",
                twoPorts.medianMs, twoPorts.p99Ms);
    std::printf("target p99 under 5 ms on JACK: %s\n", onJack.p99Ms < 5 ? "met" : "MISSED");
    std::filesystem::remove_all(folder);
    return 0;
}

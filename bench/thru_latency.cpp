// MIDI in to MIDI out through Tamborex's engine on a private JACK server: 10,000 messages at
// 1 kHz, median and p99 of the delay, and whether any was lost or reordered. The same traffic
// through a direct RtMidi in-to-out forwarder in the same run, and the ratio of the medians.

#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "jack_server.h"
#include "platform/joystick.h"
#include "tamborex/devices/midi_in.h"
#include "tamborex/devices/midi_out.h"
#include "tamborex/engine/engine.h"
#include "tamborex/testing/test_window.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kMaxMessages = 16384;  // the sequence number travels in two data bytes

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// What the sink saw: arrival time by sequence number, and how often order broke.
struct Sink {
    std::vector<std::atomic<std::int64_t>> arrived =
        std::vector<std::atomic<std::int64_t>>(kMaxMessages);
    std::atomic<int> last{-1};
    std::atomic<int> reordered{0};

    void Reset() {
        for (auto& a : arrived) {
            a = 0;
        }
        last = -1;
        reordered = 0;
    }
    static void OnInput(double, std::vector<unsigned char>* m, void* self) {
        auto* sink = static_cast<Sink*>(self);
        if (m->size() != 3 || ((*m)[0] & 0xF0) != 0xB0) {
            return;
        }
        const int seq = ((*m)[1] << 7) | (*m)[2];
        sink->arrived[seq] = NowNs();
        if (seq <= sink->last) {
            ++sink->reordered;
        }
        sink->last = seq;
    }
};

// The user-interface thread of the bar, reduced to running posted tasks as they come.
class UiThread final : public CWindowServices {
  public:
    UiThread() : thread_([this] { Loop(); }) {}
    ~UiThread() override {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    void SetTimer(int, unsigned) override {}
    void KillTimer(int) override {}
    void MessageBox(std::string_view) override {}
    void ShowActivity(bool) override {}
    void PostToUiThread(std::function<void()> task) override {
        {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        wake_.notify_one();
    }

  private:
    void Loop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stop_ || !tasks_.empty(); });
            if (stop_) {
                return;
            }
            auto task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            task();
            lock.lock();
        }
    }
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool stop_ = false;
    std::thread thread_;
};

struct Figures {
    double medianMs = 0;
    double p99Ms = 0;
    int lost = 0;
    int reordered = 0;
};

Figures Drive(RtMidiOut& source, Sink& sink, int count) {
    sink.Reset();
    std::vector<std::int64_t> sent(static_cast<std::size_t>(count));
    auto next = Clock::now();
    for (int seq = 0; seq < count; ++seq) {
        next += 1ms;
        std::this_thread::sleep_until(next);
        const unsigned char message[3] = {0xB0, static_cast<unsigned char>(seq >> 7),
                                          static_cast<unsigned char>(seq & 0x7F)};
        sent[seq] = NowNs();
        source.sendMessage(message, 3);
    }
    std::this_thread::sleep_for(200ms);
    Figures f;
    std::vector<double> delays;
    for (int seq = 0; seq < count; ++seq) {
        const std::int64_t at = sink.arrived[seq];
        if (at == 0) {
            ++f.lost;
        } else {
            delays.push_back((at - sent[seq]) / 1e6);
        }
    }
    std::sort(delays.begin(), delays.end());
    if (!delays.empty()) {
        f.medianMs = delays[delays.size() / 2];
        f.p99Ms = delays[delays.size() * 99 / 100];
    }
    f.reordered = sink.reordered;
    return f;
}

void Connect(RtMidi& port, const std::string& target, const char* ourName) {
    for (unsigned i = 0; i < port.getPortCount(); ++i) {
        if (port.getPortName(i) == target) {
            port.openPort(i, ourName);
            return;
        }
    }
    std::fprintf(stderr, "port %s not found\n", target.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const int count = std::clamp(argc > 1 ? std::atoi(argv[1]) : 10000, 10, kMaxMessages);
    testsupport::JackTestServer server("tbx-bench-thru");
    if (!server.Running()) {
        std::fprintf(stderr, "jackd did not start\n");
        return 1;
    }
    server.MakeDefault();
    Sink sink;
    RtMidiIn sinkPort(RtMidi::UNIX_JACK, "ThruSink");
    sinkPort.setCallback(&Sink::OnInput, &sink);
    sinkPort.openVirtualPort("in");

    Figures engineFigures;
    {
        auto midi = platform::CreateMidiService("TbxThru", platform::MidiBackend::Jack);
        auto joystickService = platform::CreateJoystickService();
        UiThread ui;
        CTestBankLink bank;
        CWinMIDIOut out(*midi);
        CJoystick joystick(*joystickService, [](std::string_view) {});
        CEngine engine(out, joystick, ui, bank);
        CWinMIDIIn in(*midi, [&](std::uint32_t m, std::uint32_t ts) { engine.OnMidiInput(m, ts); });
        const auto outputs = midi->ListOutputs();
        out.Open(static_cast<std::int16_t>(
            std::find(outputs.begin(), outputs.end(), "ThruSink:in") - outputs.begin()));
        in.Open(0);
        RtMidiOut source(RtMidi::UNIX_JACK, "ThruSource");
        Connect(source, "TbxThru In:in", "out");
        std::this_thread::sleep_for(200ms);
        engineFigures = Drive(source, sink, count);
    }

    Figures directFigures;
    {
        RtMidiOut forwardOut(RtMidi::UNIX_JACK, "DirectOut");
        Connect(forwardOut, "ThruSink:in", "out");
        RtMidiIn forwardIn(RtMidi::UNIX_JACK, "DirectIn");
        forwardIn.setCallback([](double, std::vector<unsigned char>* m,
                                 void* out) { static_cast<RtMidiOut*>(out)->sendMessage(m); },
                              &forwardOut);
        forwardIn.openVirtualPort("in");
        RtMidiOut source(RtMidi::UNIX_JACK, "DirectSource");
        Connect(source, "DirectIn:in", "out");
        std::this_thread::sleep_for(200ms);
        directFigures = Drive(source, sink, count);
    }

    std::printf("%d messages at 1 kHz each, JACK period 128 frames at 48 kHz (2.7 ms)\n", count);
    auto report = [](const char* label, const Figures& f) {
        std::printf("%-14s median %6.2f ms  p99 %6.2f ms  lost %d  reordered %d\n", label,
                    f.medianMs, f.p99Ms, f.lost, f.reordered);
    };
    report("Tamborex", engineFigures);
    report("direct RtMidi", directFigures);
    const double ratio =
        directFigures.medianMs > 0 ? engineFigures.medianMs / directFigures.medianMs : 0;
    std::printf("ratio of medians %.3f (target 1.1 or less): %s\n", ratio,
                ratio > 0 && ratio <= 1.1 ? "met" : "MISSED");
    return 0;
}

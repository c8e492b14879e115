// Whatever a player does, in whatever order, nothing is left sounding once every button is up:
// random sequences of presses, releases, patch switches, program changes, clock ticks, unplugs,
// port switches and panics, against a session with real patch files.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <tuple>

#include "fake_joystick.h"
#include "fake_midi.h"
#include "tamborex/session/session.h"
#include "tamborex/storage/bank_file.h"
#include "tamborex/storage/patch_file.h"
#include "tamborex/testing/test_window.h"

namespace {

namespace fs = std::filesystem;
using Call = platform::FakeMidiService::Call;

void WriteBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// Patch k of three: buttons that sound in every way a button can, on channels and notes that
// overlap between buttons and between patches, and one that switches to the next patch.
std::vector<std::uint8_t> MakePatch(int k) {
    std::array<CPatch, 2> slots;
    CPatch& p = slots[0];
    p.active = 1;
    p.outputDevice = 1 + k % 2;
    auto& b = p.buttons;
    b[0].mode = MODE_NOTE;
    b[0].data1 = 60 + k;
    b[0].data2 = 100;
    b[1].mode = MODE_NOTE;
    b[1].data1 = 60;
    b[1].channel = k;
    b[2].mode = MODE_ARPEGGIATOR;
    b[2].autoArpeggiation = 1;
    b[2].channel = 2;
    b[2].stepCount = 3;
    b[2].notes = {48, 55, 60 + k, 0, 0, 0, 0, 0};
    b[2].times = {1, 2, 1, 1, 1, 1, 1, 1};
    b[3].mode = MODE_ARPEGGIATOR;
    b[3].channel = k;
    b[3].stepCount = 2;
    b[3].notes = {60, 67, 0, 0, 0, 0, 0, 0};
    b[4].mode = k == 1 ? MODE_SOSTENUTO : MODE_SUSTAIN;
    b[4].channel = k;
    b[5].mode = MODE_NOTE;
    b[5].data1 = 60;  // the same note as button 1 of patch 0
    b[6].mode = MODE_PATCH_CHANGE;
    b[6].data1 = (k + 1) % 3;
    b[7].mode = k == 2 ? MODE_SOFT_PEDAL : MODE_NOTE;
    b[7].data1 = 72;
    b[7].channel = 3;
    return FormatPatchFile("Patch " + std::to_string(k), slots);
}

// A synthesiser on each port as the stream plays it: the keys held down, per port, channel and
// note. A note off (or a note on at velocity 0) lets a key go; All Sound Off and All Notes Off let
// the channel's keys go.
class Listener {
  public:
    void Play(const std::vector<platform::FakeMidiService::Event>& events) {
        for (const auto& e : events) {
            if (e.call == Call::OpenOutput && e.result == platform::MidiResult::NoError) {
                ports_[e.handle] = e.index;
            }
            if (e.call != Call::SendShort || e.result != platform::MidiResult::NoError) {
                continue;
            }
            const int port = ports_.at(e.handle);
            const int kind = e.message & 0xF0;
            const int ch = e.message & 0x0F;
            const int data1 = (e.message >> 8) & 0x7F;
            const int data2 = (e.message >> 16) & 0x7F;
            if (kind == 0x90 && data2 > 0) {
                down_.insert({port, ch, data1});
                ++notesOn_;
            } else if (kind == 0x80 || kind == 0x90) {
                down_.erase({port, ch, data1});
            } else if (kind == 0xB0 && (data1 == 120 || data1 == 123)) {
                std::erase_if(down_, [&](const auto& key) {
                    return std::get<0>(key) == port && std::get<1>(key) == ch;
                });
            }
        }
    }
    const std::set<std::tuple<int, int, int>>& Down() const { return down_; }
    long NotesOn() const { return notesOn_; }

  private:
    std::map<std::uint32_t, int> ports_;
    std::set<std::tuple<int, int, int>> down_;
    long notesOn_ = 0;
};

TEST(LedgerProperty, TenThousandRandomSequencesLeaveNothingSoundingOnceEveryButtonIsUp) {
    const fs::path dir =
        fs::temp_directory_path() / ("tamborex-ledger-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    CBankState bank;
    for (int k = 0; k < 3; ++k) {
        const fs::path path = dir / ("p" + std::to_string(k) + ".txp");
        WriteBytes(path, MakePatch(k));
        bank.patchPaths[k] = path.string();
        bank.patchNames[k] = "Patch " + std::to_string(k);
    }
    bank.midiThru = 1;
    WriteBytes(dir / "Tamborex.bnk", FormatBank(bank));

    platform::FakeMidiService midi;
    midi.SetOutputs({"Tamborex", "Synth A", "Synth B"});
    midi.SetInputs({"Tamborex", "Keys"});
    platform::FakeJoystickService stick;
    stick.Attach();
    CTestWindow window;
    CSession session(midi, stick, window, (dir / "Tamborex.bnk").string());
    Attach(session, window);
    session.Startup();
    ASSERT_TRUE(window.messages.empty()) << window.messages.front();
    CEngine& engine = session.Engine();

    Listener synth;
    std::mt19937 random(24);
    std::array<bool, kPolledButtons> held{};
    bool attached = true;
    const auto poll = [&] { engine.PollJoystick(); };
    const auto reattach = [&] {
        if (!attached) {
            for (int b = 0; b < kPolledButtons; ++b) {
                stick.SetButton(b, false);
            }
            held = {};
            stick.Attach();
            attached = true;
            poll();
        }
    };
    for (int sequence = 0; sequence < 10000; ++sequence) {
        const int steps = std::uniform_int_distribution(1, 24)(random);
        for (int step = 0; step < steps; ++step) {
            const int op = std::uniform_int_distribution(0, 99)(random);
            const int b = std::uniform_int_distribution(0, kPolledButtons - 1)(random);
            if (op < 30) {  // press
                reattach();
                stick.SetButton(b, true);
                held[b] = true;
                poll();
            } else if (op < 55) {  // release
                if (attached) {
                    stick.SetButton(b, false);
                    held[b] = false;
                    poll();
                }
            } else if (op < 70) {  // the clock steps the automatic arpeggios
                engine.HandleMidiInput(0xF8);
            } else if (op < 76) {  // a patch switch from the bar
                session.Preset(b % 4);
            } else if (op < 82) {  // a program change at the input
                engine.HandleMidiInput(
                    platform::PackShortMessage(0xC0, static_cast<std::uint8_t>(b % 3)));
            } else if (op < 87) {  // unplugged with whatever is held
                if (attached) {
                    stick.Unplug();
                    attached = false;
                }
            } else if (op < 92) {  // another output port
                session.SelectOutput(1 + b % 2);
            } else if (op < 96) {
                session.Panic();
            } else {  // a keyboard's All Notes Off
                engine.HandleMidiInput(platform::PackShortMessage(0xB0 | (b % 4), 123, 0));
            }
        }
        // Every button up.
        reattach();
        for (int b = 0; b < kPolledButtons; ++b) {
            if (held[b]) {
                stick.SetButton(b, false);
                held[b] = false;
            }
        }
        poll();
        synth.Play(midi.Events());
        midi.ClearEvents();
        ASSERT_TRUE(engine.Ledger().AllSilent()) << "after sequence " << sequence;
        ASSERT_TRUE(synth.Down().empty())
            << "after sequence " << sequence << ": port " << std::get<0>(*synth.Down().begin())
            << " channel " << std::get<1>(*synth.Down().begin()) << " note "
            << std::get<2>(*synth.Down().begin());
    }
    EXPECT_GT(synth.NotesOn(), 10000);
    EXPECT_TRUE(window.messages.empty()) << window.messages.front();
    session.Shutdown();
    fs::remove_all(dir);
}

}  // namespace

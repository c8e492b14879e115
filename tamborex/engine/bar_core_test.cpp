#include "bar_core.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "fake_joystick.h"
#include "fake_midi.h"
#include "recording_bar.h"

namespace {

namespace fs = std::filesystem;

class BarCoreTest : public ::testing::Test {
  protected:
    BarCoreTest() {
        dir = fs::temp_directory_path() /
              ("tamborex-bar-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    ~BarCoreTest() override { fs::remove_all(dir); }

    CBarCore& Start() {
        core = std::make_unique<CBarCore>(midi, stick, bar, BankPath());
        core->Startup();
        return *core;
    }
    std::string BankPath() const { return (dir / "Tamborex.bnk").string(); }
    void WriteBank(const CBankState& state) {
        const auto bytes = FormatBank(state);
        std::ofstream(BankPath(), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }

    fs::path dir;
    platform::FakeMidiService midi;
    platform::FakeJoystickService stick;
    RecordingBar bar;
    std::unique_ptr<CBarCore> core;
};

TEST_F(BarCoreTest, BareMachineGivesTheThreeMessagesInOrderAndDefaults) {
    CBarCore& c = Start();
    EXPECT_EQ(bar.messages, (std::vector<std::string>{"No joystick devices installed.",
                                                      "No MIDI out devices available.",
                                                      "No MIDI in devices available."}));
    EXPECT_EQ(c.bank.state.patchNumber, 0);
    EXPECT_EQ(c.bank.state.patchName, "(no patch)");
    EXPECT_EQ(c.bank.state.presets, (std::array<std::int32_t, 4>{0, 1, 2, 3}));
    EXPECT_EQ(c.bank.state.respondToProgramChange, 1);
    EXPECT_EQ(c.bank.state.midiInDevice, -1);
    EXPECT_EQ(bar.log, (std::vector<std::string>{"on top", "move 12 34", "show", "tray on"}));
}

TEST_F(BarCoreTest, AStoredInputThatIsGoneGivesOneMessage) {
    midi.SetOutputs({"Tamborex"});
    midi.SetInputs({"Tamborex", "Keys"});
    stick.Attach();
    CBankState state;
    state.midiInDevice = 5;
    state.loadMinimized = 1;
    WriteBank(state);
    Start();
    EXPECT_EQ(bar.messages,
              (std::vector<std::string>{"Error opening MIDI In Port: CMIDI Error:Bad device ID"}));
    EXPECT_EQ(bar.log.back(), "timer 20 1000");
}

TEST_F(BarCoreTest, QuitSavesTheBankBeforeAskingAndNoStillKeepsIt) {
    midi.SetOutputs({"Tamborex", "Synth"});
    midi.SetInputs({"Tamborex"});
    stick.Attach();
    CBarCore& c = Start();
    c.bank.Rename("Renamed");
    bar.modified = true;
    bool bankWrittenFirst = false;
    bar.onQuestion = [&] { bankWrittenFirst = fs::exists(BankPath()); };
    c.Shutdown();
    c.Shutdown();  // once only
    EXPECT_EQ(bar.messages, (std::vector<std::string>{"Save changes to current patch?"}));
    EXPECT_TRUE(bankWrittenFirst);
    EXPECT_EQ(std::count(bar.log.begin(), bar.log.end(), "chooser"), 0);
    CBankState read;
    std::vector<std::string> messages;
    std::ifstream in(BankPath(), std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    ReadBank(bytes, read, messages);
    EXPECT_EQ(read.patchNames[0], "Renamed");
    EXPECT_EQ(read.barPos, (std::array<std::int32_t, 2>{12, 34}));
    EXPECT_EQ(c.engine.patches[0].sysEx, nullptr);
    EXPECT_EQ(c.joystick.initialised, 0);

    bar.messages.clear();
    bar.modified = true;
    bar.answer = true;
    CBarCore again(midi, stick, bar, BankPath());
    again.Startup();
    again.Shutdown();
    EXPECT_EQ(std::count(bar.log.begin(), bar.log.end(), "chooser"), 1);  // Yes: Save command
}

TEST_F(BarCoreTest, QuitTurnsOffWhatIsStillSounding) {
    midi.SetOutputs({"Tamborex", "Synth"});
    stick.Attach();
    CBarCore& c = Start();
    ASSERT_TRUE(c.midiOut.Open(1));
    c.engine.patches[0].active = 1;
    c.engine.patches[0].buttons[0].mode = MODE_NOTE;
    c.engine.patches[0].buttons[0].data1 = 64;
    c.engine.patches[0].buttons[0].data2 = 90;
    c.engine.ProcessButtonDown(0, 0);
    midi.ClearEvents();
    c.Shutdown();
    EXPECT_EQ(midi.SentBytes(), (std::vector<std::vector<std::uint8_t>>{{0x80, 64, 0}}));
}

}  // namespace

#include "tamborex/session/session.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "fake_joystick.h"
#include "fake_midi.h"
#include "tamborex/testing/test_window.h"

namespace {

namespace fs = std::filesystem;

class StartupTest : public ::testing::Test {
  protected:
    StartupTest() {
        dir = fs::temp_directory_path() /
              ("tamborex-bar-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    ~StartupTest() override { fs::remove_all(dir); }

    CSession& Start() {
        core = std::make_unique<CSession>(midi, stick, bar, BankPath());
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
    CTestWindow bar;
    std::unique_ptr<CSession> core;
};

TEST_F(StartupTest, BareMachineGivesTheThreeMessagesInOrderAndDefaults) {
    CSession& c = Start();
    EXPECT_EQ(bar.messages, (std::vector<std::string>{"No joystick devices installed.",
                                                      "No MIDI out devices available.",
                                                      "No MIDI in devices available."}));
    EXPECT_EQ(c.bank.patchNumber, 0);
    EXPECT_EQ(c.bank.patchName, "(no patch)");
    EXPECT_EQ(c.bank.presets, (std::array<std::int32_t, 4>{0, 1, 2, 3}));
    EXPECT_EQ(c.bank.respondToProgramChange, 1);
    EXPECT_EQ(c.bank.midiInDevice, -1);
    EXPECT_EQ(bar.log, (std::vector<std::string>{"on top", "move 12 34", "show", "tray on"}));
}

TEST_F(StartupTest, AStoredInputThatIsGoneGivesOneMessage) {
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

TEST_F(StartupTest, QuitSavesTheBankBeforeAskingAndNoStillKeepsIt) {
    midi.SetOutputs({"Tamborex", "Synth"});
    midi.SetInputs({"Tamborex"});
    stick.Attach();
    CSession& c = Start();
    c.Rename("Renamed");
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
    EXPECT_FALSE(c.engine.patches[0].sysEx.has_value());
    EXPECT_EQ(c.joystick.initialised, 0);

    bar.messages.clear();
    bar.modified = true;
    bar.answer = true;
    CSession again(midi, stick, bar, BankPath());
    again.Startup();
    again.Shutdown();
    EXPECT_EQ(std::count(bar.log.begin(), bar.log.end(), "chooser"), 1);  // Yes: Save command
}

TEST_F(StartupTest, QuitTurnsOffWhatIsStillSounding) {
    midi.SetOutputs({"Tamborex", "Synth"});
    stick.Attach();
    CSession& c = Start();
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

// "Load minimized": the bar goes to the tray once, a second after the start, not every second.
TEST_F(StartupTest, LoadMinimisedHidesTheBarOnce) {
    CBankState state;
    state.loadMinimized = 1;
    WriteBank(state);
    CSession& c = Start();
    bar.onTimer = [&c](int id) { c.OnTimer(id); };
    bar.Advance(5000);
    EXPECT_EQ(bar.hides, 1);
}

// The dialogs' commands: a new poll period re-arms polling at once on the one period the engine
// computes, and a port that will not open keeps the patch's device.
TEST_F(StartupTest, PollIntervalAndOutputCommands) {
    midi.SetOutputs({"Tamborex", "Synth"});
    stick.Attach();
    CSession& c = Start();
    c.SetPollInterval(4);
    EXPECT_EQ(c.engine.patches[0].pollIntervalCode, 4);
    EXPECT_EQ(bar.TimerPeriod(TIMER_POLL), 100u);
    c.SetActive(false);
    EXPECT_FALSE(bar.TimerRunning(TIMER_POLL));
    c.SetActive(true);
    c.SetPollInterval(0);
    EXPECT_TRUE(bar.TimerRunning(TIMER_POLL));
    EXPECT_EQ(bar.TimerPeriod(TIMER_POLL), 20u);

    ASSERT_TRUE(c.SelectOutput(1));
    EXPECT_EQ(c.engine.patches[0].outputDevice, 1);
    EXPECT_FALSE(c.SelectOutput(7));
    EXPECT_EQ(c.engine.patches[0].outputDevice, 1);
}

}  // namespace

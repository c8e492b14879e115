#include "mapper.h"

#include <gtest/gtest.h>

#include <thread>

#include "alloc_counter.h"
#include "fake_joystick.h"
#include "fake_midi.h"
#include "fake_timer.h"

namespace corvane {
namespace {

using Bytes = std::vector<std::uint8_t>;
using platform::kAxisX;
using platform::kAxisY;
using platform::kAxisZ;

// Raw SDL values for positions 0..65535.
std::int16_t Raw(std::uint32_t position) {
    return static_cast<std::int16_t>(position - 32768);
}

class MapperTest : public ::testing::Test {
  protected:
    MapperTest() {
        midi.SetOutputs({"Corvane", "Synth"});
        midi.SetInputs({"Corvane", "Keys"});
        joystick.Attach();
        for (int axis : {kAxisX, kAxisY, kAxisZ}) {
            joystick.SetAxis(axis, Raw(0));
        }
    }

    Mapper& Started(Settings settings = {1, 1, 1, 0, 1}) {
        mapper = std::make_unique<Mapper>(midi, joystick, timer, settings);
        mapper->Start();
        return *mapper;
    }

    // What one tick sends.
    std::vector<Bytes> Tick() {
        midi.ClearEvents();
        timer.Fire();
        return midi.SentBytes();
    }

    platform::FakeMidiService midi;
    platform::FakeJoystickService joystick;
    platform::FakeTimer timer;
    std::unique_ptr<Mapper> mapper;
};

TEST_F(MapperTest, StartClaimsTheTimerStartsTheRateAndOpensThePorts) {
    Mapper& m = Started({true, 1, 1, 0, 2});
    EXPECT_EQ(timer.ResolutionClaims(), 1);
    EXPECT_EQ(timer.Starts(), (std::vector<unsigned>{10}));
    EXPECT_EQ(midi.DeviceOf(1), 1);
    EXPECT_NE(midi.InputOnDevice(1), platform::kNoHandle);
    m.SetSampleRate(0);
    m.SetSampleRate(3);  // stored, no timer
    EXPECT_EQ(timer.Starts(), (std::vector<unsigned>{10, 50}));
    EXPECT_FALSE(timer.Running());
    EXPECT_EQ(m.CurrentSettings().sampleRate, 3);
    m.Shutdown();
    EXPECT_EQ(timer.ResolutionClaims(), 0);
}

TEST_F(MapperTest, FirstTickSendsEveryMovedAxisAndEveryHeldButton) {
    Mapper& m = Started();
    m.Controls()[kXAxis] = ControlAssignment(1, 0, 50, 100);
    m.Controls()[kYAxis] = ControlAssignment(2, 0, 50, 100);
    m.Controls()[kZAxis] = ControlAssignment(3, 0, 50, 100);
    m.Controls()[kButton2] = ControlAssignment(64, 0, 50, 100);
    joystick.SetAxis(kAxisX, Raw(65280));
    joystick.SetAxis(kAxisY, Raw(0));  // unchanged from the zero sample: not sent
    joystick.SetButton(1, true);
    EXPECT_EQ(Tick(), (std::vector<Bytes>{{0xB0, 64, 127}, {0xB0, 1, 127}}));
    EXPECT_EQ(Tick(), (std::vector<Bytes>{}));  // nothing moved
    joystick.SetButton(1, false);
    joystick.SetAxis(kAxisY, Raw(65535));  // fully back: below min, limited
    EXPECT_EQ(Tick(), (std::vector<Bytes>{{0xB0, 64, 0}, {0xB0, 2, 0}}));
}

TEST_F(MapperTest, UnassignedControlsSendNothingButTheirPositionIsRemembered) {
    Mapper& m = Started();
    joystick.SetAxis(kAxisX, Raw(40000));
    EXPECT_EQ(Tick(), (std::vector<Bytes>{}));
    m.Controls()[kXAxis] = ControlAssignment(7, 0, 50, 100);
    EXPECT_EQ(Tick(), (std::vector<Bytes>{}));  // no movement since
    joystick.SetAxis(kAxisX, Raw(40001));
    EXPECT_EQ(Tick().size(), 1u);
}

TEST_F(MapperTest, ChangesAreJudgedOnRawPositionsNotOnSentValues) {
    Mapper& m = Started();
    m.Controls()[kZAxis] = ControlAssignment(7, 0, 50, 100);
    joystick.SetAxis(kAxisZ, Raw(65000));
    EXPECT_EQ(Tick(), (std::vector<Bytes>{{0xB0, 7, 127}}));
    joystick.SetAxis(kAxisZ, Raw(65001));  // same value, but the stick moved
    EXPECT_EQ(Tick(), (std::vector<Bytes>{{0xB0, 7, 127}}));
}

TEST_F(MapperTest, ButtonOverridingAnAxisTakesItsMovesAndHandsItBackOnRelease) {
    Mapper& m = Started();
    m.Controls()[kYAxis] = ControlAssignment(1, 0, 50, 100);
    m.Controls()[kButton1] = ControlAssignment(11, 0, 50, 100, 2);
    joystick.SetAxis(kAxisY, Raw(32768));
    Tick();
    joystick.SetButton(0, true);
    // Press: the button's assignment once with Y's input; Y's own stays silent.
    EXPECT_EQ(Tick(), (std::vector<Bytes>{{0xB0, 11, 63}}));
    joystick.SetAxis(kAxisY, Raw(0));  // forward = full
    EXPECT_EQ(Tick(), (std::vector<Bytes>{{0xB0, 11, 127}}));
    joystick.SetButton(0, false);
    EXPECT_EQ(Tick(), (std::vector<Bytes>{{0xB0, 11, 127}, {0xB0, 1, 127}}));
    joystick.SetAxis(kAxisY, Raw(32768));
    EXPECT_EQ(Tick(), (std::vector<Bytes>{{0xB0, 1, 63}}));
}

TEST_F(MapperTest, TwoButtonsOverridingOneAxisBothSendInButtonOrder) {
    Mapper& m = Started();
    m.Controls()[kXAxis] = ControlAssignment(1, 0, 50, 100);
    m.Controls()[kButton2] = ControlAssignment(20, 0, 50, 100, 1);
    m.Controls()[kButton4] = ControlAssignment(21, 0, 50, 100, 1);
    joystick.SetButton(1, true);
    joystick.SetButton(3, true);
    Tick();
    joystick.SetAxis(kAxisX, Raw(65280));
    EXPECT_EQ(Tick(), (std::vector<Bytes>{{0xB0, 20, 127}, {0xB0, 21, 127}}));
    joystick.SetButton(1, false);
    joystick.SetAxis(kAxisX, Raw(0));
    // Button 2 released: it sends once and the axis gets its own value back, though button 4
    // still holds it.
    EXPECT_EQ(Tick(), (std::vector<Bytes>{{0xB0, 20, 0}, {0xB0, 21, 0}, {0xB0, 1, 0}}));
}

TEST_F(MapperTest, ButtonWithoutOverrideSendsMaxOnPressAndMinOnRelease) {
    Mapper& m = Started({true, 1, 1, 9, 1});
    m.Controls()[kButton3] = ControlAssignment(kTypePitchBend, 10, 99, 90);
    joystick.SetButton(2, true);
    EXPECT_EQ(Tick(), (std::vector<Bytes>{{0xE9, 0x19, 0x73}}));  // max 90 % = 14745
    joystick.SetButton(2, false);
    EXPECT_EQ(Tick(), (std::vector<Bytes>{{0xE9, 0x66, 0x0C}}));  // min 10 % = 1638
}

TEST_F(MapperTest, NoJoystickSendsNothingAndKeepsTheLastPosition) {
    Mapper& m = Started();
    m.Controls()[kXAxis] = ControlAssignment(7, 0, 50, 100);
    joystick.SetAxis(kAxisX, Raw(65280));
    EXPECT_EQ(Tick().size(), 1u);
    joystick.Unplug();
    EXPECT_EQ(Tick(), (std::vector<Bytes>{}));
    joystick.Attach();
    EXPECT_EQ(Tick(), (std::vector<Bytes>{}));  // back where it was
    joystick.SetAxis(kAxisX, Raw(0));
    EXPECT_EQ(Tick(), (std::vector<Bytes>{{0xB0, 7, 0}}));
}

TEST_F(MapperTest, TicksBeforeThePortsOpenAreDropped) {
    Mapper m(midi, joystick, timer, {});
    m.Controls()[kXAxis] = ControlAssignment(7, 0, 50, 100);
    joystick.SetAxis(kAxisX, Raw(65280));
    m.OnTick();
    EXPECT_TRUE(midi.Events().empty());
}

TEST_F(MapperTest, ApplyingOptionsRestartsTheTimerAndReopensThePorts) {
    Mapper& m = Started({true, 1, 1, 0, 1});
    midi.ClearEvents();
    const Settings same = m.CurrentSettings();
    m.ApplySettings(same);  // Cancel: unchanged, still restarted and reopened
    EXPECT_EQ(timer.Starts(), (std::vector<unsigned>{30, 30}));
    m.ApplySettings({false, 0, kMidiMapper, 4, 2});
    EXPECT_EQ(timer.Starts(), (std::vector<unsigned>{30, 30, 10}));
    using Call = platform::FakeMidiService::Call;
    std::vector<Call> calls;
    for (const auto& e : midi.Events()) {
        calls.push_back(e.call);
    }
    EXPECT_EQ(calls,
              (std::vector<Call>{Call::Disconnect, Call::StopInput, Call::CloseInput,
                                 Call::CloseOutput, Call::OpenOutput, Call::OpenInput,
                                 Call::StartInput, Call::Connect, Call::Disconnect, Call::StopInput,
                                 Call::CloseInput, Call::CloseOutput, Call::OpenOutput}));
    m.ResetControllers();
    m.Controls()[kXAxis] = ControlAssignment(7, 0, 50, 100);
    joystick.SetAxis(kAxisX, Raw(65280));
    midi.ClearEvents();
    timer.Fire();
    EXPECT_EQ(midi.SentBytes(), (std::vector<Bytes>{{0xB4, 7, 127}}));
}

TEST_F(MapperTest, PortsAreFoundByNameAndAMissingOneIsNeverReplaced) {
    // The synth was device 1 when it was chosen; another client now sits there.
    midi.SetOutputs({"Corvane", "Other", "Synth"});
    midi.SetInputs({"Corvane", "Pads", "Keys"});
    mapper = std::make_unique<Mapper>(midi, joystick, timer, Settings{true, 1, 1, 0, 1},
                                      ExtraSettings{"Keys", "Synth", "jack"});
    mapper->Start();
    EXPECT_EQ(midi.DeviceOf(1), 2);
    EXPECT_NE(midi.InputOnDevice(2), platform::kNoHandle);
    EXPECT_EQ(mapper->CurrentSettings().outputDevice, 2);
    EXPECT_EQ(mapper->CurrentSettings().inputDevice, 2);
    EXPECT_TRUE(mapper->PortProblem().empty());
    mapper.reset();

    // Gone: nothing opens at its old index, and one sentence names it.
    midi.SetOutputs({"Corvane", "Other"});
    mapper = std::make_unique<Mapper>(midi, joystick, timer, Settings{true, 1, 1, 0, 1},
                                      ExtraSettings{"Keys", "Synth", "jack"});
    mapper->Start();
    EXPECT_FALSE(mapper->OutputOpen());
    EXPECT_EQ(midi.OpenOutputCount(), 0u);
    EXPECT_NE(mapper->PortProblem().find("\"Synth\" is missing"), std::string::npos);
    // Options closed without a change keep it closed and remembered ...
    mapper->ApplySettings(mapper->CurrentSettings());
    EXPECT_FALSE(mapper->OutputOpen());
    EXPECT_EQ(mapper->CurrentExtraSettings().outputName, "Synth");
    EXPECT_EQ(mapper->CurrentSettings().outputDevice, 1);
    // ... and choosing a port remembers that one.
    Settings chosen = mapper->CurrentSettings();
    chosen.outputDevice = 0;
    mapper->ApplySettings(chosen);
    EXPECT_TRUE(mapper->OutputOpen());
    EXPECT_EQ(mapper->CurrentExtraSettings().outputName, "Corvane");
    EXPECT_EQ(mapper->CurrentExtraSettings().midiSystem, "jack");
}

TEST_F(MapperTest, APulledStickReleasesItsButtonsAtOnceAndKeepsItsAxes) {
    Mapper& m = Started();
    m.Controls()[kXAxis] = ControlAssignment(1, 0, 50, 100);
    m.Controls()[kButton1] = ControlAssignment(64, 0, 50, 100);
    m.Controls()[kButton3] = ControlAssignment(65, 0, 50, 100);
    joystick.SetAxis(kAxisX, Raw(65535));
    joystick.SetButton(0, true);
    joystick.SetButton(2, true);
    EXPECT_EQ(Tick(), (std::vector<Bytes>{{0xB0, 64, 127}, {0xB0, 65, 127}, {0xB0, 1, 127}}));
    const int soon = timer.SoonRequests();
    joystick.Unplug();
    EXPECT_EQ(timer.SoonRequests(), soon + 1);  // sampled at once, whatever the mode
    EXPECT_EQ(Tick(), (std::vector<Bytes>{{0xB0, 64, 0}, {0xB0, 65, 0}}));
    EXPECT_EQ(Tick(), (std::vector<Bytes>{}));  // said once; the axis is left where it was
    // Plugged back in at rest: the axis comes back down, nothing else is sent twice.
    joystick.SetAxis(kAxisX, Raw(0));
    joystick.SetButton(0, false);
    joystick.SetButton(2, false);
    joystick.Attach();
    EXPECT_EQ(Tick(), (std::vector<Bytes>{{0xB0, 1, 0}}));
}

TEST_F(MapperTest, TheControllerPlayedIsRememberedAndChosenAgain) {
    joystick.Unplug();
    platform::JoystickCaps pad;
    pad.name = "Pad";
    pad.guid = "030000005e0400008e02000010010000";
    pad.numAxes = 6;
    pad.numButtons = 10;
    joystick.Attach(pad);
    Started();
    mapper->SetGamepadLayout(true);
    mapper->Shutdown();
    const ExtraSettings& extra = mapper->CurrentExtraSettings();
    EXPECT_EQ(extra.joystickName, "Pad");
    EXPECT_EQ(extra.joystickGuid, pad.guid);
    EXPECT_TRUE(extra.gamepadLayout);

    // Started with nothing attached, the pad plugged in later plays without a restart.
    joystick.Unplug();
    mapper = std::make_unique<Mapper>(midi, joystick, timer, Settings{1, 1, 1, 0, 1}, extra);
    mapper->Start();
    mapper->Controls()[kButton1] = ControlAssignment(64, 0, 50, 100);
    EXPECT_EQ(Tick(), (std::vector<Bytes>{}));
    joystick.Attach(pad);
    joystick.SetButton(0, true);
    EXPECT_EQ(Tick(), (std::vector<Bytes>{{0xB0, 64, 127}}));
}

TEST_F(MapperTest, LowLatencyAsksTheTimerForATickOnEachChange) {
    mapper = std::make_unique<Mapper>(midi, joystick, timer, Settings{true, 1, 1, 0, 0},
                                      ExtraSettings{"", "", "auto", false});
    mapper->Start();
    joystick.SetAxis(kAxisX, Raw(40000));
    EXPECT_EQ(timer.SoonRequests(), 0);  // off: the sample rate alone
    mapper->SetLowLatency(true);
    joystick.SetAxis(kAxisX, Raw(50000));
    joystick.SetButton(0, true);
    EXPECT_EQ(timer.SoonRequests(), 2);
    EXPECT_TRUE(mapper->CurrentExtraSettings().lowLatency);
    mapper.reset();  // the listener goes with the mapper
    joystick.SetAxis(kAxisX, Raw(0));
    EXPECT_EQ(timer.SoonRequests(), 2);
}

TEST_F(MapperTest, TickAllocatesNothing) {
    Mapper& m = Started();
    for (int c = 0; c < kControlCount; ++c) {
        m.Controls()[c] = ControlAssignment(c + 1, 0, 50, 100, c == kButton4 ? 1 : 0);
    }
    midi.ReserveLog(10000);
    testsupport::AllocationCounter counter;
    for (int i = 0; i < 200; ++i) {
        const bool odd = i % 2 != 0;
        for (int axis : {kAxisX, kAxisY, kAxisZ}) {
            joystick.SetAxis(axis, Raw(odd ? 60000 : 100));
        }
        for (int b = 0; b < 4; ++b) {
            joystick.SetButton(b, odd);
        }
        m.OnTick();
    }
    EXPECT_EQ(counter.Count(), 0u);
    EXPECT_GT(midi.SentBytes().size(), 1000u);
}

// The tick on the real timer thread while the UI thread edits, reopens and resets: run under the
// thread sanitizer this catches any field shared without an atomic or the ports' lock.
TEST(MapperThreads, TickOnTheTimerThreadWhileTheUiEdits) {
    platform::FakeMidiService midi;
    midi.SetOutputs({"Corvane", "Synth"});
    midi.ReserveLog(100000);
    platform::FakeJoystickService joystick;
    joystick.Attach();
    auto timer = platform::CreatePeriodicTimer();
    Mapper m(midi, joystick, *timer, {true, 0, 1, 0, 2});
    m.Start();
    std::atomic<bool> stop{false};
    std::thread stick([&] {
        for (int i = 0; !stop; ++i) {
            joystick.SetAxis(kAxisX, Raw(static_cast<std::uint32_t>(i * 997 % 65536)));
            joystick.SetButton(0, i % 3 == 0);
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });
    for (int i = 0; i < 100; ++i) {
        m.Controls()[kXAxis] = ControlAssignment(1 + i % 90, 0, 50, 100);
        m.Controls()[kButton1] = ControlAssignment(64, 0, 50, 100, i % 2);
        if (i % 25 == 0) {
            m.ApplySettings({true, 0, 1, i % 16, 2});
        }
        m.ResetControllers();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    stop = true;
    stick.join();
    m.Shutdown();
    for (const auto& bytes : midi.SentBytes()) {
        ASSERT_GE(bytes[0], 0x80);
        for (std::size_t i = 1; i < bytes.size(); ++i) {
            ASSERT_LT(bytes[i], 0x80);
        }
    }
}

}  // namespace
}  // namespace corvane

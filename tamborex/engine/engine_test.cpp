#include "tamborex/engine/engine.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>

#include "alloc_counter.h"
#include "fake_joystick.h"
#include "fake_midi.h"
#include "tamborex/model/controller_names.h"
#include "tamborex/testing/test_window.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Call = platform::FakeMidiService::Call;

class EngineTest : public ::testing::Test {
  protected:
    EngineTest() {
        window.runPostedAtOnce = false;
        window.recordCalls = false;  // the allocation tests count the engine's allocations only
        midi.SetOutputs({"Tamborex", "Synth", "Other synth"});
        out.Open(1);
        stick.Attach();
        joystick.Init();
    }

    ButtonRecord& Button(int b, int slot = 0) { return engine.patches[slot].buttons[b]; }
    std::vector<Bytes> Press(int b, int slot = 0) {
        midi.ClearEvents();
        engine.ProcessButtonDown(b, slot);
        return midi.SentBytes();
    }
    std::vector<Bytes> Release(int b, int slot = 0) {
        midi.ClearEvents();
        engine.ProcessButtonUp(b, slot);
        return midi.SentBytes();
    }
    std::vector<Bytes> Clock() {
        midi.ClearEvents();
        engine.AdvanceArpeggiators();
        return midi.SentBytes();
    }

    AxisRecord& Axis(int a) { return engine.patches[0].axes[a]; }
    std::vector<Bytes> Translate(int axis, std::int32_t value) {
        midi.ClearEvents();
        engine.TranslateAxis(0, axis, value);
        return midi.SentBytes();
    }

    platform::FakeMidiService midi;
    CWinMIDIOut out{midi};
    CTestWindow window;
    platform::FakeJoystickService stick;
    CJoystick joystick{stick, [this](std::string_view text) { window.Message(text); }};
    CTestBankLink bank;
    CEngine engine{out, joystick, window, window, bank};
};

TEST_F(EngineTest, NewPatchIsSilentAndHasItsDefaults) {
    const CPatch& p = engine.patches[0];
    EXPECT_EQ(p.active, 0);
    EXPECT_EQ(p.outputDevice, -1);
    EXPECT_EQ(p.pollIntervalCode, 1);
    EXPECT_EQ(engine.patches[1].joystickNumber, 1);
    for (const AxisRecord& a : p.axes) {
        EXPECT_EQ(a.controller, kSelectNone);
        EXPECT_EQ(a.minimumMovement, 2);
    }
    for (const ButtonRecord& b : p.buttons) {
        EXPECT_EQ(b.mode, MODE_NONE);
        EXPECT_EQ(b.notes[7], 36);
    }
    for (int i = 0; i < kSysExCount; ++i) {
        EXPECT_EQ(p.sysEx->lengths[i], 2);
        EXPECT_EQ(p.sysEx->buffers[i][0], 0xF0);
        EXPECT_EQ(p.sysEx->buffers[i][1], 0xF7);
    }
    EXPECT_EQ(GetButtonModeName(7), std::string("Note On/Off (note, vel)"));
    EXPECT_EQ(GetButtonModeName(21), std::string("Tamborex Prog change"));
    EXPECT_EQ(GetButtonModeName(22), std::string("Unknown mode"));
    EXPECT_EQ(GetButtonModeName(-1), std::string("Unknown mode"));
    engine.patches[1].ReleaseSysEx();
    engine.patches[1].ReleaseSysEx();
    EXPECT_FALSE(engine.patches[1].sysEx.has_value());
    engine.TranslateAxis(0, AXIS_X, 100);
    EXPECT_TRUE(midi.SentBytes().empty());
}

TEST_F(EngineTest, WorkedExampleMinimumMovementAndPolarity) {
    Axis(AXIS_Y) = AxisRecord{};
    Axis(AXIS_Y).channel = 2;
    Axis(AXIS_Y).controller = 9;  // control change 7
    Axis(AXIS_Y).lastSent = 64;
    EXPECT_EQ(Translate(AXIS_Y, 65), (std::vector<Bytes>{}));
    EXPECT_EQ(Axis(AXIS_Y).lastSent, 64);
    EXPECT_EQ(Axis(AXIS_Y).value, 65);
    EXPECT_EQ(Translate(AXIS_Y, 66), (std::vector<Bytes>{{0xB2, 0x07, 0x42}}));

    Axis(AXIS_Z).controller = 9;
    Axis(AXIS_Z).reversePolarity = 1;
    Axis(AXIS_Z).min = 20;
    Axis(AXIS_Z).max = 100;
    EXPECT_EQ(Translate(AXIS_Z, 20), (std::vector<Bytes>{{0xB0, 0x07, 80}}));
    EXPECT_EQ(Translate(AXIS_Z, 100), (std::vector<Bytes>{{0xB0, 0x07, 0}}));

    Axis(AXIS_X).controller = 9;
    Axis(AXIS_X).minimumMovement = 0;
    EXPECT_EQ(Translate(AXIS_X, 0), (std::vector<Bytes>{{0xB0, 7, 0}}));  // 0 is a change too
    Axis(AXIS_X).minimumMovement = -3;
    EXPECT_EQ(Translate(AXIS_X, 2), (std::vector<Bytes>{}));
    EXPECT_EQ(Translate(AXIS_X, 3), (std::vector<Bytes>{{0xB0, 7, 3}}));
}

TEST_F(EngineTest, SuppressionFreezesTheAxisUntilReleased) {
    Axis(AXIS_X).controller = 9;
    Translate(AXIS_X, 50);
    Axis(AXIS_X).suppressed = 1;
    EXPECT_EQ(Translate(AXIS_X, 90), (std::vector<Bytes>{}));
    EXPECT_EQ(Axis(AXIS_X).value, 50);
    Axis(AXIS_X).suppressed = 0;
    EXPECT_EQ(Translate(AXIS_X, 51), (std::vector<Bytes>{}));  // compared with 50 from before
    EXPECT_EQ(Translate(AXIS_X, 52), (std::vector<Bytes>{{0xB0, 7, 52}}));
}

TEST_F(EngineTest, ControllerSelectionBoundaries) {
    const std::pair<std::int32_t, Bytes> cases[] = {
        {1, {0xE0, 0, 40}},     {2, {0xB0, 0, 40}},     {99, {0xB0, 97, 40}},
        {102, {0xB0, 100, 40}}, {129, {0xB0, 127, 40}},
    };
    for (const auto& [selection, bytes] : cases) {
        Axis(AXIS_RX) = AxisRecord{};
        Axis(AXIS_RX).controller = selection;
        EXPECT_EQ(Translate(AXIS_RX, 40), (std::vector<Bytes>{bytes})) << selection;
    }
    EXPECT_EQ(ControllerName(ControllerOfSelection(9)), "Volume (coarse)");
    for (std::int32_t selection : {kSelectNrpnFine, kSelectNrpnCoarse}) {
        Axis(AXIS_RY) = AxisRecord{};
        Axis(AXIS_RY).controller = selection;
        Axis(AXIS_RY).channel = 15;
        Axis(AXIS_RY).nrpnMsb = 1;
        Axis(AXIS_RY).nrpnLsb = 8;
        EXPECT_EQ(Translate(AXIS_RY, 99),
                  (std::vector<Bytes>{{0xBF, 99, 1}, {0xBF, 98, 8}, {0xBF, 6, 99}}));
    }
}

TEST_F(EngineTest, NrpnStopsAtTheFirstFailedMessageAndTheLightStillFlashes) {
    Axis(AXIS_RZ).controller = kSelectNrpnCoarse;
    midi.FailNext(Call::SendShort, platform::MidiResult::NoDevice);
    EXPECT_EQ(Translate(AXIS_RZ, 10), (std::vector<Bytes>{}));
    EXPECT_EQ(midi.Events().size(), 1u);
    EXPECT_TRUE(engine.ActivityLit());

    midi.FailNext(Call::SendShort, platform::MidiResult::NoDevice, 1, 1);
    EXPECT_EQ(Translate(AXIS_RZ, 30), (std::vector<Bytes>{{0xB0, 99, 0}}));
    EXPECT_EQ(midi.Events().size(), 2u);  // the third was never tried
}

TEST_F(EngineTest, OneMessageFlashesFortyMillisecondsABurstHoldsTheLight) {
    Axis(AXIS_X).controller = 9;
    engine.TranslateAxis(0, AXIS_X, 10);
    window.Advance(200);
    EXPECT_EQ(window.light, (std::vector<std::pair<std::uint64_t, bool>>{{1, true}, {41, false}}));
    EXPECT_FALSE(engine.ActivityLit());

    window.light.clear();
    for (int i = 0; i < 6; ++i) {  // 10 ms apart
        engine.TranslateAxis(0, AXIS_X, i % 2 ? 10 : 60);
        window.Advance(10);
    }
    window.Advance(300);
    ASSERT_EQ(window.light.size(), 2u);
    EXPECT_EQ(window.light[0], std::make_pair(std::uint64_t{201}, true));
    // The last message came at 250: the light goes out 100 ms later.
    EXPECT_EQ(window.light[1], std::make_pair(std::uint64_t{350}, false));
}

TEST_F(EngineTest, TranslationAllocatesNothing) {
    for (int a = 0; a < kAxisCount; ++a) {
        Axis(a).controller = a == AXIS_RY ? kSelectNrpnFine : 9 + a;
    }
    midi.ReserveLog(10000);
    testsupport::AllocationCounter counter;
    for (int i = 0; i < 200; ++i) {
        for (int a = 0; a < kAxisCount; ++a) {
            engine.TranslateAxis(0, a, i % 2 ? 0 : 127);
        }
    }
    EXPECT_EQ(counter.Count(), 0u);
}

TEST_F(EngineTest, EveryModeSendsItsBytesOnPressAndRelease) {
    engine.patches[0].active = 1;
    struct Case {
        std::int32_t mode, data1, data2;
        std::vector<Bytes> press, release;
    };
    const Case cases[] = {
        {MODE_NONE, 0, 0, {}, {}},
        {MODE_NOTE, 60, 100, {{0x93, 60, 100}}, {{0x83, 60, 100}}},
        {MODE_SUSTAIN, 0, 0, {{0xB3, 64, 127}}, {{0xB3, 64, 0}}},
        {MODE_PORTAMENTO, 0, 0, {{0xB3, 65, 127}}, {{0xB3, 65, 0}}},
        {MODE_SOSTENUTO, 0, 0, {{0xB3, 66, 127}}, {{0xB3, 66, 0}}},
        {MODE_SOFT_PEDAL, 0, 0, {{0xB3, 67, 127}}, {{0xB3, 67, 0}}},
        {MODE_PROGRAM_CHANGE, 5, 9, {{0xC3, 5}}, {}},
        {MODE_SONG_START, 0, 0, {{0xFA}}, {}},
        {MODE_SONG_CONTINUE, 0, 0, {{0xFB}}, {}},
        {MODE_SONG_STOP, 0, 0, {{0xFC}}, {}},
        {MODE_SONG_SELECT, 9, 0, {{0xF3, 9}}, {}},
        {MODE_SONG_POSITION, 100, 0, {{0xF2, 0x64, 0x00}}, {}},
        {MODE_SONG_POSITION, 200, 0, {{0xF2, 0x48, 0x01}}, {}},
        {MODE_SYSTEM_RESET, 0, 0, {{0xFF}}, {}},
        {25, 0, 0, {}, {}},
    };
    for (const Case& c : cases) {
        Button(4) = ButtonRecord{};
        Button(4).mode = c.mode;
        Button(4).data1 = c.data1;
        Button(4).data2 = c.data2;
        Button(4).channel = 3;
        EXPECT_EQ(Press(4), c.press) << GetButtonModeName(c.mode);
        EXPECT_EQ(Button(4).pressed, 1);
        EXPECT_EQ(Release(4), c.release) << GetButtonModeName(c.mode);
        EXPECT_EQ(Button(4).pressed, 0);
    }
    EXPECT_TRUE(window.messages.empty());
}

TEST_F(EngineTest, SuppressButtonsHoldTheirAxisIncludingTheRotations) {
    engine.patches[0].active = 1;
    Button(0).mode = MODE_X_SUPPRESS;
    Button(1).mode = MODE_RZ_SUPPRESS;
    Press(0);
    Press(1);
    EXPECT_EQ(Axis(AXIS_X).suppressed, 1);
    EXPECT_EQ(Axis(AXIS_RZ).suppressed, 1);
    EXPECT_EQ(Axis(AXIS_Y).suppressed, 0);
    Release(0);
    Release(1);
    EXPECT_EQ(Axis(AXIS_X).suppressed, 0);
    EXPECT_EQ(Axis(AXIS_RZ).suppressed, 0);
}

TEST_F(EngineTest, FailedPressShowsOneMessageReleaseAndSongPositionStaySilent) {
    engine.patches[0].active = 1;
    Button(0).mode = MODE_NOTE;
    midi.FailNext(Call::SendShort, platform::MidiResult::NoDevice, 2);
    Press(0);
    Release(0);
    EXPECT_TRUE(window.messages.empty());  // not inside the tick: it would hold back the next
    window.RunPosted();
    EXPECT_EQ(window.messages,
              (std::vector<std::string>{"ProcessButtonDown: CMIDI Error:No MIDI port found."}));
    Button(1).mode = MODE_SONG_POSITION;
    midi.FailNext(Call::SendShort, platform::MidiResult::NoDevice);
    Press(1);
    window.RunPosted();
    EXPECT_EQ(window.messages.size(), 1u);
    EXPECT_TRUE(engine.ActivityLit());
}

// A SysEx message without its F0 fails on every press. Until its box has been shown, more
// failures add no box, and every other button still plays.
TEST_F(EngineTest, AFailingSendNeverHoldsBackOtherOutput) {
    engine.patches[0].active = 1;
    engine.patches[0].sysEx.emplace();
    engine.patches[0].sysEx->buffers[0][0] = 0x41;
    engine.patches[0].sysEx->buffers[0][1] = 0x42;
    engine.patches[0].sysEx->lengths[0] = 2;
    Button(0).mode = MODE_SYSEX;
    Button(1).mode = MODE_NOTE;
    Button(1).data1 = 60;
    Button(1).data2 = 100;
    for (int i = 0; i < 3; ++i) {
        Press(0);
        Release(0);
        EXPECT_EQ(Press(1), (std::vector<Bytes>{{0x90, 60, 100}}));
        Release(1);
    }
    EXPECT_EQ(window.RunPosted(), 1);
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0].rfind("ProcessButtonDown: ", 0), 0u);
    Press(0);
    EXPECT_EQ(window.RunPosted(), 1);  // a later mistake is shown again
}

// Values from a damaged file or an old dialog never become other messages or overflow.
TEST_F(EngineTest, OutOfRangeValuesAreSentAsTheNearestMidiValue) {
    engine.patches[0].active = 1;
    Button(0).mode = MODE_ARPEGGIATOR;
    Button(0).velocities[0] = 300;
    Button(0).notes[0] = -5;
    Button(0).currentStep = 0;
    Button(0).channel = 16;
    EXPECT_EQ(Press(0), (std::vector<Bytes>{{0x9F, 0, 127}}));
    Release(0);
    Axis(AXIS_X).controller = 3;  // controller 1
    Axis(AXIS_X).channel = 16;
    EXPECT_EQ(Translate(AXIS_X, 200), (std::vector<Bytes>{{0xBF, 1, 127}}));
    Axis(AXIS_X).minimumMovement = INT32_MIN;  // no move is that large
    EXPECT_TRUE(Translate(AXIS_X, -100000).empty());
    Axis(AXIS_X).lastSent = INT32_MIN;
    EXPECT_EQ(Translate(AXIS_X, INT32_MAX).size(), 1u);  // the one move that large
    Axis(AXIS_X) = AxisRecord{};
    Axis(AXIS_X).controller = 3;
    Axis(AXIS_X).channel = -3;
    Axis(AXIS_X).reversePolarity = 1;
    Axis(AXIS_X).max = INT32_MAX;
    EXPECT_EQ(Translate(AXIS_X, INT32_MIN), (std::vector<Bytes>{{0xB0, 1, 127}}));
    EXPECT_EQ(Axis(AXIS_X).value, INT32_MAX);

    engine.patches[0].pollIntervalCode = INT32_MAX;
    EXPECT_EQ(engine.PollPeriodMs(), 20000u);
    engine.patches[0].pollIntervalCode = INT32_MIN;
    EXPECT_EQ(engine.PollPeriodMs(), 20u);
}

// Pulling the controller out while a note is held: its note off goes at the next tick, and a
// button still held when it comes back plays again.
TEST_F(EngineTest, UnpluggingTheControllerReleasesWhatItsButtonsHeld) {
    engine.patches[0].active = 1;
    Button(0).mode = MODE_NOTE;
    Button(0).data1 = 64;
    Button(0).data2 = 90;
    Button(1).mode = MODE_SUSTAIN;
    ASSERT_TRUE(joystick.Poll());
    stick.SetButton(0, true);
    stick.SetButton(1, true);
    engine.PollJoystick();
    midi.ClearEvents();
    stick.Unplug();
    engine.PollJoystick();
    EXPECT_EQ(midi.SentBytes(), (std::vector<Bytes>{{0x80, 64, 90}, {0xB0, 64, 0}}));
    midi.ClearEvents();
    engine.PollJoystick();
    EXPECT_TRUE(midi.SentBytes().empty());
    stick.SetButton(1, false);
    stick.Attach();
    engine.PollJoystick();
    engine.PollJoystick();
    EXPECT_EQ(midi.SentBytes(), (std::vector<Bytes>{{0x90, 64, 90}}));
}

TEST_F(EngineTest, InactiveSlotIgnoresButtonsAndKeepsAHeldFlag) {
    Button(0).mode = MODE_NOTE;
    EXPECT_EQ(Press(0), (std::vector<Bytes>{}));
    EXPECT_EQ(Button(0).pressed, 0);
    engine.patches[0].active = 1;
    Press(0);
    engine.patches[0].active = 0;
    EXPECT_EQ(Release(0), (std::vector<Bytes>{}));
    EXPECT_EQ(Button(0).pressed, 1);
}

TEST_F(EngineTest, SysExButtonPicksItsMessageModuloFour) {
    engine.patches[0].active = 1;
    const Bytes second = {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
    std::copy(second.begin(), second.end(), engine.patches[0].sysEx->buffers[1].begin());
    engine.patches[0].sysEx->lengths[1] = static_cast<std::int32_t>(second.size());
    Button(0).mode = MODE_SYSEX;
    for (std::int32_t data1 : {5, 1, -3}) {
        Button(0).data1 = data1;
        EXPECT_EQ(Press(0), (std::vector<Bytes>{second})) << data1;
    }
    // The untouched F0 F7 is too short for a block and is no short message either.
    Button(0).data1 = 0;
    EXPECT_EQ(Press(0), (std::vector<Bytes>{}));
    window.RunPosted();
    EXPECT_EQ(window.messages.size(), 1u);
    engine.patches[0].sysEx->lengths[2] = 9999;  // a damaged length stays inside the buffer
    Button(0).data1 = 2;
    Press(0);
}

TEST_F(EngineTest, PatchChangeButtonSwitchesWithinTheBankAndReleaseActsOnTheNewRecord) {
    engine.patches[0].active = 1;
    bank.patchNumber = 3;
    Button(0).mode = MODE_PATCH_CHANGE;
    for (std::int32_t n : {3, 128, -1}) {
        Button(0).data1 = n;
        Press(0);
        Release(0);
    }
    EXPECT_TRUE(bank.selected.empty());
    Button(0).data1 = 7;
    bank.onSelect = [this] {
        Button(0) = ButtonRecord{};
        Button(0).mode = MODE_NOTE;
        Button(0).data1 = 61;
        Button(0).data2 = 90;
    };
    EXPECT_EQ(Press(0), (std::vector<Bytes>{}));
    EXPECT_EQ(bank.selected, (std::vector<std::int32_t>{7}));
    EXPECT_EQ(Release(0), (std::vector<Bytes>{{0x80, 61, 90}}));
}

TEST_F(EngineTest, ArpeggiatorStepsByHandAndWraps) {
    engine.patches[0].active = 1;
    Button(2).mode = MODE_ARPEGGIATOR;
    Button(2).stepCount = 3;
    Button(2).currentStep = 0;
    Button(2).notes = {60, 64, 67, 0, 0, 0, 0, 0};
    std::vector<int> sounded;
    for (int i = 0; i < 4; ++i) {
        sounded.push_back(Press(2).at(0)[1]);
        Release(2);
    }
    EXPECT_EQ(sounded, (std::vector<int>{60, 64, 67, 60}));
    Button(2).currentStep = 50;  // from a damaged file: played as the last step, then wraps
    EXPECT_EQ(Press(2).at(0)[1], 0);
    Release(2);
    EXPECT_EQ(Button(2).currentStep, 0);
}

TEST_F(EngineTest, AutomaticArpeggioFollowsTheClockTicks) {
    engine.patches[0].active = 1;
    ButtonRecord& r = Button(2);
    r.mode = MODE_ARPEGGIATOR;
    r.autoArpeggiation = 1;
    r.stepCount = 3;
    r.notes = {60, 64, 67, 0, 0, 0, 0, 0};
    r.channel = 1;
    EXPECT_EQ(Press(2), (std::vector<Bytes>{{0x91, 60, 127}}));
    std::vector<int> changesAt;
    for (int tick = 1; tick <= 19; ++tick) {
        const auto sent = Clock();
        if (!sent.empty()) {
            changesAt.push_back(tick);
        }
    }
    EXPECT_EQ(changesAt, (std::vector<int>{7, 13, 19}));
    EXPECT_EQ(Release(2), (std::vector<Bytes>{{0x81, 60, 127}}));  // tick 19 was back at 60
    EXPECT_EQ(Clock(), (std::vector<Bytes>{}));
    // Every press starts again at step 0.
    EXPECT_EQ(Press(2), (std::vector<Bytes>{{0x91, 60, 127}}));
}

TEST_F(EngineTest, ArpeggioStepCountsOfZeroAndOneAndRecordsOutsideThePolledOnes) {
    for (std::int32_t count : {0, 1}) {
        ButtonRecord& r = Button(0);
        r = ButtonRecord{};
        r.autoArpeggiation = 1;
        r.pressed = 1;
        r.mode = MODE_NOTE;  // stepped whatever the mode
        r.stepCount = count;
        r.currentStep = 0;
        r.notes[0] = 50;
        EXPECT_EQ(Clock(), (std::vector<Bytes>{{0x80, 50, 127}, {0x90, 50, 127}})) << count;
        r.pressed = 0;
    }
    // Slot 1 and buttons beyond the eight polled ones are stepped too.
    ButtonRecord& far = engine.patches[1].buttons[31];
    far.autoArpeggiation = 1;
    far.pressed = 1;
    far.stepCount = 2;
    far.currentStep = 0;
    far.times = {1, 1, 1, 1, 1, 1, 1, 1};
    far.notes = {40, 41, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(Clock(), (std::vector<Bytes>{{0x80, 40, 127}, {0x90, 41, 127}}));
    EXPECT_EQ(Clock(), (std::vector<Bytes>{{0x80, 41, 127}, {0x90, 40, 127}}));
}

TEST_F(EngineTest, PollTimerFollowsActiveAndItsCode) {
    engine.SetPatchActive(0, 1);
    EXPECT_TRUE(engine.PollTimer().Running());
    EXPECT_EQ(engine.PollTimer().PeriodMs(), 40u);
    for (const auto& [code, period] : {std::pair{0, 20u}, {9, 200u}}) {
        engine.patches[0].pollIntervalCode = code;
        window.Advance(200);
        EXPECT_EQ(engine.PollTimer().PeriodMs(), period);
    }
    engine.SetPatchActive(0, 0);
    EXPECT_FALSE(engine.PollTimer().Running());
    EXPECT_EQ(stick.Unacquire(), platform::JoyResult::AlreadyDone);
}

TEST_F(EngineTest, PollSeesEachEdgeOnceButtonsBeforeAxesAndOnlyAssignedAxes) {
    engine.patches[0].pollIntervalCode = 0;
    engine.SetPatchActive(0, 1);
    Button(3).mode = MODE_NOTE;
    Button(3).data1 = 60;
    Button(1).mode = MODE_NOTE;
    Button(1).data1 = 50;
    Axis(AXIS_X).controller = 9;
    window.Advance(20);
    midi.ClearEvents();
    stick.SetButton(3, true);
    stick.SetButton(1, true);
    stick.SetAxis(AXIS_X, 32767);
    stick.SetAxis(AXIS_Y, 32767);  // unassigned: never translated
    window.Advance(20);
    EXPECT_EQ(midi.SentBytes(), (std::vector<Bytes>{{0x90, 50, 0}, {0x90, 60, 0}, {0xB0, 7, 127}}));
    EXPECT_EQ(Axis(AXIS_Y).value, 0);
    midi.ClearEvents();
    window.Advance(100);  // held: no more presses
    stick.SetButton(3, false);
    window.Advance(20);
    EXPECT_EQ(midi.SentBytes(), (std::vector<Bytes>{{0x80, 60, 0}}));
}

TEST_F(EngineTest, LowLatencySendsEachChangeAtOnceInOnePassPerBurst) {
    stick.SetEventListener([this](platform::JoyEvent) { engine.OnJoystickEvent(); });
    engine.patches[0].pollIntervalCode = 49;  // a whole second between ticks
    engine.SetPatchActive(0, 1);
    Button(3).mode = MODE_NOTE;
    Button(3).data1 = 60;
    Axis(AXIS_X).controller = 9;
    midi.ClearEvents();

    // Off: the change waits for the tick.
    stick.SetAxis(AXIS_X, 32767);
    EXPECT_EQ(window.RunPosted(), 0);
    EXPECT_TRUE(midi.SentBytes().empty());
    window.Advance(1000);
    EXPECT_EQ(midi.SentBytes(), (std::vector<Bytes>{{0xB0, 7, 127}}));

    // On: a burst of changes is one pass, run before any tick, with every edge in it.
    engine.SetLowLatency(true);
    midi.ClearEvents();
    stick.SetButton(3, true);
    stick.SetAxis(AXIS_X, -32768);
    stick.SetAxis(AXIS_X, 0);
    EXPECT_EQ(window.RunPosted(), 1);
    EXPECT_EQ(midi.SentBytes(), (std::vector<Bytes>{{0x90, 60, 0}, {0xB0, 7, 64}}));
    midi.ClearEvents();
    stick.SetButton(3, false);
    EXPECT_EQ(window.RunPosted(), 1);
    EXPECT_EQ(midi.SentBytes(), (std::vector<Bytes>{{0x80, 60, 0}}));
    // The tick finds nothing new; an inactive patch takes no events.
    midi.ClearEvents();
    window.Advance(1000);
    EXPECT_TRUE(midi.SentBytes().empty());
    engine.SetPatchActive(0, 0);
    stick.SetButton(3, true);
    window.RunPosted();
    EXPECT_TRUE(midi.SentBytes().empty());
    stick.SetEventListener({});
}

// With every change coming as an event, the tick is only the fallback: it wakes the program no
// more often than kLowLatencyTickMs, and a slower patch poll stays as it is.
TEST_F(EngineTest, LowLatencyTicksNoFasterThanItsFallbackPeriod) {
    engine.patches[0].pollIntervalCode = 0;  // 20 ms
    engine.SetPatchActive(0, 1);
    EXPECT_EQ(engine.PollTimer().PeriodMs(), 20u);
    engine.SetLowLatency(true);
    EXPECT_TRUE(engine.PollTimer().Running());
    EXPECT_EQ(engine.PollTimer().PeriodMs(), CEngine::kLowLatencyTickMs);
    window.Advance(CEngine::kLowLatencyTickMs);  // the tick restarts at the same period
    EXPECT_EQ(engine.PollTimer().PeriodMs(), CEngine::kLowLatencyTickMs);
    engine.SetPollInterval(9);  // 200 ms
    EXPECT_EQ(engine.PollTimer().PeriodMs(), 200u);
    engine.SetPollInterval(0);
    engine.SetLowLatency(false);
    EXPECT_EQ(engine.PollTimer().PeriodMs(), 20u);
    engine.SetPatchActive(0, 0);
    engine.SetLowLatency(true);  // an inactive patch has no tick to start
    EXPECT_FALSE(engine.PollTimer().Running());
}

TEST_F(EngineTest, LowLatencyEdgesKeepPedalsArpeggiosSuppressAndPatchChanges) {
    stick.SetEventListener([this](platform::JoyEvent) { engine.OnJoystickEvent(); });
    engine.SetLowLatency(true);
    engine.patches[0].pollIntervalCode = 49;
    engine.SetPatchActive(0, 1);
    Button(0).mode = MODE_SUSTAIN;
    Button(1).mode = MODE_ARPEGGIATOR;
    Button(1).stepCount = 2;
    Button(1).currentStep = 0;
    Button(1).notes = {60, 64, 0, 0, 0, 0, 0, 0};
    Button(2).mode = MODE_X_SUPPRESS;
    Button(3).mode = MODE_PATCH_CHANGE;
    Button(3).data1 = 7;
    Axis(AXIS_X).controller = 9;
    engine.PollJoystick();  // the stick as it rests
    auto edge = [this](int button, bool down) {
        midi.ClearEvents();
        stick.SetButton(button, down);
        window.RunPosted();
        return midi.SentBytes();
    };
    EXPECT_EQ(edge(0, true), (std::vector<Bytes>{{0xB0, 64, 127}}));
    EXPECT_EQ(edge(0, false), (std::vector<Bytes>{{0xB0, 64, 0}}));
    std::vector<int> sounded;
    for (int i = 0; i < 2; ++i) {
        sounded.push_back(edge(1, true).at(0)[1]);
        EXPECT_EQ(edge(1, false).size(), 1u);
    }
    EXPECT_EQ(sounded, (std::vector<int>{60, 64}));
    edge(2, true);
    midi.ClearEvents();
    stick.SetAxis(AXIS_X, 32767);
    window.RunPosted();
    EXPECT_TRUE(midi.SentBytes().empty());  // held by the suppress button
    edge(2, false);
    edge(3, true);
    EXPECT_EQ(bank.selected, (std::vector<std::int32_t>{7}));
    EXPECT_EQ(window.now, 0u);  // all of it before the first tick
    stick.SetEventListener({});
}

TEST_F(EngineTest, FailingPollShowsTheJoysticksTextOnceAndTheTickGoesOn) {
    engine.SetPatchActive(0, 1);
    joystick.Release();
    window.Advance(400);  // twenty failing ticks, one message
    EXPECT_EQ(window.messages,
              (std::vector<std::string>{"Access to the input device has been lost. It must be "
                                        "reacquired."}));
    EXPECT_TRUE(engine.PollTimer().Running());
}

TEST_F(EngineTest, MidiInputThruFirstThenProgramChangeOrClock) {
    std::size_t sentBeforeSelect = 0;
    bank.onSelect = [&] { sentBeforeSelect = midi.SentBytes().size(); };
    engine.HandleMidiInput(platform::PackShortMessage(0xC0, 5));
    EXPECT_EQ(bank.selected, (std::vector<std::int32_t>{5}));
    EXPECT_EQ(sentBeforeSelect, 1u);
    engine.HandleMidiInput(platform::PackShortMessage(0xC0, 5));  // the same entry loads again
    engine.HandleMidiInput(platform::PackShortMessage(0xC1, 9));  // another channel: thru only
    EXPECT_EQ(bank.selected, (std::vector<std::int32_t>{5, 5}));
    bank.respond = false;
    engine.HandleMidiInput(platform::PackShortMessage(0xC0, 6));
    EXPECT_EQ(bank.selected.size(), 2u);

    ButtonRecord& r = Button(0);
    r.autoArpeggiation = 1;
    r.pressed = 1;
    r.currentStep = 0;
    r.countdown = 1;
    midi.ClearEvents();
    engine.HandleMidiInput(0xFA);
    engine.HandleMidiInput(0xFC);
    EXPECT_EQ(r.countdown, 1);  // start and stop only pass through
    engine.HandleMidiInput(0xF8);
    EXPECT_EQ(r.countdown, 0);
    engine.HandleMidiInput(0xF8);
    EXPECT_EQ(
        midi.SentBytes(),
        (std::vector<Bytes>{{0xFA}, {0xFC}, {0xF8}, {0xF8}, {0x80, 36, 127}, {0x90, 36, 127}}));

    bank.thru = false;
    midi.ClearEvents();
    engine.HandleMidiInput(platform::PackShortMessage(0x90, 60, 100));
    EXPECT_TRUE(midi.SentBytes().empty());
}

TEST_F(EngineTest, InputFromTheMidiThreadIsHandledInOrderOnTheUiThread) {
    constexpr int kMessages = 300;
    std::thread backend([&] {
        for (int i = 0; i < kMessages; ++i) {
            engine.OnMidiInput(platform::PackShortMessage(0xB0, 1, i % 128), 0);
        }
    });
    // One wake-up carries a whole burst, so count what was handled, not the wake-ups.
    while (midi.SentBytes().size() < static_cast<std::size_t>(kMessages)) {
        window.RunPosted();
    }
    backend.join();
    const auto sent = midi.SentBytes();
    ASSERT_EQ(sent.size(), static_cast<std::size_t>(kMessages));
    for (int i = 0; i < kMessages; ++i) {
        EXPECT_EQ(sent[i][2], i % 128);
    }
}

TEST_F(EngineTest, NotesLeftSoundingAreSilencedBeforeThePortChanges) {
    engine.patches[0].active = 1;
    Button(0).mode = MODE_NOTE;
    Button(0).data1 = 60;
    Button(0).data2 = 100;
    Button(1).mode = MODE_SUSTAIN;
    Button(1).channel = 2;
    Press(0);
    Press(1);
    midi.ClearEvents();
    ASSERT_TRUE(engine.ReopenOutput(2));
    const auto events = midi.Events();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].message, platform::PackShortMessage(0x80, 60, 0));
    EXPECT_EQ(events[1].message, platform::PackShortMessage(0xB2, 64, 0));
    EXPECT_EQ(events[2].call, Call::CloseOutput);
    EXPECT_EQ(events[0].handle, events[2].handle);  // on the old port, before it closed
    EXPECT_EQ(events[3].call, Call::OpenOutput);
    // The release then acts as usual on the new port; nothing is left to silence after it.
    Release(0);
    Release(1);
    midi.ClearEvents();
    engine.SilenceOutput();
    EXPECT_TRUE(midi.Events().empty());
}

TEST_F(EngineTest, PollTickAllocatesNothing) {
    engine.SetPatchActive(0, 1);
    for (int b = 0; b < kPolledButtons; ++b) {
        Button(b).mode = b % 2 ? MODE_NOTE : MODE_SUSTAIN;
    }
    for (int a = 0; a < kAxisCount; ++a) {
        Axis(a).controller = a == AXIS_RY ? kSelectNrpnFine : 9 + a;
        Axis(a).minimumMovement = 0;
    }
    midi.ReserveLog(10000);
    testsupport::AllocationCounter counter;
    for (int i = 0; i < 100; ++i) {
        for (int a = 0; a < kAxisCount; ++a) {
            stick.SetAxis(a, static_cast<std::int16_t>(i % 2 ? 30000 : -30000));
        }
        for (int b = 0; b < kPolledButtons; ++b) {
            stick.SetButton(b, i % 2 != 0);
        }
        engine.PollJoystick();
    }
    EXPECT_EQ(counter.Count(), 0u);
    EXPECT_GT(midi.SentBytes().size(), 1000u);
}

}  // namespace

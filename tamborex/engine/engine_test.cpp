#include "engine.h"

#include <gtest/gtest.h>

#include <string>

#include "alloc_counter.h"
#include "controller_names.h"
#include "fake_midi.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Call = platform::FakeMidiService::Call;

// Window timers on a manual clock: each runs every period until killed.
class ManualWindow final : public CWindowServices {
  public:
    std::function<void(int)> onTimer;
    std::vector<std::pair<std::uint64_t, bool>> light;  // when the picture changed, and to what
    std::vector<std::string> messages;
    std::uint64_t now = 0;

    void SetTimer(int id, unsigned periodMs) override {
        timers_[id] = {true, periodMs, now + periodMs};
    }
    void KillTimer(int id) override { timers_[id].running = false; }
    void MessageBox(std::string_view text) override { messages.emplace_back(text); }
    void ShowActivity(bool lit) override { light.emplace_back(now, lit); }

    void Advance(std::uint64_t ms) {
        const std::uint64_t end = now + ms;
        for (;;) {
            int next = -1;
            for (int id = 0; id < kTimerIds; ++id) {
                const Timer& t = timers_[id];
                if (t.running && t.due <= end && (next < 0 || t.due < timers_[next].due)) {
                    next = id;
                }
            }
            if (next < 0) {
                break;
            }
            now = timers_[next].due;
            timers_[next].due += timers_[next].period;
            onTimer(next);
        }
        now = end;
    }

  private:
    struct Timer {
        bool running = false;
        unsigned period = 0;
        std::uint64_t due = 0;
    };
    static constexpr int kTimerIds = 32;
    Timer timers_[kTimerIds];  // by identifier; a fixed table, so timers never allocate
};

class EngineTest : public ::testing::Test {
  protected:
    EngineTest() {
        midi.SetOutputs({"Tamborex", "Synth"});
        out.Open(1);
        window.onTimer = [this](int id) { engine.OnTimer(id); };
    }

    AxisRecord& Axis(int a) { return engine.patches[0].axes[a]; }
    std::vector<Bytes> Translate(int axis, std::int32_t value) {
        midi.ClearEvents();
        engine.TranslateAxis(0, axis, value);
        return midi.SentBytes();
    }

    platform::FakeMidiService midi;
    CWinMIDIOut out{midi};
    ManualWindow window;
    CEngine engine{out, window};
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
    EXPECT_EQ(engine.patches[1].sysEx, nullptr);
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

}  // namespace

#include "tamborex/engine/axis_shaper.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "alloc_counter.h"
#include "fake_joystick.h"
#include "fake_midi.h"
#include "platform/midi_bytes.h"
#include "tamborex/engine/engine.h"
#include "tamborex/testing/test_window.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::int32_t kSelectModWheel = 3;  // control change 1
constexpr std::int32_t kSelectVolume = 9;    // control change 7

class ShapedAxisTest : public ::testing::Test {
  protected:
    ShapedAxisTest() {
        window.runPostedAtOnce = false;
        window.recordCalls = false;
        midi.SetOutputs({"Tamborex", "Synth"});
        out.Open(1);
        stick.Attach();
        joystick.Init();
    }

    AxisRecord& Axis(int a) { return engine.patches[0].axes[a]; }
    std::vector<Bytes> Translate(int axis, std::int32_t raw) {
        midi.ClearEvents();
        engine.TranslateAxis(0, axis, raw);
        return midi.SentBytes();
    }
    // A 14-bit axis on the given selection that sends every change.
    AxisRecord& Wide(int a, std::int32_t selection) {
        AxisRecord& r = Axis(a);
        r.controller = selection;
        r.channel = 2;
        r.minimumMovement = 0;
        r.shape.resolution = 14;
        return r;
    }

    platform::FakeMidiService midi;
    CWinMIDIOut out{midi};
    CTestWindow window;
    platform::FakeJoystickService stick;
    CJoystick joystick{stick, [this](std::string_view text) { window.Message(text); }};
    CTestBankLink bank;
    CEngine engine{out, joystick, window, window, bank};
};

TEST_F(ShapedAxisTest, PitchBendCoversAllSixtyFiveThousandInputsCentredExactlyAndInOrder) {
    Wide(AXIS_X, kSelectPitchBend).minimumMovement = 1;
    Axis(AXIS_X).lastSent = -1;
    int previous = -1;
    int sent = 0;
    for (std::int32_t raw = 0; raw <= kAxisRawMax; ++raw) {
        const std::vector<Bytes> bytes = Translate(AXIS_X, raw);
        if (raw == 0) {
            ASSERT_EQ(bytes, (std::vector<Bytes>{{0xE2, 0x00, 0x00}}));
        }
        if (bytes.empty()) {
            continue;
        }
        ASSERT_EQ(bytes.size(), 1u) << raw;
        ASSERT_EQ(bytes[0][0], 0xE2);
        const int value = bytes[0][1] | (bytes[0][2] << 7);
        ASSERT_GT(value, previous) << raw;
        if (raw == kAxisRawCentre) {
            EXPECT_EQ(bytes[0], (Bytes{0xE2, 0x00, 0x40}));  // 8192
        }
        previous = value;
        ++sent;
    }
    EXPECT_EQ(previous, 16383);
    EXPECT_EQ(sent, 16384);  // every value from 0 to 16383, once
    // The same from the shaping alone, for the three points that matter.
    const AxisRecord& a = Axis(AXIS_X);
    CAxisShaper shaper;
    EXPECT_EQ(shaper.Shape(a, 0, 0, 0), 0);
    EXPECT_EQ(shaper.Shape(a, kAxisRawCentre, 0, 0), 8192);
    EXPECT_EQ(shaper.Shape(a, kAxisRawMax, 0, 0), 16383);
    // A calibrated centre off the middle still lands on 8192.
    Axis(AXIS_X).shape.calibration = {1000, 30000, 64000};
    EXPECT_EQ(shaper.Shape(a, 30000, 0, 0), 8192);
    EXPECT_EQ(shaper.Shape(a, 500, 0, 0), 0);
    EXPECT_EQ(shaper.Shape(a, 65000, 0, 0), 16383);
}

TEST_F(ShapedAxisTest, ControllerPairSendsMsbThenLsbInOneCallAndTheLsbAloneWhenAsked) {
    Wide(AXIS_Y, kSelectModWheel);
    EXPECT_EQ(Translate(AXIS_Y, kAxisRawCentre),
              (std::vector<Bytes>{{0xB2, 0x01, 0x40}, {0xB2, 0x21, 0x00}}));
    const auto events = midi.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_NE(events[0].group, 0u);
    EXPECT_EQ(events[0].group, events[1].group);  // one SendShorts: nothing between them
    // 40000 is 8192 + 7232 * 8191 / 32767 = 10000 (hex 4E 10 as MSB 78, LSB 16).
    EXPECT_EQ(Translate(AXIS_Y, 40000),
              (std::vector<Bytes>{{0xB2, 0x01, 0x4E}, {0xB2, 0x21, 0x10}}));
    // A move within the same MSB: both again, unless the LSB alone is asked for.
    EXPECT_EQ(Translate(AXIS_Y, 40010),
              (std::vector<Bytes>{{0xB2, 0x01, 0x4E}, {0xB2, 0x21, 0x12}}));
    Axis(AXIS_Y).shape.lsbOnlyWhenMsbUnchanged = true;
    EXPECT_EQ(Translate(AXIS_Y, 40000), (std::vector<Bytes>{{0xB2, 0x21, 0x10}}));
    EXPECT_EQ(Translate(AXIS_Y, kAxisRawMax),
              (std::vector<Bytes>{{0xB2, 0x01, 0x7F}, {0xB2, 0x21, 0x7F}}));
    // Another second controller, and a first controller with no pair (96 + 32 is past 127).
    Axis(AXIS_Y).shape.lsbOnlyWhenMsbUnchanged = false;
    Axis(AXIS_Y).shape.lsbController = 70;
    EXPECT_EQ(Translate(AXIS_Y, 0), (std::vector<Bytes>{{0xB2, 0x01, 0x00}, {0xB2, 0x46, 0x00}}));
    Axis(AXIS_Y).shape.lsbController = -1;
    Axis(AXIS_Y).controller = 96 + 2;
    EXPECT_EQ(Translate(AXIS_Y, kAxisRawMax), (std::vector<Bytes>{{0xB2, 0x60, 0x7F}}));
    // Past controller 31 there is no fine half at n + 32: reverb (91) must not send All Notes
    // Off (123), nor 32 the sustain pedal (64), nor 67 the NRPN selector (99).
    for (const std::int32_t coarse : {32, 67, 91, 93}) {
        SCOPED_TRACE(coarse);
        Axis(AXIS_Y).controller = coarse + 2;
        EXPECT_EQ(Translate(AXIS_Y, 0),
                  (std::vector<Bytes>{{0xB2, static_cast<std::uint8_t>(coarse), 0x00}}));
    }
    // A picked second controller still goes out, but never a channel mode message.
    Axis(AXIS_Y).shape.lsbController = 40;
    EXPECT_EQ(Translate(AXIS_Y, kAxisRawMax),
              (std::vector<Bytes>{{0xB2, 0x5D, 0x7F}, {0xB2, 0x28, 0x7F}}));
    Axis(AXIS_Y).shape.lsbController = 123;
    EXPECT_EQ(Translate(AXIS_Y, 0), (std::vector<Bytes>{{0xB2, 0x5D, 0x00}}));
}

TEST_F(ShapedAxisTest, NrpnSendsFourteenBitDataEntryWithAndWithoutTheNullParameter) {
    AxisRecord& a = Wide(AXIS_Z, kSelectNrpnCoarse);
    a.nrpnMsb = 3;
    a.nrpnLsb = 17;
    EXPECT_EQ(Translate(AXIS_Z, kAxisRawMax),
              (std::vector<Bytes>{
                  {0xB2, 0x63, 0x03}, {0xB2, 0x62, 0x11}, {0xB2, 0x06, 0x7F}, {0xB2, 0x26, 0x7F}}));
    a.shape.nrpnNull = true;
    EXPECT_EQ(Translate(AXIS_Z, kAxisRawCentre), (std::vector<Bytes>{{0xB2, 0x63, 0x03},
                                                                     {0xB2, 0x62, 0x11},
                                                                     {0xB2, 0x06, 0x40},
                                                                     {0xB2, 0x26, 0x00},
                                                                     {0xB2, 0x65, 0x7F},
                                                                     {0xB2, 0x64, 0x7F}}));
    // Reverse polarity turns the 14-bit value round its own top.
    a.reversePolarity = 1;
    EXPECT_EQ(Translate(AXIS_Z, kAxisRawMax)[2], (Bytes{0xB2, 0x06, 0x00}));
}

TEST_F(ShapedAxisTest, EachCurveKindBendsTheTravelAsWorkedOutByHand) {
    AxisRecord& a = Axis(AXIS_RX);
    a.controller = kSelectVolume;
    a.minimumMovement = 0;
    a.shape.hysteresis = 1;  // shaped, changing nothing on its own
    auto at = [&](CurveKind kind, double strength, std::int32_t raw) {
        a.shape.curve = kind;
        a.shape.strength = strength;
        a.lastSent = -100;
        const std::vector<Bytes> bytes = Translate(AXIS_RX, raw);
        return bytes.size() == 1 ? bytes[0][2] : -1;
    };
    // Three quarters of the travel (raw 49151.5: 49152 is 0.5 + 0.5 * 16384 / 32767).
    EXPECT_EQ(at(CurveKind::Linear, 0.0, 49152), 96);
    // Exponential 1 on a centred stick: each half is (e^(6u) - 1) / (e^6 - 1); u = 0.5 gives
    // 0.0474, so 64 + 0.0474 * 63 = 67.
    EXPECT_EQ(at(CurveKind::Exponential, 1.0, 49152), 67);
    // Logarithmic 1: ln(1 + 0.5 (e^6 - 1)) / 6 = 0.8849, so 64 + 0.8849 * 63 = 119.7.
    EXPECT_EQ(at(CurveKind::Logarithmic, 1.0, 49152), 120);
    // S 1 over the whole travel: 0.5 + 0.5 tanh(4 * 0.5) / tanh(4) = 0.9823: 64 + 0.9647 * 63.
    EXPECT_EQ(at(CurveKind::S, 1.0, 49152), 125);
    // Strength 0 is straight whatever the kind; the ends stay the ends.
    for (CurveKind kind : {CurveKind::Exponential, CurveKind::Logarithmic, CurveKind::S}) {
        EXPECT_EQ(at(kind, 0.0, 49152), 96);
        EXPECT_EQ(at(kind, 0.7, 0), 0);
        EXPECT_EQ(at(kind, 0.7, kAxisRawMax), 127);
        EXPECT_EQ(at(kind, 0.7, kAxisRawCentre), 64);
    }
    // On a trigger (resting at its minimum) the exponential bends the whole travel.
    a.shape.calibration.centre = a.shape.calibration.min;
    // Half the travel: (e^3 - 1) / (e^6 - 1) = 0.0474 of 127 is 6.
    EXPECT_EQ(at(CurveKind::Exponential, 1.0, kAxisRawCentre), 6);

    // Drawn points: through each point exactly, and between them never outside its two points
    // and never going back, however wild the points.
    AxisShape drawn;
    ApplyShapePreset(drawn, ShapePreset::SoftCentre);
    for (int i = 0; i < drawn.pointCount; ++i) {
        EXPECT_DOUBLE_EQ(ApplyCurve(drawn, true, drawn.points[i].x), drawn.points[i].y);
    }
    drawn.points[0] = {0.1, 0.0};
    drawn.points[1] = {0.2, 0.9};
    drawn.points[2] = {0.25, 0.92};
    drawn.points[3] = {0.9, 0.95};
    drawn.points[4] = {0.95, 1.0};
    double last = 0.0;
    for (int i = 0; i <= 1000; ++i) {
        const double x = i / 1000.0;
        const double y = ApplyCurve(drawn, true, x);
        ASSERT_GE(y, last) << x;
        ASSERT_LE(y, 1.0);
        if (x > 0.25 && x < 0.9) {
            ASSERT_GE(y, 0.92);
            ASSERT_LE(y, 0.95);
        }
        last = y;
    }
    EXPECT_DOUBLE_EQ(ApplyCurve(drawn, true, 0.05), 0.0);  // before the first point: (0,0)
    EXPECT_DOUBLE_EQ(ApplyCurve(drawn, true, 1.0), 1.0);
}

TEST_F(ShapedAxisTest, DeadZonesHoldTheirEdgesAndTheTravelBetweenStaysWhole) {
    AxisShape s;
    s.deadZone = {10.0, 5.0, 5.0, 10.0};
    EXPECT_EQ(ApplyDeadZones(s, true, 0.0), 0.0);
    EXPECT_EQ(ApplyDeadZones(s, true, 0.10), 0.0);
    EXPECT_GT(ApplyDeadZones(s, true, 0.1001), 0.0);
    EXPECT_LT(ApplyDeadZones(s, true, 0.4499), 0.5);
    EXPECT_EQ(ApplyDeadZones(s, true, 0.45), 0.5);
    EXPECT_EQ(ApplyDeadZones(s, true, 0.55), 0.5);
    EXPECT_GT(ApplyDeadZones(s, true, 0.5501), 0.5);
    EXPECT_LT(ApplyDeadZones(s, true, 0.8999), 1.0);
    EXPECT_EQ(ApplyDeadZones(s, true, 0.90), 1.0);
    EXPECT_NEAR(ApplyDeadZones(s, true, 0.275), 0.25, 1e-12);  // halfway through the live part
    // A one-ended axis has no centre: the ends alone, and the travel between them is one span.
    EXPECT_EQ(ApplyDeadZones(s, false, 0.10), 0.0);
    EXPECT_NEAR(ApplyDeadZones(s, false, 0.5), 0.5, 1e-12);
    EXPECT_EQ(ApplyDeadZones(s, false, 0.90), 1.0);
    // Zones that would overlap are cut back rather than turned inside out.
    s.deadZone = {80.0, 40.0, 100.0, 300.0};
    for (double x = 0.0; x <= 1.0; x += 0.01) {
        const double y = ApplyDeadZones(s, true, x);
        ASSERT_TRUE(y == 0.0 || y == 0.5 || y == 1.0 || (y > 0.0 && y < 0.5)) << x << " " << y;
    }
    // Through the engine: a stick resting within the centre zone sends the centre.
    AxisRecord& a = Axis(AXIS_RY);
    a.controller = kSelectVolume;
    a.minimumMovement = 0;
    a.minimumMovement = 1;
    a.shape.deadZone = {0.0, 3.0, 3.0, 0.0};
    EXPECT_EQ(Translate(AXIS_RY, kAxisRawCentre + 1900), (std::vector<Bytes>{{0xB0, 0x07, 0x40}}));
    EXPECT_EQ(Translate(AXIS_RY, kAxisRawCentre - 1900), (std::vector<Bytes>{}));
    EXPECT_EQ(Translate(AXIS_RY, kAxisRawMax), (std::vector<Bytes>{{0xB0, 0x07, 0x7F}}));
}

TEST_F(ShapedAxisTest, DefaultShapeLeavesTheAxisToTheDeviceAndShapingMatchesItsScale) {
    AxisRecord& a = Axis(AXIS_RZ);
    EXPECT_FALSE(IsShaped(a));
    a.min = 20;
    a.max = 100;
    EXPECT_EQ(DeviceRangeOf(a).min, 20);
    EXPECT_EQ(DeviceRangeOf(a).max, 100);
    a.shape.hysteresis = 1;
    EXPECT_TRUE(IsShaped(a));
    EXPECT_EQ(DeviceRangeOf(a).min, 0);
    EXPECT_EQ(DeviceRangeOf(a).max, kAxisRawMax);
    // Turning shaping on moves nothing by more than one step: the shaped scale is the device's.
    CAxisShaper shaper;
    for (std::int32_t raw = 0; raw <= kAxisRawMax; raw += 7) {
        const std::int64_t span = a.max - a.min;
        const std::int32_t device = static_cast<std::int32_t>(a.min + (raw * span + 32767) / 65535);
        ASSERT_LE(std::abs(shaper.Shape(a, raw, 0, 0) - device), 1) << raw;
    }
    // The engine reads a shaped axis at 16 bits and an unshaped one in its range.
    engine.ApplyAxisShape(AXIS_RZ);
    stick.SetAxis(AXIS_RZ, 32767);
    ASSERT_TRUE(joystick.Poll());  // the first takes hold of the stick
    ASSERT_TRUE(joystick.Poll());
    EXPECT_EQ(joystick.state.axes[AXIS_RZ], kAxisRawMax);
    a.shape = AxisShape{};
    engine.ApplyAxisShape(AXIS_RZ);
    ASSERT_TRUE(joystick.Poll());
    EXPECT_EQ(joystick.state.axes[AXIS_RZ], 100);
}

// A smoothing heavy enough that a throw takes several passes, to see how it follows.
constexpr AxisSmoothing kHeavySmoothing{1.0, 20.0};

TEST_F(ShapedAxisTest, SmoothingStartsWhereTheStickIsFollowsWithoutOvershootAndSettles) {
    AxisRecord a;
    a.shape.smoothing = kHeavySmoothing;
    CAxisShaper shaper;
    std::int64_t t = 1'000'000;
    // Turned on at rest, it gives what the stick gives: nothing jumps.
    EXPECT_EQ(shaper.Shape(a, kAxisRawCentre, t, 40'000), 64);
    EXPECT_FALSE(shaper.Settling());
    // A slow creep is held back more than a fast throw.
    CAxisShaper fast;
    (void)fast.Shape(a, kAxisRawCentre, t, 40'000);
    const std::int32_t thrown = fast.Shape(a, kAxisRawMax, t + 10'000, 40'000);
    const std::int32_t crept = shaper.Shape(a, 40000, t + 10'000, 40'000);
    EXPECT_GT(thrown, 100);
    EXPECT_LT(crept, 72);  // 40000 unsmoothed is 78
    // Held still, it keeps moving on by the poll period, up to the target and no further.
    std::int32_t last = crept;
    int passes = 0;
    while (shaper.Settling() && passes < 1000) {
        const std::int32_t v = shaper.Shape(a, 40000, t + 10'000, 40'000);
        ASSERT_GE(v, last);
        ASSERT_LE(v, 78);
        last = v;
        ++passes;
    }
    EXPECT_FALSE(shaper.Settling());
    EXPECT_EQ(last, 78);
    EXPECT_LT(passes, 100);  // within four seconds of 40 ms passes
}

TEST_F(ShapedAxisTest, DefaultSmoothingLetsAThrowThroughAtOnceAndCalmsAJitter) {
    AxisRecord a;
    a.shape.smoothing = kDefaultSmoothing;
    const std::int64_t t = 1'000'000;
    // A throw from end to end, after the stick has rested anything from 10 ms to seconds:
    // the end value comes from the pass that reads the throw, with nothing left to settle.
    for (const std::int64_t rest : {10'000, 20'000, 90'000, 2'500'000}) {
        for (const bool up : {true, false}) {
            SCOPED_TRACE(rest);
            CAxisShaper shaper;
            (void)shaper.Shape(a, up ? 0 : kAxisRawMax, t, 100'000);
            EXPECT_EQ(shaper.Shape(a, up ? kAxisRawMax : 0, t + rest, 100'000), up ? 127 : 0);
            EXPECT_FALSE(shaper.Settling());
        }
    }
    // A fast sweep over the whole travel in 20 ms, read every millisecond: at the end with its
    // last reading.
    CAxisShaper sweep;
    std::int32_t v = sweep.Shape(a, 0, t, 100'000);
    for (int ms = 1; ms <= 20; ++ms) {
        v = sweep.Shape(a, kAxisRawMax * ms / 20, t + ms * 1000, 100'000);
    }
    EXPECT_EQ(v, 127);
    EXPECT_FALSE(sweep.Settling());

    // Held at three quarters with a jitter of 1 % of the travel, read every 5 ms: unsmoothed it
    // keeps moving by the minimum movement every new axis has (2); smoothed it seldom does.
    AxisRecord plain;
    plain.shape.hysteresis = 1;  // shaped, so the same path, without smoothing
    CAxisShaper smoothed;
    CAxisShaper unsmoothed;
    std::int32_t lastSmoothed = smoothed.Shape(a, 49152, t, 100'000);
    std::int32_t lastPlain = unsmoothed.Shape(plain, 49152, t, 100'000);
    int smoothedChanges = 0;
    int plainChanges = 0;
    auto moved = [](std::int32_t v, std::int32_t& last) {
        if (std::abs(v - last) < 2) {
            return 0;
        }
        last = v;
        return 1;
    };
    std::uint32_t seed = 23;
    for (int reading = 1; reading <= 2000; ++reading) {
        seed = seed * 1664525u + 1013904223u;
        const auto jitter = static_cast<std::int32_t>(seed >> 16) % 1311 - 655;
        const std::int64_t at = t + reading * 5'000;
        const std::int32_t s = smoothed.Shape(a, 49152 + jitter, at, 100'000);
        const std::int32_t p = unsmoothed.Shape(plain, 49152 + jitter, at, 100'000);
        smoothedChanges += moved(s, lastSmoothed);
        plainChanges += moved(p, lastPlain);
    }
    EXPECT_GT(plainChanges, 200);
    EXPECT_LT(smoothedChanges * 5, plainChanges);
}

TEST_F(ShapedAxisTest, HysteresisHoldsBackSmallTurnsButNotMovesOnward) {
    AxisRecord& a = Axis(AXIS_X);
    a.controller = kSelectVolume;
    a.minimumMovement = 1;
    a.shape.hysteresis = 2;
    // The raw position that lands on value v of the centred 0..127 range.
    auto to = [&](int v) {
        const std::int32_t raw =
            v >= 64
                ? kAxisRawCentre + static_cast<std::int32_t>(std::lround((v - 64) * 32767 / 63.0))
                : static_cast<std::int32_t>(std::lround(v * 32768 / 64.0));
        const std::vector<Bytes> bytes = Translate(AXIS_X, raw);
        return bytes.empty() ? -1 : int{bytes[0][2]};
    };
    EXPECT_EQ(to(80), 80);
    EXPECT_EQ(to(90), 90);  // onward
    EXPECT_EQ(to(89), -1);  // one step back: held
    EXPECT_EQ(to(88), 88);  // two: out, and now going down
    EXPECT_EQ(to(87), 87);  // onward down, one step is enough
    EXPECT_EQ(to(88), -1);  // one step back up: held
    EXPECT_EQ(to(90), 90);
    EXPECT_EQ(a.lastSent, 90);
}

TEST_F(ShapedAxisTest, CalibrateRecordsTheTravelAndWhereTheStickIsLetGo) {
    CAxisCalibrator c;
    AxisCalibration cal;
    EXPECT_FALSE(c.Finish(cal));  // never started
    c.Start();
    for (std::int32_t raw : {33000, 2000, 64000, 31000, 33100}) {
        c.Feed(raw);
    }
    ASSERT_TRUE(c.Finish(cal));
    EXPECT_EQ(cal, (AxisCalibration{2000, 33100, 64000}));
    // Let go near an end: a trigger, resting at that end.
    c.Start();
    for (std::int32_t raw : {300, 60000, 2500}) {
        c.Feed(raw);
    }
    ASSERT_TRUE(c.Finish(cal));
    EXPECT_EQ(cal, (AxisCalibration{300, 300, 60000}));
    EXPECT_FALSE(IsCentred(cal));
    // Hardly moved: nothing is kept.
    c.Start();
    c.Feed(32000);
    c.Feed(33000);
    EXPECT_FALSE(c.Finish(cal));
    EXPECT_EQ(cal, (AxisCalibration{300, 300, 60000}));

    // Through the engine: while it runs, the axis records instead of sending.
    Axis(AXIS_Y).controller = kSelectVolume;
    engine.PollJoystick();  // takes hold of the stick
    engine.StartCalibration(AXIS_Y);
    midi.ClearEvents();
    for (std::int16_t raw : {-30000, 30000, 100}) {
        stick.SetAxis(AXIS_Y, raw);
        engine.PollJoystick();
    }
    EXPECT_TRUE(midi.SentBytes().empty());
    ASSERT_TRUE(engine.FinishCalibration(AXIS_Y));
    EXPECT_EQ(Axis(AXIS_Y).shape.calibration, (AxisCalibration{2768, 32868, 62768}));
    EXPECT_TRUE(IsShaped(Axis(AXIS_Y)));
}

TEST_F(ShapedAxisTest, ASmoothedAxisGoesOnSendingUntilItSettlesThenFallsSilent) {
    AxisRecord& a = Axis(AXIS_X);
    a.controller = kSelectVolume;
    a.shape.smoothing = kHeavySmoothing;  // minimum movement 2, as every new axis has
    engine.ApplyAxisShape(AXIS_X);
    // Passes without new input are timed by the steady clock: the stick's times run ahead of it,
    // so that every such pass counts one polling period however fast or slow this machine is.
    std::int64_t t = SteadyNowUs() + 1'000'000;
    engine.PollJoystick();  // takes hold of the stick
    stick.SetAxis(AXIS_X, 0, t);
    engine.PollJoystick();
    midi.ClearEvents();
    stick.SetAxis(AXIS_X, 20000, t += 20'000);
    engine.PollJoystick();
    // Held there: the passes that follow carry the output on to where the stick rests.
    for (int poll = 0; poll < 300; ++poll) {
        engine.PollJoystick();
    }
    const std::vector<Bytes> bytes = midi.SentBytes();
    ASSERT_GE(bytes.size(), 2u);  // part of the way at once, the rest on the next passes
    for (std::size_t i = 1; i < bytes.size(); ++i) {
        EXPECT_GT(bytes[i][2], bytes[i - 1][2]);  // never back, never past
    }
    EXPECT_EQ(bytes.back(), (Bytes{0xB0, 0x07, 0x66}));  // 102: where the stick rests
    // A small move: the last step of the way is within the minimum movement, and still arrives.
    midi.ClearEvents();
    stick.SetAxis(AXIS_X, 21330, t += 20'000);
    for (int poll = 0; poll < 300; ++poll) {
        engine.PollJoystick();
    }
    ASSERT_FALSE(midi.SentBytes().empty());
    EXPECT_EQ(midi.SentBytes().back(), (Bytes{0xB0, 0x07, 0x69}));  // 105
    midi.ClearEvents();
    for (int i = 0; i < 20; ++i) {
        engine.PollJoystick();
    }
    EXPECT_TRUE(midi.SentBytes().empty());
}

TEST_F(ShapedAxisTest, ShapedTranslationAllocatesNothing) {
    Wide(AXIS_X, kSelectModWheel).shape.curve = CurveKind::Points;
    ApplyShapePreset(Axis(AXIS_X).shape, ShapePreset::SoftCentre);
    Wide(AXIS_Y, kSelectNrpnFine).shape.nrpnNull = true;
    Wide(AXIS_Z, kSelectPitchBend).shape.smoothing = kDefaultSmoothing;
    midi.ReserveLog(4096);
    testsupport::AllocationCounter counter;
    for (std::int32_t raw = 0; raw < 60000; raw += 300) {
        engine.TranslateAxis(0, AXIS_X, raw);
        engine.TranslateAxis(0, AXIS_Y, raw);
        engine.TranslateAxis(0, AXIS_Z, raw);
    }
    EXPECT_EQ(counter.Count(), 0u);
}

TEST(AxisShapeModelTest, PresetsKeepTheOutputAndCurveNamesReadBack) {
    AxisShape s;
    EXPECT_TRUE(IsDefaultShape(s));
    s.calibration = {100, 30000, 60000};
    s.resolution = 14;
    s.lsbController = 40;
    ApplyShapePreset(s, ShapePreset::HardCentre);
    EXPECT_EQ(s.calibration, (AxisCalibration{100, 30000, 60000}));
    EXPECT_EQ(s.resolution, 14);
    EXPECT_EQ(s.lsbController, 40);
    EXPECT_EQ(s.deadZone[DEAD_CENTRE_LOW], 10.0);
    ApplyShapePreset(s, ShapePreset::Trigger);
    EXPECT_EQ(s.calibration.centre, 100);
    EXPECT_EQ(s.deadZone[DEAD_CENTRE_LOW], 0.0);
    ApplyShapePreset(s, ShapePreset::Linear);
    s.calibration = AxisCalibration{};
    s.resolution = 7;
    s.lsbController = -1;
    EXPECT_TRUE(IsDefaultShape(s));
    for (int k = 0; k < kCurveKindCount; ++k) {
        CurveKind back = CurveKind::Linear;
        ASSERT_TRUE(CurveKindFromName(CurveKindName(static_cast<CurveKind>(k)), back));
        EXPECT_EQ(back, static_cast<CurveKind>(k));
    }
    CurveKind kind = CurveKind::S;
    EXPECT_FALSE(CurveKindFromName("Linear", kind));
    EXPECT_EQ(kind, CurveKind::S);
}

}  // namespace

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "fake_joystick.h"
#include "fake_midi.h"
#include "tamborex/engine/engine.h"
#include "tamborex/testing/test_window.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Call = platform::FakeMidiService::Call;

std::vector<Bytes> Unpack(const std::uint32_t* messages, int count) {
    std::vector<Bytes> out;
    for (int i = 0; i < count; ++i) {
        out.push_back({static_cast<std::uint8_t>(messages[i]),
                       static_cast<std::uint8_t>(messages[i] >> 8),
                       static_cast<std::uint8_t>(messages[i] >> 16)});
    }
    return out;
}

TEST(HeldNotes, EndsNotesThenPedalsThenBendAndKeepsEachPortApart) {
    CHeldNotes ledger;
    std::uint32_t out[CHeldNotes::kMaxPanicMessages];
    ledger.SelectPort("Synth");
    ledger.Track(platform::PackShortMessage(0x91, 60, 100));
    ledger.Track(platform::PackShortMessage(0x90, 64, 100));
    ledger.Track(platform::PackShortMessage(0x90, 65, 100));
    ledger.Track(platform::PackShortMessage(0x90, 65, 0));  // velocity 0 ends it
    ledger.Track(platform::PackShortMessage(0xB1, 66, 127));
    ledger.Track(platform::PackShortMessage(0xB0, 64, 127));
    ledger.Track(platform::PackShortMessage(0xE3, 0, 100));
    ledger.Track(platform::PackShortMessage(0xE4, 0, 100));
    ledger.Track(platform::PackShortMessage(0xE4, 0, 64));  // back at the centre: nothing to do
    EXPECT_TRUE(ledger.NoteOn(1, 60));
    EXPECT_FALSE(ledger.NoteOn(0, 65));

    // Another port keeps its own: nothing of Synth's is ended there.
    ledger.SelectPort("Other");
    ledger.Track(platform::PackShortMessage(0x95, 70, 1));
    EXPECT_EQ(Unpack(out, ledger.End(CHeldNotes::Scope::Sounding, out)),
              (std::vector<Bytes>{{0x85, 70, 0}}));
    EXPECT_TRUE(ledger.Silent());
    EXPECT_FALSE(ledger.AllSilent());

    ledger.SelectPort("Synth");
    EXPECT_EQ(Unpack(out, ledger.End(CHeldNotes::Scope::Sounding, out)),
              (std::vector<Bytes>{
                  {0x80, 64, 0}, {0x81, 60, 0}, {0xB0, 64, 0}, {0xB1, 66, 0}, {0xE3, 0, 64}}));
    EXPECT_TRUE(ledger.AllSilent());
    EXPECT_EQ(ledger.End(CHeldNotes::Scope::Sounding, out), 0);
}

TEST(HeldNotes, UnplugEndsThePlayersNotesAndLeavesThruAlone) {
    CHeldNotes ledger;
    std::uint32_t out[CHeldNotes::kMaxPanicMessages];
    ledger.Track(platform::PackShortMessage(0x90, 60, 100));
    ledger.Track(platform::PackShortMessage(0x90, 62, 100), CHeldNotes::Origin::Thru);
    ledger.Track(platform::PackShortMessage(0xB0, 64, 127), CHeldNotes::Origin::Thru);
    ledger.Track(platform::PackShortMessage(0xE0, 0, 0));
    EXPECT_EQ(Unpack(out, ledger.End(CHeldNotes::Scope::Played, out)),
              (std::vector<Bytes>{{0x80, 60, 0}}));
    EXPECT_TRUE(ledger.NoteOn(0, 62));
    // The same note from both: one note off ends it.
    ledger.Track(platform::PackShortMessage(0x90, 62, 100));
    EXPECT_EQ(Unpack(out, ledger.End(CHeldNotes::Scope::Sounding, out)),
              (std::vector<Bytes>{{0x80, 62, 0}, {0xB0, 64, 0}, {0xE0, 0, 64}}));
}

TEST(HeldNotes, PanicResetsEveryUsedChannelAndAChannelEndAloneTouchesOnlyItsOwn) {
    CHeldNotes ledger;
    std::uint32_t out[CHeldNotes::kMaxPanicMessages];
    ledger.Track(platform::PackShortMessage(0x92, 40, 100));
    ledger.Track(platform::PackShortMessage(0x92, 41, 100));
    ledger.Track(platform::PackShortMessage(0xB2, 64, 127));
    ledger.Track(platform::PackShortMessage(0x95, 50, 100));
    EXPECT_EQ(Unpack(out, ledger.EndChannel(2, out)),
              (std::vector<Bytes>{{0x82, 40, 0}, {0x82, 41, 0}, {0xB2, 64, 0}}));
    EXPECT_TRUE(ledger.NoteOn(5, 50));

    ledger.Track(platform::PackShortMessage(0xC9, 3, 0));  // a program change uses channel 9
    EXPECT_EQ(Unpack(out, ledger.Panic(out)), (std::vector<Bytes>{{0x85, 50, 0},
                                                                  {0xB2, 64, 0},
                                                                  {0xB2, 120, 0},
                                                                  {0xB2, 123, 0},
                                                                  {0xE2, 0, 64},
                                                                  {0xB5, 64, 0},
                                                                  {0xB5, 120, 0},
                                                                  {0xB5, 123, 0},
                                                                  {0xE5, 0, 64},
                                                                  {0xB9, 64, 0},
                                                                  {0xB9, 120, 0},
                                                                  {0xB9, 123, 0},
                                                                  {0xE9, 0, 64}}));
    EXPECT_TRUE(ledger.AllSilent());
    // Channels stay used: a second panic resets them again.
    EXPECT_EQ(ledger.Panic(out), 12);

    // Every note on every channel still fits the batch.
    for (int ch = 0; ch < 16; ++ch) {
        for (int n = 0; n < 128; ++n) {
            ledger.Track(platform::PackShortMessage(static_cast<std::uint8_t>(0x90 | ch),
                                                    static_cast<std::uint8_t>(n), 1));
            ledger.Track(platform::PackShortMessage(static_cast<std::uint8_t>(0x90 | ch),
                                                    static_cast<std::uint8_t>(n), 1),
                         CHeldNotes::Origin::Thru);
        }
        for (int p = 64; p < 68; ++p) {
            ledger.Track(platform::PackShortMessage(static_cast<std::uint8_t>(0xB0 | ch),
                                                    static_cast<std::uint8_t>(p), 127));
        }
    }
    EXPECT_EQ(ledger.Panic(out), 16 * 128 + 16 * 4);
}

class EnginePanicTest : public ::testing::Test {
  protected:
    EnginePanicTest() {
        window.runPostedAtOnce = false;
        midi.SetOutputs({"Tamborex", "Synth", "Other synth"});
        out.Open(1);
        stick.Attach();
        joystick.Init();
        engine.patches[0].active = 1;
        Button(0).mode = MODE_NOTE;
        Button(0).data1 = 60;
        Button(0).data2 = 100;
        Button(1).mode = MODE_ARPEGGIATOR;
        Button(1).autoArpeggiation = 1;
        Button(1).channel = 2;
        Button(1).stepCount = 2;
        Button(1).notes = {48, 55, 0, 0, 0, 0, 0, 0};
        Button(1).times = {1, 1, 1, 1, 1, 1, 1, 1};
        Button(2).mode = MODE_SUSTAIN;
        Button(2).channel = 2;
    }

    ButtonRecord& Button(int b) { return engine.patches[0].buttons[b]; }
    std::vector<Bytes> Sent() {
        auto sent = midi.SentBytes();
        midi.ClearEvents();
        return sent;
    }

    platform::FakeMidiService midi;
    CWinMIDIOut out{midi};
    CTestWindow window;
    platform::FakeJoystickService stick;
    CJoystick joystick{stick, [this](std::string_view text) { window.Message(text); }};
    CTestBankLink bank;
    CEngine engine{out, joystick, window, window, bank};
};

TEST_F(EnginePanicTest, PanicEndsButtonsArpeggiosAndSustainInOneBatchUntilPressedAnew) {
    engine.ProcessButtonDown(0, 0);
    engine.ProcessButtonDown(1, 0);
    engine.ProcessButtonDown(2, 0);
    engine.AdvanceArpeggiators();
    engine.AdvanceArpeggiators();  // the arpeggio moved on to its second note
    EXPECT_EQ(Sent().back(), (Bytes{0x92, 55, 127}));

    engine.Panic();
    const auto events = midi.Events();
    EXPECT_EQ(Sent(), (std::vector<Bytes>{{0x80, 60, 0},
                                          {0x82, 55, 0},
                                          {0xB0, 64, 0},
                                          {0xB0, 120, 0},
                                          {0xB0, 123, 0},
                                          {0xE0, 0, 64},
                                          {0xB2, 64, 0},
                                          {0xB2, 120, 0},
                                          {0xB2, 123, 0},
                                          {0xE2, 0, 64}}));
    const std::set<std::uint32_t> batches = [&] {
        std::set<std::uint32_t> b;
        for (const auto& e : events) {
            b.insert(e.batch);
        }
        return b;
    }();
    EXPECT_EQ(batches.size(), 1u);
    EXPECT_NE(*batches.begin(), 0u);
    EXPECT_TRUE(engine.Ledger().AllSilent());

    // The arpeggio stays stopped while its button is held, and the releases add nothing.
    for (int i = 0; i < 4; ++i) {
        engine.AdvanceArpeggiators();
    }
    engine.ProcessButtonUp(0, 0);
    engine.ProcessButtonUp(1, 0);
    engine.ProcessButtonUp(2, 0);
    EXPECT_TRUE(Sent().empty());

    // Pressed anew, each plays as before.
    engine.ProcessButtonDown(0, 0);
    engine.ProcessButtonDown(1, 0);
    engine.ProcessButtonUp(0, 0);
    EXPECT_EQ(Sent(), (std::vector<Bytes>{{0x90, 60, 100}, {0x92, 48, 127}, {0x80, 60, 100}}));
    engine.AdvanceArpeggiators();
    engine.AdvanceArpeggiators();
    EXPECT_EQ(Sent(), (std::vector<Bytes>{{0x82, 48, 127}, {0x92, 55, 127}}));
}

TEST_F(EnginePanicTest, IncomingAllNotesOffEndsThatChannelAndStillPassesThrough) {
    engine.ProcessButtonDown(0, 0);  // channel 0
    engine.ProcessButtonDown(1, 0);  // channel 2
    engine.ProcessButtonDown(2, 0);
    engine.HandleMidiInput(platform::PackShortMessage(0x92, 70, 90));  // a keyboard through thru
    Sent();

    engine.HandleMidiInput(platform::PackShortMessage(0xB2, 123, 0));
    EXPECT_EQ(Sent(),
              (std::vector<Bytes>{{0xB2, 123, 0}, {0x82, 48, 0}, {0x82, 70, 0}, {0xB2, 64, 0}}));
    EXPECT_TRUE(engine.Ledger().NoteOn(0, 60));
    engine.AdvanceArpeggiators();
    engine.AdvanceArpeggiators();
    EXPECT_TRUE(Sent().empty());

    // All Sound Off does the same for its channel; the other channel's note then ends too.
    engine.HandleMidiInput(platform::PackShortMessage(0xB0, 120, 0));
    EXPECT_EQ(Sent(), (std::vector<Bytes>{{0xB0, 120, 0}, {0x80, 60, 0}}));
    engine.ProcessButtonUp(0, 0);
    EXPECT_TRUE(Sent().empty());
    EXPECT_TRUE(engine.Ledger().AllSilent());

    // A controller other than those two ends nothing.
    engine.ProcessButtonDown(0, 0);
    engine.HandleMidiInput(platform::PackShortMessage(0xB0, 121, 0));
    EXPECT_EQ(Sent(), (std::vector<Bytes>{{0x90, 60, 100}, {0xB0, 121, 0}}));
    EXPECT_TRUE(engine.Ledger().NoteOn(0, 60));
}

TEST_F(EnginePanicTest, EachPortKeepsItsLedgerAndAPanicCoversOnlyTheChannelsOfThePortInUse) {
    engine.ProcessButtonDown(1, 0);  // channel 2 on Synth
    engine.ProcessButtonUp(1, 0);
    ASSERT_TRUE(engine.ReopenOutput(2));
    engine.ProcessButtonDown(0, 0);  // channel 0 on Other synth
    Sent();
    engine.Panic();
    EXPECT_EQ(Sent(),
              (std::vector<Bytes>{
                  {0x80, 60, 0}, {0xB0, 64, 0}, {0xB0, 120, 0}, {0xB0, 123, 0}, {0xE0, 0, 64}}));
    ASSERT_TRUE(engine.ReopenOutput(1));
    engine.Panic();
    EXPECT_EQ(Sent(),
              (std::vector<Bytes>{{0xB2, 64, 0}, {0xB2, 120, 0}, {0xB2, 123, 0}, {0xE2, 0, 64}}));
}

TEST_F(EnginePanicTest, AnUnpluggedControllersNotesEndButThruNotesPlayOn) {
    engine.ProcessButtonDown(0, 0);
    engine.HandleMidiInput(platform::PackShortMessage(0x92, 70, 90));
    Sent();
    engine.EndPlayedNotes();
    EXPECT_EQ(Sent(), (std::vector<Bytes>{{0x80, 60, 0}}));
    engine.ProcessButtonUp(0, 0);
    EXPECT_TRUE(Sent().empty());
    EXPECT_TRUE(engine.Ledger().NoteOn(2, 70));
}

TEST_F(EnginePanicTest, MadeInactiveThePatchEndsItsNotesAndAHeldButtonWaitsToBePressedAnew) {
    engine.ProcessButtonDown(0, 0);
    engine.HandleMidiInput(platform::PackShortMessage(0x92, 70, 90));
    Sent();
    engine.SetPatchActive(0, 0);
    EXPECT_EQ(Sent(), (std::vector<Bytes>{{0x80, 60, 0}}));
    engine.SetPatchActive(0, 1);
    engine.ProcessButtonUp(0, 0);
    EXPECT_TRUE(Sent().empty());
    EXPECT_TRUE(engine.Ledger().NoteOn(2, 70));
    engine.ProcessButtonDown(0, 0);
    EXPECT_EQ(Sent(), (std::vector<Bytes>{{0x90, 60, 100}}));
}

TEST_F(EnginePanicTest, TheMonitorsLogSeesWhatGoesOutOnlyWhileOneIsOpen) {
    engine.ProcessButtonDown(0, 0);
    platform::MidiSentLog log;
    engine.SetSentLog(&log);
    engine.ProcessButtonUp(0, 0);
    engine.Panic();
    engine.SetSentLog(nullptr);
    engine.ProcessButtonDown(0, 0);
    std::array<platform::MidiSentLog::Entry, platform::MidiSentLog::kEntries> entries;
    ASSERT_EQ(log.Snapshot(entries), 5);
    EXPECT_EQ(entries[0].message, platform::PackShortMessage(0x80, 60, 100));
    EXPECT_EQ(entries[4].message, platform::PackShortMessage(0xE0, 0, 64));
}

}  // namespace

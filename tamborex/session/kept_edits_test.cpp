// Edits are never lost by leaving their entry: they are kept for it, come back with it, are
// offered at Quit and at a session manager's save, and outlive a termination.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "fake_joystick.h"
#include "fake_midi.h"
#include "platform/file_io.h"
#include "platform/midi_bytes.h"
#include "tamborex/session/session.h"
#include "tamborex/storage/patch_file.h"
#include "tamborex/testing/test_window.h"

namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

class KeptEditsTest : public ::testing::Test {
  protected:
    KeptEditsTest() {
        dir = fs::temp_directory_path() /
              ("tamborex-kept-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        midi.SetOutputs({"Tamborex", "Synth"});
        midi.SetInputs({"Tamborex"});
        stick.Attach();
        // Entry 0 "Lead" and entry 1 "Bass" have files; entry 2 has none; presets 0 to 3.
        CBankState bank;
        bank.patchNames[0] = "Lead";
        bank.patchPaths[0] = Patch("lead.txp", "Lead", 60);
        bank.patchNames[1] = "Bass";
        bank.patchPaths[1] = Patch("bass.txp", "Bass", 40);
        Write(BankPath(), FormatBank(bank));
    }
    ~KeptEditsTest() override {
        core.reset();
        fs::remove_all(dir);
    }

    std::string Patch(const std::string& file, const std::string& name, std::int32_t note) {
        std::array<CPatch, 2> slots;
        slots[0].outputDevice = 1;
        slots[0].active = 1;
        slots[0].buttons[3].mode = MODE_NOTE;
        slots[0].buttons[3].data1 = note;
        Write((dir / file).string(), FormatPatchFile(name, slots));
        return (dir / file).string();
    }
    static void Write(const std::string& path, const std::vector<std::uint8_t>& bytes) {
        int cause = 0;
        platform::WriteStage failedAt{};
        ASSERT_TRUE(platform::WriteFileAtomically(path, bytes, cause, failedAt)) << path;
    }
    static std::string NameIn(const std::string& path, std::int32_t* note = nullptr) {
        std::vector<std::uint8_t> bytes;
        int cause = 0;
        std::string name;
        std::array<CPatch, 2> slots{};
        EXPECT_TRUE(platform::ReadWholeFile(path, bytes, cause)) << path;
        EXPECT_EQ(ReadPatchFile(bytes, name, slots), "") << path;
        if (note != nullptr) {
            *note = slots[0].buttons[3].data1;
        }
        return name;
    }
    CSession& Start(bool forgetMessages = true) {
        core.reset();
        core = std::make_unique<CSession>(midi, stick, bar, BankPath());
        Attach(*core, bar);
        core->Startup();
        if (forgetMessages) {
            bar.messages.clear();
        }
        return *core;
    }
    std::string BankPath() const { return (dir / "Tamborex.bnk").string(); }
    // The button's note as the Joystick options type it.
    static void TypeNote(CSession& s, std::int32_t note) {
        std::array<std::int32_t, 8> data1{}, data2{}, channels{};
        for (int b = 0; b < 8; ++b) {
            data1[b] = s.Patch().buttons[b].data1;
            data2[b] = s.Patch().buttons[b].data2;
            channels[b] = s.Patch().buttons[b].channel;
        }
        data1[3] = note;
        s.ApplyPatchFields(s.Patch().active, data1, data2, channels);
    }
    static std::int32_t Note(const CSession& s) { return s.Patch().buttons[3].data1; }

    fs::path dir;
    platform::FakeMidiService midi;
    platform::FakeJoystickService stick;
    CTestWindow bar;
    std::unique_ptr<CSession> core;
};

// Next and back, a preset, a program change, an entry without a file: nothing is asked while
// playing, and the edited note comes back with its entry, still unsaved.
TEST_F(KeptEditsTest, EditsStayWithTheirEntryAcrossEverySwitch) {
    CSession& s = Start();
    TypeNote(s, 62);
    ASSERT_TRUE(s.PatchModified());

    s.Next();
    EXPECT_EQ(Note(s), 40);
    EXPECT_FALSE(s.PatchModified());
    EXPECT_EQ(s.KeptEntries(), (std::vector<std::int32_t>{0}));
    s.Previous();
    EXPECT_EQ(Note(s), 62);
    EXPECT_TRUE(s.PatchModified());
    EXPECT_TRUE(s.KeptEntries().empty());
    EXPECT_EQ(s.Bank().patchName, "Lead");

    // A preset away and back; the other entry's own edits are kept as well.
    s.Preset(1);
    TypeNote(s, 41);
    s.Preset(0);
    EXPECT_EQ(Note(s), 62);
    EXPECT_EQ(s.KeptEntries(), (std::vector<std::int32_t>{1}));

    // Program changes arrive in the middle of a song.
    s.Engine().HandleMidiInput(platform::PackShortMessage(platform::midi::kProgramChange, 1));
    EXPECT_EQ(Note(s), 41);
    EXPECT_TRUE(s.PatchModified());
    s.Engine().HandleMidiInput(platform::PackShortMessage(platform::midi::kProgramChange, 0));
    EXPECT_EQ(Note(s), 62);

    // An entry without a file plays the patch before it, and says so.
    EXPECT_EQ(s.PlayingPatchName(), "");
    s.SetPatchNumber(2);
    s.SelectPatch();
    EXPECT_EQ(Note(s), 62);  // the edited Lead plays on
    EXPECT_EQ(s.PlayingPatchName(), "Lead");
    EXPECT_EQ(s.Bank().patchName, "(no patch)");
    EXPECT_FALSE(s.PatchModified());
    EXPECT_EQ(s.KeptEntries(), (std::vector<std::int32_t>{0, 1}));
    s.Preset(0);
    EXPECT_EQ(Note(s), 62);
    EXPECT_TRUE(s.PatchModified());
    EXPECT_TRUE(bar.messages.empty());
    EXPECT_EQ(s.Bank().patchNumber, 0);
}

// Quit offers the patch in use and each kept one; Cancel at any of them goes back with nothing
// released; Yes saves a kept patch to its entry's file.
TEST_F(KeptEditsTest, QuitOffersEveryKeptPatchAndCancelGoesBack) {
    CSession& s = Start();
    TypeNote(s, 62);
    s.Next();
    TypeNote(s, 43);
    std::vector<CSaveAnswer> answers{CSaveAnswer::No, CSaveAnswer::Cancel};
    bar.answerWithCancel = [&](std::string_view) {
        const CSaveAnswer a = answers.front();
        answers.erase(answers.begin());
        return a;
    };
    EXPECT_FALSE(s.Shutdown());
    EXPECT_EQ(bar.messages,
              (Strings{"Save changes to current patch?",
                       "Save changes to the patch of bank entry 0 (Lead)? They were kept when "
                       "another entry was selected."}));
    EXPECT_FALSE(s.ShutDown());
    EXPECT_EQ(s.Joystick().initialised, 1);
    EXPECT_EQ(s.KeptEntries(), (std::vector<std::int32_t>{0}));
    EXPECT_TRUE(s.PatchModified());

    // Cancel at the first question.
    bar.messages.clear();
    answers = {CSaveAnswer::Cancel};
    EXPECT_FALSE(s.Shutdown());
    EXPECT_EQ(bar.messages.size(), 1u);

    // No to the patch in use, Yes to entry 0's: written where its entry's file is.
    bar.messages.clear();
    answers = {CSaveAnswer::No, CSaveAnswer::Yes};
    bar.chooserAnswer = (dir / "lead.txp").string();
    EXPECT_TRUE(s.Shutdown());
    EXPECT_EQ(bar.chooserInitial, (dir / "lead.txp").string());
    std::int32_t note = 0;
    EXPECT_EQ(NameIn((dir / "lead.txp").string(), &note), "Lead");
    EXPECT_EQ(note, 62);
    NameIn((dir / "bass.txp").string(), &note);
    EXPECT_EQ(note, 40);  // declined
    EXPECT_FALSE(fs::exists(s.RecoveryPath()));
    EXPECT_FALSE(fs::exists(s.RecoveryPath(0)));
}

// A termination keeps every unsaved patch: the one in use where older versions look for it, each
// kept one in a file of its entry. The next start offers them back, and a save removes the file.
TEST_F(KeptEditsTest, TerminationKeepsEveryUnsavedPatchForTheNextStart) {
    CSession& s = Start();
    TypeNote(s, 62);
    s.Next();
    TypeNote(s, 43);
    s.RequestTermination();
    bar.answer = true;  // a question now would be seen
    EXPECT_TRUE(s.Shutdown());
    EXPECT_TRUE(bar.messages.empty());
    std::int32_t note = 0;
    EXPECT_EQ(NameIn(s.RecoveryPath(), &note), "Bass");
    EXPECT_EQ(note, 43);
    EXPECT_EQ(NameIn(s.RecoveryPath(0), &note), "Lead");
    EXPECT_EQ(note, 62);
    // The files the user keeps are as they were.
    NameIn((dir / "lead.txp").string(), &note);
    EXPECT_EQ(note, 60);

    bar.messages.clear();
    bar.answer = true;
    Start(false);
    ASSERT_EQ(bar.messages.size(), 2u);
    EXPECT_NE(bar.messages[0].find("Restore them into the current bank entry?"), std::string::npos);
    EXPECT_NE(bar.messages[1].find("bank entry 0."), std::string::npos) << bar.messages[1];
    EXPECT_EQ(core->Bank().patchNumber, 1);
    EXPECT_EQ(Note(*core), 43);
    EXPECT_EQ(core->KeptEntries(), (std::vector<std::int32_t>{0}));
    core->Previous();
    EXPECT_EQ(Note(*core), 62);
    EXPECT_TRUE(core->PatchModified());
    bar.chooserAnswer = (dir / "lead.txp").string();
    ASSERT_TRUE(core->SaveCommand());
    EXPECT_FALSE(fs::exists(core->RecoveryPath(0)));
    EXPECT_TRUE(fs::exists(core->RecoveryPath()));  // entry 1's edits are still unsaved

    // Ended again: entry 1's restored edits, now kept for it, move to its entry's file, so they
    // are not offered for whichever entry is current next time.
    core->RequestTermination();
    EXPECT_TRUE(core->Shutdown());
    EXPECT_FALSE(fs::exists(core->RecoveryPath()));
    EXPECT_EQ(NameIn(core->RecoveryPath(1), &note), "Bass");
    EXPECT_EQ(note, 43);

    // Declined at the next start: gone, and the entries play their files.
    bar.answer = false;
    CSession& declined = Start();
    EXPECT_FALSE(fs::exists(declined.RecoveryPath(1)));
    EXPECT_TRUE(declined.KeptEntries().empty());
}

// A restored patch whose new recovery file cannot be written (a full disk; here a folder stands
// where the file would go) keeps the file it came from: it is the only copy of those edits.
TEST_F(KeptEditsTest, ARecoveryFileStaysWhenItsPatchCannotBeKeptAnew) {
    CSession& s = Start();
    s.Next();
    TypeNote(s, 43);
    s.RequestTermination();
    ASSERT_TRUE(s.Shutdown());
    ASSERT_TRUE(fs::exists(s.RecoveryPath()));

    bar.answer = true;
    Start();
    core->Previous();  // entry 1's restored edits are now kept for it
    ASSERT_EQ(core->KeptEntries(), (std::vector<std::int32_t>{1}));
    fs::create_directories(fs::path(core->RecoveryPath(1)) / "blocked");
    core->RequestTermination();
    EXPECT_TRUE(core->Shutdown());
    std::int32_t note = 0;
    ASSERT_TRUE(fs::is_regular_file(core->RecoveryPath()));
    EXPECT_EQ(NameIn(core->RecoveryPath(), &note), "Bass");
    EXPECT_EQ(note, 43);
}

// A session manager's save writes the kept patches too, each to its own file in the bank's
// folder; a patch saved under a name nobody typed takes the file's name.
TEST_F(KeptEditsTest, SessionSaveWritesKeptPatchesAndNewPatchesTakeTheFilesName) {
    CSession& s = Start();
    TypeNote(s, 62);
    s.SetPatchNumber(2);
    s.SelectPatch();
    TypeNote(s, 70);
    std::string error;
    ASSERT_TRUE(s.SaveAll(error)) << error;
    EXPECT_TRUE(s.KeptEntries().empty());
    std::int32_t note = 0;
    EXPECT_EQ(NameIn((dir / "lead.txp").string(), &note), "Lead");
    EXPECT_EQ(note, 62);
    EXPECT_EQ(s.Bank().patchPaths[2], "Entry 2.txp");
    EXPECT_EQ(NameIn((dir / "Entry 2.txp").string(), &note), "Entry 2");
    EXPECT_EQ(note, 70);
    EXPECT_EQ(s.Bank().patchName, "Entry 2");
    EXPECT_EQ(s.PlayingPatchName(), "");

    // Saved from the bar on an empty entry: the file's name, unless the user typed one.
    s.SetPatchNumber(3);
    s.SelectPatch();
    bar.chooserAnswer = (dir / "Warm Pad.txp").string();
    ASSERT_TRUE(s.SaveCommand());
    EXPECT_EQ(NameIn(bar.chooserAnswer), "Warm Pad");
    EXPECT_EQ(s.Bank().patchNames[3], "Warm Pad");
    s.SetPatchNumber(4);
    s.SelectPatch();
    s.Rename("(no patch)");
    bar.chooserAnswer = (dir / "other.txp").string();
    ASSERT_TRUE(s.SaveCommand());
    EXPECT_EQ(NameIn(bar.chooserAnswer), "(no patch)");
}

// Loading a file over edits asks first; Cancel keeps the edits and loads nothing.
TEST_F(KeptEditsTest, LoadOverEditsAsksFirst) {
    CSession& s = Start();
    TypeNote(s, 62);
    bar.answerWithCancel = [](std::string_view) { return CSaveAnswer::Cancel; };
    bar.chooserAnswer = (dir / "bass.txp").string();
    s.LoadCommand();
    EXPECT_EQ(bar.messages, (Strings{"Save changes to current patch?"}));
    EXPECT_EQ(Note(s), 62);
    EXPECT_TRUE(s.PatchModified());
    bar.answerWithCancel = [](std::string_view) { return CSaveAnswer::No; };
    s.LoadCommand();
    EXPECT_EQ(Note(s), 40);
    EXPECT_FALSE(s.PatchModified());
}

// Why nothing plays, as the bar says it.
TEST_F(KeptEditsTest, SilenceReasonsNameWhatIsMissing) {
    CSession& s = Start();
    EXPECT_EQ(s.SilenceReason(), "");
    s.SetActive(false);
    EXPECT_EQ(s.SilenceReason(), "patch inactive");
    EXPECT_GT(bar.playStateChanges, 0);
    s.SelectOutput(-1);
    EXPECT_EQ(s.SilenceReason(), "no MIDI output chosen, patch inactive");
    stick.Unplug();
    EXPECT_EQ(s.SilenceReason(), "no controller, no MIDI output chosen, patch inactive");
}

// A held automatic arpeggio without clock says it waits; the clock coming ends that.
TEST_F(KeptEditsTest, AHeldArpeggioWithoutClockWaits) {
    CSession& s = Start();
    CPatch& patch = s.PatchForEditing();
    patch.buttons[2].mode = MODE_ARPEGGIATOR;
    patch.buttons[2].autoArpeggiation = 1;
    patch.buttons[2].stepCount = 3;
    stick.SetButton(2, true);
    bar.playStateChanges = 0;
    bar.Advance(200);
    EXPECT_FALSE(s.ArpeggioWaitsForClock());
    bar.Advance(200);
    EXPECT_TRUE(s.ArpeggioWaitsForClock());
    EXPECT_EQ(s.SilenceReason(), "waiting for MIDI clock");
    EXPECT_EQ(bar.playStateChanges, 1);
    s.Engine().HandleMidiInput(platform::midi::kTimingClock);
    bar.Advance(s.Engine().PollTimer().PeriodMs());  // the next tick
    EXPECT_FALSE(s.ArpeggioWaitsForClock());
    stick.SetButton(2, false);
    bar.Advance(1000);
    EXPECT_FALSE(s.ArpeggioWaitsForClock());
}

}  // namespace

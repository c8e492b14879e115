#include "tamborex/session/session.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "fake_joystick.h"
#include "fake_midi.h"
#include "platform/file_io.h"
#include "tamborex/storage/patch_file.h"
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
        Attach(*core, bar);
        core->SetBarPosition(12, 34);  // where the bar is before the bank says
        core->Startup();
        return *core;
    }
    std::string BankPath() const { return (dir / "Tamborex.bnk").string(); }
    // The marks slot 0 of the patch file at path keeps; none when it cannot be read.
    static CPatchMarks SavedMarks(const std::string& path) {
        std::vector<std::uint8_t> bytes;
        int cause = 0;
        std::string name;
        std::array<CPatch, 2> read{};
        EXPECT_TRUE(platform::ReadWholeFile(path, bytes, cause)) << path;
        EXPECT_EQ(ReadPatchFile(bytes, name, read), "") << path;
        return ReadPatchMarks(read[0]);
    }
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
    // The second line says why and what to do.
    const std::string why = "\n" + platform::NoMidiDevicesAdvice(midi, "Tamborex");
    EXPECT_EQ(bar.messages, (std::vector<std::string>{"No joystick devices installed.",
                                                      "No MIDI out devices available." + why,
                                                      "No MIDI in devices available." + why}));
    EXPECT_EQ(CSessionTestAccess::Bank(c).patchNumber, 0);
    EXPECT_EQ(CSessionTestAccess::Bank(c).patchName, "(no patch)");
    EXPECT_EQ(CSessionTestAccess::Bank(c).presets, (std::array<std::int32_t, 4>{0, 1, 2, 3}));
    EXPECT_EQ(CSessionTestAccess::Bank(c).respondToProgramChange, 1);
    EXPECT_EQ(CSessionTestAccess::Bank(c).midiInDevice, -1);
    EXPECT_EQ(bar.log, (std::vector<std::string>{"bank read", "show", "started"}));
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
    bar.Advance(999);
    EXPECT_EQ(bar.hides, 0);
    bar.Advance(1);
    EXPECT_EQ(bar.hides, 1);
}

TEST_F(StartupTest, QuitSavesTheBankBeforeAskingAndNoStillKeepsIt) {
    midi.SetOutputs({"Tamborex", "Synth"});
    midi.SetInputs({"Tamborex"});
    stick.Attach();
    CSession& c = Start();
    c.Rename("Renamed");
    c.MarkPatchModified();
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
    EXPECT_FALSE(c.Engine().patches[0].sysEx.has_value());
    EXPECT_EQ(c.Joystick().initialised, 0);

    bar.messages.clear();
    bar.answer = true;
    CSession again(midi, stick, bar, BankPath());
    Attach(again, bar);
    again.Startup();
    again.MarkPatchModified();
    again.Shutdown();
    EXPECT_EQ(std::count(bar.log.begin(), bar.log.end(), "chooser"), 1);  // Yes: Save command
}

// Quit, Yes to saving the patch, then Cancel in the file chooser: back to the bar, nothing
// released; a later Quit ends normally.
TEST_F(StartupTest, CancellingTheSaveAtQuitKeepsTheSessionGoing) {
    stick.Attach();
    CSession& c = Start();
    c.MarkPatchModified();
    bar.answer = true;
    bar.log.clear();
    EXPECT_FALSE(c.Shutdown());
    EXPECT_EQ(bar.log, (std::vector<std::string>{"chooser"}));  // no tray off, no timer killed
    EXPECT_EQ(c.Joystick().initialised, 1);

    const std::string target = (dir / "kept.txp").string();
    bar.chooserAnswer = target;
    EXPECT_TRUE(c.Shutdown());
    EXPECT_TRUE(fs::exists(target));
    EXPECT_EQ(c.Joystick().initialised, 0);
    // The bank, written after the save, names the file the patch went to.
    CBankState read;
    std::vector<std::string> messages;
    std::ifstream in(BankPath(), std::ios::binary);
    ReadBank(std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), {}), read, messages);
    EXPECT_EQ(read.patchPaths[0], target);
}

// A signal or a logout with unsaved edits: nobody is asked, the edits go to a recovery file, and
// the next start offers them back.
TEST_F(StartupTest, TerminationKeepsUnsavedEditsForTheNextStart) {
    midi.SetOutputs({"Tamborex", "Synth"});
    midi.SetInputs({"Tamborex"});
    stick.Attach();
    CSession& c = Start();
    c.Engine().patches[0].buttons[3].data1 = 77;
    c.Rename("Edited");
    c.MarkPatchModified();
    bar.answer = true;  // a question now would be answered, and so be seen
    bar.messages.clear();
    c.RequestTermination();
    EXPECT_TRUE(c.Shutdown());
    EXPECT_TRUE(bar.messages.empty());
    EXPECT_EQ(std::count(bar.log.begin(), bar.log.end(), "chooser"), 0);
    ASSERT_TRUE(fs::exists(c.RecoveryPath()));
    EXPECT_EQ(fs::path(c.RecoveryPath()).parent_path(), dir);

    bar.answer = true;
    CSession& again = Start();
    ASSERT_EQ(bar.messages.size(), 1u);
    EXPECT_NE(bar.messages[0].find("Restore"), std::string::npos);
    EXPECT_EQ(again.Engine().patches[0].buttons[3].data1, 77);
    EXPECT_EQ(CSessionTestAccess::Bank(again).patchName, "Edited");
    // Restored, not saved: the file stays, so a crash now loses nothing.
    EXPECT_TRUE(fs::exists(again.RecoveryPath()));
    // Quit still offers to save it; declined, the edits are still kept for the next start.
    bar.answer = false;
    bar.messages.clear();
    EXPECT_TRUE(again.Shutdown());
    EXPECT_EQ(bar.messages, (std::vector<std::string>{"Save changes to current patch?"}));
    EXPECT_TRUE(fs::exists(again.RecoveryPath()));

    // Ended (a logout) while the restore question is open: the box closes as "No", but the
    // edits are kept.
    bar.onQuestion = [&] { core->RequestTermination(); };
    Start();
    EXPECT_TRUE(fs::exists(core->RecoveryPath()));
    core->Shutdown();
    bar.onQuestion = nullptr;
    // Restored and then saved: now the file goes.
    bar.answer = true;
    CSession& saving = Start();
    EXPECT_EQ(saving.Engine().patches[0].buttons[3].data1, 77);
    bar.chooserAnswer = (dir / "kept.txp").string();
    ASSERT_TRUE(saving.SaveCommand());
    EXPECT_FALSE(fs::exists(saving.RecoveryPath()));
    EXPECT_FALSE(saving.PatchModified());
    saving.Shutdown();
    bar.chooserAnswer.clear();
    bar.answer = false;

    // Termination while the question is open (the program is told to end as the box closes).
    CSession& third = Start();
    third.PatchForEditing().buttons[3].data1 = 55;
    third.MarkPatchModified();
    bar.answer = false;
    bar.onQuestion = [&] { third.RequestTermination(); };
    EXPECT_TRUE(third.Shutdown());
    EXPECT_TRUE(fs::exists(third.RecoveryPath()));
    // Declined at the next start: the file goes, the bank entry's patch is the one in use.
    bar.onQuestion = nullptr;
    CSession& fourth = Start();
    EXPECT_FALSE(fs::exists(fourth.RecoveryPath()));
    EXPECT_EQ(fourth.Engine().patches[0].buttons[3].data1, 77);  // as saved in kept.txp
}

// Two sessions on a bank that cannot be read: the second goes on from the first one's work, and
// a session bank that cannot be read either is kept beside a new one.
TEST_F(StartupTest, SessionsOnAnUnreadableBankKeepEachOthersWork) {
    ASSERT_EQ(mkfifo(BankPath().c_str(), 0600), 0);
    CSession& first = Start();
    first.Rename("First session");
    ASSERT_TRUE(first.Shutdown());
    bar.messages.clear();
    CSession& second = Start();
    ASSERT_FALSE(bar.messages.empty());
    EXPECT_NE(bar.messages.back().find("bank of the last session"), std::string::npos);
    EXPECT_EQ(second.Bank().patchNames[0], "First session");
    second.Next();
    second.Rename("Second session");
    ASSERT_TRUE(second.Shutdown());
    CBankState read;
    std::vector<std::string> messages;
    std::ifstream in(second.SessionBankPath(), std::ios::binary);
    ReadBank(std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), {}), read, messages);
    EXPECT_EQ(read.patchNames[0], "First session");
    EXPECT_EQ(read.patchNames[1], "Second session");
    in.close();

    // The session bank becomes unreadable too: neither file is touched.
    fs::remove(second.SessionBankPath());
    fs::create_directory(second.SessionBankPath());
    CSession& third = Start();
    third.Rename("Third");
    ASSERT_TRUE(third.Shutdown());
    EXPECT_TRUE(fs::is_fifo(BankPath()));
    EXPECT_TRUE(fs::is_directory(third.SessionBankPath()));
    int dated = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        dated += entry.path().filename().string().starts_with("Tamborex.session-") ? 1 : 0;
    }
    EXPECT_EQ(dated, 1);

    // The bank reads again: it is played, and what the sessions kept is named, not forgotten.
    fs::remove(BankPath());
    WriteBank(CBankState{});
    bar.messages.clear();
    CSession& repaired = Start();
    EXPECT_EQ(repaired.Bank().patchNames[0], "(no patch)");
    EXPECT_NE(std::find_if(bar.messages.begin(), bar.messages.end(),
                           [&](auto& m) {
                               return m.find(repaired.SessionBankPath() + " holds what was kept") !=
                                      std::string::npos;
                           }),
              bar.messages.end());
}

// A bank that exists but cannot be read holds the user's 128 entries: it is never written over.
TEST_F(StartupTest, AnUnreadableBankIsKeptAndTheSessionsBankGoesBesideIt) {
    const fs::path bank = BankPath();
    auto check = [&](const std::string& what) {
        bar.messages.clear();
        CSession& c = Start();
        ASSERT_GE(bar.messages.size(), 1u) << what;
        EXPECT_EQ(bar.messages.back().rfind("File IO error. [", 0), 0u) << what;
        EXPECT_NE(bar.messages.back().find(c.SessionBankPath()), std::string::npos) << what;
        c.Rename("Session");
        bar.messages.clear();
        EXPECT_TRUE(c.Shutdown());
        ASSERT_EQ(bar.messages.size(), 1u) << what;
        EXPECT_NE(bar.messages[0].find("left as it is"), std::string::npos) << what;
        CBankState read;
        std::vector<std::string> messages;
        std::ifstream in(c.SessionBankPath(), std::ios::binary);
        ReadBank(std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), {}), read,
                 messages);
        EXPECT_EQ(read.patchNames[0], "Session") << what;
        fs::remove(c.SessionBankPath());
    };
    ASSERT_EQ(mkfifo(bank.c_str(), 0600), 0);
    check("fifo");
    EXPECT_TRUE(fs::is_fifo(bank));
    fs::remove(bank);

    fs::create_symlink("/dev/zero", bank);
    check("link to /dev/zero");
    EXPECT_TRUE(fs::is_symlink(bank));
    fs::remove(bank);

    WriteBank(CBankState{});
    fs::resize_file(bank, platform::kMaxStoredFileSize + 1);
    check("too large");
    EXPECT_EQ(fs::file_size(bank), platform::kMaxStoredFileSize + 1);
}

// A save killed half-way leaves a temporary beside the bank; the next start removes old ones of
// the program's own pattern only.
TEST_F(StartupTest, StaleTemporariesBesideTheBankAreRemovedAtStart) {
    const fs::path stale = dir / ".Tamborex.bnk.tmp-Ab3xYz";
    const fs::path young = dir / ".Tamborex.bnk.tmp-Qw3rty";
    const fs::path theirs = dir / "Tamborex.bnk.Ab3xYz";  // the user's copy, named like one
    const fs::path other = dir / "Tamborex.bnk.backup";
    for (const fs::path& p : {stale, young, theirs, other}) {
        std::ofstream(p) << "x";
    }
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (const fs::path& p : {stale, theirs, other}) {
        fs::last_write_time(p, old);
    }
    Start();
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(young));  // may be another copy's save in progress
    EXPECT_TRUE(fs::exists(theirs));
    EXPECT_TRUE(fs::exists(other));
}

TEST_F(StartupTest, QuitTurnsOffWhatIsStillSounding) {
    midi.SetOutputs({"Tamborex", "Synth"});
    stick.Attach();
    CSession& c = Start();
    ASSERT_TRUE(CSessionTestAccess::MidiOut(c).Open(1));
    c.Engine().patches[0].active = 1;
    c.Engine().patches[0].buttons[0].mode = MODE_NOTE;
    c.Engine().patches[0].buttons[0].data1 = 64;
    c.Engine().patches[0].buttons[0].data2 = 90;
    c.Engine().ProcessButtonDown(0, 0);
    midi.ClearEvents();
    c.Shutdown();
    EXPECT_EQ(midi.SentBytes(), (std::vector<std::vector<std::uint8_t>>{{0x80, 64, 0}}));
}

// "Load minimized": the bar goes to the tray once, a second after the start, not every second.
TEST_F(StartupTest, ThruIsMadeOnceByTheServiceAndFollowsThePortsAndTheSwitch) {
    midi.SetOutputs({"Tamborex", "Synth", "Other synth"});
    midi.SetInputs({"Tamborex", "Keys"});
    stick.Attach();
    CBankState state;
    state.midiInDevice = 1;
    state.midiThru = 1;
    WriteBank(state);
    CSession& c = Start();
    ASSERT_TRUE(c.SelectOutput(1));
    const auto keys = midi.InputOnDevice(1);
    ASSERT_NE(keys, platform::kNoHandle);
    auto sentTo = [&](int device) {
        std::vector<std::uint32_t> sent;
        for (const auto& e : midi.Events()) {
            if (e.call == platform::FakeMidiService::Call::SendShort &&
                midi.DeviceOf(e.handle) == device) {
                sent.push_back(e.message);
            }
        }
        return sent;
    };
    const std::uint32_t note = platform::PackShortMessage(0x90, 60, 100);
    midi.ClearEvents();
    ASSERT_TRUE(midi.Inject(keys, note));
    EXPECT_EQ(sentTo(1), (std::vector<std::uint32_t>{note}));  // once, not again by the engine

    ASSERT_TRUE(c.SelectOutput(2));
    midi.ClearEvents();
    ASSERT_TRUE(midi.Inject(keys, note));
    EXPECT_EQ(sentTo(2), (std::vector<std::uint32_t>{note}));

    c.SetMidiThru(false);
    midi.ClearEvents();
    ASSERT_TRUE(midi.Inject(keys, note));
    EXPECT_TRUE(sentTo(2).empty());
    EXPECT_EQ(CSessionTestAccess::Bank(c).midiThru, 0);
}

TEST_F(StartupTest, PortsAreFoundByNameAndAMissingOneStaysClosedWithOneMessage) {
    const std::string patch = (dir / "song.txp").string();
    stick.Attach();
    midi.SetOutputs({"Tamborex", "Synth"});
    midi.SetInputs({"Tamborex", "Keys"});
    {
        CSession& c = Start();
        ASSERT_TRUE(c.SelectOutput(1));
        ASSERT_TRUE(c.SelectInput(1));
        ASSERT_TRUE(c.SavePatchFile(patch));
        ASSERT_TRUE(c.SaveBank());
        core.reset();
    }
    // Other clients came first this time: the names are followed.
    midi.SetOutputs({"Tamborex", "Other", "Synth"});
    midi.SetInputs({"Tamborex", "Pads", "Keys"});
    bar.messages.clear();
    {
        CSession& c = Start();
        EXPECT_TRUE(bar.messages.empty());
        EXPECT_EQ(c.Engine().patches[0].outputDevice, 2);
        EXPECT_EQ(CSessionTestAccess::Bank(c).midiInDevice, 2);
        ASSERT_EQ(midi.OpenOutputCount(), 1u);
        EXPECT_NE(midi.InputOnDevice(2), platform::kNoHandle);
        core.reset();
    }
    // Gone: nothing opens at the old index, one message each, and the files keep the names.
    midi.SetOutputs({"Tamborex", "Other"});
    midi.SetInputs({"Tamborex", "Pads"});
    bar.messages.clear();
    CSession& c = Start();
    ASSERT_EQ(bar.messages.size(), 2u);
    EXPECT_NE(bar.messages[0].find("\"Synth\" is missing"), std::string::npos);
    EXPECT_NE(bar.messages[1].find("\"Keys\" is missing"), std::string::npos);
    EXPECT_EQ(midi.OpenOutputCount(), 0u);
    EXPECT_EQ(midi.OpenInputCount(), 0u);
    c.LoadPatchFile(patch, 0);  // the same entry again says nothing new
    EXPECT_EQ(bar.messages.size(), 2u);
    ASSERT_TRUE(c.SavePatchFile(patch));
    ASSERT_TRUE(c.SaveBank());
    core.reset();
    midi.SetOutputs({"Tamborex", "Synth"});
    midi.SetInputs({"Tamborex", "Keys"});
    bar.messages.clear();
    CSession& back = Start();
    EXPECT_TRUE(bar.messages.empty());
    EXPECT_EQ(back.Engine().patches[0].outputDevice, 1);
    ASSERT_EQ(midi.OpenOutputCount(), 1u);
    const auto events = midi.Events();
    const auto open = std::find_if(events.rbegin(), events.rend(), [](const auto& e) {
        return e.call == platform::FakeMidiService::Call::OpenOutput;
    });
    ASSERT_NE(open, events.rend());
    EXPECT_EQ(open->index, 1);
    EXPECT_NE(midi.InputOnDevice(1), platform::kNoHandle);
}

// A JACK port's full name can be longer than a patch file has room for: it is kept whole, so the
// next start finds the port (or names it whole when it is gone), the part the file keeps never
// ends inside a letter, and the controller the patch was made for is not pushed out by it.
TEST_F(StartupTest, ALongPortNameIsKeptWholeAndLeavesTheControllerInThePatch) {
    // The file used to keep 251 bytes of it, which here end half-way through the "é".
    const std::string synth = "Synth with a long client name:" + std::string(220, 'p') +
                              "\xC3\xA9 input " + std::string(40, 'q');
    ASSERT_EQ(static_cast<unsigned char>(synth[250]), 0xC3u);
    const std::string patch = (dir / "long.txp").string();
    stick.Attach();
    midi.SetInputs({"Tamborex"});
    midi.SetOutputs({"Tamborex", synth});
    {
        CSession& c = Start();
        ASSERT_TRUE(c.SelectOutput(1));
        ASSERT_TRUE(c.SavePatchFile(patch));
        ASSERT_TRUE(c.SaveBank());
        core.reset();
    }
    const CPatchMarks marks = SavedMarks(patch);
    EXPECT_EQ(marks.controllerName, "Fake Joystick");
    EXPECT_EQ(marks.controllerGuid, "03000000fa4b0000010000000000fa4b");
    const std::size_t kept = marks.outputPort.size();
    EXPECT_EQ(synth.compare(0, kept, marks.outputPort), 0);
    EXPECT_NE(static_cast<unsigned char>(synth[kept]) & 0xC0, 0x80) << "cut inside a letter";

    midi.SetOutputs({"Tamborex", "Other", synth});
    bar.messages.clear();
    {
        CSession& c = Start();
        EXPECT_TRUE(bar.messages.empty()) << bar.messages[0];
        EXPECT_EQ(c.Engine().patches[0].outputDevice, 2);
        EXPECT_EQ(midi.OpenOutputCount(), 1u);
        core.reset();
    }
    midi.SetOutputs({"Tamborex", "Other"});
    bar.messages.clear();
    Start();
    ASSERT_EQ(bar.messages.size(), 1u);
    EXPECT_NE(bar.messages[0].find("\"" + synth + "\" is missing"), std::string::npos)
        << bar.messages[0];
    // The patch carried to a bank without the whole name still finds its port when it is there.
    core.reset();
    ASSERT_TRUE(fs::remove(dir / kLongPortNamesFile));
    midi.SetOutputs({"Tamborex", synth + "2", synth});
    bar.messages.clear();
    CSession& carried = Start();
    EXPECT_TRUE(bar.messages.empty());
    EXPECT_EQ(carried.Engine().patches[0].outputDevice, 2);
}

// "Tamborex.ini" that cannot be read (a FIFO, a folder, a file past its bound) is refused with a
// message naming it, without waiting, and is left as it is; the session's settings are kept
// beside it, and the next start plays them.
TEST_F(StartupTest, AnUnreadableIniIsSaidAndTheSessionsSettingsAreNotLost) {
    const fs::path ini = dir / kExtraSettingsFile;
    auto check = [&](const std::string& what, const std::string& why) {
        bar.messages.clear();
        CSession& c = Start();
        const auto said = std::find_if(bar.messages.begin(), bar.messages.end(), [&](auto& m) {
            return m.find(ini.string() + " could not be read (" + why) != std::string::npos;
        });
        EXPECT_NE(said, bar.messages.end()) << what;
        c.SetMidiSystem("jack");
        c.SetLowLatencyInput(false);
        ASSERT_TRUE(c.Shutdown());
        CSession& again = Start();
        EXPECT_EQ(again.Extra().midiSystem, "jack") << what;
        EXPECT_FALSE(again.Extra().lowLatencyInput) << what;
        again.Shutdown();
        core.reset();
        fs::remove(dir / "Tamborex.session.ini");
    };
    ASSERT_EQ(mkfifo(ini.c_str(), 0600), 0);
    check("fifo", "not a regular file");
    EXPECT_TRUE(fs::is_fifo(ini));
    fs::remove(ini);

    fs::create_directory(ini);
    check("folder", "not a regular file");
    EXPECT_TRUE(fs::is_directory(ini));
    fs::remove(ini);

    // A link to a drive not mounted is no first run: the link stays for when it is back.
    fs::create_symlink(dir / "unmounted" / kExtraSettingsFile, ini);
    check("dangling link", "a link to a file that does not exist");
    EXPECT_TRUE(fs::is_symlink(ini));
    fs::remove(ini);

    std::ofstream(ini) << "[MIDI]\nSystem=alsa\n" << std::string(64 * 1024, '#');
    const auto size = fs::file_size(ini);
    check("too large", "larger than 64 KB");
    EXPECT_EQ(fs::file_size(ini), size);

    // Readable again: the session's copy is not used, but it is named, not passed over in
    // silence.
    std::ofstream(dir / "Tamborex.session.ini") << "[MIDI]\nSystem=jack\n";
    std::ofstream(ini, std::ios::trunc) << "[MIDI]\nSystem=alsa\n";
    bar.messages.clear();
    CSession& repaired = Start();
    EXPECT_EQ(repaired.Extra().midiSystem, "alsa");
    EXPECT_NE(std::find_if(bar.messages.begin(), bar.messages.end(),
                           [&](auto& m) {
                               return m.find((dir / "Tamborex.session.ini").string() +
                                             " holds what was kept while Tamborex.ini") !=
                                      std::string::npos;
                           }),
              bar.messages.end());
    EXPECT_TRUE(fs::exists(dir / "Tamborex.session.ini"));
}

TEST_F(StartupTest, LoadMinimisedHidesTheBarOnce) {
    CBankState state;
    state.loadMinimized = 1;
    WriteBank(state);
    Start();
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
    EXPECT_EQ(c.Engine().patches[0].pollIntervalCode, 4);
    EXPECT_EQ(c.Engine().PollTimer().PeriodMs(), 100u);
    c.SetActive(false);
    EXPECT_FALSE(c.Engine().PollTimer().Running());
    c.SetActive(true);
    c.SetPollInterval(0);
    EXPECT_TRUE(c.Engine().PollTimer().Running());
    // Low-latency input, on for a new user, sends every change as it comes: the tick is only
    // the fallback.
    EXPECT_EQ(c.Engine().PollTimer().PeriodMs(), CEngine::kLowLatencyTickMs);
    c.SetLowLatencyInput(false);
    EXPECT_EQ(c.Engine().PollTimer().PeriodMs(), 20u);

    ASSERT_TRUE(c.SelectOutput(1));
    EXPECT_EQ(c.Engine().patches[0].outputDevice, 1);
    EXPECT_FALSE(c.SelectOutput(7));
    EXPECT_EQ(c.Engine().patches[0].outputDevice, 1);
}

TEST_F(StartupTest, ControllersComeAndGoWithoutARestartOrAStuckNote) {
    midi.SetOutputs({"Tamborex", "Synth"});
    midi.SetInputs({"Tamborex"});
    CSession& c = Start();
    EXPECT_EQ(bar.messages, (std::vector<std::string>{"No joystick devices installed."}));
    EXPECT_EQ(bar.controller, " (missing)");
    ASSERT_TRUE(c.SelectOutput(1));
    CPatch& patch = c.Engine().patches[0];
    patch.buttons[0].mode = MODE_NOTE;
    patch.buttons[0].data1 = 60;
    patch.buttons[0].data2 = 100;
    patch.buttons[1].mode = MODE_SUSTAIN;
    c.SetActive(true);
    bar.Advance(2000);  // a hundred ticks without a controller: no box
    EXPECT_EQ(bar.messages.size(), 1u);

    // Plugged in: opened and played, without a restart; "Edit" finds it.
    stick.Attach();
    EXPECT_EQ(bar.controller, "Fake Joystick");
    EXPECT_TRUE(c.Joystick().initialised);
    EXPECT_EQ(c.JoystickCaps().size(), 1u);
    midi.ClearEvents();
    stick.SetButton(0, true);
    stick.SetButton(1, true);
    using Bytes = std::vector<std::vector<std::uint8_t>>;
    EXPECT_EQ(midi.SentBytes(), (Bytes{{0x90, 60, 100}, {0xB0, 64, 127}}));

    // Pulled out with the note and the pedal held: both end at once, not at a later tick.
    midi.ClearEvents();
    stick.Unplug();
    EXPECT_EQ(midi.SentBytes(), (Bytes{{0x80, 60, 100}, {0xB0, 64, 0}}));
    EXPECT_EQ(bar.controller, "Fake Joystick (missing)");
    midi.ClearEvents();
    bar.Advance(2000);
    EXPECT_EQ(midi.SentBytes(), Bytes{});
    EXPECT_EQ(bar.messages.size(), 1u);

    // Back again, at rest: it plays again.
    stick.SetButton(0, false);
    stick.SetButton(1, false);
    stick.Attach();
    EXPECT_EQ(bar.controller, "Fake Joystick");
    stick.SetButton(0, true);
    EXPECT_EQ(midi.SentBytes(), (Bytes{{0x90, 60, 100}}));

    // A patch saved now remembers the controller; Quit loses nothing of the bank.
    const std::string patchPath = (dir / "pad.txp").string();
    ASSERT_TRUE(c.SavePatchFile(patchPath));
    EXPECT_EQ(SavedMarks(patchPath).controllerName, "Fake Joystick");
    EXPECT_EQ(SavedMarks(patchPath).controllerGuid, "03000000fa4b0000010000000000fa4b");
    ASSERT_TRUE(c.Shutdown());
    EXPECT_EQ(bar.messages.size(), 1u);
    std::vector<std::uint8_t> bytes;
    int cause = 0;
    ASSERT_TRUE(platform::ReadWholeFile(BankPath(), bytes, cause));
    CBankState bank;
    std::vector<std::string> problems;
    ReadBank(bytes, bank, problems);
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(bank.patchPaths[0], patchPath);
}

}  // namespace

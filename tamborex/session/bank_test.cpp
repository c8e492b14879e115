#include "tamborex/session/session.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "fake_joystick.h"
#include "fake_midi.h"
#include "tamborex/storage/archive.h"
#include "tamborex/storage/patch_file.h"
#include "tamborex/testing/test_window.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Call = platform::FakeMidiService::Call;

std::int32_t IntAt(const Bytes& bytes, std::size_t offset) {
    std::int32_t v;
    std::memcpy(&v, bytes.data() + offset, 4);
    return v;
}

Bytes FileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

fs::path FreshFolder() {
    const fs::path dir = fs::temp_directory_path() /
                         ("tamborex-bank-" + std::to_string(getpid()) + "-" +
                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

platform::FakeMidiService& WithOutputs(platform::FakeMidiService& midi) {
    midi.SetOutputs({"Tamborex", "Synth", "Other"});
    return midi;
}

class SessionBankTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Attach(session, bar);
        stick.Attach();
        joystick.Init();
    }
    void TearDown() override {
        fs::permissions(dir, fs::perms::owner_all);
        fs::remove_all(dir);
    }

    // A patch file whose slot 0 plays on the given device.
    std::string MakePatch(const std::string& file, const std::string& name, std::int16_t device,
                          std::int32_t active = 1) {
        std::array<CPatch, 2> slots;
        slots[0].outputDevice = device;
        slots[0].active = active;
        slots[0].axes[AXIS_Z].min = 10;
        slots[0].axes[AXIS_Z].max = 20;
        slots[0].buttons[0].mode = MODE_NOTE;
        slots[0].buttons[0].data1 = 60;
        slots[0].buttons[0].data2 = 100;
        const std::string path = (dir / file).string();
        WriteBytes(path, FormatPatchFile(name, slots));
        return path;
    }

    fs::path dir = FreshFolder();
    platform::FakeMidiService midi;
    platform::FakeJoystickService stick;
    CTestWindow bar;
    CSession session{WithOutputs(midi), stick, bar, (dir / "Tamborex.bnk").string()};
    CWinMIDIOut& out = CSessionTestAccess::MidiOut(session);
    CJoystick& joystick = session.Joystick();
    CEngine& engine = session.Engine();
};

TEST_F(SessionBankTest, FirstRunWritesAnExact1604ByteBank) {
    session.LoadBank();
    EXPECT_TRUE(bar.messages.empty());
    EXPECT_EQ(CSessionTestAccess::Bank(session).patchNames[0], "(no patch)");
    session.SetJoyOptionsPosition(33, 44);
    ASSERT_TRUE(session.SaveBank());
    const Bytes file = FileBytes(dir / "Tamborex.bnk");
    ASSERT_EQ(file.size(), 1604u);
    EXPECT_EQ(IntAt(file, 0), 0);   // patchNumber
    EXPECT_EQ(IntAt(file, 4), -1);  // midiInDevice
    EXPECT_EQ(IntAt(file, 8), 1);   // respondToProgramChange
    EXPECT_EQ(IntAt(file, 12), 0);
    EXPECT_EQ(IntAt(file, 24), 3);  // preset 4
    EXPECT_EQ(file[28], 10);
    EXPECT_EQ(std::string(file.begin() + 29, file.begin() + 39), "(no patch)");
    EXPECT_EQ(file[39], 0);  // empty path
    const std::size_t tail = 28 + 128 * 12;
    EXPECT_EQ(IntAt(file, tail), 201);
    EXPECT_EQ(IntAt(file, tail + 32), 33);  // joyOptionsPos where the dialog was
    EXPECT_EQ(IntAt(file, tail + 36), 44);
}

TEST_F(SessionBankTest, EverySettingSurvivesSaveAndLoad) {
    CBankState& s = CSessionTestAccess::Bank(session);
    s.patchNumber = 5;
    s.patchName = "Brass";
    s.patchPaths[5] = "/songs/brass.txp";
    s.presets = {5, 6, 7, 127};
    s.midiInDevice = 2;
    s.respondToProgramChange = 0;
    s.formatTag = 777;
    s.alwaysOnTop = 1;
    s.midiThru = 1;
    s.barPos = {100, 200};
    s.secondPos = {-3, -4};
    s.loadMinimized = 1;
    ASSERT_TRUE(session.SaveBank());
    const Bytes first = FileBytes(dir / "Tamborex.bnk");
    CBankState read;
    std::vector<std::string> messages;
    ReadBank(first, read, messages);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(read.patchNames[5], "Brass");
    EXPECT_EQ(FormatBank(read), first);
}

TEST_F(SessionBankTest, OldBankWithoutItsTailConvertsOnTheNextSave) {
    CBankState old;
    old.patchNumber = 2;
    old.patchNames[2] = "Strings";
    old.presets = {9, 8, 7, 6};
    Bytes bytes = FormatBank(old);
    bytes.resize(bytes.size() - 40);
    WriteBytes(dir / "Tamborex.bnk", bytes);
    session.LoadBank();
    EXPECT_EQ(bar.messages, (std::vector<std::string>{"Old Tamborex bank file: will convert"}));
    EXPECT_EQ(CSessionTestAccess::Bank(session).patchName, "Strings");
    EXPECT_EQ(CSessionTestAccess::Bank(session).presets[3], 6);
    EXPECT_EQ(CSessionTestAccess::Bank(session).formatTag, 201);
    ASSERT_TRUE(session.SaveBank());
    EXPECT_EQ(FileBytes(dir / "Tamborex.bnk").size(), bytes.size() + 40);
}

TEST_F(SessionBankTest, DamagedBanksAreBroughtIntoRangeWithAMessage) {
    CBankState hostile;
    hostile.patchNumber = 500;
    hostile.presets = {0, -2, 1, 128};
    WriteBytes(dir / "Tamborex.bnk", FormatBank(hostile));
    session.LoadBank();
    EXPECT_EQ(bar.messages.size(), 3u);
    EXPECT_EQ(CSessionTestAccess::Bank(session).patchNumber, 127);
    EXPECT_EQ(CSessionTestAccess::Bank(session).presets,
              (std::array<std::int32_t, 4>{0, 0, 1, 127}));

    bar.messages.clear();
    Bytes cut = FormatBank(CBankState{});
    cut.resize(100);  // inside the entries
    WriteBytes(dir / "Tamborex.bnk", cut);
    session.LoadBank();
    ASSERT_EQ(bar.messages.size(), 1u);
    EXPECT_EQ(bar.messages[0].rfind("Archive error: [3]", 0), 0u);
    EXPECT_NE(bar.messages[0].find("ends after"), std::string::npos);
}

TEST_F(SessionBankTest, LoadPatchFileClosesReadsReopensActivatesAndSetsRanges) {
    const std::string path = MakePatch("lead.txp", "Lead", 2);
    engine.patches[0].outputDevice = 1;
    ASSERT_TRUE(out.Open(1));
    midi.ClearEvents();
    EXPECT_EQ(session.LoadPatchFile(path, 9), 1);
    const auto events = midi.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].call, Call::CloseOutput);
    EXPECT_EQ(events[1].call, Call::OpenOutput);
    EXPECT_EQ(events[1].index, 2);
    EXPECT_EQ(CSessionTestAccess::Bank(session).patchName, "Lead");
    EXPECT_EQ(CSessionTestAccess::Bank(session).patchNames[9], "Lead");
    EXPECT_EQ(engine.patches[0].active, 1);
    EXPECT_TRUE(engine.PollTimer().Running());
    EXPECT_EQ(engine.PollTimer().PeriodMs(), 40u);
    stick.SetAxis(AXIS_Z, 32767);
    ASSERT_TRUE(joystick.Poll());
    ASSERT_TRUE(joystick.Poll());
    EXPECT_EQ(joystick.state.axes[AXIS_Z], 20);  // the stored range applies
}

TEST_F(SessionBankTest, LoadPatchFileFailuresAndTheNoDevicePatch) {
    EXPECT_EQ(session.LoadPatchFile("", 0), 1);
    EXPECT_EQ(session.LoadPatchFile((dir / "missing.txp").string(), 0), 0);
    EXPECT_EQ(bar.messages, (std::vector<std::string>{"Error opening patch file.\n" +
                                                      (dir / "missing.txp").string() +
                                                      " could not be read (No such file or "
                                                      "directory)."}));

    const std::string silent = MakePatch("silent.txp", "Silent", -1, 0);
    EXPECT_EQ(session.LoadPatchFile(silent, 0), 1);  // -1 counts as opened
    EXPECT_EQ(out.CurrentDevice(), -1);
    EXPECT_FALSE(engine.PollTimer().Running());  // inactive: polling stops

    const std::string broken = MakePatch("broken.txp", "Broken", 7);
    bar.messages.clear();
    EXPECT_EQ(session.LoadPatchFile(broken, 0), 0);
    EXPECT_EQ(bar.messages,
              (std::vector<std::string>{"Error setting midi out dev: CMIDI Error:Bad device ID"}));
    EXPECT_EQ(CSessionTestAccess::Bank(session).patchName, "Broken");  // loaded all the same
}

// A refused file, whatever the reason, leaves the patch in use playing: same patch, same open
// port, same polling. A FIFO is refused without waiting on it.
TEST_F(SessionBankTest, ARefusedPatchFileChangesNothing) {
    ASSERT_EQ(session.LoadPatchFile(MakePatch("lead.txp", "Lead", 1), 0), 1);
    const std::string notAPatch = (dir / "notes.txt").string();
    WriteBytes(notAPatch, {'h', 'i'});
    const std::string fifo = (dir / "fifo.txp").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string damaged = (dir / "damaged.txp").string();
    Bytes cut = FileBytes(MakePatch("whole.txp", "Whole", 2));
    cut.resize(cut.size() / 2);
    WriteBytes(damaged, cut);
    session.LoadBank();
    CSessionTestAccess::Bank(session).patchPaths[5] = fifo;
    for (const auto& [path, reason] :
         std::vector<std::pair<std::string, std::string>>{{notAPatch, "not a Tamborex patch"},
                                                          {fifo, "not a regular file"},
                                                          {damaged, "not a Tamborex patch"}}) {
        midi.ClearEvents();
        bar.messages.clear();
        bar.log.clear();
        EXPECT_EQ(session.LoadPatchFile(path, 0), 0) << path;
        ASSERT_EQ(bar.messages.size(), 1u) << path;
        EXPECT_NE(bar.messages[0].find(path), std::string::npos) << bar.messages[0];
        EXPECT_NE(bar.messages[0].find(reason), std::string::npos) << bar.messages[0];
        EXPECT_TRUE(midi.Events().empty()) << path;         // no note off, no close, no reopen
        EXPECT_TRUE(engine.PollTimer().Running()) << path;  // polling not touched
        EXPECT_EQ(engine.PollTimer().PeriodMs(), 40u) << path;
        EXPECT_EQ(CSessionTestAccess::Bank(session).patchName, "Lead");
        EXPECT_EQ(out.CurrentDevice(), 1);
        EXPECT_EQ(engine.patches[0].buttons[0].data1, 60);
    }
    // Program change to an entry whose file is a FIFO: refused at once, the patch plays on.
    CSessionTestAccess::Bank(session).midiThru = 0;
    engine.OnMidiInput(0xC0 | (5 << 8), 0);
    EXPECT_EQ(CSessionTestAccess::Bank(session).patchNumber, 5);
    EXPECT_EQ(out.CurrentDevice(), 1);
    ASSERT_TRUE(joystick.Poll());
    stick.SetButton(0, true);
    midi.ClearEvents();
    engine.PollJoystick();
    EXPECT_EQ(midi.SentBytes(), (std::vector<Bytes>{{0x90, 60, 100}}));
}

TEST_F(SessionBankTest, SelectingEntriesPresetsAndSteppingAtTheEnds) {
    CSessionTestAccess::Bank(session).patchPaths[1] = MakePatch("one.txp", "One", 1);
    CSessionTestAccess::Bank(session).patchNames[3] = "Pathless";
    CSessionTestAccess::Bank(session).presets = {1, 3, 0, 127};
    session.Preset(0);
    EXPECT_EQ(CSessionTestAccess::Bank(session).patchNumber, 1);
    EXPECT_EQ(CSessionTestAccess::Bank(session).patchName, "One");
    EXPECT_EQ(engine.patches[0].buttons[0].data1, 60);
    session.Preset(1);  // no path: the name changes, the loaded patch stays
    EXPECT_EQ(CSessionTestAccess::Bank(session).patchName, "Pathless");
    EXPECT_EQ(engine.patches[0].buttons[0].data1, 60);
    EXPECT_EQ(out.CurrentDevice(), 1);
    session.Preset(2);
    session.Previous();
    EXPECT_EQ(CSessionTestAccess::Bank(session).patchNumber, 0);
    session.Preset(3);
    session.Next();
    EXPECT_EQ(CSessionTestAccess::Bank(session).patchNumber, 127);
    session.Previous();
    EXPECT_EQ(CSessionTestAccess::Bank(session).patchNumber, 126);
    EXPECT_EQ(bar.log.back(), "show");
}

TEST_F(SessionBankTest, RenamingReachesTheBankFileWithoutSavingThePatch) {
    CSessionTestAccess::Bank(session).patchNumber = 4;
    session.Rename("My lead");
    ASSERT_TRUE(session.SaveBank());
    CBankState read;
    std::vector<std::string> messages;
    ReadBank(FileBytes(dir / "Tamborex.bnk"), read, messages);
    EXPECT_EQ(read.patchNames[4], "My lead");
}

// The chooser opens where the entry's patch is: a path the bank keeps without its folder (as a
// session manager's saves keep them) is in the bank's folder, not the working folder, where a
// file of the same name filled in would be written over with one "Yes"; an entry without a patch
// opens the bank's folder.
TEST_F(SessionBankTest, TheChooserOpensInTheBanksFolderWhateverTheWorkingFolder) {
    ASSERT_NE(fs::current_path(), dir);
    CSessionTestAccess::Bank(session).patchPaths[0] = "Entry 0.txp";
    session.SaveCommand();
    EXPECT_EQ(bar.chooserInitial, (dir / "Entry 0.txp").string());
    session.LoadCommand();
    EXPECT_EQ(bar.chooserInitial, (dir / "Entry 0.txp").string());
    CSessionTestAccess::Bank(session).patchPaths[0].clear();
    session.SaveCommand();
    EXPECT_EQ(bar.chooserInitial, (dir / "").string());
}

TEST_F(SessionBankTest, SaveCommandWritesThePatchAndRemembersItsPath) {
    CSessionTestAccess::Bank(session).patchName = "Saved";
    CSessionTestAccess::Bank(session).patchPaths[0] = "/previous.txp";
    bar.chooserAnswer = (dir / "saved.txp").string();
    session.SaveCommand();
    EXPECT_EQ(bar.chooserInitial, "/previous.txp");
    EXPECT_EQ(bar.chooserFilter, "Tamborex Patch (*.txp) | *.txp");
    EXPECT_EQ(bar.chooserExtension, "*.txp");
    EXPECT_EQ(CSessionTestAccess::Bank(session).patchPaths[0], bar.chooserAnswer);
    EXPECT_EQ(bar.log.back(), "saved");
    EXPECT_EQ(FileBytes(bar.chooserAnswer).size(), 1u + 5u + 2u * 4648u);
    bar.chooserAnswer.clear();  // cancelled
    session.LoadCommand();
    EXPECT_TRUE(bar.messages.empty());
}

// A session manager's save keeps the whole session in the bank's folder without writing over a
// file that is not the patch's own: an entry without a file gets one, a patch from elsewhere
// whose name is taken there takes a name of its own, and a patch that lives there is saved in
// place.
TEST_F(SessionBankTest, SaveAllKeepsThePatchInTheFolderAndWritesOverNoOtherFile) {
    session.LoadBank();
    std::string error;
    session.SetAxisController(0, 9);
    ASSERT_TRUE(session.SaveAll(error)) << error;
    EXPECT_FALSE(session.PatchModified());
    // By its name alone: the folder can be copied or renamed whole.
    EXPECT_EQ(CSessionTestAccess::Bank(session).patchPaths[0], "Entry 0.txp");
    EXPECT_TRUE(fs::exists(dir / "Entry 0.txp"));
    EXPECT_EQ(bar.modifiedStates, (std::vector<bool>{true, false}));

    const fs::path elsewhere = dir / "elsewhere";
    fs::create_directories(elsewhere);
    const std::string theirs = (dir / "lead.txp").string();
    WriteBytes(theirs, {'m', 'i', 'n', 'e'});
    CSessionTestAccess::Bank(session).patchPaths[0] = MakePatch("elsewhere/lead.txp", "Lead", 1);
    session.MarkPatchModified();
    ASSERT_TRUE(session.SaveAll(error)) << error;
    EXPECT_EQ(FileBytes(theirs), (Bytes{'m', 'i', 'n', 'e'}));
    const std::string saved = CSessionTestAccess::Bank(session).patchPaths[0];
    EXPECT_EQ(saved, "lead 2.txp");
    EXPECT_GT(FileBytes(dir / saved).size(), 4u);

    session.SetButtonMode(2, 1);
    ASSERT_TRUE(session.SaveAll(error)) << error;
    EXPECT_EQ(CSessionTestAccess::Bank(session).patchPaths[0], saved);  // its own file, in place
    EXPECT_FALSE(fs::exists(dir / "lead 3.txp"));

    // The folder moved whole: the entry's patch is found in its new place.
    const fs::path moved = dir.string() + "-moved";
    fs::remove_all(moved);
    fs::rename(dir, moved);
    CTestWindow elsewhereBar;
    CSession again(midi, stick, elsewhereBar, (moved / "Tamborex.bnk").string());
    again.LoadBank();
    EXPECT_EQ(again.LoadPatchFile(again.Bank().patchPaths[0], 0), 1);
    EXPECT_TRUE(elsewhereBar.messages.empty());
    EXPECT_EQ(again.Patch().buttons[2].mode, 1);
    fs::rename(moved, dir);
}

TEST_F(SessionBankTest, FailedWritesAreReportedAndTheOldFilesStay) {
    ASSERT_TRUE(session.SaveBank());
    const Bytes before = FileBytes(dir / "Tamborex.bnk");
    ASSERT_TRUE(session.SavePatchFile((dir / "p.txp").string()));
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
    if (geteuid() != 0) {
        CSessionTestAccess::Bank(session).patchName = "Changed";
        EXPECT_FALSE(session.SaveBank());
        EXPECT_FALSE(session.SavePatchFile((dir / "p.txp").string()));
        EXPECT_EQ(bar.messages[0], "Tamborex: Error opening bank file for writing.");
        EXPECT_EQ(bar.messages[1], "Can't open file " + (dir / "p.txp").string() + " for writing!");
    }
    fs::permissions(dir, fs::perms::owner_all);
    EXPECT_EQ(FileBytes(dir / "Tamborex.bnk"), before);
    // A path that is a folder cannot be replaced, even by root.
    fs::create_directories(dir / "folder.txp");
    EXPECT_FALSE(session.SavePatchFile((dir / "folder.txp").string()));
    EXPECT_TRUE(fs::is_directory(dir / "folder.txp"));
    // The settings beside a bank that cannot be written are written all the same.
    fs::remove(dir / "Tamborex.bnk");
    fs::create_directories(dir / "Tamborex.bnk");
    session.SetOscSettings("127.0.0.1:9001", "9000");
    EXPECT_FALSE(session.SaveBank());
    auto settingsIn = [&](const char* name) {
        std::ifstream file(dir / name);
        return std::string{std::istreambuf_iterator<char>(file), {}};
    };
    EXPECT_NE(settingsIn("Tamborex.ini").find("OscOut=127.0.0.1:9001"), std::string::npos);
    // Settings that cannot be written go beside, where the next start looks for them.
    fs::remove_all(dir / "Tamborex.bnk");
    fs::remove(dir / "Tamborex.ini");
    fs::create_directories(dir / "Tamborex.ini");
    bar.messages.clear();
    EXPECT_TRUE(session.SaveBank());
    EXPECT_FALSE(session.SettingsSaveFailed());
    ASSERT_EQ(bar.messages.size(), 1u);
    EXPECT_NE(bar.messages[0].find("The settings were saved to " +
                                   (dir / "Tamborex.session.ini").string()),
              std::string::npos)
        << bar.messages[0];
    EXPECT_NE(settingsIn("Tamborex.session.ini").find("OscOut=127.0.0.1:9001"), std::string::npos);
}

TEST_F(SessionBankTest, ANoteHeldAcrossAPatchSwitchIsTurnedOffOnTheOldPort) {
    CSessionTestAccess::Bank(session).patchPaths[0] = MakePatch("zero.txp", "Zero", 1);
    CSessionTestAccess::Bank(session).patchPaths[1] = MakePatch("one.txp", "One", 2);
    session.SelectPatch();
    engine.ProcessButtonDown(0, 0);  // note 60 on, held
    midi.ClearEvents();
    session.Next();
    const auto events = midi.Events();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[0].call, Call::SendShort);
    EXPECT_EQ(events[0].message, platform::PackShortMessage(0x80, 60, 0));
    EXPECT_EQ(events[1].call, Call::CloseOutput);
    EXPECT_EQ(events[0].handle, events[1].handle);
    EXPECT_EQ(events[2].call, Call::OpenOutput);
    EXPECT_EQ(events[2].index, 2);
}

TEST_F(SessionBankTest, ProgramChangeAndPatchButtonsSwitchThroughTheBank) {
    CSessionTestAccess::Bank(session).patchPaths[6] = MakePatch("six.txp", "Six", 1);
    CSessionTestAccess::Bank(session).midiThru = 0;
    engine.HandleMidiInput(platform::PackShortMessage(0xC0, 6));
    EXPECT_EQ(CSessionTestAccess::Bank(session).patchNumber, 6);
    EXPECT_EQ(CSessionTestAccess::Bank(session).patchName, "Six");
    engine.patches[0].buttons[1].mode = MODE_PATCH_CHANGE;
    engine.patches[0].buttons[1].data1 = 2;
    engine.ProcessButtonDown(1, 0);
    EXPECT_EQ(CSessionTestAccess::Bank(session).patchNumber, 2);
}

}  // namespace

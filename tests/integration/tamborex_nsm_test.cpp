// Tamborex under a session manager, as one runs it: the real program started with NSM_URL
// pointing at a fake manager written with liblo, on the private JACK server.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "fake_joystick.h"
#include "fake_midi.h"
#include "jack_server.h"
#include "nsm_fake_server.h"
#include "platform/file_io.h"
#include "platform/file_lock.h"
#include "tamborex/app/nsm_link.h"
#include "tamborex/storage/bank_file.h"
#include "tamborex/storage/patch_file.h"
#include "tamborex/storage/port_names.h"
#include "tamborex/testing/loop_ui_thread.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::ChildProcess;
using testsupport::NsmFakeServer;

fs::path Folder(const std::string& name) {
    const fs::path dir =
        fs::temp_directory_path() / ("tamborex-nsm-" + std::to_string(getpid()) + "-" + name);
    fs::remove_all(dir);
    return dir;
}

bool HasClient(const std::string& client) {
    return testsupport::ClientOnServer(client);
}

template <typename Done>
bool WaitFor(Done done, std::chrono::milliseconds timeout = 20s) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

CBankState ReadBankAt(const fs::path& path) {
    CBankState bank;
    std::vector<std::uint8_t> bytes;
    std::vector<std::string> messages;
    int cause = 0;
    EXPECT_TRUE(platform::ReadWholeFile(path.string(), bytes, cause)) << path;
    ReadBank(bytes, bank, messages);
    return bank;
}

ChildProcess::Options Program(const NsmFakeServer& nsm, const fs::path& errors, bool headless) {
    ChildProcess::Options options;
    options.argv = {TAMBOREX_PROGRAM, "--midi=jack"};
    options.set = {{"NSM_URL", nsm.Url()}};
    options.errorFile = errors.string();
    if (headless) {
        options.argv.push_back("--headless");
        options.unset = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    } else {
        options.set.emplace_back("QT_QPA_PLATFORM", "offscreen");
    }
    return options;
}

// The window program: announce, nothing of it on JACK until the open, the open of a new folder,
// the client id in the graph, save, show and hide, and SIGTERM.
TEST(TamborexUnderNsm, TheWindowProgramFollowsTheSessionFromAnnounceToSigterm) {
    ASSERT_FALSE(testsupport::FixtureJackServer().empty()) << "run through ctest";
    NsmFakeServer nsm;
    ASSERT_TRUE(nsm.Running());
    const fs::path dir = Folder("window");
    const fs::path errors =
        fs::temp_directory_path() / ("tamborex-nsm-window-" + std::to_string(getpid()) + ".txt");
    ChildProcess program(Program(nsm, errors, false));
    ASSERT_TRUE(program.Started());

    const auto announce = nsm.WaitFor("/nsm/server/announce");
    ASSERT_TRUE(announce.has_value());
    EXPECT_EQ(announce->types, "sssiii");
    EXPECT_EQ(announce->Text(0), "Tamborex");
    EXPECT_EQ(announce->Text(1), ":dirty:optional-gui:");
    EXPECT_EQ(announce->Text(2), "tamborex");
    EXPECT_EQ(announce->Int(3), 1);
    EXPECT_EQ(announce->Int(4), 2);
    EXPECT_EQ(announce->Int(5), program.Pid());
    std::this_thread::sleep_for(500ms);  // time it would have had to register a client
    EXPECT_FALSE(HasClient("Tamborex"));
    EXPECT_FALSE(HasClient("tbx-nsm-window"));

    ASSERT_TRUE(nsm.Open(dir.string(), "Tamborex", "tbx-nsm-window"));
    const auto opened = nsm.WaitForAnswer("/nsm/client/open");
    ASSERT_TRUE(opened.has_value());
    EXPECT_EQ(opened->path, "/reply");
    EXPECT_EQ(opened->Text(1), "OK");
    EXPECT_TRUE(fs::is_directory(dir));
    EXPECT_TRUE(WaitFor([] { return HasClient("tbx-nsm-window"); }));
    EXPECT_FALSE(HasClient("Tamborex"));
    EXPECT_TRUE(nsm.WaitFor("/nsm/client/gui_is_shown").has_value());

    ASSERT_TRUE(nsm.Save());
    const auto saved = nsm.WaitForAnswer("/nsm/client/save");
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(saved->path, "/reply");
    EXPECT_TRUE(fs::exists(dir / kBankFileName));
    EXPECT_TRUE(fs::exists(dir / kExtraSettingsFile));

    ASSERT_TRUE(nsm.HideGui());
    EXPECT_TRUE(nsm.WaitFor("/nsm/client/gui_is_hidden").has_value());
    ASSERT_TRUE(nsm.ShowGui());
    EXPECT_TRUE(nsm.WaitFor("/nsm/client/gui_is_shown", 2).has_value());
    EXPECT_EQ(program.Wait(0ms), -1) << "hiding the window ended the program";

    fs::remove(dir / kBankFileName);
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(20s), 0);
    EXPECT_TRUE(fs::exists(dir / kBankFileName)) << "SIGTERM did not save";
    EXPECT_FALSE(HasClient("tbx-nsm-window"));
    if (!HasFailure()) {
        fs::remove_all(dir);
        fs::remove(errors);
    }
}

// Without a window there is no optional GUI to offer; an existing session folder is played as
// it was saved.
TEST(TamborexUnderNsm, HeadlessOpensAnExistingFolderAndOffersNoWindow) {
    ASSERT_FALSE(testsupport::FixtureJackServer().empty()) << "run through ctest";
    NsmFakeServer nsm;
    const fs::path dir = Folder("headless");
    fs::create_directories(dir);
    CBankState bank;
    bank.patchNumber = 7;
    bank.patchNames[7] = "Session entry";
    int cause = 0;
    platform::WriteStage stage{};
    ASSERT_TRUE(platform::WriteFileAtomically((dir / kBankFileName).string(), FormatBank(bank),
                                              cause, stage));
    const fs::path errors = dir / "stderr.txt";
    ChildProcess program(Program(nsm, errors, true));
    const auto announce = nsm.WaitFor("/nsm/server/announce");
    ASSERT_TRUE(announce.has_value());
    EXPECT_EQ(announce->Text(1), ":dirty:");
    ASSERT_TRUE(nsm.Open(dir.string(), "Tamborex", "tbx-nsm-headless"));
    const auto opened = nsm.WaitForAnswer("/nsm/client/open");
    ASSERT_TRUE(opened.has_value());
    EXPECT_EQ(opened->path, "/reply");
    EXPECT_TRUE(WaitFor([] { return HasClient("tbx-nsm-headless"); }));
    ASSERT_TRUE(nsm.Save());
    ASSERT_TRUE(nsm.WaitForAnswer("/nsm/client/save").has_value());
    const CBankState read = ReadBankAt(dir / kBankFileName);
    EXPECT_EQ(read.patchNumber, 7);
    EXPECT_EQ(read.patchNames[7], "Session entry");
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(20s), 0);
    if (!HasFailure()) {
        fs::remove_all(dir);
    }
}

// The unsaved state as the manager sees it: an edit makes the client dirty, a save writes the
// patch into the session folder and makes it clean, and the bank names the file it went to.
TEST(TamborexUnderNsm, DirtyAndCleanFollowThePatchAndSaveKeepsItInTheFolder) {
    NsmFakeServer nsm;
    const fs::path dir = Folder("dirty");
    platform::FakeMidiService midi;
    midi.SetOutputs({"Tamborex", "Synth"});
    platform::FakeJoystickService stick;
    stick.Attach();
    CLoopUiThread ui;
    CSession* session = nullptr;
    CNsmLink link(ui, std::nullopt,
                  {[&](CTamborexCore& core) {
                       session = &core.Session();
                       session->Startup();
                   },
                   {}},
                  [&](const CTamborexCore::Options& options) {
                      EXPECT_EQ(options.clientName, "tbx-nsm-dirty");
                      return std::make_unique<CTamborexCore>(ui, midi, stick, options.bankPath);
                  });
    std::string error;
    ASSERT_TRUE(link.Start(nsm.Url(), error)) << error;
    ASSERT_TRUE(nsm.WaitForAnnounce());
    ASSERT_TRUE(nsm.Open(dir.string(), "Tamborex", "tbx-nsm-dirty"));
    auto runUntil = [&](auto done) {
        for (int i = 0; i < 2000 && !done(); ++i) {
            ui.RunFor(10ms);
        }
        return done();
    };
    ASSERT_TRUE(runUntil([&] { return !nsm.Messages("/reply").empty(); }));
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(session->BankPath(), (dir / kBankFileName).string());

    session->SetAxisController(0, 9);
    EXPECT_TRUE(runUntil([&] { return !nsm.Messages("/nsm/client/is_dirty").empty(); }));
    session->SetButtonMode(0, 1);  // still dirty: said once
    ASSERT_TRUE(nsm.Save());
    ASSERT_TRUE(runUntil([&] { return !nsm.Messages("/nsm/client/is_clean").empty(); }));
    EXPECT_EQ(nsm.Messages("/nsm/client/is_dirty").size(), 1u);
    const auto saved = nsm.WaitForAnswer("/nsm/client/save");
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(saved->path, "/reply");
    EXPECT_FALSE(session->PatchModified());
    // The entry had no file: the patch is kept in the session's folder, and the bank says so.
    const CBankState bank = ReadBankAt(dir / kBankFileName);
    const fs::path patch = dir / bank.patchPaths[0];
    EXPECT_EQ(bank.patchPaths[0], "Entry 0.txp");
    std::vector<std::uint8_t> bytes;
    int cause = 0;
    ASSERT_TRUE(platform::ReadWholeFile(patch.string(), bytes, cause));
    std::string name;
    std::array<CPatch, 2> slots;
    EXPECT_EQ(ReadPatchFile(bytes, name, slots), "");
    EXPECT_EQ(slots[0].axes[0].controller, 9);
    session->Shutdown();
    fs::remove_all(dir);
}

// A session folder that another Tamborex plays is not opened: the manager hears which one has
// it, and the client stays ready to open the folder once it is free.
TEST(TamborexUnderNsm, AFolderAnotherTamborexPlaysIsRefusedAsLocked) {
    NsmFakeServer nsm;
    const fs::path dir = Folder("locked");
    fs::create_directories(dir);
    platform::FileLock held;
    long holder = 0;
    int cause = 0;
    ASSERT_EQ(held.Take((dir / kBankLockFile).string(), holder, cause),
              platform::FileLock::Result::Taken);
    platform::FakeMidiService midi;
    platform::FakeJoystickService stick;
    CLoopUiThread ui;
    int made = 0;
    CSession* session = nullptr;
    CNsmLink link(ui, std::nullopt,
                  {[&](CTamborexCore& core) {
                       session = &core.Session();
                       session->Startup();
                   },
                   {}},
                  [&](const CTamborexCore::Options& options) {
                      ++made;
                      return std::make_unique<CTamborexCore>(ui, midi, stick, options.bankPath);
                  });
    std::string error;
    ASSERT_TRUE(link.Start(nsm.Url(), error)) << error;
    ASSERT_TRUE(nsm.WaitForAnnounce());
    auto runUntil = [&](auto done) {
        for (int i = 0; i < 2000 && !done(); ++i) {
            ui.RunFor(10ms);
        }
        return done();
    };
    ASSERT_TRUE(nsm.Open(dir.string(), "Tamborex", "tbx-nsm-locked"));
    ASSERT_TRUE(runUntil([&] { return !nsm.Messages("/error").empty(); }));
    const testsupport::OscMessage refused = nsm.Messages("/error").front();
    EXPECT_EQ(refused.Int(1), platform::kNsmErrSessionLocked);
    EXPECT_NE(refused.Text(2).find("(process " + std::to_string(getpid()) + ")"), std::string::npos)
        << refused.Text(2);
    EXPECT_EQ(made, 0);
    EXPECT_FALSE(fs::exists(dir / kBankFileName));

    held.Release();
    ASSERT_TRUE(nsm.Open(dir.string(), "Tamborex", "tbx-nsm-locked"));
    ASSERT_TRUE(runUntil([&] { return !nsm.Messages("/reply").empty(); }));
    EXPECT_EQ(made, 1);
    ASSERT_NE(session, nullptr);
    session->Shutdown();
    EXPECT_TRUE(fs::exists(dir / kBankFileName));
    fs::remove_all(dir);
}

}  // namespace

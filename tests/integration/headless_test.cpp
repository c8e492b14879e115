// The headless front end as a user runs it: a real program on the private JACK server, with no
// display at all, against the window on the same bank and the same controller moves.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "jack_peer.h"
#include "jack_server.h"
#include "platform/file_io.h"
#include "platform/file_lock.h"
#include "tamborex/app/core.h"
#include "tamborex/model/button_modes.h"
#include "tamborex/storage/bank_file.h"
#include "tamborex/storage/patch_file.h"
#include "tamborex/storage/port_names.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::ChildProcess;
using testsupport::JackPeer;
using Bytes = std::vector<std::uint8_t>;

fs::path Folder(const std::string& name) {
    const fs::path dir =
        fs::temp_directory_path() / ("tamborex-headless-" + std::to_string(getpid()) + "-" + name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

void Write(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    int cause = 0;
    platform::WriteStage stage{};
    ASSERT_TRUE(platform::WriteFileAtomically(path.string(), bytes, cause, stage)) << path;
}

// A bank whose entry 0 plays on the sink: X to controller 7, Y to pitch bend, button 1 a note on
// channel 0, button 2 a note on channel 1.
void WriteBankFor(const fs::path& dir, const std::string& sinkPort) {
    std::array<CPatch, 2> slots;
    CPatch& p = slots[0];
    p.active = 1;
    p.outputDevice = 1;
    p.axes[0].controller = 9;
    p.axes[1].controller = kSelectPitchBend;
    p.buttons[0].mode = MODE_NOTE;
    p.buttons[0].data1 = 60;
    p.buttons[0].data2 = 100;
    p.buttons[1].mode = MODE_NOTE;
    p.buttons[1].data1 = 62;
    p.buttons[1].data2 = 90;
    p.buttons[1].channel = 1;
    CPatchMarks marks;
    marks.outputPort = sinkPort;
    WritePatchMarks(p, marks);
    Write(dir / "lead.txp", FormatPatchFile("Lead", slots));
    CBankState bank;
    bank.patchPaths[0] = (dir / "lead.txp").string();
    bank.patchNames[0] = "Lead";
    Write(dir / kBankFileName, FormatBank(bank));
}

std::vector<Bytes> Play(JackPeer& sink, bool headless, const fs::path& dir) {
    ChildProcess::Options options;
    options.argv = {TAMBOREX_VIRTUAL_STICK, "--midi=jack"};
    options.folder = dir.string();
    options.errorFile = (dir / "stderr.txt").string();
    if (headless) {
        options.argv.push_back("--headless");
        options.unset = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    } else {
        options.set = {{"QT_QPA_PLATFORM", "offscreen"}};
    }
    ChildProcess program(options);
    EXPECT_TRUE(program.Started());
    // Until the program's port is connected to the sink, a press may go nowhere: press until
    // one arrives, then let the warm-up settle.
    const std::size_t earlier = sink.WaitForArrivals(0, 0ms).size();
    std::size_t before = earlier;
    for (int i = 0; i < 100 && before == earlier; ++i) {
        program.Write("b 0 down\nb 0 up\n");
        before = sink.WaitForArrivals(earlier + 1, 100ms).size();
    }
    EXPECT_GT(before, earlier) << "nothing arrived from the " << (headless ? "headless" : "window")
                               << " program, which said:\n"
                               << std::ifstream(options.errorFile).rdbuf();
    for (std::size_t now = 0; (now = sink.WaitForArrivals(before + 1, 300ms).size()) != before;) {
        before = now;
    }
    for (const char* line : {"a 0 -32768", "a 0 0", "a 0 32767", "b 1 down", "b 1 up", "a 1 -32768",
                             "a 1 20000", "b 0 down", "a 0 -16000", "b 0 up"}) {
        program.Write(std::string(line) + "\n");
        std::this_thread::sleep_for(60ms);
    }
    std::vector<JackPeer::Arrival> all = sink.WaitForArrivals(before + 10, 2s);
    std::this_thread::sleep_for(200ms);  // anything more that would come
    all = sink.WaitForArrivals(0, 0ms);
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(10s), 0);
    // The bank was saved as Quit saves it: Tamborex.ini is written beside it.
    EXPECT_TRUE(fs::exists(dir / kExtraSettingsFile));
    std::vector<Bytes> played;
    for (std::size_t i = before; i < all.size(); ++i) {
        played.emplace_back(all[i].bytes.begin(), all[i].bytes.begin() + all[i].size);
    }
    return played;
}

std::string Text(const std::vector<Bytes>& messages) {
    std::ostringstream out;
    for (const Bytes& m : messages) {
        for (const std::uint8_t b : m) {
            out << std::hex << int(b) << ' ';
        }
        out << "| ";
    }
    return out.str();
}

class Headless : public ::testing::Test {};

TEST_F(Headless, PlaysTheBankByteForByteAsTheWindowDoesAndSavesOnSigterm) {
    ASSERT_FALSE(testsupport::FixtureJackServer().empty()) << "run through ctest";
    JackPeer sink("tbx-headless-sink", JackPeer::Role::Sink);
    ASSERT_TRUE(sink.Ok());
    const fs::path windowDir = Folder("window");
    const fs::path headlessDir = Folder("headless");
    WriteBankFor(windowDir, sink.Port("in"));
    WriteBankFor(headlessDir, sink.Port("in"));
    const std::vector<Bytes> window = Play(sink, false, windowDir);
    const std::vector<Bytes> headless = Play(sink, true, headlessDir);
    EXPECT_EQ(Text(headless), Text(window));
    // The script played: both notes on and off, controller 7 and pitch bend.
    for (const Bytes& expected : {Bytes{0x91, 62, 90}, Bytes{0x81, 62, 90}, Bytes{0x90, 60, 100},
                                  Bytes{0x80, 60, 100}, Bytes{0xB0, 7, 127}}) {
        EXPECT_NE(std::find(headless.begin(), headless.end(), expected), headless.end())
            << Text(headless);
    }
    if (!HasFailure()) {
        fs::remove_all(windowDir);
        fs::remove_all(headlessDir);
    }
}

// The stick's commands come in reads of 256 bytes: one that a read cuts in two is still played
// whole, and neither half is taken for a command of its own.
TEST_F(Headless, AStickCommandSplitBetweenTwoReadsIsPlayedWhole) {
    ASSERT_FALSE(testsupport::FixtureJackServer().empty()) << "run through ctest";
    JackPeer sink("tbx-split-sink", JackPeer::Role::Sink);
    ASSERT_TRUE(sink.Ok());
    const fs::path dir = Folder("split");
    WriteBankFor(dir, sink.Port("in"));
    ChildProcess::Options options;
    options.argv = {TAMBOREX_VIRTUAL_STICK, "--midi=jack", "--headless"};
    options.folder = dir.string();
    options.errorFile = (dir / "stderr.txt").string();
    options.unset = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    ChildProcess program(options);
    ASSERT_TRUE(program.Started());
    // Button 1 until its note arrives: the program is up and its port connected; then until
    // the presses still on their way have arrived.
    std::size_t before = 0;
    for (int i = 0; i < 100 && before == 0; ++i) {
        program.Write("b 0 down\nb 0 up\n");
        before = sink.WaitForArrivals(1, 100ms).size();
    }
    ASSERT_GT(before, 0u) << std::ifstream(options.errorFile).rdbuf();
    for (std::size_t now = 0; (now = sink.WaitForArrivals(before + 1, 300ms).size()) != before;) {
        before = now;
    }

    // One write, read in two: "b 1 down" is cut after "b 1 do" (which alone would let the
    // button go, and "wn" would be nothing). Then "b 1 up" on its own, once the press is seen.
    std::string text(256 - 6, ' ');
    text += "b 1 down\n";
    ASSERT_EQ(text.substr(250, 6), "b 1 do");
    ASSERT_TRUE(program.Write(text));
    sink.WaitForArrivals(before + 1, 5s);
    ASSERT_TRUE(program.Write("b 1 up\n"));
    const std::vector<JackPeer::Arrival> after = sink.WaitForArrivals(before + 2, 5s);
    std::vector<Bytes> played;
    for (std::size_t i = before; i < after.size(); ++i) {
        played.emplace_back(after[i].bytes.begin(), after[i].bytes.begin() + after[i].size);
    }
    EXPECT_EQ(Text(played), Text({Bytes{0x91, 62, 90}, Bytes{0x81, 62, 90}}));
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(10s), 0);
    if (!HasFailure()) {
        fs::remove_all(dir);
    }
}

// One Tamborex per bank folder: a second one started on a folder another one plays says which
// one that is and ends, writing nothing there.
TEST_F(Headless, ASecondCopyOnTheSameBankSaysWhichOneHasItAndDoesNotRun) {
    const fs::path dir = Folder("locked");
    CBankState bank;
    bank.patchNames[2] = "Theirs";
    Write(dir / kBankFileName, FormatBank(bank));
    platform::FileLock held;
    long holder = 0;
    int cause = 0;
    ASSERT_EQ(held.Take((dir / kBankLockFile).string(), holder, cause),
              platform::FileLock::Result::Taken);
    ChildProcess::Options options;
    options.argv = {TAMBOREX_PROGRAM, "--headless", "--midi=jack", "--bank-dir", dir.string()};
    options.unset = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    options.errorFile = (fs::temp_directory_path() /
                         ("tamborex-headless-locked-" + std::to_string(getpid()) + ".txt"))
                            .string();
    ChildProcess program(options);
    ASSERT_TRUE(program.Started());
    EXPECT_EQ(program.Wait(20s), 1);
    std::stringstream said;
    said << std::ifstream(options.errorFile).rdbuf();
    EXPECT_NE(said.str().find("Tamborex: Another Tamborex (process " + std::to_string(getpid()) +
                              ") is playing the bank in " + dir.string()),
              std::string::npos)
        << said.str();
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
        names.insert(entry.path().filename().string());
    }
    EXPECT_EQ(names, (std::set<std::string>{kBankFileName, kBankLockFile}));
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(platform::ReadWholeFile((dir / kBankFileName).string(), bytes, cause));
    EXPECT_EQ(bytes, FormatBank(bank));
    fs::remove(options.errorFile);
    fs::remove_all(dir);
}

// The program itself: no display, no window system, a clear line for what the bar would show in
// a box, and the bank saved when the session ends it.
TEST_F(Headless, TheProgramRunsWithoutAnyDisplayAndEndsOnSigterm) {
    ASSERT_FALSE(testsupport::FixtureJackServer().empty()) << "run through ctest";
    const fs::path dir = Folder("program");
    CBankState bank;
    bank.patchNames[3] = "Kept";
    Write(dir / kBankFileName, FormatBank(bank));
    ChildProcess::Options options;
    options.argv = {TAMBOREX_PROGRAM, "--headless", "--midi=jack", "--bank-dir", dir.string()};
    options.unset = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    options.errorFile = (dir / "stderr.txt").string();
    ChildProcess program(options);
    ASSERT_TRUE(program.Started());
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(program.Wait(0ms), -1) << "it ended by itself";
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(10s), 0);
    EXPECT_TRUE(fs::exists(dir / kExtraSettingsFile));
    std::vector<std::uint8_t> bytes;
    int cause = 0;
    ASSERT_TRUE(platform::ReadWholeFile((dir / kBankFileName).string(), bytes, cause));
    CBankState read;
    std::vector<std::string> messages;
    ReadBank(bytes, read, messages);
    EXPECT_EQ(read.patchNames[3], "Kept");
    // Every message is one line of its own, named after the program.
    std::ifstream err(dir / "stderr.txt");
    std::string line;
    int lines = 0;
    while (std::getline(err, line)) {
        if (line.rfind("Tamborex: ", 0) == 0) {
            ++lines;
        }
    }
    EXPECT_GT(lines, 0) << "no controller is attached here, which it must say";
    fs::remove_all(dir);
}

}  // namespace

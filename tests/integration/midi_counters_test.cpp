// The MIDI counters the JACK service publishes for tamborex-list-devices --stats, when there is
// no XDG_RUNTIME_DIR (cron, su, containers): what other users planted in the shared temporary
// folder is neither written through nor waited on, and tamborex-list-devices reads the counters
// back from the private folder they went to.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "jack_server.h"
#include "platform/midi.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool WaitUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// What tamborex-list-devices --stats prints in this environment; a reader stuck on a FIFO is ended,
// so that the test fails rather than hangs.
std::string ListDevicesStats() {
    const std::string command = std::string("timeout 30 ") + LIST_DEVICES_PROGRAM + " --stats";
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            output.append(buffer, n);
        }
        const int status = pclose(pipe);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
    }
    return output;
}

// Opens the read end of FIFOs when it goes, before the services that may be stuck writing to
// them are destroyed; the read ends stay open until the end of the test, so a writer let go
// never meets a closed pipe.
struct FifoReleaser {
    std::vector<fs::path> fifos;
    std::vector<int>& readEnds;
    ~FifoReleaser() {
        for (const fs::path& fifo : fifos) {
            readEnds.push_back(open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        }
    }
};

struct FdCloser {
    std::vector<int> fds;
    ~FdCloser() {
        for (int fd : fds) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }
};

class MidiCountersTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(testsupport::FixtureJackServer().empty())
            << "JACK_DEFAULT_SERVER is not set: run through ctest";
        shared = fs::temp_directory_path() / ("tbx-counters-" + std::to_string(getpid()));
        fs::remove_all(shared);
        fs::create_directories(shared);
        for (const char* name : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
            const char* value = std::getenv(name);
            saved.emplace_back(name,
                               value != nullptr ? std::optional<std::string>(value) : std::nullopt);
        }
        unsetenv("XDG_RUNTIME_DIR");
        setenv("TMPDIR", shared.c_str(), 1);
        privateFolder = shared / ("midi-counters-" + std::to_string(geteuid()));
        pid = std::to_string(getpid());
    }

    void TearDown() override {
        for (const auto& [name, value] : saved) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
        std::error_code ignored;
        fs::remove_all(shared, ignored);
    }

    // The names the counters of a program of this name in this process once had in TMPDIR.
    fs::path OldName(const std::string& client, const char* suffix = "") const {
        return shared / (client + "." + pid + ".midi-counters" + suffix);
    }
    fs::path Published(const std::string& client) const {
        return privateFolder / (client + "." + pid + ".midi-counters");
    }

    fs::path shared;
    fs::path privateFolder;
    std::string pid;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
};

TEST_F(MidiCountersTest, PlantedLinksAndFifosAreNeitherWrittenThroughNorWaitedOn) {
    const fs::path victim = shared / "notes.txt";
    std::ofstream(victim) << "the user's own text\n";
    fs::create_symlink(victim, OldName("TbxCountersLink"));
    fs::create_symlink(victim, OldName("TbxCountersLink", ".new"));
    for (const fs::path& fifo : {OldName("TbxCountersFifo"), OldName("TbxCountersFifo", ".new")}) {
        ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0) << fifo;
    }
    // Planted for the reader: a FIFO it would wait on and a file it must not print.
    ASSERT_EQ(mkfifo(OldName("TbxReaderFifo").c_str(), 0666), 0);
    std::ofstream(OldName("TbxPlanted")) << "program TbxPlanted (process " << pid << ")\n";
    const std::set<fs::path> planted = {victim,
                                        OldName("TbxCountersLink"),
                                        OldName("TbxCountersLink", ".new"),
                                        OldName("TbxCountersFifo"),
                                        OldName("TbxCountersFifo", ".new"),
                                        OldName("TbxReaderFifo"),
                                        OldName("TbxPlanted")};

    FdCloser readEnds;
    auto linked = CreateMidiService("TbxCountersLink", MidiBackend::Jack);
    auto fifoed = CreateMidiService("TbxCountersFifo", MidiBackend::Jack);
    FifoReleaser releaser{{OldName("TbxCountersFifo"), OldName("TbxCountersFifo", ".new")},
                          readEnds.fds};
    ASSERT_EQ(linked->BackendName(), "JACK") << linked->BackendReason();
    ASSERT_EQ(fifoed->BackendName(), "JACK") << fifoed->BackendReason();

    EXPECT_TRUE(WaitUntil([&] {
        return fs::is_regular_file(fs::symlink_status(Published("TbxCountersLink"))) &&
               fs::is_regular_file(fs::symlink_status(Published("TbxCountersFifo")));
    })) << "the counters did not arrive in "
        << privateFolder;
    EXPECT_EQ(Contents(victim), "the user's own text\n");

    // Publishing goes on as the counters change: nothing waits on a FIFO.
    MidiOutHandle out = kNoHandle;
    ASSERT_EQ(fifoed->OpenOutput(0, out), MidiResult::NoError);
    ASSERT_EQ(fifoed->SendShort(out, PackShortMessage(0x90, 60, 100)), MidiResult::NoError);
    EXPECT_TRUE(WaitUntil([&] {
        return Contents(Published("TbxCountersFifo")).find("\nsent 1\n") != std::string::npos;
    })) << Contents(Published("TbxCountersFifo"));

    // Nothing of ours went into the shared folder but the private one, which only we can enter.
    std::set<fs::path> present;
    for (const fs::directory_entry& entry : fs::directory_iterator(shared)) {
        present.insert(entry.path());
    }
    std::set<fs::path> expected = planted;
    expected.insert(privateFolder);
    EXPECT_EQ(present, expected);
    struct stat folder {};
    EXPECT_EQ(lstat(privateFolder.c_str(), &folder), 0);
    EXPECT_TRUE(S_ISDIR(folder.st_mode));
    EXPECT_EQ(folder.st_uid, geteuid());
    EXPECT_EQ(folder.st_mode & 07777, 0700u);

    const std::string stats = ListDevicesStats();
    EXPECT_NE(stats.find("program TbxCountersLink (process " + pid + ")"), std::string::npos)
        << stats;
    EXPECT_NE(stats.find("program TbxCountersFifo (process " + pid + ")"), std::string::npos)
        << stats;
    EXPECT_NE(stats.find("\nsent 1\n"), std::string::npos) << stats;
    EXPECT_EQ(stats.find("TbxPlanted"), std::string::npos) << stats;
}

// tamborex-list-devices reads only a private folder of the user's own, and only regular files
// there of a sensible size: a link in place of the folder or of a file, a FIFO and a huge file are
// passed over without waiting or flooding the terminal.
TEST_F(MidiCountersTest, ListDevicesReadsOnlyRegularFilesOfAPrivateFolder) {
    const fs::path elsewhere = shared / "elsewhere";
    fs::create_directory(elsewhere);
    std::ofstream(elsewhere / ("TbxElsewhere." + pid + ".midi-counters"))
        << "program TbxElsewhere\n";
    fs::create_directory_symlink(elsewhere, privateFolder);
    std::string stats = ListDevicesStats();
    EXPECT_EQ(stats.find("TbxElsewhere"), std::string::npos) << stats;
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(privateFolder)));

    fs::remove(privateFolder);
    fs::create_directory(privateFolder);
    fs::permissions(privateFolder, fs::perms::owner_all, fs::perm_options::replace);
    std::ofstream(privateFolder / ("TbxReal." + pid + ".midi-counters")) << "program TbxReal\n";
    ASSERT_EQ(mkfifo((privateFolder / ("TbxFifo." + pid + ".midi-counters")).c_str(), 0600), 0);
    fs::create_symlink(elsewhere / ("TbxElsewhere." + pid + ".midi-counters"),
                       privateFolder / ("TbxLinked." + pid + ".midi-counters"));
    std::ofstream(privateFolder / ("TbxHuge." + pid + ".midi-counters"))
        << "program TbxHuge\n"
        << std::string(1 << 20, 'x');
    stats = ListDevicesStats();
    EXPECT_NE(stats.find("program TbxReal"), std::string::npos) << stats;
    EXPECT_EQ(stats.find("TbxElsewhere"), std::string::npos) << stats;
    EXPECT_EQ(stats.find("TbxHuge"), std::string::npos) << stats.substr(0, 200);
    EXPECT_LT(stats.size(), 64u * 1024);

    // A private folder that others may enter is not trusted either.
    fs::permissions(privateFolder, fs::perms::all, fs::perm_options::replace);
    stats = ListDevicesStats();
    EXPECT_EQ(stats.find("program TbxReal"), std::string::npos) << stats;
}

// What a counters file holds reaches the terminal as plain text: a control character in it acts
// on nothing. Only programs that still run are listed, and what ended ones left is removed: the
// file of a process that has ended, and one whose process id a later process has taken (it was
// written before that process started). Nothing else in the folder is touched.
TEST_F(MidiCountersTest, ListDevicesShowsRunningProgramsAsTextAndRemovesWhatEndedOnesLeft) {
    fs::create_directory(privateFolder);
    fs::permissions(privateFolder, fs::perms::owner_all, fs::perm_options::replace);
    const pid_t ended = fork();
    if (ended == 0) {
        _exit(0);
    }
    ASSERT_GT(ended, 0);
    ASSERT_EQ(waitpid(ended, nullptr, 0), ended);
    const std::string endedPid = std::to_string(ended);

    const fs::path running = privateFolder / ("TbxRunning." + pid + ".midi-counters");
    std::ofstream(running) << "program TbxRunning\x1b[2J\x1b]0;title\x07\xc2\x9b (process " << pid
                           << ")\r\nsent 3\n";
    const fs::path endedFile = privateFolder / ("TbxEnded." + endedPid + ".midi-counters");
    std::ofstream(endedFile) << "program TbxEnded\n";
    const fs::path reused = privateFolder / ("TbxReused." + pid + ".midi-counters");
    std::ofstream(reused) << "program TbxReused\n";
    fs::last_write_time(reused, fs::file_time_type::clock::now() - std::chrono::hours(24 * 365));
    const fs::path endedFifo = privateFolder / ("TbxFifo." + endedPid + ".midi-counters");
    ASSERT_EQ(mkfifo(endedFifo.c_str(), 0600), 0);
    const fs::path notCounters = privateFolder / ("TbxEnded." + endedPid + ".midi-counters.old");
    std::ofstream(notCounters) << "program TbxOld\n";

    const std::string stats = ListDevicesStats();
    EXPECT_NE(stats.find("program TbxRunning"), std::string::npos) << stats;
    EXPECT_NE(stats.find("\nsent 3\n"), std::string::npos) << stats;
    for (const char control : {'\x1b', '\x07', '\r'}) {
        EXPECT_EQ(stats.find(control), std::string::npos) << int(control) << ": " << stats;
    }
    EXPECT_EQ(stats.find("\xc2\x9b"), std::string::npos) << stats;
    EXPECT_EQ(stats.find("TbxEnded"), std::string::npos) << stats;
    EXPECT_EQ(stats.find("TbxReused"), std::string::npos) << stats;
    EXPECT_EQ(stats.find("TbxOld"), std::string::npos) << stats;

    EXPECT_TRUE(fs::exists(running));
    EXPECT_FALSE(fs::exists(fs::symlink_status(endedFile)));
    EXPECT_FALSE(fs::exists(fs::symlink_status(reused)));
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(endedFifo)));
    EXPECT_TRUE(fs::exists(notCounters));
}

}  // namespace
}  // namespace platform

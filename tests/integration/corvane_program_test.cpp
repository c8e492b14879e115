// The corvane program itself, as a desktop and a session manager run it: under a session manager
// (the fake NSM server) on the private JACK server, and ended by signals. Windows go to an Xvfb
// server of the test's own, where xdotool types as a user would.

#include <gtest/gtest.h>
#include <jack/jack.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "jack_peer.h"
#include "jack_server.h"
#include "nsm_fake_server.h"
#include "xvfb.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::NsmFakeServer;
using testsupport::OscMessage;

constexpr auto kPatience = 20s;

bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout = kPatience) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

// The corvane program, started with its own environment; killed if a test leaves it running.
class Corvane {
  public:
    Corvane(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
            const fs::path& log) {
        std::vector<std::string> arguments = {TBX_CORVANE};
        arguments.insert(arguments.end(), args.begin(), args.end());
        std::vector<std::string> environment;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            if (!env.contains(entry.substr(0, entry.find('=')))) {
                environment.push_back(entry);
            }
        }
        for (const auto& [name, value] : env) {
            environment.push_back(name + "=" + value);
        }
        std::vector<char*> argv;
        for (std::string& a : arguments) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& e : environment) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        pid_ = fork();
        if (pid_ == 0) {
            const int null = open("/dev/null", O_RDONLY);
            dup2(null, 0);
            dup2(out, 1);
            dup2(out, 2);
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        close(out);
    }
    ~Corvane() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    pid_t Pid() const { return pid_; }
    bool Running() {
        Reap(false);
        return !exited_;
    }
    // The exit status once it has ended by itself (-1 when killed by a signal or still running
    // after the wait).
    int WaitForExit() {
        const bool ended = Eventually([this] { return !Running(); });
        if (!ended) {
            return -1;
        }
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
    }
    // Whether it has a handler for this signal (its status in /proc says so).
    bool Catches(int signal) const {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.starts_with("SigCgt:")) {
                const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
                return (mask >> (signal - 1)) & 1;
            }
        }
        return false;
    }

  private:
    void Reap(bool block) {
        if (pid_ > 0 && !exited_ && waitpid(pid_, &status_, block ? 0 : WNOHANG) == pid_) {
            exited_ = true;
        }
    }
    pid_t pid_ = -1;
    bool exited_ = false;
    int status_ = 0;
};

// A libjack client that only looks at the private server.
class JackLook {
  public:
    JackLook() {
        jack_status_t status{};
        client_ = jack_client_open("tbx-corvane-look", JackNoStartServer, &status);
    }
    ~JackLook() {
        if (client_ != nullptr) {
            jack_client_close(client_);
        }
    }
    bool Ok() const { return client_ != nullptr; }
    bool HasClient(const std::string& name) const {
        char* uuid = jack_get_uuid_for_client_name(client_, name.c_str());
        if (uuid == nullptr) {
            return false;
        }
        jack_free(uuid);
        return true;
    }
    std::vector<std::string> Ports(const std::string& client) const {
        std::vector<std::string> names;
        const char** ports = jack_get_ports(client_, ("^" + client + ":").c_str(), nullptr, 0);
        for (const char** p = ports; p != nullptr && *p != nullptr; ++p) {
            names.emplace_back(*p);
        }
        jack_free(ports);
        return names;
    }
    std::vector<std::string> Connections(const std::string& port) const {
        std::vector<std::string> names;
        jack_port_t* p = jack_port_by_name(client_, port.c_str());
        const char** peers = p != nullptr ? jack_port_get_all_connections(client_, p) : nullptr;
        for (const char** c = peers; c != nullptr && *c != nullptr; ++c) {
            names.emplace_back(*c);
        }
        jack_free(peers);
        return names;
    }

  private:
    jack_client_t* client_ = nullptr;
};

std::string Run(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
            out += buffer;
        }
        pclose(pipe);
    }
    return out;
}

// Looks and types through xdotool on the test's own X server.
class Desktop {
  public:
    explicit Desktop(const XvfbServer& xvfb) : display_(xvfb.Display()) {}
    // The ids of the visible windows titled exactly so.
    std::string Visible(const std::string& title) const {
        return Run("DISPLAY=" + display_ + " xdotool search --onlyvisible --name '^" + title +
                   "$' 2>/dev/null");
    }
    // Focuses the largest window of this title (a message box of the same title may stand
    // beside it) and presses the keys there.
    bool Keys(const std::string& title, const std::string& keys) const {
        std::istringstream ids(Visible(title));
        std::string best;
        long bestArea = -1;
        for (std::string id; ids >> id;) {
            std::istringstream shell(
                Run("DISPLAY=" + display_ + " xdotool getwindowgeometry --shell " + id));
            long width = 0;
            long height = 0;
            for (std::string line; std::getline(shell, line);) {
                if (line.starts_with("WIDTH=")) {
                    width = std::stol(line.substr(6));
                } else if (line.starts_with("HEIGHT=")) {
                    height = std::stol(line.substr(7));
                }
            }
            if (width * height > bestArea) {
                bestArea = width * height;
                best = id;
            }
        }
        return !best.empty() &&
               std::system(("DISPLAY=" + display_ + " xdotool windowfocus --sync " + best +
                            " key --delay 50 " + keys)
                               .c_str()) == 0;
    }

  private:
    std::string display_;
};

class CorvaneProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(testsupport::FixtureJackServer().empty()) << "run through ctest";
        dir = fs::temp_directory_path() /
              ("corvane-program-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir / "config");
        fs::create_directories(dir / "data");
    }
    void TearDown() override {
        if (HasFailure()) {
            std::fprintf(stderr, "corvane said:\n%s\n", ReadText(dir / "corvane.log").c_str());
        }
        fs::remove_all(dir);
    }
    std::map<std::string, std::string> Environment(const std::string& display) const {
        std::map<std::string, std::string> env = {
            {"XDG_CONFIG_HOME", (dir / "config").string()},
            {"XDG_DATA_HOME", (dir / "data").string()},
            {"SDL_VIDEODRIVER", "dummy"},
        };
        if (display.empty()) {
            env["QT_QPA_PLATFORM"] = "offscreen";
        } else {
            env["QT_QPA_PLATFORM"] = "xcb";
            env["DISPLAY"] = display;
        }
        return env;
    }

    fs::path dir;
};

TEST_F(CorvaneProgram, UnderASessionManagerItWaitsForTheOpenAndKeepsItsSessionInTheFolder) {
    XvfbServer xvfb;
    ASSERT_TRUE(xvfb.Running());
    Desktop desktop(xvfb);
    NsmFakeServer nsm;
    ASSERT_TRUE(nsm.Running());
    JackLook jack;
    ASSERT_TRUE(jack.Ok());
    auto env = Environment(xvfb.Display());
    env["NSM_URL"] = nsm.Url();
    Corvane corvane({"--midi=jack"}, env, dir / "corvane.log");

    ASSERT_TRUE(nsm.WaitForAnnounce());
    const OscMessage announce = *nsm.WaitFor("/nsm/server/announce");
    EXPECT_EQ(announce.types, "sssiii");
    EXPECT_EQ(announce.Text(0), "Corvane");
    EXPECT_EQ(announce.Text(1), ":dirty:optional-gui:");
    EXPECT_EQ(announce.Text(2), "corvane");
    EXPECT_EQ(announce.Int(3), 1);
    EXPECT_EQ(announce.Int(4), 2);
    EXPECT_EQ(announce.Int(5), corvane.Pid());

    // Its loop runs (a save is refused: nothing is open), and still no MIDI client exists.
    ASSERT_TRUE(nsm.Save());
    const auto early = nsm.WaitForAnswer("/nsm/client/save");
    ASSERT_TRUE(early);
    EXPECT_EQ(early->path, "/error");
    EXPECT_FALSE(jack.HasClient("Corvane"));
    EXPECT_FALSE(jack.HasClient("nCORV"));
    EXPECT_TRUE(desktop.Visible("Corvane").empty());

    // A file where the folder should be: refused, and the program waits on for a usable open.
    std::ofstream(dir / "taken") << "a file of somebody else's";
    ASSERT_TRUE(nsm.Open((dir / "taken").string(), "Corvane", "nCORV"));
    const auto refused = nsm.WaitForAnswer("/nsm/client/open");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->path, "/error");
    EXPECT_EQ(refused->Int(1), -10);
    EXPECT_FALSE(jack.HasClient("nCORV"));

    const fs::path session = dir / "sessions" / "new" / "Corvane.nCORV";
    ASSERT_TRUE(nsm.Open(session.string(), "Corvane", "nCORV"));
    const auto opened = nsm.WaitForAnswer("/nsm/client/open", 2);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->path, "/reply");
    EXPECT_EQ(opened->Text(1), "OK");
    EXPECT_TRUE(fs::is_directory(session));
    EXPECT_TRUE(jack.HasClient("nCORV"));
    EXPECT_FALSE(jack.HasClient("Corvane"));
    const auto ports = jack.Ports("nCORV");
    EXPECT_NE(std::find(ports.begin(), ports.end(), "nCORV:out"), ports.end());
    EXPECT_NE(std::find(ports.begin(), ports.end(), "nCORV:in"), ports.end());
    ASSERT_TRUE(nsm.WaitFor("/nsm/client/gui_is_shown"));
    ASSERT_TRUE(Eventually([&] { return !desktop.Visible("Corvane").empty(); }));

    // The user gives X a type (it was unassigned): unsaved, until the session manager saves.
    ASSERT_TRUE(desktop.Keys("Corvane", "Tab Tab Down"));
    ASSERT_TRUE(nsm.WaitFor("/nsm/client/is_dirty"));
    ASSERT_TRUE(nsm.Save());
    const auto saved = nsm.WaitForAnswer("/nsm/client/save", 2);
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->path, "/reply");
    EXPECT_EQ(saved->Text(1), "OK");
    ASSERT_TRUE(nsm.WaitFor("/nsm/client/is_clean"));
    EXPECT_NE(ReadText(session / "Corvane.ini").find("MidiSystem=auto"), std::string::npos);
    EXPECT_EQ(ReadText(session / "corvane-session.txt").rfind("\"Session\" 0 0 50 100 0 ", 0), 0u)
        << ReadText(session / "corvane-session.txt");

    // Hidden, it plays on; shown, it is back.
    ASSERT_TRUE(nsm.HideGui());
    ASSERT_TRUE(nsm.WaitFor("/nsm/client/gui_is_hidden"));
    EXPECT_TRUE(Eventually([&] { return desktop.Visible("Corvane").empty(); }));
    EXPECT_TRUE(corvane.Running());
    EXPECT_TRUE(jack.HasClient("nCORV"));
    ASSERT_TRUE(nsm.ShowGui());
    ASSERT_TRUE(nsm.WaitFor("/nsm/client/gui_is_shown", 2));
    EXPECT_TRUE(Eventually([&] { return !desktop.Visible("Corvane").empty(); }));

    // Another change, then the session ends: kept without a question.
    ASSERT_TRUE(desktop.Keys("Corvane", "Down"));
    ASSERT_TRUE(nsm.WaitFor("/nsm/client/is_dirty", 2));
    kill(corvane.Pid(), SIGTERM);
    EXPECT_EQ(corvane.WaitForExit(), 0);
    EXPECT_EQ(ReadText(session / "corvane-session.txt").rfind("\"Session\" 1 0 50 100 0 ", 0), 0u)
        << ReadText(session / "corvane-session.txt");
    EXPECT_FALSE(jack.HasClient("nCORV"));
    // The user's own profile was never touched.
    EXPECT_FALSE(fs::exists(dir / "config" / "Corvane"));
}

TEST_F(CorvaneProgram, AnExistingSessionIsReadFromItsFolder) {
    testsupport::JackPeer synth("tbx-nsm-synth", testsupport::JackPeer::Role::Sink);
    ASSERT_TRUE(synth.Ok());
    const fs::path session = dir / "Corvane.nOLD";
    fs::create_directories(session);
    std::ofstream(session / "Corvane.ini")
        << "[Options]\nThru=0\nDevOut=5\nDevOutName=" << synth.Port("in") << "\nChannel=9\n";
    const std::string assignments =
        "\"Session\" 7 10 50 90 0 -1 0 50 100 0 -1 0 50 100 0 -1 0 50 100 0 -1 0 50 100 0 -1 0 "
        "50 100 0 -1 0 50 100 0\n";
    std::ofstream(session / "corvane-session.txt") << assignments;
    std::ofstream(session / "corvane.txt") << "\"Lead\" 1 0 50 100 0\n";
    NsmFakeServer nsm;
    auto env = Environment("");
    env["NSM_URL"] = nsm.Url();
    Corvane corvane({"--midi=jack"}, env, dir / "corvane.log");
    ASSERT_TRUE(nsm.WaitForAnnounce());
    ASSERT_TRUE(nsm.Open(session.string(), "Corvane", "nOLD"));
    const auto opened = nsm.WaitForAnswer("/nsm/client/open");
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->path, "/reply");

    // The output the session's profile names, found by its name and connected.
    JackLook jack;
    EXPECT_TRUE(Eventually([&] {
        for (const std::string& peer : jack.Connections(synth.Port("in"))) {
            if (peer.starts_with("nOLD:")) {
                return true;
            }
        }
        return false;
    }));
    ASSERT_TRUE(nsm.Save());
    ASSERT_TRUE(nsm.WaitForAnswer("/nsm/client/save"));
    EXPECT_EQ(ReadText(session / "corvane-session.txt"), assignments);
    const std::string ini = ReadText(session / "Corvane.ini");
    EXPECT_NE(ini.find("Channel=9"), std::string::npos) << ini;
    EXPECT_NE(ini.find("DevOutName=" + synth.Port("in")), std::string::npos) << ini;
    EXPECT_EQ(ReadText(session / "corvane.txt"), "\"Lead\" 1 0 50 100 0\n");
    // Nothing changed since the open: never dirty.
    EXPECT_TRUE(nsm.Messages("/nsm/client/is_dirty").empty());

    kill(corvane.Pid(), SIGTERM);
    EXPECT_EQ(corvane.WaitForExit(), 0);
}

// A box at start-up runs a loop of its own before the window's: a signal there used to be read
// only once somebody closed the box, which a logout never does, and the options were lost.
TEST_F(CorvaneProgram, ATerminationSignalEndsAStartUpBoxAndTheOptionsAreWritten) {
    XvfbServer xvfb;
    ASSERT_TRUE(xvfb.Running());
    Desktop desktop(xvfb);
    const fs::path folder = dir / "configurations";
    fs::create_directories(folder);
    ASSERT_EQ(mkfifo((folder / "corvane.txt").c_str(), 0600), 0);  // refused, and said so
    Corvane corvane({"--config-dir", folder.string(), "--midi=jack"}, Environment(xvfb.Display()),
                    dir / "corvane.log");
    ASSERT_TRUE(Eventually([&] { return !desktop.Visible("Corvane").empty(); }));
    ASSERT_TRUE(corvane.Catches(SIGTERM));
    kill(corvane.Pid(), SIGTERM);
    EXPECT_EQ(corvane.WaitForExit(), 0);
    EXPECT_NE(ReadText(dir / "config" / "Corvane" / "Corvane.ini").find("[Options]"),
              std::string::npos);
    EXPECT_TRUE(fs::is_fifo(folder / "corvane.txt"));
}

}  // namespace

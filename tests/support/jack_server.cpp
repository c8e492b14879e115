#include "jack_server.h"

#include <fcntl.h>
#include <jack/jack.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>

extern char** environ;

namespace testsupport {

bool ClientOnServer(const std::string& name) {
    jack_client_t* probe = jack_client_open(
        "tbx-client-probe", static_cast<jack_options_t>(JackNoStartServer), nullptr);
    if (probe == nullptr) {
        return false;
    }
    char* uuid = jack_get_uuid_for_client_name(probe, name.c_str());
    const bool there = uuid != nullptr;
    jack_free(uuid);
    jack_client_close(probe);
    return there;
}
namespace {

using namespace std::chrono_literals;

void Quiet(const char*) {}

// Opens a short-lived client on the named server; nullptr while it is not up.
jack_client_t* OpenProbe(const std::string& server) {
    jack_set_error_function(&Quiet);
    jack_set_info_function(&Quiet);
    jack_status_t status{};
    return jack_client_open("tbx-test-probe",
                            static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                            &status, server.c_str());
}

// Builds argv and envp before fork: only async-signal-safe calls may follow fork in a process
// that has threads.
struct ChildCommand {
    std::vector<std::string> args;
    std::vector<std::string> env;
    std::vector<char*> argv;
    std::vector<char*> envp;

    ChildCommand(std::vector<std::string> arguments, const std::string& server)
        : args(std::move(arguments)) {
        for (char** e = environ; *e != nullptr; ++e) {
            if (std::strncmp(*e, "JACK_DEFAULT_SERVER=", 20) != 0) {
                env.emplace_back(*e);
            }
        }
        env.push_back("JACK_DEFAULT_SERVER=" + server);
        env.push_back("JACK_NO_START_SERVER=1");
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        for (auto& e : env) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
    }

    // Starts the command with stdin from /dev/null, stdout to outFd (or /dev/null), stderr to
    // /dev/null.
    pid_t Spawn(int outFd) {
        const pid_t pid = fork();
        if (pid == 0) {
            const int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(outFd >= 0 ? outFd : null, 1);
            dup2(null, 2);
            execvpe(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        return pid;
    }
};

// Asks the process to end with `signal`, and kills it if it has not within a second.
void Reap(pid_t pid, int signal) {
    kill(pid, signal);
    for (int i = 0; i < 50; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            return;
        }
        std::this_thread::sleep_for(20ms);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

}  // namespace

std::string FixtureJackServer() {
    const char* name = std::getenv("JACK_DEFAULT_SERVER");
    return name != nullptr ? name : "";
}

JackTestServer::JackTestServer(std::string name, int periodFrames, bool realtime)
    : name_(std::move(name)) {
    // Asynchronous elsewhere: a synchronous server that misses one client's cycle (a loaded
    // machine) stops running its graph for good. The long client timeout keeps a slow client
    // connected.
    // Under the thread sanitizer (TBX_JACK_SYNC) synchronous, like the fixture's server: clients
    // are then too late for an asynchronous one.
    std::vector<std::string> args = {"jackd", realtime ? "--realtime" : "--no-realtime"};
    if (TBX_JACK_SYNC) {
        args.emplace_back("--sync");
    }
    for (const std::string& a :
         {std::string("--timeout"), std::string("5000"), std::string("-n"), name_,
          std::string("-d"), std::string("dummy"), std::string("-r"), std::string("48000"),
          std::string("-p"), std::to_string(periodFrames)}) {
        args.push_back(a);
    }
    ChildCommand cmd(std::move(args), name_);
    pid_ = cmd.Spawn(-1);
    for (int i = 0; i < 200 && pid_ > 0; ++i) {
        if (jack_client_t* probe = OpenProbe(name_)) {
            jack_client_close(probe);
            return;
        }
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            break;  // jackd gave up
        }
        std::this_thread::sleep_for(50ms);
    }
    if (pid_ > 0) {
        Reap(pid_, SIGTERM);
    }
    pid_ = -1;
}

JackTestServer::~JackTestServer() {
    if (pid_ > 0) {
        Reap(pid_, SIGTERM);
    }
}

void JackTestServer::MakeDefault() const {
    setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
}

void JackTestServer::Kill() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

MidiDump::MidiDump(const std::string& server, const std::string& clientName)
    : server_(server), clientName_(clientName) {
    int fds[2];
    if (pipe(fds) != 0) {
        return;
    }
    // Line-buffered, or the dump's output would sit in its stdio buffer until it exits.
    ChildCommand cmd({"stdbuf", "-oL", "jack_midi_dump", clientName_}, server_);
    pid_ = cmd.Spawn(fds[1]);
    close(fds[1]);
    fd_ = fds[0];
    if (pid_ <= 0) {
        close(fd_);
        fd_ = -1;
        return;
    }
    reader_ = std::thread(&MidiDump::Reader, this);
}

MidiDump::~MidiDump() {
    // SIGINT lets the dump close its client. Killed any other way it leaves a dead client that a
    // synchronous server waits for, cycle after cycle, until it notices.
    if (pid_ > 0) {
        Reap(pid_, SIGINT);
    }
    if (reader_.joinable()) {
        reader_.join();
    }
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool MidiDump::WaitForPort(std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const std::string port = PortName();
    // jack_midi_dump registers its port before it activates, and JACK refuses connections to an
    // inactive client's ports: ready means a probe's own port could be connected to it.
    while (std::chrono::steady_clock::now() < deadline) {
        if (jack_client_t* probe = OpenProbe(server_)) {
            jack_port_t* own =
                jack_port_register(probe, "probe", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
            const bool ready = own != nullptr && jack_activate(probe) == 0 &&
                               jack_connect(probe, jack_port_name(own), port.c_str()) == 0;
            jack_client_close(probe);
            if (ready) {
                return true;
            }
        }
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

std::vector<std::vector<std::uint8_t>> MidiDump::WaitForEvents(std::size_t n,
                                                               std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (events_.size() >= n || std::chrono::steady_clock::now() >= deadline) {
                return events_;
            }
        }
        std::this_thread::sleep_for(5ms);
    }
}

void MidiDump::Reader() {
    std::string pending;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(fd_, buffer, sizeof buffer);
        if (got <= 0) {
            return;
        }
        pending.append(buffer, static_cast<std::size_t>(got));
        std::size_t eol;
        while ((eol = pending.find('\n')) != std::string::npos) {
            std::vector<std::uint8_t> bytes;
            if (ParseDumpLine(pending.substr(0, eol), bytes)) {
                std::lock_guard lock(mutex_);
                events_.push_back(std::move(bytes));
            }
            pending.erase(0, eol + 1);
        }
    }
}

bool LiveOnDump(MidiDump& dump, const std::function<void()>& send) {
    for (int i = 0; i < 100; ++i) {
        send();
        if (!dump.WaitForEvents(1, std::chrono::milliseconds(50)).empty()) {
            return true;
        }
    }
    return false;
}

std::vector<std::vector<std::uint8_t>> EventsWithout(
    MidiDump& dump, std::size_t n, const std::vector<std::vector<std::uint8_t>>& markers,
    const std::function<void()>& wait) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::vector<std::vector<std::uint8_t>> events;
    do {
        if (wait) {
            wait();
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        events = dump.WaitForEvents(SIZE_MAX, std::chrono::milliseconds(0));
        for (const auto& marker : markers) {
            std::erase(events, marker);
        }
    } while (events.size() < n && std::chrono::steady_clock::now() < deadline);
    return events;
}

int IndexOf(const std::vector<std::string>& names, const std::string& name) {
    const auto it = std::find(names.begin(), names.end(), name);
    return it == names.end() ? -1 : static_cast<int>(it - names.begin());
}

bool ParseDumpLine(const std::string& line, std::vector<std::uint8_t>& bytes) {
    const auto colon = line.find(':');
    if (colon == std::string::npos) {
        return false;
    }
    std::istringstream tokens(line.substr(colon + 1));
    std::string token;
    bytes.clear();
    while (tokens >> token && token.size() == 2 && std::isxdigit(token[0]) &&
           std::isxdigit(token[1])) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(token, nullptr, 16)));
    }
    return !bytes.empty();
}

}  // namespace testsupport

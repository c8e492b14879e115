#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// The JACK server the ctest fixture started (JACK_DEFAULT_SERVER), or empty.
std::string FixtureJackServer();

// Whether a client of this name is on the default server, with or without ports.
bool ClientOnServer(const std::string& name);

// A private JACK server with the dummy driver, for the lifetime of the object. Clients created
// in this process reach it once MakeDefault() has pointed JACK_DEFAULT_SERVER at it.
//
// JACK has only a few server slots, and frees the slot of a killed server only when one of the
// same name starts again: give each use a name of its own that stays the same from run to run.
class JackTestServer {
  public:
    // realtime: the server runs its cycles with real-time priority, as musicians run it; what
    // benchmarks need, since the dummy driver's late cycles drop MIDI for every client.
    explicit JackTestServer(std::string name, int periodFrames = 128, bool realtime = false);
    ~JackTestServer();
    JackTestServer(const JackTestServer&) = delete;
    JackTestServer& operator=(const JackTestServer&) = delete;

    bool Running() const { return pid_ > 0; }
    const std::string& Name() const { return name_; }
    void MakeDefault() const;
    // Ends the server abruptly, as a crash or a user quitting it would.
    void Kill();

  private:
    std::string name_;
    pid_t pid_ = -1;
};

// Runs jack_midi_dump on a JACK server and collects the events it prints, each as its bytes.
class MidiDump {
  public:
    MidiDump(const std::string& server, const std::string& clientName);
    ~MidiDump();
    MidiDump(const MidiDump&) = delete;
    MidiDump& operator=(const MidiDump&) = delete;

    bool Started() const { return pid_ > 0; }
    std::string PortName() const { return clientName_ + ":input"; }
    // Waits until the dump's port exists on the server.
    bool WaitForPort(std::chrono::milliseconds timeout) const;
    // Waits until at least n events have arrived; returns all collected so far.
    std::vector<std::vector<std::uint8_t>> WaitForEvents(std::size_t n,
                                                         std::chrono::milliseconds timeout);

  private:
    void Reader();

    std::string server_;
    std::string clientName_;
    pid_t pid_ = -1;
    int fd_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::vector<std::vector<std::uint8_t>> events_;
};

// A fresh connection to the dump can take a while under load: send() goes on sending a marker
// until the dump has printed something (false after five seconds).
bool LiveOnDump(MidiDump& dump, const std::function<void()>& send);

// What the dump has printed besides the markers sent to see it live, once there are n such
// events or five seconds have passed; wait runs between looks (by default a 20 ms sleep).
std::vector<std::vector<std::uint8_t>> EventsWithout(
    MidiDump& dump, std::size_t n, const std::vector<std::vector<std::uint8_t>>& markers,
    const std::function<void()>& wait = {});

// The position of a port name in a device list, -1 when it is not there.
int IndexOf(const std::vector<std::string>& names, const std::string& name);

// Parses one line of jack_midi_dump output ("  16: 90 3c 40 note on ..."); false when the line
// holds no event.
bool ParseDumpLine(const std::string& line, std::vector<std::uint8_t>& bytes);

}  // namespace testsupport

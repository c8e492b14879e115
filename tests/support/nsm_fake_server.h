#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// One OSC argument as it arrived or is to be sent: its type tag and its value.
struct OscArg {
    char type = 's';  // 's', 'i', 'h', 'f', 'd', or one without a value ('T', 'F', 'N', 'I')
    std::string text;
    std::int64_t integer = 0;
    double real = 0;

    static OscArg Text(std::string value) { return {'s', std::move(value), 0, 0}; }
    static OscArg Int(std::int32_t value) { return {'i', {}, value, 0}; }
    bool operator==(const OscArg&) const = default;
};

struct OscMessage {
    std::string path;
    std::string types;
    std::vector<OscArg> args;
    int sourcePort = 0;

    // The argument's text ('s'), or empty.
    std::string Text(std::size_t i) const;
    // The argument's integer ('i', 'h'), or 0.
    std::int64_t Int(std::size_t i) const;
};

// A session manager as far as its clients can tell: it listens on a free UDP port of this
// machine, records every message it receives, answers an announce, and sends the client that
// announced what a session manager sends. Several clients may announce; commands go to the last.
//
// Waits poll the record with a deadline: a test fails on what arrived (or did not), never on
// how long it took, as long as it came within the (generous) timeout.
class NsmFakeServer {
  public:
    NsmFakeServer();
    ~NsmFakeServer();
    NsmFakeServer(const NsmFakeServer&) = delete;
    NsmFakeServer& operator=(const NsmFakeServer&) = delete;

    bool Running() const { return thread_ != nullptr; }
    // "osc.udp://127.0.0.1:PORT/", for NSM_URL.
    std::string Url() const;
    int Port() const { return port_; }

    // How an announce is answered: accepted (the default) with this name and these
    // capabilities, or refused with an error code and message.
    void AcceptAnnounces(std::string name, std::string capabilities);
    void RefuseAnnounces(int code, std::string message);

    // Everything received so far, in arrival order.
    std::vector<OscMessage> Messages() const;
    // Those with this path.
    std::vector<OscMessage> Messages(const std::string& path) const;
    // Waits until `count` messages with this path have arrived; the last of them, or nothing.
    std::optional<OscMessage> WaitFor(const std::string& path, std::size_t count = 1,
                                      std::chrono::milliseconds timeout = kTimeout);
    // Waits for the answer (/reply or /error) to the nth command of this path sent so far: the
    // answer's first argument names the command.
    std::optional<OscMessage> WaitForAnswer(const std::string& command, std::size_t count = 1,
                                            std::chrono::milliseconds timeout = kTimeout);
    // Waits until a client has announced.
    bool WaitForAnnounce(std::chrono::milliseconds timeout = kTimeout);
    // The pid the last announce gave, or 0.
    int AnnouncedPid() const;

    // Commands to the client that announced; false when none has, or sending failed.
    bool Open(const std::string& path, const std::string& displayName, const std::string& clientId);
    bool Save();
    bool ShowGui();
    bool HideGui();
    bool SessionIsLoaded();
    // Any message, for what a session manager should never send.
    bool Send(const std::string& path, const std::vector<OscArg>& args);
    // Bytes that are no OSC message at all, sent from the server's own port.
    bool SendBytes(const std::vector<std::uint8_t>& bytes);
    // The same to a client's port from another port of this machine: not the session manager.
    static bool SendFromElsewhere(int port, const std::string& path,
                                  const std::vector<OscArg>& args);

    static constexpr std::chrono::milliseconds kTimeout{20000};

  private:
    struct Liblo;  // the liblo side, kept out of this header

    void* thread_ = nullptr;  // lo_server_thread
    int port_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<OscMessage> messages_;
    void* client_ = nullptr;  // lo_address of the client that announced last
    int announcedPid_ = 0;
    bool accept_ = true;
    std::string name_ = "Fake NSM";
    std::string capabilities_ = ":server-control:optional-gui:";
    int refuseCode_ = 0;
    std::string refuseMessage_;
};

}  // namespace testsupport

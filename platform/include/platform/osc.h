#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// OSC for both programs: a mirror of what they send and play (out), and MIDI and a few commands
// from tablets and other programs (in). Outgoing packets are built in a fixed buffer and leave
// through a non-blocking socket, so the thread that plays MIDI never waits on the network and
// allocates nothing; incoming packets are read on a thread of their own, checked through and
// through (liblo parses each message), and handed over as plain commands.
namespace platform {

// An OSC time tag: seconds since 1900 and a binary fraction.
struct OscTime {
    std::uint32_t seconds = 0;
    std::uint32_t fraction = 1;  // 0:1 is "at once"
};
OscTime ToOscTime(std::chrono::system_clock::time_point when);
OscTime OscNow();

// One OSC bundle built in place. Nothing is allocated; a message that does not fit is refused
// and the bundle stays as it was.
class OscBundle {
  public:
    // Room for a system-exclusive message of a few kilobytes as text, or hundreds of small ones.
    static constexpr std::size_t kCapacity = 16384;

    void Begin(OscTime time);
    bool Empty() const { return messages_ == 0; }
    int Messages() const { return messages_; }
    [[nodiscard]] bool AddInts(std::string_view address, std::span<const std::int32_t> values);
    [[nodiscard]] bool AddIntFloat(std::string_view address, std::int32_t index, float value);
    [[nodiscard]] bool AddString(std::string_view address, std::string_view text);
    std::span<const std::uint8_t> Bytes() const { return {data_.data(), size_}; }

  private:
    std::array<std::uint8_t, kCapacity> data_{};
    std::size_t size_ = 0;
    int messages_ = 0;
};

// The OSC message that mirrors one MIDI message, added to bundle: /note, /control, /pitch,
// /program, /pressure with channels 1 to 16, /sysex with the bytes as hexadecimal text; a
// message without an address of its own (polyphonic pressure, system common and real-time)
// as /midi with its bytes as text. False when bytes is no MIDI message or it does not fit.
[[nodiscard]] bool AddMidiAsOsc(OscBundle& bundle, std::span<const std::uint8_t> bytes);

// Where OSC goes or is heard, as the user writes it. Out: "HOST:PORT" ("[::1]:9000" for an IPv6
// address). In: "PORT" for 127.0.0.1 only, or "ADDRESS:PORT" to listen on another address of
// this machine ("0.0.0.0:9000" for every one). Empty text is off. False with a sentence saying
// what is wrong.
struct OscAddress {
    std::string host;
    std::uint16_t port = 0;
};
[[nodiscard]] bool ParseOscOut(std::string_view text, OscAddress& out, std::string& error);
[[nodiscard]] bool ParseOscIn(std::string_view text, OscAddress& out, std::string& error);

// A UDP socket towards one peer. Send never blocks: a datagram the system cannot take at once
// is dropped and counted.
class OscSender {
  public:
    // Resolves the host (a name may ask the resolver once, here) and opens the socket. nullptr
    // and a sentence when the peer cannot be reached by any means.
    static std::unique_ptr<OscSender> Open(const OscAddress& to, std::string& error);
    ~OscSender();
    OscSender(const OscSender&) = delete;
    OscSender& operator=(const OscSender&) = delete;

    // May be called from any thread. Nothing is sent for an empty bundle.
    bool Send(const OscBundle& bundle);
    std::uint64_t Sent() const { return sent_.load(std::memory_order_relaxed); }
    std::uint64_t Dropped() const { return dropped_.load(std::memory_order_relaxed); }
    const std::string& Peer() const { return peer_; }

  private:
    OscSender(int fd, std::string peer) : fd_(fd), peer_(std::move(peer)) {}
    int fd_;
    std::string peer_;
    std::atomic<std::uint64_t> sent_{0};
    std::atomic<std::uint64_t> dropped_{0};
};

// One thing a peer asked for, checked: a MIDI message to play (bytes), or a command under the
// program's own prefix ("/tamborex/entry 5": name "entry", value 5).
struct OscCommand {
    enum class Kind { Midi, Command };
    Kind kind = Kind::Midi;
    std::vector<std::uint8_t> bytes;  // Midi: a whole message, system exclusive included
    std::string name;                 // Command: the address after the prefix
    std::int32_t value = 0;           // Command: its argument; 0 without one
    bool hasValue = false;
};

// The rules for the commands under a prefix: which names exist, whether each takes one integer
// argument, and the range it must lie in.
struct OscCommandRule {
    std::string_view name;
    bool takesValue = false;
    std::int32_t min = 0;
    std::int32_t max = 0;
};

// Reads one packet (a message or a bundle, bundles nested up to a few deep) and gives each
// message that checks out to accept, in the packet's order; accept says whether the program
// took it. Returns how many messages were ignored: malformed, unknown, of the wrong types or
// out of range, or refused by accept. Never reads outside packet. Integer arguments may come
// as 32- or 64-bit integers, or as floats that hold a whole number (many touch layouts send
// only floats); booleans (T, F) count as 1 and 0.
class OscReader {
  public:
    OscReader(std::string prefix, std::vector<OscCommandRule> rules)
        : prefix_(std::move(prefix)), rules_(std::move(rules)) {}
    int Read(std::span<const std::uint8_t> packet,
             const std::function<bool(const OscCommand&)>& accept) const;

  private:
    int ReadElement(std::span<const std::uint8_t> element, int depth,
                    const std::function<bool(const OscCommand&)>& accept) const;
    bool ReadMessage(std::span<const std::uint8_t> message, OscCommand& command) const;

    std::string prefix_;
    std::vector<OscCommandRule> rules_;
};

// A UDP port that hears OSC on a thread of its own and hands each checked command to a
// handler on that thread (which posts it where it belongs). Packets and ignored messages are
// counted; nothing a peer sends stops it.
class OscListener {
  public:
    // Port 0 takes a free one (see Port). nullptr and a sentence when the address cannot be
    // listened on (taken, not this machine's).
    static std::unique_ptr<OscListener> Start(const OscAddress& at, OscReader reader,
                                              std::function<bool(const OscCommand&)> handler,
                                              std::string& error);
    // Stops and joins the thread: the handler is not called after this.
    ~OscListener();
    OscListener(const OscListener&) = delete;
    OscListener& operator=(const OscListener&) = delete;

    std::uint16_t Port() const { return port_; }
    // Packets read and handled: what each did (the handler, Ignored()) is done once counted.
    std::uint64_t Packets() const { return packets_.load(); }
    std::uint64_t Ignored() const { return ignored_.load(); }

  private:
    OscListener(int fd, int wake, std::uint16_t port, OscReader reader,
                std::function<bool(const OscCommand&)> handler);
    void Run();

    int fd_;
    int wake_;  // an eventfd that ends the thread
    std::uint16_t port_;
    OscReader reader_;
    std::function<bool(const OscCommand&)> handler_;
    std::atomic<std::uint64_t> packets_{0};
    std::atomic<std::uint64_t> ignored_{0};
    std::thread thread_;
};

// The controller as OSC sees it: an axis read in [min, max] as -1 to 1.
float OscAxisValue(std::int32_t value, std::int32_t min, std::int32_t max);

}  // namespace platform

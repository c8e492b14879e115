#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/spsc_ring.h"

typedef struct _jack_client jack_client_t;
typedef struct _jack_port jack_port_t;

namespace testsupport {

// A plain libjack client on the default server, the peer our MIDI service is checked against:
// a source that writes short messages at chosen frames, a sink that records what arrives with
// its absolute frame, or a copier that forwards its input to its output inside the same cycle
// (the floor a thru is held to).
class JackPeer {
  public:
    enum class Role { Source, Sink, Copier };

    struct Arrival {
        std::array<std::uint8_t, 3> bytes{};
        std::uint8_t size = 0;        // the event's full size; only the first 3 bytes are kept
        std::uint32_t frame = 0;      // absolute frame time of the event
        std::uint64_t arrivedUs = 0;  // JACK's clock when the sink's cycle ran
    };

    JackPeer(const std::string& name, Role role);
    ~JackPeer();
    JackPeer(const JackPeer&) = delete;
    JackPeer& operator=(const JackPeer&) = delete;

    bool Ok() const { return client_ != nullptr; }
    // "name:in" or "name:out".
    std::string Port(const char* shortName) const;
    bool Connect(const std::string& from, const std::string& to) const;
    // Gives one of our ports ("in", "out") another short name, as a user can in a patchbay.
    bool Rename(const char* shortName, const std::string& newShortName);

    // Source: the message leaves in the next cycle at this frame of it (clamped into the cycle).
    // Returns JACK's clock at the call, for latency figures.
    std::uint64_t Send(std::uint32_t packed, int size, std::uint32_t frame = 0);
    // Source: the absolute frames the messages were written at, in order.
    std::vector<std::uint32_t> SentFrames();

    // Sink: everything that has arrived so far, waiting up to timeout for at least n.
    std::vector<Arrival> WaitForArrivals(std::size_t n, std::chrono::milliseconds timeout);

  private:
    struct Outgoing {
        std::uint32_t packed;
        std::uint32_t size;
        std::uint32_t frame;
    };
    static int OnProcess(std::uint32_t frames, void* self);
    static void OnShutdown(void* self);
    void Process(std::uint32_t frames);

    jack_client_t* client_ = nullptr;
    std::atomic<bool> alive_{false};
    jack_port_t* in_ = nullptr;
    jack_port_t* out_ = nullptr;
    std::string name_;
    // Large enough for a whole benchmark run without a reader.
    std::unique_ptr<platform::SpscRing<Outgoing, 1 << 12>> outgoing_;
    std::unique_ptr<platform::SpscRing<std::uint32_t, 1 << 18>> sentFrames_;
    std::unique_ptr<platform::SpscRing<Arrival, 1 << 18>> arrivals_;
    std::vector<Arrival> collected_;
    std::vector<std::uint32_t> frames_;
};

}  // namespace testsupport

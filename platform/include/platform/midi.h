#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The results a MIDI call can give. Every failure of the underlying library is mapped to one of
// these at this boundary; nothing here throws.
enum class MidiResult {
    NoError,
    InvalidParam,
    BadDeviceId,
    NoDevice,
    Allocated,
    InvalidHandle,
    NoMemory,
    Other,
};

std::string_view MidiResultName(MidiResult result);

// Opaque port handles. kNoHandle is never handed out; a closed handle is never reused, so a stale
// one gives InvalidHandle instead of reaching somebody else's port.
using MidiOutHandle = std::uint32_t;
using MidiInHandle = std::uint32_t;
inline constexpr std::uint32_t kNoHandle = 0;

// A short message packed the way the programs hold it: status in bits 0-7, data 1 in bits 8-15,
// data 2 in bits 16-23.
constexpr std::uint32_t PackShortMessage(std::uint8_t status, std::uint8_t data1 = 0,
                                         std::uint8_t data2 = 0) {
    return static_cast<std::uint32_t>(status) | (static_cast<std::uint32_t>(data1) << 8) |
           (static_cast<std::uint32_t>(data2) << 16);
}

// Number of bytes a message with this status byte has on the wire (1 to 3). Data bytes as status
// and system exclusive, which never travel as short messages, count as 1.
int ShortMessageLength(std::uint8_t status);

// Whether a status byte can start a short message. Data bytes and the system-exclusive framing
// bytes cannot; sending one gives InvalidParam.
constexpr bool IsShortMessageStatus(std::uint8_t status) {
    return status >= 0x80 && status != 0xF0 && status != 0xF7;
}

// Receives one incoming short message, packed as above, with the milliseconds since the input was
// started. Runs on a thread of the platform layer (never the MIDI server's real-time thread),
// one message at a time, in arrival order; it may lock and allocate.
using MidiInCallback = std::function<void(std::uint32_t message, std::uint32_t timestampMs)>;

struct MidiInputStats {
    std::uint64_t received = 0;    // taken from the backend while started
    std::uint64_t overflowed = 0;  // dropped because the hand-off ring was full
};

// What a service has done with the traffic since it was created.
struct MidiCounters {
    std::uint64_t sent = 0;        // our own messages handed to the backend
    std::uint64_t thru = 0;        // messages copied from an input to an output
    std::uint64_t carried = 0;     // waited for a later JACK cycle: a port buffer was full
    std::uint64_t dropped = 0;     // could never leave: too large for the server, or queue full
    std::uint64_t received = 0;    // taken from inputs while started
    std::uint64_t overflowed = 0;  // arrived faster than the program took them
    std::uint64_t reconnects = 0;  // times the ports came back with a MIDI server
    bool operator==(const MidiCounters&) const = default;
};

// One "name value" line per counter.
std::string FormatMidiCounters(const MidiCounters& counters);

// The MIDI service: device lists, ports opened by list index, short messages, byte blocks, input
// with a callback, and a thru connection from an input to an output.
//
// Device lists: ListOutputs/ListInputs take a fresh snapshot; Open* takes an index into the last
// snapshot of its kind (taking one first if there is none), so an index keeps meaning the port
// the user saw even if other programs come and go in between. On backends with virtual ports,
// index 0 is this program's own port, named after the client name.
//
// All operations may be called from any thread. Sends on one port from two threads are
// serialised; a send racing a close either completes before the close or gives InvalidHandle.
class MidiService {
  public:
    MidiService() = default;
    MidiService(const MidiService&) = delete;
    MidiService& operator=(const MidiService&) = delete;
    virtual ~MidiService() = default;

    // "ALSA sequencer", "JACK" or "none", and a sentence saying why this one was chosen.
    virtual std::string BackendName() const = 0;
    virtual std::string BackendReason() const = 0;

    virtual std::vector<std::string> ListOutputs() = 0;
    virtual std::vector<std::string> ListInputs() = 0;

    [[nodiscard]] virtual MidiResult OpenOutput(int index, MidiOutHandle& handle) = 0;
    virtual MidiResult CloseOutput(MidiOutHandle handle) = 0;
    [[nodiscard]] virtual MidiResult SendShort(MidiOutHandle handle, std::uint32_t message) = 0;
    // The bytes are copied before the call returns; the caller may reuse its buffer at once.
    [[nodiscard]] virtual MidiResult SendLong(MidiOutHandle handle,
                                              std::span<const std::uint8_t> bytes) = 0;
    // Short messages that belong together (a panic's offs and resets): on JACK they leave in one
    // process cycle, as one cycle would carry them. Stops at the first failure and gives it.
    [[nodiscard]] virtual MidiResult SendShortBatch(MidiOutHandle handle,
                                                    std::span<const std::uint32_t> messages) {
        for (const std::uint32_t message : messages) {
            if (const MidiResult result = SendShort(handle, message);
                result != MidiResult::NoError) {
                return result;
            }
        }
        return MidiResult::NoError;
    }
    // Up to kMaxShortGroup short messages that belong together (a 14-bit controller's MSB and
    // LSB, an NRPN sequence), sent in order with nothing of this program's between them; on JACK
    // they go out as separate events at the same frame of one cycle, with no thru copy between.
    // Stops at the first that fails and gives its result.
    static constexpr std::size_t kMaxShortGroup = 8;
    [[nodiscard]] virtual MidiResult SendShorts(MidiOutHandle handle,
                                                std::span<const std::uint32_t> messages);

    // Opens the input stopped; nothing is delivered until StartInput. The callback may be empty
    // (an input opened only to feed a thru connection).
    [[nodiscard]] virtual MidiResult OpenInput(int index, MidiInCallback callback,
                                               MidiInHandle& handle) = 0;
    virtual MidiResult StartInput(MidiInHandle handle) = 0;
    virtual MidiResult StopInput(MidiInHandle handle) = 0;
    // Once this returns the callback is not running and will not run again. Must not be called
    // from inside the input's own callback (gives InvalidParam).
    virtual MidiResult CloseInput(MidiInHandle handle) = 0;
    virtual MidiInputStats InputStats(MidiInHandle handle) = 0;

    // While connected, every message arriving at the input also leaves at the output, before the
    // input's callback sees it. One output per input.
    virtual MidiResult Connect(MidiInHandle input, MidiOutHandle output) = 0;
    virtual MidiResult Disconnect(MidiInHandle input, MidiOutHandle output) = 0;

    virtual MidiCounters Counters() const = 0;
};

enum class MidiBackend { Automatic, AlsaSequencer, Jack, None };

// "auto", "alsa", "jack", "none": the words the command line and the settings use.
std::string_view MidiBackendWord(MidiBackend backend);
bool ParseMidiBackend(std::string_view word, MidiBackend& backend);

// The real service. Automatic picks the ALSA sequencer where it can be opened, otherwise JACK
// where a server is running, otherwise a system with no devices; a backend asked for by name is
// the only one tried, and when it cannot be had the result is a system with no devices whose
// reason says why. clientName names the program's client and its own ports ("Tamborex",
// "Corvane").
//
// On JACK the program is one client holding its own ports and one per device opened; sends are
// queued without a lock and leave in the next process cycle, in time order with the thru copies,
// which are made inside the cycle at the frame they arrived; what does not fit a cycle is
// carried to the next one. When the server goes, sends fail at once with NoDevice; when one
// comes back, the open ports return under the same handles and are connected again by name.
std::unique_ptr<MidiService> CreateMidiService(std::string_view clientName,
                                               MidiBackend backend = MidiBackend::Automatic);

// For a service that offers no devices: why, as the service found it, and what to do about it,
// in one line for a message.
std::string NoMidiDevicesAdvice(const MidiService& service, std::string_view program);

// Where a port the user picked, remembered by name and by its index in the list, is now: its
// index in names when there, -1 when it is gone; the stored index when no name was remembered
// (files from before names were kept).
int FollowPortName(const std::vector<std::string>& names, const std::string& remembered,
                   int storedIndex);

// What the user is told when a remembered port is gone: the program leaves it closed rather
// than play on whatever port took its place in the list. kind is "input" or "output".
std::string MissingPortMessage(std::string_view program, std::string_view kind,
                               std::string_view name);

}  // namespace platform

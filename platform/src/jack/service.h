#pragma once

// The MIDI service on libjack itself: one client named after the program, holding its own "out"
// and "in" ports (index 0 of each list, there from the start whether opened or not) and one port
// per device opened, connected by name.
//
// Threads. Control calls (lists, open, close, connect) take controlMutex_. A send takes only its
// port's send mutex, which orders the producers of that port's send queue; the process callback
// is the queue's one consumer. The process callback takes no lock and allocates nothing: it
// writes the queued sends and the thru copies into the port buffers, in time order, carries what
// does not fit to the next cycle, and hands incoming messages to one dispatcher thread per input.
// A supervisor thread opens a new client when a server comes back, connects again ports whose
// peer has returned, and publishes the counters for tamborex-list-devices.
//
// The code is in three parts: client.cpp (the client, its supervisor and the counters),
// ports.cpp (the port table: lists, opening, closing, connecting) and process.cpp (the process
// cycle and sending); what a cycle writes to an output is cycle.cpp's, apart from JACK.

#include <jack/jack.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "../input_hand_off.h"
#include "../midi_backends.h"
#include "cycle.h"

namespace platform::jack {

constexpr int kSlots = 16;  // ports per direction, our own port included

// Output slots go kFree -> kOpen -> kClosing (the process callback still drains the queue) ->
// kDrained (it clears the buffer once more) -> kReleased (it no longer touches the port) -> kFree.
// Input slots go kOpen -> kClosing -> kReleased.
enum SlotState : int { kFree, kOpen, kClosing, kDrained, kReleased };

struct OutSlot {
    // Control side, under controlMutex_.
    std::string target;  // full JACK port name; empty for our own port
    std::string portName;
    // Shared with sends and the process callback.
    std::atomic<MidiOutHandle> handle{kNoHandle};
    std::atomic<jack_port_t*> port{nullptr};
    std::atomic<int> state{kFree};
    std::mutex sendMutex;
    std::unique_ptr<OutputCarry> carry;  // made at the first open
    // Connected to its target, but the server has not yet run a cycle with the connection: what
    // the port carries now would reach nobody. The process callback clears it.
    std::atomic<bool> linking{false};
};

struct InSlot {
    std::string target;
    std::string portName;
    InputHandOff handOff;
    std::atomic<MidiInHandle> handle{kNoHandle};
    std::atomic<jack_port_t*> port{nullptr};
    std::atomic<int> state{kFree};
    std::atomic<bool> started{false};
    std::atomic<jack_time_t> startUs{0};
    std::atomic<MidiOutHandle> thru{kNoHandle};
};

class JackMidiService final : public ByteSendingMidiService {
  public:
    JackMidiService(std::string_view clientName, std::string reason)
        : clientName_(clientName), reason_(std::move(reason)) {}
    ~JackMidiService() override;

    // Opens the client; false with why when there is no server.
    bool Start(std::string& why);

    std::string BackendName() const override { return "JACK"; }
    std::string BackendReason() const override { return reason_; }

    std::vector<std::string> ListOutputs() override;
    std::vector<std::string> ListInputs() override;
    MidiResult OpenOutput(int index, MidiOutHandle& handle) override;
    MidiResult CloseOutput(MidiOutHandle handle) override;
    MidiResult OpenInput(int index, MidiInCallback callback, MidiInHandle& handle) override;
    MidiResult StartInput(MidiInHandle handle) override;
    MidiResult StopInput(MidiInHandle handle) override;
    MidiResult CloseInput(MidiInHandle handle) override;
    MidiInputStats InputStats(MidiInHandle handle) override;
    MidiResult Connect(MidiInHandle input, MidiOutHandle output) override;
    MidiResult Disconnect(MidiInHandle input, MidiOutHandle output) override;
    MidiCounters Counters() const override;

  private:
    // --- client.cpp: the client and its supervisor
    bool OpenClient(std::string& why);
    bool OpenClientInactive(std::string& why);
    void CloseClient();
    void Reopen();
    void RestoreConnections();
    void Supervise();
    void PublishCounters();
    static void OnShutdown(jack_status_t, const char*, void* self);
    static void OnPortRegistration(jack_port_id_t, int, void* self);
    static void OnPortRename(jack_port_id_t, const char*, const char*, void* self);

    // --- ports.cpp: the port table
    MidiResult Register(const std::string& name, unsigned long flags,
                        std::atomic<jack_port_t*>& port);
    void Unregister(std::atomic<jack_port_t*>& port);
    bool Link(const std::string& from, const std::string& to);
    template <typename Slot>
    bool LinkToTarget(Slot& slot);
    template <typename Slot>
    MidiResult Claim(std::array<Slot, kSlots>& slots, std::vector<std::string>& targets, int index,
                     int& claimed);
    template <typename Slot>
    void RegisterOpen(std::array<Slot, kSlots>& slots);
    MidiOutHandle NewHandle(int slot);
    bool Own(const std::string& fullName) const;
    std::vector<std::string> Snapshot(unsigned long flags, std::vector<std::string>& targets);
    MidiResult Resolve(unsigned long flags, std::vector<std::string>& targets, int index,
                       std::string& target);
    void WaitUntilReleased(std::atomic<int>& state);
    // Our own "out" and "in" for every slot that does not hold them now.
    void RegisterIdleOwnPorts();
    // A closed port goes; our own waits as an idle port, still connected as the patchbay left it.
    template <typename Slot>
    void ReleasePort(Slot& slot);
    void WaitUntilLinked(OutSlot& slot);

    // --- process.cpp: sending and the process cycle
    MidiResult SendBytes(MidiOutHandle handle, const std::uint8_t* bytes,
                         std::size_t size) override;
    MidiResult SendShortBatch(MidiOutHandle handle,
                              std::span<const std::uint32_t> messages) override;
    // One queue record for the whole group, so that the cycle writes all of it or waits.
    MidiResult SendGroup(MidiOutHandle handle, const std::uint8_t* bytes,
                         std::span<const std::uint8_t> lengths) override;
    MidiResult Queue(MidiOutHandle handle, const std::uint8_t* bytes, std::size_t size,
                     std::uint32_t parts);
    // Runs queue(slot, client) with the handle's slot locked, while the handle is open and the
    // server is there; otherwise the messages are counted as dropped.
    template <typename QueueInto>
    MidiResult WithOpenSlot(MidiOutHandle handle, std::size_t messages, QueueInto queue);
    static int OnProcess(jack_nframes_t frames, void* self);
    void Process(jack_nframes_t frames);

    const std::string clientName_;
    const std::string reason_;
    std::string countersFolder_;
    std::string countersPath_;  // empty: the counters are not published

    std::mutex controlMutex_;  // before any send mutex
    std::string ownPrefix_;
    std::vector<std::string> outputTargets_;
    std::vector<std::string> inputTargets_;
    std::uint32_t nextSerial_ = 1;

    std::atomic<jack_client_t*> client_{nullptr};
    std::atomic<bool> alive_{false};
    std::atomic<bool> graphChanged_{false};
    std::atomic<bool> inCycle_{false};  // the process callback is running
    std::atomic<std::size_t> largestEvent_{0};
    std::array<OutSlot, kSlots> outs_;
    std::array<InSlot, kSlots> ins_;
    // Our own "out" and "in" exist from the client's start, so that a patchbay can connect them
    // before anything opens them. While no slot holds one it waits here; the cycle keeps the idle
    // output's buffer empty.
    std::atomic<jack_port_t*> idleOut_{nullptr};
    std::atomic<jack_port_t*> idleIn_{nullptr};

    CycleCounters cycle_;
    std::atomic<std::uint64_t> reconnects_{0};
    std::atomic<std::uint64_t> closedReceived_{0};
    std::atomic<std::uint64_t> closedOverflowed_{0};
    std::optional<MidiCounters> published_;  // what the file holds, once written

    std::mutex superviseMutex_;
    std::condition_variable superviseWake_;
    bool stopping_ = false;
    std::thread supervisor_;
};

// The slot a handle names; its low bits hold the slot's index plus one.
inline constexpr std::uint32_t kSlotBits = 5;

template <typename Slot>
Slot* FindSlot(std::array<Slot, kSlots>& slots, std::uint32_t handle) {
    const std::uint32_t index = handle & ((1u << kSlotBits) - 1);
    if (handle == kNoHandle || index == 0 || index > kSlots) {
        return nullptr;
    }
    Slot& slot = slots[index - 1];
    return slot.handle.load() == handle ? &slot : nullptr;
}

}  // namespace platform::jack

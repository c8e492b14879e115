#pragma once

// What one process cycle writes to an output port, apart from JACK itself so that it can be
// checked without a server: the messages the program sent, the thru copies of what arrived at
// the inputs in this cycle, and what an earlier cycle could not fit, merged in time order.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/midi.h"
#include "send_queue.h"

namespace platform::jack {

struct CycleEvent {
    std::uint32_t time = 0;  // frame in the cycle
    const std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
};

// One port's event buffer for one cycle: JACK's, or a test's. JACK's rules hold for every one:
// events are reserved in time order, within the cycle, while there is room.
class CycleBuffer {
  public:
    virtual ~CycleBuffer() = default;
    virtual std::uint32_t EventCount() const = 0;
    virtual bool Event(std::uint32_t index, CycleEvent& event) const = 0;
    // Room for size bytes at frame; null when the buffer cannot take it.
    virtual std::uint8_t* Reserve(std::uint32_t frame, std::size_t size) = 0;
    // The largest event the buffer can still take.
    virtual std::size_t Largest() const = 0;
};

// One input's events in this cycle, and how far they have been copied to the output they go to.
struct ThruSource {
    const CycleBuffer* buffer = nullptr;
    std::uint32_t next = 0;
    std::uint32_t count = 0;
    MidiOutHandle output = kNoHandle;
};

struct CycleCounters {
    std::atomic<std::uint64_t> sent{0};
    std::atomic<std::uint64_t> thru{0};
    std::atomic<std::uint64_t> carried{0};
    std::atomic<std::uint64_t> dropped{0};
};

// Everything one output keeps between cycles.
class OutputCarry {
  public:
    explicit OutputCarry(std::size_t sendBytes) : sends(sendBytes) {}

    SendQueue sends;

    // Cycle only. Writes this output's part of a cycle of frames that started at frame time
    // cycleStart into buffer, already cleared; what does not fit waits for the next cycle.
    // True when nothing is left waiting.
    bool Merge(CycleBuffer& buffer, MidiOutHandle handle, std::uint32_t frames,
               std::uint32_t cycleStart, std::span<ThruSource> thru, CycleCounters& counters);

    // While no cycle runs: what waits is dropped and counted.
    void Discard(CycleCounters& counters);

  private:
    static constexpr std::size_t kSpillBytes = 1 << 14;

    bool WriteSpill(CycleBuffer& buffer, std::size_t largest, CycleCounters& counters);
    void Spill(const CycleEvent& event, CycleCounters& counters);
    bool WriteQueued(CycleBuffer& buffer, std::uint32_t at, std::size_t largest,
                     const SendQueue::Header& header, CycleCounters& counters);
    // A SendShorts group: each message its own event, all at frame at.
    bool WriteGroup(CycleBuffer& buffer, std::uint32_t at, std::size_t largest,
                    const SendQueue::Header& header, CycleCounters& counters);
    static constexpr std::size_t kGroupBytes = MidiService::kMaxShortGroup * 3;
    static constexpr std::size_t kEventOverhead = 16;

    // Thru copies that met a full buffer: a size byte, then the bytes.
    std::array<std::uint8_t, kSpillBytes> spill_{};
    std::size_t spillUsed_ = 0;
    bool backlog_ = false;  // the queue met a full buffer and has not been empty since
};

// The frame in this cycle for a message sent at frame time stamp: the cycle plays the period
// before it started, so a message keeps its place in time; one that waited longer goes first.
std::uint32_t FrameOf(std::uint32_t stamp, std::uint32_t frames, std::uint32_t cycleStart);

}  // namespace platform::jack

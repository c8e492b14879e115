// Sending, and the process cycle: what arrived goes to the inputs' dispatchers, what was sent and
// the thru copies go out.

#include <jack/midiport.h>

#include "platform/jack_graph_order.h"
#include "service.h"

namespace platform::jack {
namespace {

// A JACK port buffer in one cycle, as the merge sees it.
class JackCycleBuffer final : public CycleBuffer {
  public:
    JackCycleBuffer() = default;
    explicit JackCycleBuffer(void* buffer) : buffer_(buffer) {}

    std::uint32_t EventCount() const override { return jack_midi_get_event_count(buffer_); }
    bool Event(std::uint32_t index, CycleEvent& event) const override {
        jack_midi_event_t e;
        if (jack_midi_event_get(&e, buffer_, index) != 0) {
            return false;
        }
        event = {e.time, e.buffer, e.size};
        return true;
    }
    std::uint8_t* Reserve(std::uint32_t frame, std::size_t size) override {
        return jack_midi_event_reserve(buffer_, frame, size);
    }
    std::size_t Largest() const override { return jack_midi_max_event_size(buffer_); }

  private:
    void* buffer_ = nullptr;
};

bool IsShortInput(const CycleEvent& e) {
    return e.size >= 1 && e.size <= 3 && e.bytes[0] >= 0x80 && e.bytes[0] != 0xF0 &&
           e.bytes[0] != 0xF7;
}

// Hands this cycle's short messages from one input to its dispatcher; system exclusive is used
// by neither program.
void HandOff(InSlot& slot, jack_client_t* client, const CycleBuffer& buffer,
             jack_nframes_t cycleStart) {
    const jack_time_t startUs = slot.startUs.load(std::memory_order_relaxed);
    std::ptrdiff_t delivered = 0;
    for (std::uint32_t i = 0, count = buffer.EventCount(); i < count; ++i) {
        CycleEvent event;
        if (!buffer.Event(i, event) || !IsShortInput(event)) {
            continue;
        }
        std::uint32_t packed = 0;
        for (std::size_t b = 0; b < event.size; ++b) {
            packed |= static_cast<std::uint32_t>(event.bytes[b]) << (8 * b);
        }
        const jack_time_t at = jack_frames_to_time(client, cycleStart + event.time);
        const auto ms = static_cast<std::uint32_t>(at > startUs ? (at - startUs) / 1000 : 0);
        delivered += slot.handOff.Offer(packed, ms) ? 1 : 0;
    }
    if (delivered > 0) {
        slot.handOff.Wake(delivered);
    }
}

}  // namespace

MidiResult JackMidiService::SendBytes(MidiOutHandle handle, const std::uint8_t* bytes,
                                      std::size_t size) {
    return Queue(handle, bytes, size, 0);
}

MidiResult JackMidiService::SendGroup(MidiOutHandle handle, const std::uint8_t* bytes,
                                      std::span<const std::uint8_t> lengths) {
    std::size_t size = 0;
    for (const std::uint8_t length : lengths) {
        size += length;
    }
    return Queue(handle, bytes, size, static_cast<std::uint32_t>(lengths.size()));
}

template <typename QueueInto>
MidiResult JackMidiService::WithOpenSlot(MidiOutHandle handle, std::size_t messages,
                                         QueueInto queue) {
    const std::uint32_t index = handle & ((1u << kSlotBits) - 1);
    if (handle == kNoHandle || index == 0 || index > kSlots) {
        return MidiResult::InvalidHandle;
    }
    OutSlot& slot = outs_[index - 1];
    std::lock_guard lock(slot.sendMutex);
    if (slot.handle.load(std::memory_order_relaxed) != handle) {
        return MidiResult::InvalidHandle;
    }
    jack_client_t* client = client_.load(std::memory_order_relaxed);
    if (client == nullptr || !alive_.load(std::memory_order_acquire)) {
        // The server is away: a note off or a move lost here is counted like any other.
        cycle_.dropped.fetch_add(messages, std::memory_order_relaxed);
        return MidiResult::NoDevice;
    }
    return queue(slot, client);
}

MidiResult JackMidiService::Queue(MidiOutHandle handle, const std::uint8_t* bytes, std::size_t size,
                                  std::uint32_t parts) {
    return WithOpenSlot(handle, 1, [&](OutSlot& slot, jack_client_t* client) {
        const std::size_t largest = largestEvent_.load(std::memory_order_relaxed);
        if (largest != 0 && size > largest) {
            cycle_.dropped.fetch_add(1, std::memory_order_relaxed);
            return MidiResult::InvalidParam;  // no cycle of this server can carry it
        }
        if (!slot.carry->sends.Push(jack_frame_time(client), bytes, size, parts)) {
            cycle_.dropped.fetch_add(1, std::memory_order_relaxed);
            return MidiResult::NoMemory;
        }
        return MidiResult::NoError;
    });
}

MidiResult JackMidiService::SendShortBatch(MidiOutHandle handle,
                                           std::span<const std::uint32_t> messages) {
    return WithOpenSlot(handle, messages.size(), [&](OutSlot& slot, jack_client_t* client) {
        // Staged, then made visible at once: the cycle takes all of them or none, so they leave
        // in the same cycle (while its buffer has room). A queue too full for all of them still
        // takes what fits: a panic that half leaves is better than none.
        const std::uint32_t stamp = jack_frame_time(client);
        MidiResult result = MidiResult::NoError;
        for (const std::uint32_t message : messages) {
            std::uint8_t bytes[3];
            const std::size_t size = ShortMessageBytes(message, bytes);
            if (size == 0) {
                result = MidiResult::InvalidParam;
                break;
            }
            if (!slot.carry->sends.Stage(stamp, bytes, size)) {
                cycle_.dropped.fetch_add(1, std::memory_order_relaxed);
                result = MidiResult::NoMemory;
                break;
            }
        }
        slot.carry->sends.Commit();
        return result;
    });
}

int JackMidiService::OnProcess(jack_nframes_t frames, void* self) {
    static_cast<JackMidiService*>(self)->Process(frames);
    return 0;
}

void JackMidiService::Process(jack_nframes_t frames) {
    jack_client_t* client = client_.load(std::memory_order_acquire);
    if (client == nullptr) {
        return;
    }
    inCycle_.store(true, std::memory_order_relaxed);
    const jack_nframes_t cycleStart = jack_last_frame_time(client);
    // Our own output while nothing has it open: empty, cycle after cycle. First, so that a slot
    // taking it over in this cycle writes after this.
    if (jack_port_t* idle = idleOut_.load(std::memory_order_acquire); idle != nullptr) {
        void* buffer = jack_port_get_buffer(idle, frames);
        BeginPortBuffer(buffer);
        jack_midi_clear_buffer(buffer);
        EndPortBuffer(buffer);
    }

    std::array<JackCycleBuffer, kSlots> inputs;
    std::array<ThruSource, kSlots> thru{};
    std::array<void*, kSlots> inBuffers{};
    for (int i = 0; i < kSlots; ++i) {
        InSlot& slot = ins_[i];
        const int state = slot.state.load(std::memory_order_acquire);
        if (state == kClosing) {
            slot.state.store(kReleased, std::memory_order_release);
            continue;
        }
        jack_port_t* port = slot.port.load(std::memory_order_acquire);
        if (state != kOpen || port == nullptr || !slot.started.load(std::memory_order_acquire)) {
            continue;
        }
        inBuffers[i] = jack_port_get_buffer(port, frames);
        BeginPortBuffer(inBuffers[i]);
        inputs[i] = JackCycleBuffer(inBuffers[i]);
        thru[i] = {&inputs[i], 0, inputs[i].EventCount(),
                   slot.thru.load(std::memory_order_acquire)};
        HandOff(slot, client, inputs[i], cycleStart);
    }

    for (OutSlot& slot : outs_) {
        const int state = slot.state.load(std::memory_order_acquire);
        jack_port_t* port = slot.port.load(std::memory_order_acquire);
        if (port == nullptr || (state != kOpen && state != kClosing && state != kDrained)) {
            continue;
        }
        void* buffer = jack_port_get_buffer(port, frames);
        BeginPortBuffer(buffer);
        jack_midi_clear_buffer(buffer);
        if (state == kDrained) {
            EndPortBuffer(buffer);
            slot.state.store(kReleased, std::memory_order_release);
            continue;
        }
        if (slot.linking.load(std::memory_order_relaxed) && jack_port_connected(port) > 0) {
            slot.linking.store(false, std::memory_order_release);
        }
        JackCycleBuffer out(buffer);
        largestEvent_.store(out.Largest(), std::memory_order_relaxed);
        const bool drained = slot.carry->Merge(out, slot.handle.load(std::memory_order_relaxed),
                                               frames, cycleStart, thru, cycle_);
        EndPortBuffer(buffer);
        if (state == kClosing && drained) {
            slot.state.store(kDrained, std::memory_order_release);
        }
    }

    for (void* buffer : inBuffers) {
        if (buffer != nullptr) {
            EndPortBuffer(buffer);
        }
    }
    inCycle_.store(false, std::memory_order_release);
}

}  // namespace platform::jack

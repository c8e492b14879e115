#include "cycle.h"

#include <algorithm>
#include <cstring>

namespace platform::jack {

std::uint32_t FrameOf(std::uint32_t stamp, std::uint32_t frames, std::uint32_t cycleStart) {
    const auto offset = static_cast<std::int32_t>(stamp + frames - cycleStart);
    return static_cast<std::uint32_t>(
        std::clamp<std::int32_t>(offset, 0, static_cast<std::int32_t>(frames) - 1));
}

namespace {

// False when the buffer is full for this cycle. A message larger than any cycle can carry is
// dropped and counted instead.
bool WriteEvent(CycleBuffer& buffer, std::uint32_t at, const CycleEvent& event, std::size_t largest,
                CycleCounters& counters) {
    if (event.size > largest) {
        counters.dropped.fetch_add(1, std::memory_order_relaxed);
        return true;
    }
    std::uint8_t* to = buffer.Reserve(at, event.size);
    if (to == nullptr) {
        return false;
    }
    std::memcpy(to, event.bytes, event.size);
    return true;
}

}  // namespace

bool OutputCarry::Merge(CycleBuffer& buffer, MidiOutHandle handle, std::uint32_t frames,
                        std::uint32_t cycleStart, std::span<ThruSource> thru,
                        CycleCounters& counters) {
    const std::size_t largest = buffer.Largest();
    std::uint32_t at = 0;
    bool full = !WriteSpill(buffer, largest, counters);
    bool queueWaits = full;
    for (;;) {
        SendQueue::Header header{};
        const bool queued = !queueWaits && sends.Peek(header);
        const std::uint32_t queuedAt = queued ? FrameOf(header.stamp, frames, cycleStart) : 0;
        ThruSource* next = nullptr;
        CycleEvent event{};
        for (ThruSource& source : thru) {
            CycleEvent e;
            if (handle != kNoHandle && source.output == handle && source.next < source.count &&
                source.buffer->Event(source.next, e) && (next == nullptr || e.time < event.time)) {
                next = &source;
                event = e;
            }
        }
        if (next != nullptr && (!queued || event.time < queuedAt)) {
            ++next->next;
            at = std::max(at, event.time);
            if (full || !WriteEvent(buffer, at, event, largest, counters)) {
                full = true;
                Spill(event, counters);
            } else {
                counters.thru.fetch_add(1, std::memory_order_relaxed);
            }
            continue;
        }
        if (!queued) {
            break;
        }
        at = std::max(at, queuedAt);
        if (!WriteQueued(buffer, at, largest, header, counters)) {
            full = true;
            queueWaits = true;
            backlog_ = true;
        }
    }
    const bool empty = sends.Empty();
    backlog_ = backlog_ && !empty;
    return empty && spillUsed_ == 0;
}

bool OutputCarry::WriteQueued(CycleBuffer& buffer, std::uint32_t at, std::size_t largest,
                              const SendQueue::Header& header, CycleCounters& counters) {
    if (header.parts > 0) {
        return WriteGroup(buffer, at, largest, header, counters);
    }
    if (header.size > largest) {
        sends.Skip();
        counters.dropped.fetch_add(1, std::memory_order_relaxed);
        return true;
    }
    std::uint8_t* to = buffer.Reserve(at, header.size);
    if (to == nullptr) {
        return false;
    }
    sends.Pop(to);
    counters.sent.fetch_add(1, std::memory_order_relaxed);
    // Behind a buffer that was full: it waited for a later cycle.
    if (backlog_) {
        counters.carried.fetch_add(1, std::memory_order_relaxed);
    }
    return true;
}

bool OutputCarry::WriteGroup(CycleBuffer& buffer, std::uint32_t at, std::size_t largest,
                             const SendQueue::Header& header, CycleCounters& counters) {
    std::uint8_t bytes[kGroupBytes];
    if (header.size > sizeof bytes || header.parts > header.size) {
        sends.Skip();
        counters.dropped.fetch_add(header.parts, std::memory_order_relaxed);
        return true;
    }
    // All of it in this cycle or all of it in a later one: room for the group as one event,
    // with a generous event header for each part, leaves room for every part on its own.
    if (largest < header.size + kEventOverhead * header.parts) {
        return false;
    }
    sends.Pop(bytes);
    std::size_t done = 0;
    while (done < header.size) {
        const int length = ShortMessageLength(bytes[done]);
        if (length <= 0 || done + static_cast<std::size_t>(length) > header.size) {
            counters.dropped.fetch_add(1, std::memory_order_relaxed);
            break;
        }
        std::uint8_t* to = buffer.Reserve(at, static_cast<std::size_t>(length));
        if (to == nullptr) {
            counters.dropped.fetch_add(1, std::memory_order_relaxed);
            break;
        }
        std::memcpy(to, bytes + done, static_cast<std::size_t>(length));
        counters.sent.fetch_add(1, std::memory_order_relaxed);
        if (backlog_) {
            counters.carried.fetch_add(1, std::memory_order_relaxed);
        }
        done += static_cast<std::size_t>(length);
    }
    return true;
}

// Writes the thru copies carried from the last cycle at its start; false when they do not all
// fit yet.
bool OutputCarry::WriteSpill(CycleBuffer& buffer, std::size_t largest, CycleCounters& counters) {
    std::size_t done = 0;
    while (done < spillUsed_) {
        const CycleEvent event{0, &spill_[done + 1], spill_[done]};
        if (!WriteEvent(buffer, 0, event, largest, counters)) {
            break;
        }
        counters.thru.fetch_add(1, std::memory_order_relaxed);
        counters.carried.fetch_add(1, std::memory_order_relaxed);
        done += 1 + event.size;
    }
    std::memmove(spill_.data(), spill_.data() + done, spillUsed_ - done);
    spillUsed_ -= done;
    return spillUsed_ == 0;
}

void OutputCarry::Spill(const CycleEvent& event, CycleCounters& counters) {
    // Thru carries what arrived, so an event that cannot be kept is lost; it is counted.
    if (event.size > 255 || spillUsed_ + 1 + event.size > spill_.size()) {
        counters.dropped.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    spill_[spillUsed_] = static_cast<std::uint8_t>(event.size);
    std::memcpy(&spill_[spillUsed_ + 1], event.bytes, event.size);
    spillUsed_ += 1 + event.size;
}

void OutputCarry::Discard(CycleCounters& counters) {
    SendQueue::Header header{};
    while (sends.Peek(header)) {
        sends.Skip();
        counters.dropped.fetch_add(1, std::memory_order_relaxed);
    }
    for (std::size_t at = 0; at < spillUsed_; at += 1 + spill_[at]) {
        counters.dropped.fetch_add(1, std::memory_order_relaxed);
    }
    spillUsed_ = 0;
    backlog_ = false;
}

}  // namespace platform::jack

#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <semaphore>
#include <thread>

#include "platform/midi.h"
#include "platform/spsc_ring.h"

namespace platform {

// Incoming short messages on their way from the backend's thread (the JACK process cycle, the
// sequencer's reader) to the program's callback, which runs on a dispatcher thread of the input's
// own: the backend's side neither locks nor allocates, and a slow callback never holds it up.
class InputHandOff {
  public:
    // Runs on the dispatcher before the callback, with each message (a thru made by the service).
    using BeforeEach = std::function<void(std::uint32_t message)>;

    InputHandOff() = default;
    ~InputHandOff() { Stop(); }
    InputHandOff(const InputHandOff&) = delete;
    InputHandOff& operator=(const InputHandOff&) = delete;

    // Control thread: starts the dispatcher.
    void Start(MidiInCallback callback, BeforeEach before = {});
    // Control thread: ends the dispatcher once a callback that is running returns; what has not
    // been handed over yet is dropped. Not from the dispatcher itself.
    void Stop();
    bool OnDispatcher() const { return dispatcher_.get_id() == std::this_thread::get_id(); }

    // Backend thread. Queues a message, counted as received or, with the queue full, as
    // overflowed; false when it overflowed. Wake tells the dispatcher about n queued ones.
    bool Offer(std::uint32_t message, std::uint32_t timestampMs) {
        if (!ring_.TryPush({message, timestampMs})) {
            overflowed_.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        received_.fetch_add(1, std::memory_order_relaxed);
        return true;
    }
    void Wake(std::ptrdiff_t n) { pending_.release(n); }

    MidiInputStats Stats() const { return {received_.load(), overflowed_.load()}; }
    // The counts so far, which start again from zero.
    MidiInputStats TakeStats() { return {received_.exchange(0), overflowed_.exchange(0)}; }

  private:
    struct Event {
        std::uint32_t message;
        std::uint32_t timestampMs;
    };
    static constexpr std::size_t kRingSize = 4096;

    void Dispatch();

    MidiInCallback callback_;
    BeforeEach before_;
    SpscRing<Event, kRingSize> ring_;
    std::counting_semaphore<> pending_{0};
    std::atomic<bool> quit_{false};
    std::atomic<std::uint64_t> received_{0};
    std::atomic<std::uint64_t> overflowed_{0};
    std::thread dispatcher_;
};

}  // namespace platform

#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/spsc_ring.h"

// Incoming MIDI on its way from the input thread to the user-interface thread, in arrival order.
// The input thread pushes without a lock or an allocation while the ring has room; should the
// user-interface thread fall so far behind that it fills, the rest waits in an overflow list
// instead of being lost, and the ring is not used again until the list has been taken.
class CMidiInbox {
  public:
    // Input thread. True when the inbox was empty, so the reader must be woken.
    bool Push(std::uint32_t message) {
        if (overflowing_.load(std::memory_order_acquire) || !ring_.TryPush(message)) {
            std::lock_guard lock(overflowMutex_);
            overflow_.push_back(message);
            overflowing_.store(true, std::memory_order_release);
        }
        return !wakePending_.exchange(true, std::memory_order_acq_rel);
    }

    // User-interface thread: hands every waiting message to handle, oldest first, including
    // those that arrive meanwhile.
    template <typename Handle>
    void Drain(Handle&& handle) {
        wakePending_.store(false, std::memory_order_release);
        std::uint32_t message = 0;
        for (;;) {
            while (ring_.TryPop(message)) {
                handle(message);
            }
            std::vector<std::uint32_t> taken;
            {
                std::lock_guard lock(overflowMutex_);
                if (overflow_.empty()) {
                    overflowing_.store(false, std::memory_order_release);
                    return;
                }
                taken.swap(overflow_);
            }
            // While the flag stands the input thread adds only to the overflow, so whatever the
            // ring still holds came before what was taken.
            while (ring_.TryPop(message)) {
                handle(message);
            }
            for (std::uint32_t m : taken) {
                handle(m);
            }
        }
    }

  private:
    static constexpr std::size_t kCapacity = 4096;
    platform::SpscRing<std::uint32_t, kCapacity> ring_;
    std::atomic<bool> wakePending_{false};
    std::atomic<bool> overflowing_{false};
    std::mutex overflowMutex_;
    std::vector<std::uint32_t> overflow_;
};

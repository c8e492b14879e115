#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>

namespace platform {

// The last messages a program sent, for a monitor window. One thread records (the one that
// sends), any other reads; recording is a few stores and never blocks or allocates, and a
// program that has no monitor open records nothing at all (it holds no log then).
class MidiSentLog {
  public:
    static constexpr int kEntries = 16;

    struct Entry {
        std::uint32_t message = 0;  // packed short message; a block is F0 with its length in data
        std::uint32_t timeMs = 0;   // since the log was made
    };

    MidiSentLog() : start_(std::chrono::steady_clock::now()) {}
    MidiSentLog(const MidiSentLog&) = delete;
    MidiSentLog& operator=(const MidiSentLog&) = delete;

    void RecordShort(std::uint32_t message) { Record(message & 0xFFFFFF); }
    void RecordBlock(std::size_t length) {
        const auto n = static_cast<std::uint32_t>(length > 0x3FFF ? 0x3FFF : length);
        Record(0xF0u | ((n & 0x7F) << 8) | ((n >> 7) << 16));
    }

    // How many were ever recorded: a reader that saw the same count has nothing new to show.
    std::uint64_t Count() const { return count_.load(std::memory_order_acquire); }

    // The last ones, oldest first; returns how many (at most kEntries).
    int Snapshot(std::array<Entry, kEntries>& out) const {
        const std::uint64_t count = Count();
        const int n = count < kEntries ? static_cast<int>(count) : kEntries;
        for (int i = 0; i < n; ++i) {
            const std::uint64_t word =
                entries_[(count - n + i) % kEntries].load(std::memory_order_relaxed);
            out[i] = {static_cast<std::uint32_t>(word & 0xFFFFFF),
                      static_cast<std::uint32_t>(word >> 24)};
        }
        return n;
    }

  private:
    void Record(std::uint32_t message) {
        const auto ms =
            static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - start_)
                                           .count());
        const std::uint64_t count = count_.load(std::memory_order_relaxed);
        entries_[count % kEntries].store(message | ((ms & 0xFFFFFFFFFFull) << 24),
                                         std::memory_order_relaxed);
        count_.store(count + 1, std::memory_order_release);
    }

    const std::chrono::steady_clock::time_point start_;
    std::array<std::atomic<std::uint64_t>, kEntries> entries_{};
    std::atomic<std::uint64_t> count_{0};
};

}  // namespace platform

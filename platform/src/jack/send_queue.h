#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace platform::jack {

// The messages one output port has been asked to send, on their way to the process cycle: one
// producer at a time (the port's send mutex orders them), the cycle the one consumer. A record,
// its header and its bytes, becomes visible to the cycle whole or not at all, and the cycle takes
// a record only when all of it is there; it neither locks nor allocates.
class SendQueue {
  public:
    struct Header {
        std::uint32_t stamp;  // the frame time when the message was sent
        std::uint32_t size;
        // 0: the bytes are one event. Otherwise the bytes are this many whole short messages
        // that go out as separate events, all in one cycle (see SendShorts).
        std::uint32_t parts;
    };

    // The storage is made here, on the control thread, never by the cycle.
    explicit SendQueue(std::size_t capacity)
        : bytes_(std::make_unique<std::uint8_t[]>(capacity)), capacity_(capacity) {}

    // Producer. False when there is no room for the whole record.
    bool Push(std::uint32_t stamp, const std::uint8_t* bytes, std::size_t size,
              std::uint32_t parts = 0) {
        if (!Stage(stamp, bytes, size, parts)) {
            return false;
        }
        Commit();
        return true;
    }

    // Producer: a record written but not yet visible to the cycle, so that several become
    // visible at once with Commit and one cycle takes them all. False when there is no room.
    bool Stage(std::uint32_t stamp, const std::uint8_t* bytes, std::size_t size,
               std::uint32_t parts = 0) {
        const std::size_t used = staged_ - tail_.load(std::memory_order_acquire);
        if (sizeof(Header) + size > capacity_ - used) {
            return false;
        }
        const Header header{stamp, static_cast<std::uint32_t>(size), parts};
        CopyIn(staged_, reinterpret_cast<const std::uint8_t*>(&header), sizeof header);
        CopyIn(staged_ + sizeof header, bytes, size);
        staged_ += sizeof header + size;
        return true;
    }

    // Producer: every staged record becomes visible.
    void Commit() { head_.store(staged_, std::memory_order_release); }

    // Consumer: the oldest record's header; false when there is none.
    bool Peek(Header& header) const {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (head_.load(std::memory_order_acquire) == tail) {
            return false;
        }
        CopyOut(tail, reinterpret_cast<std::uint8_t*>(&header), sizeof header);
        return true;
    }

    // Consumer: the oldest record's bytes into to (its size from Peek), then it is gone.
    void Pop(std::uint8_t* to) {
        Header header{};
        if (!Peek(header)) {
            return;
        }
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        CopyOut(tail + sizeof header, to, header.size);
        tail_.store(tail + sizeof header + header.size, std::memory_order_release);
    }

    // Consumer: the oldest record goes unsent.
    void Skip() {
        Header header{};
        if (Peek(header)) {
            tail_.store(tail_.load(std::memory_order_relaxed) + sizeof header + header.size,
                        std::memory_order_release);
        }
    }

    bool Empty() const {
        return head_.load(std::memory_order_acquire) == tail_.load(std::memory_order_acquire);
    }

  private:
    void CopyIn(std::size_t at, const std::uint8_t* from, std::size_t size) {
        const std::size_t offset = at % capacity_;
        const std::size_t first = std::min(size, capacity_ - offset);
        std::memcpy(bytes_.get() + offset, from, first);
        std::memcpy(bytes_.get(), from + first, size - first);
    }

    void CopyOut(std::size_t at, std::uint8_t* to, std::size_t size) const {
        const std::size_t offset = at % capacity_;
        const std::size_t first = std::min(size, capacity_ - offset);
        std::memcpy(to, bytes_.get() + offset, first);
        std::memcpy(to + first, bytes_.get(), size - first);
    }

    std::unique_ptr<std::uint8_t[]> bytes_;
    const std::size_t capacity_;
    alignas(64) std::atomic<std::size_t> head_{0};  // bytes ever written
    alignas(64) std::atomic<std::size_t> tail_{0};  // bytes ever taken
    std::size_t staged_ = 0;                        // producer only: bytes ever written
};

}  // namespace platform::jack

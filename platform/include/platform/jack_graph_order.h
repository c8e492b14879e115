#pragma once

// The JACK server orders the clients that share a port buffer (its writer, then its readers,
// then the writer again next cycle) through its own semaphores, which the thread sanitizer
// cannot see when both clients live in one process, as tests' peers do. These tell it, around
// each use of a port buffer in a process callback; elsewhere they are nothing.

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace platform {

// Before the first read or write of a port's buffer in a cycle.
inline void BeginPortBuffer([[maybe_unused]] void* buffer) {
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(buffer);
#endif
}

// After the last read or write of it in that cycle.
inline void EndPortBuffer([[maybe_unused]] void* buffer) {
#if defined(__SANITIZE_THREAD__)
    __tsan_release(buffer);
#endif
}

}  // namespace platform

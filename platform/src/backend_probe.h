#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <string_view>

typedef struct _jack_client jack_client_t;

namespace platform {

// Whether the ALSA sequencer can be opened here; on failure, why not.
bool ProbeAlsaSequencer(std::string& why);

// A small JACK client that only listens for the server going away. RtMidi's JACK output spins
// forever once its ring is full, which it will be after the server dies, so every send asks this
// first.
class JackServerWatch {
  public:
    JackServerWatch() = default;
    JackServerWatch(const JackServerWatch&) = delete;
    JackServerWatch& operator=(const JackServerWatch&) = delete;
    ~JackServerWatch();

    // Connects to the running server (never starts one). On failure, why not.
    bool Connect(std::string_view clientName, std::string& why);
    bool ServerAlive() const { return alive_.load(std::memory_order_acquire); }
    // How long one process cycle of the server lasts.
    std::chrono::microseconds Period() const;

  private:
    static void OnShutdown(void* self);

    jack_client_t* client_ = nullptr;
    std::atomic<bool> alive_{false};
};

}  // namespace platform

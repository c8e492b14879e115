#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "nsm_fake_server.h"

namespace testsupport {

// An OSC peer that listens with liblo on a free UDP port of 127.0.0.1 and records every message
// it gets, with the bundle it came in: what a lighting desk or a tablet would see of us.
class OscRecorder {
  public:
    struct Received {
        OscMessage message;
        int bundle = 0;  // 1, 2, ... in arrival order; 0 for a message outside any bundle
        std::uint32_t seconds = 0;  // the bundle's time tag
        std::uint32_t fraction = 0;
        std::chrono::steady_clock::time_point at;  // when liblo handed it over
    };

    OscRecorder();
    ~OscRecorder();
    OscRecorder(const OscRecorder&) = delete;
    OscRecorder& operator=(const OscRecorder&) = delete;

    int Port() const { return port_; }
    std::vector<Received> All() const;
    // Those with this path.
    std::vector<Received> With(const std::string& path) const;
    // Waits until `count` messages have arrived in all; false when they did not in time.
    bool WaitForCount(std::size_t count,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    bool WaitFor(const std::string& path, std::size_t count = 1,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    void Clear();

  private:
    struct Liblo;
    void* thread_ = nullptr;
    int port_ = 0;
    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::vector<Received> received_;
    int bundles_ = 0;
    int depth_ = 0;
    std::uint32_t seconds_ = 0;
    std::uint32_t fraction_ = 0;
};

// Sends one OSC message to 127.0.0.1:port as liblo builds it.
bool SendOsc(int port, const std::string& path, const std::vector<OscArg>& args);
// Sends raw bytes as one datagram to 127.0.0.1:port.
bool SendDatagram(int port, const std::vector<std::uint8_t>& bytes);

}  // namespace testsupport

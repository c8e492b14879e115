#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "platform/osc.h"

namespace corvane {

class MidiPorts;

// Where the ports tell what they sent: called under the ports' lock, on whichever thread sent.
class MidiMirror {
  public:
    virtual ~MidiMirror() = default;
    virtual void Mirrored(std::span<const std::uint8_t> message) = 0;
};

// Corvane's OSC. Out: every MIDI message sent (/control, /pitch, ...) and the stick itself
// (/corvane/axis 0-2 as -1 to 1, /corvane/button 0-3); what one tick produces leaves as one
// bundle, time-tagged with the moment the stick was read. In: the MIDI addresses, played out of
// Corvane's output port; anything else is counted and ignored.
//
// The tick calls TickStarted and TickEnded on the timer's thread and builds its bundle there,
// without a lock; sends from other threads (Reset Controls, OSC in) go as bundles of their own
// under the link's lock, which Apply (the user-interface thread) takes to change the sender.
class OscLink final : public MidiMirror {
  public:
    explicit OscLink(MidiPorts& ports) : ports_(ports) {}
    ~OscLink() override;
    OscLink(const OscLink&) = delete;
    OscLink& operator=(const OscLink&) = delete;

    // Starts, changes or stops each direction: out "HOST:PORT", in "[ADDRESS:]PORT", empty for
    // off. Empty when both are as asked; otherwise what could not be done, one sentence each
    // (that direction is then off and the rest goes on).
    std::string Apply(const std::string& out, const std::string& in);
    bool Sending() const { return sending_.load(std::memory_order_relaxed); }
    std::uint64_t Sent() const;
    std::uint64_t Dropped() const;
    std::uint16_t ListenPort() const;
    std::uint64_t Ignored() const;

    // The tick's, on the timer's thread. Positions 0..65535; button bits 0-3.
    void TickStarted(const std::uint32_t (&previous)[3], const std::uint32_t (&now)[3],
                     std::uint32_t previousButtons, std::uint32_t buttons);
    void TickEnded();

    void Mirrored(std::span<const std::uint8_t> message) override;

  private:
    MidiPorts& ports_;
    mutable std::mutex mutex_;
    std::unique_ptr<platform::OscSender> sender_;      // under mutex_
    std::unique_ptr<platform::OscListener> listener_;  // the user-interface thread's
    std::string out_;
    std::string in_;
    std::atomic<bool> sending_{false};
    platform::OscBundle tick_;    // the tick thread's alone
    platform::OscBundle single_;  // under mutex_
    platform::OscTime tickTime_;
};

}  // namespace corvane

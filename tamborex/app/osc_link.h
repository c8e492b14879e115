#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/osc.h"
#include "tamborex/engine/engine_tap.h"
#include "tamborex/session/session.h"

// An axis as OSC shows it: -1 to 1 over the travel its calibration measured, 0 at the
// calibrated centre; value as the joystick device gives it, in the axis's min..max.
float OscAxisPosition(const AxisRecord& axis, std::int32_t value);

// The OSC front end. Out: a mirror of every MIDI message the engine sends (/note, /control, ...)
// and of the controller itself (/tamborex/axis, /tamborex/button, /tamborex/hat); all one poll
// pass produces leaves as one bundle, time-tagged with the moment the controller was read. In:
// the same MIDI addresses played out of the patch's output port, /tamborex/entry n,
// /tamborex/panic and /tamborex/active 0|1; anything else is counted and ignored.
//
// Where it sends and listens comes from "Tamborex.ini" (CSession::SetOscSettings), or for one
// run from the command line until the user changes the setting. A setting that cannot be used
// is said, and the program plays on without that direction.
//
// Lives on the user-interface thread. Sending is a non-blocking datagram from the engine's own
// call, so the MIDI path never waits on the network; what arrives is read on the listener's
// thread, queued (up to kMaxPending commands; more are counted as ignored) and played on the
// user-interface thread in arrival order, one command at a time: a message box that a command
// opens runs an event loop of its own, which plays no further command until it is closed.
class COscLink final : private CSessionObserver, private CEngineTap {
  public:
    // The command line's values for this run (--osc-out, --osc-in), over the settings.
    struct Overrides {
        std::optional<std::string> out;
        std::optional<std::string> in;
    };

    COscLink(CSession& session, CUiThread& ui, Overrides overrides = {});
    ~COscLink() override;
    COscLink(const COscLink&) = delete;
    COscLink& operator=(const COscLink&) = delete;

    // Starts, changes or stops each direction as the settings now ask. Done by itself at the
    // session's start and whenever the settings change.
    void Apply();

    const platform::OscSender* Sender() const { return sender_.get(); }
    const platform::OscListener* Listener() const { return listener_.get(); }
    // Messages that did not fit any bundle (a system-exclusive message of many kilobytes).
    std::uint64_t Unsent() const { return unsent_; }

    // Commands heard and not yet played, at most; a peer that sends faster than they are
    // played loses the rest, as a full network buffer would.
    static constexpr std::size_t kMaxPending = 1024;

  private:
    // CSessionObserver
    void OnStarted() override { Apply(); }
    void OnShutDown() override;
    void OnOscSettingsChanged() override;
    // CEngineTap
    void PassStarted(const JoyState& previous, const JoyState& now) override;
    void PassEnded() override;
    void MidiSent(const std::uint8_t* bytes, int length) override;

    // Adds to the pass's bundle, sending it first and starting another when it is full.
    template <typename Add>
    void AddToPass(Add add);
    // The listener's thread: queues a command, and wakes the user-interface thread once.
    bool Queue(const platform::OscCommand& command);
    // The user-interface thread: plays what is queued, unless a command is being played already.
    void PlayQueued();
    void Play(const platform::OscCommand& command);
    void Say(const std::string& text);

    CSession& session_;
    CUiThread& ui_;
    Overrides overrides_;
    std::string appliedOut_;
    std::string appliedIn_;
    std::unique_ptr<platform::OscSender> sender_;
    std::unique_ptr<platform::OscListener> listener_;
    platform::OscBundle pass_;
    platform::OscBundle single_;
    platform::OscTime passTime_;
    bool inPass_ = false;
    std::uint64_t unsent_ = 0;
    std::mutex pendingMutex_;
    std::deque<platform::OscCommand> pending_;  // under pendingMutex_
    bool wakePosted_ = false;                   // under pendingMutex_
    bool playing_ = false;                      // the user-interface thread's
    // Cleared when the link goes: a command posted by the listener then does nothing.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

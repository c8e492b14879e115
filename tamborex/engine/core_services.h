#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

// A timer of the core's. It runs its function on the user-interface thread every period until it
// is stopped; starting a running timer restarts it. Made once with its function, so starting and
// stopping never allocate (the activity light restarts one for every message sent).
class CTimer {
  public:
    virtual ~CTimer() = default;
    virtual void Start(unsigned periodMs) = 0;
    virtual void Stop() = 0;
    virtual bool Running() const = 0;
    virtual unsigned PeriodMs() const = 0;
};

// The thread that owns the core's state, as the core sees it: timers and posted tasks. A window
// system's event loop serves it, or the headless runner's, or a manual clock in tests.
class CUiThread {
  public:
    virtual ~CUiThread() = default;
    virtual std::unique_ptr<CTimer> MakeTimer(std::function<void()> onTick) = 0;
    // Runs task on the user-interface thread, after every task posted before it. May be called
    // from any thread.
    virtual void Post(std::function<void()> task) = 0;

    // A timer started at once: the handle stops it, also by going away.
    std::unique_ptr<CTimer> StartTimer(unsigned periodMs, std::function<void()> onTick) {
        std::unique_ptr<CTimer> timer = MakeTimer(std::move(onTick));
        timer->Start(periodMs);
        return timer;
    }
};

// What the engine tells whoever shows it. Called on the user-interface thread, synchronously: a
// front end that shows a modal box holds the engine there until it is dismissed, as a poll tick
// that fails must.
class CEngineEvents {
  public:
    virtual ~CEngineEvents() = default;
    // A message for the user (a modal box in the window, a line on standard error without one).
    virtual void Message(std::string_view text) = 0;
    // The activity light: lit or unlit.
    virtual void Activity(bool lit) = 0;
    // A held automatic arpeggio started or stopped waiting for MIDI clock.
    virtual void ArpeggioWaiting(bool /*waiting*/) {}
};

// The session's bank state as the engine sees it: the current entry, switching entries, and
// the global MIDI input settings. Called on the user-interface thread only.
class CBankLink {
  public:
    virtual ~CBankLink() = default;
    virtual std::int32_t PatchNumber() const = 0;
    virtual void SetPatchNumber(std::int32_t number) = 0;
    // Loads the current entry's patch file into both slots.
    virtual void SelectPatch() = 0;
    virtual bool MidiThru() const = 0;
    // Whether the MIDI service already copies the input to the output (inside the JACK cycle),
    // so that the engine must not send thru again.
    virtual bool MidiThruByService() const { return false; }
    virtual std::int32_t MidiInChannel() const = 0;
    virtual bool RespondToProgramChange() const = 0;
};

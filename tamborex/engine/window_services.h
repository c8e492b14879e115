#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

// Window timer identifiers of the main bar.
inline constexpr int TIMER_ACTIVITY_ON = 1;
inline constexpr int TIMER_ACTIVITY_OFF = 2;
inline constexpr int TIMER_POLL = 10;
inline constexpr int TIMER_HIDE_BAR = 20;

// What the engine needs from the window it lives in. The bar implements it with Qt; tests with a
// manual clock. All calls come on the user-interface thread.
class CWindowServices {
  public:
    virtual ~CWindowServices() = default;
    // Starts timer id, or restarts it if it runs; it fires every periodMs until killed.
    virtual void SetTimer(int id, unsigned periodMs) = 0;
    virtual void KillTimer(int id) = 0;
    // A modal box with the warning icon, captioned with the program's name.
    virtual void MessageBox(std::string_view text) = 0;
    // The activity light's picture: lit or unlit.
    virtual void ShowActivity(bool lit) = 0;
    // Runs task on the user-interface thread, after every task posted before it. May be called
    // from any thread.
    virtual void PostToUiThread(std::function<void()> task) = 0;
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

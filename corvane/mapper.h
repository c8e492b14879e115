#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "control_assignment.h"
#include "midi_ports.h"
#include "osc_link.h"
#include "platform/joystick.h"
#include "platform/midi.h"
#include "platform/timer.h"
#include "poll_timer.h"
#include "settings.h"

namespace corvane {

// The sampling periods of the three rates, by sample-rate index.
inline constexpr unsigned kSamplePeriodsMs[] = {50, 30, 10};

// One reading of joystick 1: positions 0..65535 and the four button bits.
struct JoystickSample {
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    std::uint32_t z = 0;
    std::uint32_t buttons = 0;
};

// What the user can change and a session keeps: the controls and every option. Two differ when
// there is something left to save.
struct MapperState {
    ControlTable controls;
    Settings settings;
    ExtraSettings extra;

    bool operator==(const MapperState&) const = default;
};

// Corvane's working core: the seven control assignments, the ports and the sampling timer, and
// the tick that turns joystick changes into MIDI. The UI thread edits the controls and settings;
// the tick runs on the timer's thread and touches only atomics and the ports (which serialise
// themselves).
class Mapper final : public TickClient {
  public:
    Mapper(platform::MidiService& midi, platform::JoystickService& joystick,
           platform::PeriodicTimer& timer, const Settings& settings, ExtraSettings extra = {});
    ~Mapper() override;
    Mapper(const Mapper&) = delete;
    Mapper& operator=(const Mapper&) = delete;

    // Claims the timer resolution, starts sampling at the stored rate and opens the ports.
    void Start();
    // Stops sampling and gives the resolution back, and remembers the controller that played.
    // The ports stay open until destruction.
    void Shutdown();
    // Takes the controller that plays now into the extra settings (JoystickName, JoystickGuid),
    // for a save while the mapper runs.
    void RememberController();

    // Stops the running timer, stores the index and starts one of its period; an index without
    // a period is stored but starts nothing.
    void SetSampleRate(int index);
    // What closing the Options dialog does, by OK or Cancel: take the settings, restart the
    // timer, close and reopen the ports.
    void ApplySettings(const Settings& settings);
    void ResetControllers() { ports_.ResetControllers(); }
    // Called on the joystick service's thread whenever a controller is plugged in or pulled out
    // (empty: nobody). Set and cleared from the user-interface thread.
    void SetControllersListener(std::function<void()> listener);
    // The controller that plays, or the first attached while the next tick takes it; empty when
    // none is attached.
    std::string AttachedController();

    void OnTick() override;

    ControlTable& Controls() { return controls_; }
    const Settings& CurrentSettings() const { return settings_; }
    const ExtraSettings& CurrentExtraSettings() const { return extra_; }
    MapperState State() const { return {controls_, settings_, extra_}; }
    void SetMidiSystem(std::string system) { extra_.midiSystem = std::move(system); }
    // With low latency on, each change the joystick service reports is sampled at once by an
    // extra tick on the timer's thread; the sample rate's ticks go on as the fallback.
    void SetLowLatency(bool on);
    // Reads a gamepad in its standard layout (from the next tick).
    void SetGamepadLayout(bool on);
    platform::MidiService& Midi() { return midi_; }
    // The controller service the tick reads, for a view or a learn beside it.
    platform::JoystickService& Joystick() { return joystick_; }
    // Where every message sent is recorded while a monitor shows them; null for nowhere.
    void SetSentLog(platform::MidiSentLog* log) { ports_.SetSentLog(log); }
    // What Start found wrong with the remembered ports, one sentence per port; empty when
    // nothing.
    const std::string& PortProblem() const { return portProblem_; }
    // What Start found when no controller could be read although one is attached: what to do
    // about the permission; empty otherwise.
    const std::string& JoystickProblem() const { return joystickProblem_; }
    bool OutputOpen() const { return ports_.OutputOpen(); }
    // Where OSC goes ("HOST:PORT") and is heard ("[ADDRESS:]PORT"), empty for off: kept in the
    // extra settings and applied at once. What could not be done, or empty.
    std::string SetOscSettings(std::string out, std::string in);
    // The same for this run only (the command line's), leaving the settings as they are.
    std::string ApplyOsc(const std::string& out, const std::string& in) {
        return osc_.Apply(out, in);
    }
    const OscLink& Osc() const { return osc_; }
    // Ticks that read the stick so far: lets a caller wait until the mapper has seen a state.
    std::uint64_t ReadTicks() const { return readTicks_.load(std::memory_order_acquire); }

  private:
    // Finds the remembered ports by name: one that moved in the list is followed, one that is
    // gone is left closed (and its index and name kept) and said in PortProblem.
    void FollowPortNames();
    void OpenPorts();
    // The controller the settings name (see JoystickChoice), taken on the next tick.
    void ChooseController();

    platform::MidiService& midi_;
    platform::JoystickService& joystick_;
    MidiPorts ports_;
    OscLink osc_{ports_};  // after the ports it plays into, before them in going
    PollTimer timer_;
    ControlTable controls_;
    Settings settings_;            // UI thread
    ExtraSettings extra_;          // UI thread
    std::atomic<int> channel_{0};  // what the tick sends on
    JoystickSample previous_;      // the tick's alone
    std::atomic<std::uint64_t> readTicks_{0};
    std::atomic<bool> lowLatency_{false};
    std::atomic<bool> reselect_{false};  // a controller came or went: the tick takes the pick
    bool started_ = false;
    bool outputMissing_ = false;
    bool inputMissing_ = false;
    std::string portProblem_;
    std::string joystickProblem_;
    std::mutex listenerMutex_;
    std::function<void()> controllersListener_;
};

}  // namespace corvane

#pragma once

#include <array>
#include <atomic>
#include <bitset>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "platform/midi_sent_log.h"
#include "tamborex/devices/joystick.h"
#include "tamborex/devices/midi_out.h"
#include "tamborex/engine/axis_shaper.h"
#include "tamborex/engine/core_services.h"
#include "tamborex/engine/engine_tap.h"
#include "tamborex/engine/held_notes.h"
#include "tamborex/engine/midi_inbox.h"
#include "tamborex/model/patch.h"

// The mapping engine the session owns: both patch slots, and everything that turns the
// joystick and incoming MIDI into MIDI on the output port. All of it runs on the user-interface
// thread; OnMidiInput is the one entry from the platform's input thread, and it only hands the
// message over.
class CEngine {
  public:
    // The timers are made here, in the order a tick falling due with another runs in: the light
    // on, the light off, the poll.
    CEngine(CWinMIDIOut& midiOut, CJoystick& joystick, CUiThread& ui, CEngineEvents& events,
            CBankLink& bank);
    ~CEngine();
    CEngine(const CEngine&) = delete;
    CEngine& operator=(const CEngine&) = delete;

    // value is what the joystick device reports: scaled into min..max for an unshaped axis, the
    // 16-bit position 0..65535 for a shaped one (DeviceRangeOf).
    void TranslateAxis(int slot, int axis, std::int32_t value);
    // After a change to an axis of slot 0's min, max or shape: the device reads it in the range
    // its shape needs and the smoothing starts again from where the stick is.
    void ApplyAxisShape(int axis);
    // "Calibrate": while it runs the axis sends nothing and its raw travel is recorded; Finish
    // stores the result in slot 0's shape (false, shape untouched, when the stick hardly moved).
    void StartCalibration(int axis);
    bool FinishCalibration(int axis);
    const CAxisCalibrator& Calibrator(int axis) const { return calibrators_[axis]; }
    void ProcessButtonDown(int button, int slot);
    void ProcessButtonUp(int button, int slot);
    // One incoming timing clock: steps every running automatic arpeggio.
    void AdvanceArpeggiators();
    // One poll tick: buttons 0 to 7 of slot 0, then its axes.
    void PollJoystick();
    void SetPatchActive(int slot, std::int32_t value);
    // A new poll period for slot 0; polling restarts on it.
    void SetPollInterval(std::int32_t code);
    void SignalActivity();
    // Stops polling and the light's timers: nothing of the engine runs after shutdown.
    void StopTimers();
    const CTimer& PollTimer() const { return *pollTimer_; }

    // Low-latency input: with it on, a change the joystick service reports runs the poll pass
    // at once (on the user-interface thread, like the tick), besides the poll timer, which
    // keeps running as the fallback, at kLowLatencyTickMs at the shortest: every change comes as
    // an event, so a faster tick would only wake the program for nothing. OnJoystickEvent may be
    // called from any thread; events that come while a pass is waiting to run are one pass.
    static constexpr unsigned kLowLatencyTickMs = 100;
    void SetLowLatency(bool on);
    bool LowLatency() const { return lowLatency_.load(); }
    void OnJoystickEvent();
    // While the controller is missing the bar says so: a poll that cannot read it shows no box.
    void SetControllerMissing(bool missing) { controllerMissing_ = missing; }

    // The input port's callback, on the platform's thread: queues the message for the
    // user-interface thread, where HandleMidiInput takes messages in arrival order. Allocates
    // nothing unless the user-interface thread has fallen thousands of messages behind.
    void OnMidiInput(std::uint32_t message, std::uint32_t timestampMs);
    void HandleMidiInput(std::uint32_t message);

    // A message from outside (OSC in) played on the output port like the engine's own: what it
    // starts sounding is ended with the rest. length 3 or less: a short message; longer: a whole
    // system-exclusive block.
    bool Play(const std::uint8_t* bytes, int length);
    // Who watches what is played; nobody by default.
    void SetTap(CEngineTap* tap) { tap_ = tap; }
    // Tells the tap of packed short messages sent together.
    void TapShorts(std::span<const std::uint32_t> messages);

    // Sends the note offs and pedal releases for whatever the engine left sounding, and centres
    // a bent pitch. Whoever closes or reopens the output port (patch switch, output change,
    // quit) calls this first.
    void SilenceOutput();
    // The controller was pulled out: its notes and pedals end; what came through thru plays on.
    void EndPlayedNotes();
    // Panic: the ledger's note offs, then on every channel the port has carried since start a
    // sustain release, All Sound Off, All Notes Off and pitch bend centre, as one batch (one JACK
    // cycle). Arpeggios stop, and a button still held plays again only when pressed anew.
    void Panic();
    // The ledger of what is sounding on the port in use.
    const CHeldNotes& Ledger() const { return held_; }
    // Learn from MIDI: every incoming message goes to listener too, after thru; while one is
    // set, a program change at the input switches no patch (the player is choosing a target,
    // not a patch). An empty listener ends it.
    void SetInputListener(std::function<void(std::uint32_t)> listener) {
        inputListener_ = std::move(listener);
    }
    // A monitor's log of what goes out; null (the default) records nothing.
    void SetSentLog(platform::MidiSentLog* log) { sentLog_ = log; }
    // Silences the old port, then opens deviceId on the output port.
    bool ReopenOutput(std::int16_t deviceId);

    bool ActivityLit() const { return activityLit != 0; }
    // An automatic arpeggio is held and no MIDI clock has come for kClockWaitMs: it cannot step.
    static constexpr unsigned kClockWaitMs = 250;
    bool ArpeggioWaitsForClock() const { return arpWaiting_; }
    // MIDI clock has come in within the last kClockWaitMs.
    bool ClockArriving() const {
        return clocks_ != 0 && std::chrono::steady_clock::now() - lastClock_ <
                                   std::chrono::milliseconds(kClockWaitMs);
    }
    // (poll interval code + 1) x 20 ms of a patch slot.
    unsigned PollPeriodMs(int slot = 0) const;
    // The poll timer's period: the patch's, or with low-latency input kLowLatencyTickMs at the
    // shortest.
    unsigned TickPeriodMs(int slot = 0) const;

    std::array<CPatch, 2> patches;

  private:
    void PollOnce();
    bool Send(const std::uint8_t* bytes, int length,
              CHeldNotes::Origin origin = CHeldNotes::Origin::Played);
    // The batch of messages in batch_, sent together; they are in the ledger already.
    bool SendBatch(int count);
    // The ledger follows the port the messages go to.
    void FollowPort();
    // A button ended by a panic or an All Notes Off: silent until pressed anew.
    void EndHeldButtons(int channel);  // -1: every channel
    // An All Notes Off or All Sound Off arrived for channel: what Tamborex holds there ends.
    void EndChannel(int channel);
    bool EndedByPanic(int slot, int button) const { return ended_[slot][button]; }
    bool SendShort(std::int32_t status, std::int32_t data1, std::int32_t data2, int length = 3);
    // Note on or off of an arpeggio's current step, on the record's channel.
    bool SendStepNote(std::int32_t kind, const ButtonRecord& r);
    // Shows a failed send's text once, from the event loop.
    void ReportSendFailure(std::string text);
    void OnLightOn();
    void OnLightOff();
    void OnPollTick();
    // After each poll pass: whether a held automatic arpeggio is starved of clock.
    void WatchClock();

    CWinMIDIOut& midiOut_;
    CJoystick& joystick_;
    CUiThread& ui_;
    CEngineEvents& events_;
    CBankLink& bank_;
    CEngineTap* tap_ = nullptr;
    std::unique_ptr<CTimer> lightOnTimer_;
    std::unique_ptr<CTimer> lightOffTimer_;
    std::unique_ptr<CTimer> pollTimer_;
    // With low-latency input, passes while a smoothed axis is still on its way (the poll timer
    // alone would leave it half-way for the fallback period).
    std::unique_ptr<CTimer> settleTimer_;
    static constexpr unsigned kSettleTickMs = 5;
    // Sends one 14-bit value of a shaped axis.
    void SendWide(AxisRecord& a, CAxisShaper& shaper, std::int32_t value);

    CHeldNotes held_;
    platform::MidiOutHandle ledgerHandle_ = platform::kNoHandle;
    std::array<std::uint32_t, CHeldNotes::kMaxPanicMessages> batch_{};
    std::array<std::bitset<kButtonCount>, 2> ended_{};
    platform::MidiSentLog* sentLog_ = nullptr;
    std::function<void(std::uint32_t)> inputListener_;
    std::array<std::array<CAxisShaper, kAxisCount>, 2> shapers_{};
    std::array<CAxisCalibrator, kAxisCount> calibrators_{};
    CMidiInbox inbox_;
    std::int32_t activityLit = 0;
    bool pollFailureShown_ = false;
    bool controllerMissing_ = false;
    bool sendFailurePending_ = false;
    bool inPoll_ = false;       // a pass is running (a message box inside it runs the event loop)
    bool inputChanged_ = true;  // the axis being translated was read anew, not held
    std::uint32_t clocks_ = 0;  // timing clocks that came in
    std::chrono::steady_clock::time_point lastClock_{};
    std::uint32_t clocksSeen_ = 0;
    unsigned clocklessMs_ = 0;
    bool arpWaiting_ = false;
    std::atomic<bool> lowLatency_{false};
    std::atomic<bool> passPosted_{false};
};

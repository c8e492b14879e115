#include "tamborex/engine/engine.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace midi = platform::midi;

namespace {
constexpr unsigned kLightDelayMs = 1;
constexpr unsigned kFlashMs = 40;
constexpr unsigned kHoldAfterBurstMs = 100;

// A step index from a file or a dialog, kept inside the eight steps.
int Step(std::int32_t step) {
    return std::clamp(step, 0, kArpSteps - 1);
}

// A channel message's status byte. A channel from a file outside 0..15 would turn the message
// into another kind (a control change on "channel 16" is a program change): it is kept in range.
std::int32_t Voice(std::int32_t kind, std::int32_t channel) {
    return kind + std::clamp(channel, 0, 15);
}

// A value outside std::int32_t, brought back to its nearest end.
std::int32_t Saturate(std::int64_t value) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

// The poll period's multiplier is bounded at 20 s, so a code from a damaged file neither wraps
// nor stops polling for days.
constexpr std::int64_t kMaxPollTicks = 1000;

// Advances an arpeggio step, wrapping at the step count (a count of 0 behaves as 1).
std::int32_t NextStep(std::int32_t step, std::int32_t count) {
    return step + 1 >= count ? 0 : step + 1;
}
}  // namespace

CEngine::CEngine(CWinMIDIOut& midiOut, CJoystick& joystick, CUiThread& ui, CEngineEvents& events,
                 CBankLink& bank)
    : midiOut_(midiOut),
      joystick_(joystick),
      ui_(ui),
      events_(events),
      bank_(bank),
      lightOnTimer_(ui.MakeTimer([this] { OnLightOn(); })),
      lightOffTimer_(ui.MakeTimer([this] { OnLightOff(); })),
      pollTimer_(ui.MakeTimer([this] { OnPollTick(); })),
      settleTimer_(ui.MakeTimer([this] {
          settleTimer_->Stop();
          if (patches[0].active) {
              PollJoystick();
          }
      })) {
    patches[1].joystickNumber = 1;
    midiOut_.SetOpenListener([this] { FollowPort(); });
    FollowPort();
}

CEngine::~CEngine() {
    midiOut_.SetOpenListener({});
}

bool CEngine::Send(const std::uint8_t* bytes, int length, CHeldNotes::Origin origin) {
    const bool sent = midiOut_.Send(bytes, length);
    if (sent) {
        FollowPort();
        held_.Track(bytes, length, origin);
        if (sentLog_ != nullptr) {
            if (length <= 3) {
                sentLog_->RecordShort(bytes[0] | (bytes[1] << 8) | (bytes[2] << 16));
            } else {
                sentLog_->RecordBlock(static_cast<std::size_t>(length));
            }
        }
        if (tap_ != nullptr) {
            tap_->MidiSent(bytes, length);
        }
    }
    return sent;
}

void CEngine::TapShorts(std::span<const std::uint32_t> messages) {
    if (tap_ == nullptr) {
        return;
    }
    for (const std::uint32_t m : messages) {
        const std::uint8_t bytes[3] = {static_cast<std::uint8_t>(m),
                                       static_cast<std::uint8_t>(m >> 8),
                                       static_cast<std::uint8_t>(m >> 16)};
        const std::uint8_t kind = bytes[0] & midi::kKindMask;
        tap_->MidiSent(bytes,
                       kind == midi::kProgramChange || kind == midi::kChannelPressure ? 2 : 3);
    }
}

bool CEngine::Play(const std::uint8_t* bytes, int length) {
    // The port reads four bytes on its short path.
    std::uint8_t message[4] = {};
    if (length <= 3) {
        std::memcpy(message, bytes, static_cast<std::size_t>(std::max(length, 0)));
        bytes = message;
    }
    const bool sent = Send(bytes, length);
    SignalActivity();
    return sent;
}

bool CEngine::SendShort(std::int32_t status, std::int32_t data1, std::int32_t data2, int length) {
    // Data bytes hold 7 bits: a larger value (a damaged file, an old dialog) is sent as the
    // nearest MIDI value, never as some other value or a status byte.
    const std::uint8_t message[4] = {static_cast<std::uint8_t>(status),
                                     static_cast<std::uint8_t>(std::clamp(data1, 0, 127)),
                                     static_cast<std::uint8_t>(std::clamp(data2, 0, 127)), 0};
    return Send(message, length);
}

void CEngine::TranslateAxis(int slot, int axis, std::int32_t value) {
    AxisRecord& a = patches[slot].axes[axis];
    if (a.suppressed) {
        return;
    }
    CAxisShaper* shaper = IsShaped(a) ? &shapers_[slot][axis] : nullptr;
    const bool wide = shaper != nullptr && a.shape.resolution == 14;
    if (shaper != nullptr) {
        const std::int64_t now =
            inputChanged_ && joystick_.inputTimeUs != 0 ? joystick_.inputTimeUs : SteadyNowUs();
        value = shaper->Shape(a, value, now, std::int64_t{TickPeriodMs(slot)} * 1000);
    }
    if (a.reversePolarity) {
        value = Saturate(std::int64_t{wide ? OutputRangeOf(a).hi : a.max} - value);
    }
    a.value = value;
    // The pass that brings a smoothed axis to rest, with the stick held still, delivers where it
    // rests even when that is within the minimum movement: that movement was asked for in full.
    const bool cameToRest = shaper != nullptr && !inputChanged_ && !shaper->Settling();
    if (!cameToRest &&
        std::abs(std::int64_t{a.lastSent} - value) < std::abs(std::int64_t{a.minimumMovement})) {
        return;
    }
    if (shaper != nullptr) {
        if (!shaper->Passes(a.lastSent, value, a.shape.hysteresis)) {
            return;
        }
        shaper->Note(a.lastSent, value);
    }
    a.lastSent = value;
    if (wide) {
        SendWide(a, *shaper, value);
        return;
    }
    const std::int32_t ch = a.channel;
    switch (a.controller) {
        case kSelectNone:
            return;
        case kSelectPitchBend:
            SendShort(Voice(midi::kPitchBend, ch), 0, value);
            break;
        case kSelectNrpnFine:
        case kSelectNrpnCoarse:
            if (SendShort(Voice(midi::kControlChange, ch), midi::kNrpnMsb, a.nrpnMsb) &&
                SendShort(Voice(midi::kControlChange, ch), midi::kNrpnLsb, a.nrpnLsb)) {
                SendShort(Voice(midi::kControlChange, ch), midi::kDataEntryMsb, value);
            }
            break;
        default:
            SendShort(Voice(midi::kControlChange, ch), ControllerOfSelection(a.controller), value);
            break;
    }
    SignalActivity();
}

void CEngine::SendWide(AxisRecord& a, CAxisShaper& shaper, std::int32_t value) {
    std::uint32_t messages[kMaxAxisMessages];
    const int count = WideAxisMessages(a, value, shaper.lastMsb, messages);
    if (count == 0) {
        return;
    }
    // One call, so nothing of ours comes between the halves.
    if (midiOut_.SendShorts({messages, static_cast<std::size_t>(count)})) {
        TapShorts({messages, static_cast<std::size_t>(count)});
        shaper.lastMsb = std::clamp(value, 0, 16383) >> 7;
    }
    SignalActivity();
}

void CEngine::ApplyAxisShape(int axis) {
    for (auto& slot : shapers_) {
        slot[axis].Reset();
    }
    const DeviceRange range = DeviceRangeOf(patches[0].axes[axis]);
    joystick_.SetAxisRange(axis, range.min, range.max);
}

void CEngine::StartCalibration(int axis) {
    calibrators_[axis].Start();
    joystick_.SetAxisRange(axis, 0, kAxisRawMax);
}

bool CEngine::FinishCalibration(int axis) {
    const bool done = calibrators_[axis].Finish(patches[0].axes[axis].shape.calibration);
    ApplyAxisShape(axis);
    return done;
}

void CEngine::ProcessButtonDown(int button, int slot) {
    CPatch& patch = patches[slot];
    if (!patch.active) {
        return;
    }
    ButtonRecord& r = patch.buttons[button];
    r.pressed = 1;
    ended_[slot][button] = false;
    const std::int32_t ch = r.channel;
    const ButtonModeInfo& mode = ButtonModeOf(r.mode);
    bool sent = true;
    switch (mode.kind) {
        case ButtonKind::None:
            return;
        case ButtonKind::Suppress:
            patch.axes[mode.value].suppressed = 1;
            return;
        case ButtonKind::Note:
            sent = SendShort(Voice(midi::kNoteOn, ch), r.data1, r.data2);
            break;
        case ButtonKind::Arpeggiator:
            if (r.autoArpeggiation) {
                r.currentStep = 0;
                r.countdown = r.times[0];
            }
            sent = SendStepNote(midi::kNoteOn, r);
            break;
        case ButtonKind::Pedal:
            sent = SendShort(Voice(midi::kControlChange, ch), mode.value, 127);
            break;
        case ButtonKind::ProgramChange:
            sent = SendShort(Voice(midi::kProgramChange, ch), r.data1, 0);
            break;
        case ButtonKind::SysEx: {
            if (!patch.sysEx) {
                return;
            }
            const int k = ((r.data1 % kSysExCount) + kSysExCount) % kSysExCount;
            const int length = std::clamp(patch.sysEx->lengths[k], 0, kSysExBufferSize);
            // The port reads four bytes on its short path, whatever the length.
            std::uint8_t bytes[kSysExBufferSize + 4] = {};
            std::memcpy(bytes, patch.sysEx->buffers[k].data(), static_cast<std::size_t>(length));
            sent = Send(bytes, length);
            break;
        }
        case ButtonKind::Realtime:
            sent = SendShort(mode.value, 0, 0, 1);
            break;
        case ButtonKind::SongSelect:
            sent = SendShort(midi::kSongSelect, r.data1, 0, 2);
            break;
        case ButtonKind::SongPosition:
            SendShort(midi::kSongPosition, r.data1 & 0x7F, (r.data1 >> 7) & 0x7F);
            SignalActivity();
            return;
        case ButtonKind::SystemReset:
            SendShort(midi::kSystemReset, 0, 0, 1);
            SignalActivity();
            return;
        case ButtonKind::PatchChange:
            if (r.data1 != bank_.PatchNumber() && r.data1 >= 0 && r.data1 < 128) {
                bank_.SetPatchNumber(r.data1);
                bank_.SelectPatch();
            }
            return;
    }
    SignalActivity();
    if (!sent) {
        ReportSendFailure("ProcessButtonDown: " + midiOut_.GetErrorText());
    }
}

void CEngine::ReportSendFailure(std::string text) {
    // Shown from the event loop, not inside the poll tick: a box open inside the tick would hold
    // back every later tick, so every other button and axis, until it is dismissed. While one
    // is waiting or open, further failures add no second box.
    if (sendFailurePending_) {
        return;
    }
    sendFailurePending_ = true;
    ui_.Post([this, text = std::move(text)] {
        events_.Message(text);
        sendFailurePending_ = false;
    });
}

void CEngine::ProcessButtonUp(int button, int slot) {
    CPatch& patch = patches[slot];
    if (!patch.active) {
        return;
    }
    ButtonRecord& r = patch.buttons[button];
    r.pressed = 0;
    const std::int32_t ch = r.channel;
    const ButtonModeInfo& mode = ButtonModeOf(r.mode);
    if (ended_[slot][button]) {
        // A panic ended what it played: the release has nothing left to end, but a hand-stepped
        // arpeggio still moves on, as it would have.
        ended_[slot][button] = false;
        if (mode.kind == ButtonKind::Arpeggiator) {
            r.currentStep = NextStep(r.currentStep, r.stepCount);
        }
        return;
    }
    switch (mode.kind) {
        case ButtonKind::Suppress:
            patch.axes[mode.value].suppressed = 0;
            break;
        case ButtonKind::Note:
            SendShort(Voice(midi::kNoteOff, ch), r.data1, r.data2);
            SignalActivity();
            break;
        case ButtonKind::Arpeggiator:
            SendStepNote(midi::kNoteOff, r);
            SignalActivity();
            r.currentStep = NextStep(r.currentStep, r.stepCount);
            break;
        case ButtonKind::Pedal:
            SendShort(Voice(midi::kControlChange, ch), mode.value, 0);
            SignalActivity();
            break;
        default:
            break;
    }
}

void CEngine::AdvanceArpeggiators() {
    ++clocks_;
    lastClock_ = std::chrono::steady_clock::now();
    for (int slot = 0; slot < 2; ++slot) {
        for (int b = 0; b < kButtonCount; ++b) {
            ButtonRecord& r = patches[slot].buttons[b];
            if (!r.autoArpeggiation || !r.pressed || ended_[slot][b]) {
                continue;
            }
            if (r.countdown > 0) {
                --r.countdown;
                continue;
            }
            SendStepNote(midi::kNoteOff, r);
            r.currentStep = NextStep(r.currentStep, r.stepCount);
            r.countdown = r.times[Step(r.currentStep)] - 1;
            SendStepNote(midi::kNoteOn, r);
            SignalActivity();
        }
    }
}

unsigned CEngine::PollPeriodMs(int slot) const {
    const std::int64_t ticks = std::clamp<std::int64_t>(
        std::int64_t{patches[slot].pollIntervalCode} + 1, 1, kMaxPollTicks);
    return static_cast<unsigned>(ticks) * 20u;
}

bool CEngine::SendStepNote(std::int32_t kind, const ButtonRecord& r) {
    const int step = Step(r.currentStep);
    return SendShort(Voice(kind, r.channel), r.notes[step], r.velocities[step]);
}

void CEngine::OnJoystickEvent() {
    if (!lowLatency_.load(std::memory_order_relaxed) || passPosted_.exchange(true)) {
        return;
    }
    ui_.Post([this] {
        passPosted_.store(false);
        if (patches[0].active && lowLatency_.load()) {
            PollJoystick();
        }
    });
}

void CEngine::PollJoystick() {
    // A message box shown by a pass runs the event loop, which may hold a posted pass or a tick.
    if (inPoll_) {
        return;
    }
    inPoll_ = true;
    PollOnce();
    inPoll_ = false;
}

void CEngine::PollOnce() {
    const JoyState previous = joystick_.state;
    // A joystick that cannot be read says so once, not on every tick: each message box is modal,
    // so a box per tick would leave the user no way to reach the bar.
    if (joystick_.Poll()) {
        pollFailureShown_ = false;
    } else if (!pollFailureShown_ && !controllerMissing_) {
        pollFailureShown_ = true;
        events_.Message(joystick_.errorText);
    }
    const JoyState& now = joystick_.state;
    if (tap_ != nullptr) {
        tap_->PassStarted(previous, now);
    }
    for (int b = 0; b < kPolledButtons; ++b) {
        const bool down = (now.buttons[b] & 0x80) != 0;
        if (down != ((previous.buttons[b] & 0x80) != 0)) {
            if (down) {
                ProcessButtonDown(b, 0);
            } else {
                ProcessButtonUp(b, 0);
            }
        }
    }
    bool settling = false;
    for (int a = 0; a < kAxisCount; ++a) {
        if (calibrators_[a].Running()) {
            // Only what was read since: the value before may still be in the old range.
            if (now.axes[a] != previous.axes[a]) {
                calibrators_[a].Feed(now.axes[a]);
            }
            continue;
        }
        // A smoothed axis goes on moving towards where the stick rests after the stick stops.
        if ((now.axes[a] != previous.axes[a] || shapers_[0][a].Settling()) &&
            patches[0].axes[a].controller != kSelectNone) {
            // A pass with nothing new is timed now; one with input at the input's own time.
            inputChanged_ = now.axes[a] != previous.axes[a];
            TranslateAxis(0, a, now.axes[a]);
            inputChanged_ = true;
        }
        settling = settling || shapers_[0][a].Settling();
    }
    if (settling && lowLatency_.load(std::memory_order_relaxed) && !settleTimer_->Running()) {
        settleTimer_->Start(kSettleTickMs);
    }
    if (tap_ != nullptr) {
        tap_->PassEnded();
    }
}

void CEngine::WatchClock() {
    bool held = false;
    for (const ButtonRecord& r : patches[0].buttons) {
        held = held || (r.pressed && r.autoArpeggiation &&
                        ButtonModeOf(r.mode).kind == ButtonKind::Arpeggiator);
    }
    if (!held || clocks_ != clocksSeen_) {
        clocklessMs_ = 0;
    } else if (clocklessMs_ < kClockWaitMs) {
        clocklessMs_ += TickPeriodMs();
    }
    clocksSeen_ = clocks_;
    const bool waiting = held && clocklessMs_ >= kClockWaitMs;
    if (waiting != arpWaiting_) {
        arpWaiting_ = waiting;
        events_.ArpeggioWaiting(waiting);
    }
}

void CEngine::SetPatchActive(int slot, std::int32_t value) {
    patches[slot].active = value;
    joystick_.active = value;
    joystick_.ApplyActive();
    if (value) {
        pollTimer_->Start(TickPeriodMs(slot));
    } else {
        pollTimer_->Stop();
        // With polling stopped no release would be seen: what the buttons hold ends now, and a
        // button still down when the patch is active again plays only when pressed anew.
        EndPlayedNotes();
        if (arpWaiting_) {
            // Nothing is held that could wait any more.
            arpWaiting_ = false;
            clocklessMs_ = 0;
            events_.ArpeggioWaiting(false);
        }
    }
}

void CEngine::SetPollInterval(std::int32_t code) {
    patches[0].pollIntervalCode = code;
    pollTimer_->Stop();
    pollTimer_->Start(TickPeriodMs());
}

void CEngine::SetLowLatency(bool on) {
    lowLatency_.store(on);
    if (pollTimer_->Running()) {
        pollTimer_->Stop();
        pollTimer_->Start(TickPeriodMs());
    }
}

unsigned CEngine::TickPeriodMs(int slot) const {
    const unsigned poll = PollPeriodMs(slot);
    return lowLatency_.load() ? std::max(poll, kLowLatencyTickMs) : poll;
}

void CEngine::SignalActivity() {
    if (!activityLit) {
        lightOnTimer_->Start(kLightDelayMs);
        activityLit = 1;
    } else {
        lightOffTimer_->Stop();
        lightOffTimer_->Start(kHoldAfterBurstMs);
    }
}

void CEngine::OnLightOn() {
    events_.Activity(true);
    lightOnTimer_->Stop();
    lightOffTimer_->Start(kFlashMs);
}

void CEngine::OnLightOff() {
    events_.Activity(false);
    lightOffTimer_->Stop();
    activityLit = 0;
}

void CEngine::OnPollTick() {
    // Stopped during the tick, so the period runs from the end of one tick to the start of the
    // next, and a message box inside the tick holds further ticks back.
    pollTimer_->Stop();
    PollJoystick();
    WatchClock();  // on the ticks only: they, unlike input events, measure time
    pollTimer_->Start(TickPeriodMs());
}

void CEngine::StopTimers() {
    lightOnTimer_->Stop();
    lightOffTimer_->Stop();
    pollTimer_->Stop();
    settleTimer_->Stop();
}

void CEngine::OnMidiInput(std::uint32_t message, std::uint32_t /*timestampMs*/) {
    // One wake-up per burst, not a posted task per message.
    if (inbox_.Push(message)) {
        ui_.Post([this] { inbox_.Drain([this](std::uint32_t m) { HandleMidiInput(m); }); });
    }
}

void CEngine::HandleMidiInput(std::uint32_t message) {
    const auto status = static_cast<std::int32_t>(message & 0xFF);
    if (bank_.MidiThru() && !bank_.MidiThruByService()) {
        const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(message),
                                       static_cast<std::uint8_t>(message >> 8),
                                       static_cast<std::uint8_t>(message >> 16), 0};
        Send(bytes, 3, CHeldNotes::Origin::Thru);
    } else if (bank_.MidiThru()) {
        // The service copied it to the output already: the ledger still learns what sounds.
        const std::uint8_t bytes[3] = {static_cast<std::uint8_t>(message),
                                       static_cast<std::uint8_t>(message >> 8),
                                       static_cast<std::uint8_t>(message >> 16)};
        FollowPort();
        held_.Track(bytes, 3, CHeldNotes::Origin::Thru);
    }
    if (CHeldNotes::IsChannelSilencer(message)) {
        EndChannel(status & midi::kChannelMask);
    }
    if (inputListener_) {
        inputListener_(message);
        if ((status & midi::kKindMask) == midi::kProgramChange) {
            return;
        }
    }
    if (status == midi::kProgramChange + bank_.MidiInChannel()) {
        if (bank_.RespondToProgramChange()) {
            bank_.SetPatchNumber(static_cast<std::int32_t>((message >> 8) & 0xFF));
            bank_.SelectPatch();
        }
    } else if (status == midi::kTimingClock) {
        AdvanceArpeggiators();
    }
}

bool CEngine::ReopenOutput(std::int16_t deviceId) {
    SilenceOutput();
    return midiOut_.Open(deviceId);
}

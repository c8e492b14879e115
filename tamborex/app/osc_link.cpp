#include "tamborex/app/osc_link.h"

#include <algorithm>
#include <cstdio>

namespace {

// The commands Tamborex takes under its own prefix, with their arguments' ranges.
platform::OscReader TamborexReader() {
    return platform::OscReader(
        "/tamborex",
        {{"entry", true, 0, kBankEntries - 1}, {"active", true, 0, 1}, {"panic", false, 0, 0}});
}

// The point-of-view value as OSC carries it: hundredths of a degree, -1 when centred.
std::int32_t HatValue(std::uint32_t pov) {
    return pov == platform::kPovCentred ? -1 : static_cast<std::int32_t>(pov % 36000u);
}

}  // namespace

float OscAxisPosition(const AxisRecord& axis, std::int32_t value) {
    // Back to the 16-bit travel the calibration is measured on (the device scales the axis into
    // min..max), then each side of the calibrated centre to its own half: a stick that rests
    // off centre still reads 0 at rest and reaches -1 and 1 at the ends the player measured.
    if (axis.max == axis.min) {
        return 0.0f;
    }
    const double raw = (static_cast<double>(value) - axis.min) /
                       (static_cast<double>(axis.max) - axis.min) * kAxisRawMax;
    const AxisCalibration& c = axis.shape.calibration;
    double position = 0.0;
    if (c.centre <= c.min || c.centre >= c.max) {
        // Rests at one end (a trigger, a throttle): its one span is the whole range.
        position = c.max > c.min ? 2.0 * (raw - c.min) / (c.max - c.min) - 1.0 : 0.0;
    } else if (raw < c.centre) {
        position = (raw - c.centre) / (c.centre - c.min);
    } else {
        position = (raw - c.centre) / (c.max - c.centre);
    }
    return static_cast<float>(std::clamp(position, -1.0, 1.0));
}

COscLink::COscLink(CSession& session, CUiThread& ui, Overrides overrides)
    : session_(session), ui_(ui), overrides_(std::move(overrides)) {
    session_.AddObserver(*this);
    session_.Engine().SetTap(this);
}

COscLink::~COscLink() {
    *alive_ = false;
    listener_.reset();  // joins its thread: nothing is posted after this
    session_.Engine().SetTap(nullptr);
    session_.RemoveObserver(*this);
}

void COscLink::Say(const std::string& text) {
    session_.Tell(text);  // a box in the window; the error stream when headless or ending
}

void COscLink::Apply() {
    const std::string out = overrides_.out.value_or(session_.Extra().oscOut);
    const std::string in = overrides_.in.value_or(session_.Extra().oscIn);
    std::string error;
    if (out != appliedOut_ || (!out.empty() && sender_ == nullptr)) {
        sender_.reset();
        appliedOut_ = out;
        platform::OscAddress to;
        if (!out.empty()) {
            if (!platform::ParseOscOut(out, to, error) ||
                (sender_ = platform::OscSender::Open(to, error)) == nullptr) {
                Say(error + " Tamborex plays on without sending OSC.");
            }
        }
    }
    if (in != appliedIn_ || (!in.empty() && listener_ == nullptr)) {
        listener_.reset();
        appliedIn_ = in;
        platform::OscAddress at;
        if (!in.empty()) {
            auto post = [this](const platform::OscCommand& command) { return Queue(command); };
            if (!platform::ParseOscIn(in, at, error) ||
                (listener_ = platform::OscListener::Start(at, TamborexReader(), post, error)) ==
                    nullptr) {
                Say(error + " Tamborex plays on without hearing OSC.");
            }
        }
    }
}

void COscLink::OnShutDown() {
    listener_.reset();
    sender_.reset();
}

void COscLink::OnOscSettingsChanged() {
    // The user chose: this run's command line no longer applies.
    overrides_ = {};
    Apply();
}

template <typename Add>
void COscLink::AddToPass(Add add) {
    if (add(pass_)) {
        return;
    }
    // Full: what is there leaves now, and the rest of the pass follows with the same time.
    if (!pass_.Empty()) {
        sender_->Send(pass_);
        pass_.Begin(passTime_);
        if (add(pass_)) {
            return;
        }
    }
    ++unsent_;
}

void COscLink::PassStarted(const JoyState& previous, const JoyState& now) {
    if (sender_ == nullptr) {
        return;
    }
    inPass_ = true;
    passTime_ = platform::OscNow();
    pass_.Begin(passTime_);
    const CPatch& patch = session_.Patch();
    for (int a = 0; a < kAxisCount; ++a) {
        if (now.axes[a] != previous.axes[a]) {
            const float value = OscAxisPosition(patch.axes[a], now.axes[a]);
            AddToPass(
                [&](platform::OscBundle& b) { return b.AddIntFloat("/tamborex/axis", a, value); });
        }
    }
    for (int i = 0; i < platform::kJoyButtons; ++i) {
        const bool down = (now.buttons[i] & 0x80) != 0;
        if (down != ((previous.buttons[i] & 0x80) != 0)) {
            const std::int32_t v[] = {i, down ? 1 : 0};
            AddToPass([&](platform::OscBundle& b) { return b.AddInts("/tamborex/button", v); });
        }
    }
    if (now.pov[0] != previous.pov[0]) {
        const std::int32_t v[] = {HatValue(now.pov[0])};
        AddToPass([&](platform::OscBundle& b) { return b.AddInts("/tamborex/hat", v); });
    }
}

void COscLink::PassEnded() {
    if (inPass_ && sender_ != nullptr) {
        sender_->Send(pass_);
    }
    inPass_ = false;
}

void COscLink::MidiSent(const std::uint8_t* bytes, int length) {
    if (sender_ == nullptr || length <= 0) {
        return;
    }
    const std::span<const std::uint8_t> message(bytes, static_cast<std::size_t>(length));
    if (inPass_) {
        AddToPass([&](platform::OscBundle& b) { return platform::AddMidiAsOsc(b, message); });
        return;
    }
    // Outside a pass (incoming MIDI, a clock step, OSC in, a patch switch): a bundle of its own.
    single_.Begin(platform::OscNow());
    if (platform::AddMidiAsOsc(single_, message)) {
        sender_->Send(single_);
    } else {
        ++unsent_;
    }
}

bool COscLink::Queue(const platform::OscCommand& command) {
    std::lock_guard lock(pendingMutex_);
    if (pending_.size() >= kMaxPending) {
        return false;
    }
    pending_.push_back(command);
    if (!wakePosted_) {
        wakePosted_ = true;
        ui_.Post([this, alive = alive_] {
            if (*alive) {
                PlayQueued();
            }
        });
    }
    return true;
}

void COscLink::PlayQueued() {
    {
        std::lock_guard lock(pendingMutex_);
        wakePosted_ = false;
    }
    // Reached again from the event loop of a box that a command opened: the command that opened
    // it goes on once the box is closed, and plays the rest after it. Without this, every command
    // would open its box inside the last one's, until the stack ran out.
    if (playing_) {
        return;
    }
    playing_ = true;
    const std::shared_ptr<bool> alive = alive_;  // a box's loop may end the program meanwhile
    while (true) {
        platform::OscCommand command;
        {
            std::lock_guard lock(pendingMutex_);
            if (pending_.empty()) {
                break;
            }
            command = std::move(pending_.front());
            pending_.pop_front();
        }
        Play(command);
        if (!*alive) {
            return;
        }
    }
    playing_ = false;
}

void COscLink::Play(const platform::OscCommand& command) {
    // Once the program is to end, what is still queued is dropped: each could open a box that
    // the ending would then have to close, one after the other.
    if (session_.ShutDown() || session_.TerminationRequested()) {
        return;
    }
    if (command.kind == platform::OscCommand::Kind::Midi) {
        (void)session_.Engine().Play(command.bytes.data(), static_cast<int>(command.bytes.size()));
    } else if (command.name == "entry") {
        if (command.value != session_.PatchNumber()) {
            session_.SetPatchNumber(command.value);
            session_.SelectPatch();
        }
    } else if (command.name == "active") {
        session_.SetActive(command.value != 0);
    } else if (command.name == "panic" && (!command.hasValue || command.value != 0)) {
        session_.Panic();
    }
}

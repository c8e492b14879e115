#include "osc_link.h"

#include "midi_ports.h"

namespace corvane {
namespace {

// The bundle the current tick builds, on the thread the tick runs on; null on every other
// thread and between ticks. It tells the ports' mirror, which any thread may call, whether a
// message belongs to a tick.
thread_local platform::OscBundle* tTickBundle = nullptr;

}  // namespace

OscLink::~OscLink() {
    listener_.reset();
    std::lock_guard lock(mutex_);
    sender_.reset();
}

std::string OscLink::Apply(const std::string& out, const std::string& in) {
    std::string problems;
    std::string error;
    if (out != out_ || (!out.empty() && !sending_)) {
        out_ = out;
        std::unique_ptr<platform::OscSender> sender;
        platform::OscAddress to;
        if (!out.empty() && (!platform::ParseOscOut(out, to, error) ||
                             (sender = platform::OscSender::Open(to, error)) == nullptr)) {
            problems += error + " Corvane plays on without sending OSC.\n";
        }
        std::lock_guard lock(mutex_);
        sender_ = std::move(sender);
        sending_ = sender_ != nullptr;
    }
    if (in != in_ || (!in.empty() && listener_ == nullptr)) {
        in_ = in;
        listener_.reset();
        platform::OscAddress at;
        if (!in.empty()) {
            // Played at once from the listener's thread: the ports serialise their senders.
            auto play = [this](const platform::OscCommand& command) {
                return command.kind == platform::OscCommand::Kind::Midi &&
                       ports_.SendMessage(command.bytes);
            };
            if (!platform::ParseOscIn(in, at, error) ||
                (listener_ = platform::OscListener::Start(at, platform::OscReader("/corvane", {}),
                                                          play, error)) == nullptr) {
                problems += error + " Corvane plays on without hearing OSC.\n";
            }
        }
    }
    if (!problems.empty()) {
        problems.pop_back();
    }
    return problems;
}

std::uint64_t OscLink::Sent() const {
    std::lock_guard lock(mutex_);
    return sender_ ? sender_->Sent() : 0;
}

std::uint64_t OscLink::Dropped() const {
    std::lock_guard lock(mutex_);
    return sender_ ? sender_->Dropped() : 0;
}

std::uint16_t OscLink::ListenPort() const {
    return listener_ ? listener_->Port() : 0;
}

std::uint64_t OscLink::Ignored() const {
    return listener_ ? listener_->Ignored() : 0;
}

void OscLink::TickStarted(const std::uint32_t (&previous)[3], const std::uint32_t (&now)[3],
                          std::uint32_t previousButtons, std::uint32_t buttons) {
    if (!sending_.load(std::memory_order_relaxed)) {
        return;
    }
    tickTime_ = platform::OscNow();
    tick_.Begin(tickTime_);
    tTickBundle = &tick_;
    for (int a = 0; a < 3; ++a) {
        if (now[a] != previous[a]) {
            (void)tick_.AddIntFloat(
                "/corvane/axis", a,
                platform::OscAxisValue(static_cast<std::int32_t>(now[a]), 0, 65535));
        }
    }
    for (int b = 0; b < 4; ++b) {
        const std::uint32_t mask = 1u << b;
        if (((buttons ^ previousButtons) & mask) != 0) {
            const std::int32_t v[] = {b, (buttons & mask) != 0 ? 1 : 0};
            (void)tick_.AddInts("/corvane/button", v);
        }
    }
}

void OscLink::TickEnded() {
    if (tTickBundle == nullptr) {
        return;
    }
    tTickBundle = nullptr;
    std::lock_guard lock(mutex_);
    if (sender_ != nullptr) {
        sender_->Send(tick_);
    }
}

void OscLink::Mirrored(std::span<const std::uint8_t> message) {
    if (!sending_.load(std::memory_order_relaxed)) {
        return;
    }
    if (tTickBundle == &tick_) {
        if (!platform::AddMidiAsOsc(tick_, message)) {
            // Full (a tick sends a few dozen messages at most): what is there leaves first.
            {
                std::lock_guard lock(mutex_);
                if (sender_ != nullptr) {
                    sender_->Send(tick_);
                }
            }
            tick_.Begin(tickTime_);
            (void)platform::AddMidiAsOsc(tick_, message);
        }
        return;
    }
    std::lock_guard lock(mutex_);
    if (sender_ == nullptr) {
        return;
    }
    single_.Begin(platform::OscNow());
    if (platform::AddMidiAsOsc(single_, message)) {
        sender_->Send(single_);
    }
}

}  // namespace corvane

#include "mapper.h"

#include <algorithm>

namespace corvane {
namespace {

std::string NameAt(const std::vector<std::string>& names, int index) {
    return index >= 0 && index < static_cast<int>(names.size()) ? names[index] : std::string();
}

}  // namespace

Mapper::Mapper(platform::MidiService& midi, platform::JoystickService& joystick,
               platform::PeriodicTimer& timer, const Settings& settings, ExtraSettings extra)
    : midi_(midi),
      joystick_(joystick),
      ports_(midi),
      timer_(timer),
      settings_(settings),
      extra_(std::move(extra)) {
    lowLatency_ = extra_.lowLatency;
    joystick_.SetEventListener([this](platform::JoyEvent event) {
        if (event != platform::JoyEvent::Input) {
            // Plugged in or pulled out: the next tick takes the right controller, and releases
            // what a pulled one held, at once.
            reselect_ = true;
            timer_.TickSoon();
            std::lock_guard lock(listenerMutex_);
            if (controllersListener_) {
                controllersListener_();
            }
        } else if (lowLatency_.load(std::memory_order_relaxed)) {
            timer_.TickSoon();
        }
    });
    channel_ = settings.channel;
}

Mapper::~Mapper() {
    joystick_.SetEventListener({});
    timer_.StopPeriodic();  // before the controls the tick reads go away
    Shutdown();
}

void Mapper::Start() {
    timer_.BeginResolution();
    SetSampleRate(settings_.sampleRate);
    timer_.SetTickClient(this);
    FollowPortNames();
    OpenPorts();
    ChooseController();
    // Opened here, not by the first tick: the ticks stay free of allocation.
    reselect_ = false;
    if (joystick_.Reselect() != platform::JoyResult::Ok) {
        joystickProblem_ =
            platform::JoystickAccessAdvice(platform::UnreadableJoysticks(), "Corvane");
    }
    started_ = true;
}

void Mapper::ChooseController() {
    joystick_.SetChoice({extra_.joystickGuid, extra_.joystickName, 0, extra_.gamepadLayout});
    reselect_ = true;
}

void Mapper::SetGamepadLayout(bool on) {
    extra_.gamepadLayout = on;
    ChooseController();
}

void Mapper::FollowPortNames() {
    auto follow = [this](const std::vector<std::string>& names, const std::string& name, int& index,
                         const char* kind) {
        const int now = platform::FollowPortName(names, name, index);
        if (now >= 0 || index < 0) {
            index = now;  // found, or nothing picked
            return false;
        }
        // Missing: the stored index stays for the settings file.
        portProblem_ += platform::MissingPortMessage("Corvane", kind, name) + "\n";
        return true;
    };
    portProblem_.clear();
    outputMissing_ =
        follow(midi_.ListOutputs(), extra_.outputName, settings_.outputDevice, "output");
    inputMissing_ = settings_.thru &&
                    follow(midi_.ListInputs(), extra_.inputName, settings_.inputDevice, "input");
}

void Mapper::OpenPorts() {
    ports_.Open(inputMissing_ ? kLeaveClosed : settings_.inputDevice,
                outputMissing_ ? kLeaveClosed : settings_.outputDevice, settings_.thru);
}

void Mapper::SetControllersListener(std::function<void()> listener) {
    std::lock_guard lock(listenerMutex_);
    controllersListener_ = std::move(listener);
}

std::string Mapper::AttachedController() {
    const std::vector<platform::JoystickCaps> attached = joystick_.ListJoysticks();
    if (attached.empty()) {
        return {};
    }
    const auto held = joystick_.Current();
    for (const platform::JoystickCaps& caps : attached) {
        if (held && caps.instance == held->instance) {
            return caps.name;
        }
    }
    return attached.front().name;
}

void Mapper::SetLowLatency(bool on) {
    extra_.lowLatency = on;
    lowLatency_ = on;
}

void Mapper::RememberController() {
    if (const auto held = joystick_.Current()) {
        extra_.joystickName = held->name;
        extra_.joystickGuid = held->guid;
    }
}

void Mapper::Shutdown() {
    RememberController();
    if (started_) {
        timer_.StopPeriodic();
        timer_.SetTickClient(nullptr);
        timer_.EndResolution();
        started_ = false;
    }
}

void Mapper::SetSampleRate(int index) {
    timer_.StopPeriodic();
    settings_.sampleRate = index;
    if (index >= 0 && index < static_cast<int>(std::size(kSamplePeriodsMs))) {
        timer_.StartPeriodic(kSamplePeriodsMs[index]);
    }
}

void Mapper::ApplySettings(const Settings& settings) {
    // A missing port stays closed until another is chosen; a port chosen now is remembered by
    // the name it has in the list the choice was made from.
    outputMissing_ = outputMissing_ && settings.outputDevice == settings_.outputDevice;
    inputMissing_ = inputMissing_ && settings.inputDevice == settings_.inputDevice;
    settings_ = settings;
    if (!outputMissing_) {
        extra_.outputName = NameAt(midi_.ListOutputs(), settings.outputDevice);
    }
    if (!inputMissing_) {
        extra_.inputName = NameAt(midi_.ListInputs(), settings.inputDevice);
    }
    channel_ = settings.channel;
    SetSampleRate(settings.sampleRate);
    ports_.Close();
    OpenPorts();
}

void Mapper::OnTick() {
    if (reselect_.exchange(false)) {
        (void)joystick_.Reselect();
    }
    platform::SimpleJoyState read;
    JoystickSample now;
    if (joystick_.ReadSimple(read) == platform::JoyResult::Ok) {
        now = {read.x, read.y, read.z, read.buttons};
    } else if (previous_.buttons != 0) {
        // Pulled out with buttons held: they are released, so nothing they play is left
        // sounding.
        now = previous_;
        now.buttons = 0;
    } else {
        // With no joystick there is nothing to compare: keep the last known position, so that
        // unplugging never slams every control to its minimum, and a re-plugged stick sends
        // only what differs from where it was.
        return;
    }
    const std::uint32_t raw[3] = {now.x, now.y, now.z};
    const std::uint32_t before[3] = {previous_.x, previous_.y, previous_.z};
    const int input[3] = {static_cast<int>(now.x), kInputFull - static_cast<int>(now.y),
                          static_cast<int>(now.z)};
    const int channel = channel_.load(std::memory_order_relaxed);
    bool held[3] = {};
    bool released[3] = {};

    for (int i = 0; i < 4; ++i) {
        const std::uint32_t mask = 1u << i;
        const ControlAssignment& button = controls_[kButton1 + i];
        const bool changed = ((now.buttons ^ previous_.buttons) & mask) != 0;
        const bool pressed = (now.buttons & mask) != 0;
        const int axis = button.overrideAxis.load(std::memory_order_relaxed);
        if (axis == 0) {
            if (changed) {
                button.Send(channel, pressed ? kInputFull : 0, ports_);
            }
        } else if (axis >= 1 && axis <= 3) {
            const int k = axis - 1;
            held[k] = held[k] || pressed;
            released[k] = released[k] || (changed && !pressed);
            if (changed || (pressed && raw[k] != before[k])) {
                button.Send(channel, input[k], ports_);
            }
        }
    }
    for (int k = 0; k < 3; ++k) {
        if ((!held[k] && raw[k] != before[k]) || released[k]) {
            controls_[k].Send(channel, input[k], ports_);
        }
    }
    previous_ = now;
    readTicks_.fetch_add(1, std::memory_order_release);
}

}  // namespace corvane

#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "input_hand_off.h"
#include "midi_backends.h"
#include "platform/midi.h"

namespace platform {
namespace {

constexpr std::size_t kIdleOutputsKept = 2;
constexpr const char* kOutPortName = "out";
constexpr const char* kInPortName = "in";

// Collects the first real error RtMidi reports during one call; warnings are not failures.
struct ErrorSink {
    bool failed = false;
    RtMidiError::Type type = RtMidiError::UNSPECIFIED;
};

void RecordRtError(RtMidiError::Type type, const std::string& /*text*/, void* user) {
    if (type == RtMidiError::WARNING || type == RtMidiError::DEBUG_WARNING) {
        return;
    }
    auto* sink = static_cast<ErrorSink*>(user);
    if (!sink->failed) {
        sink->failed = true;
        sink->type = type;
    }
}

MidiResult FromRtError(RtMidiError::Type type) {
    switch (type) {
        case RtMidiError::INVALID_PARAMETER:
        case RtMidiError::INVALID_USE:
            return MidiResult::InvalidParam;
        case RtMidiError::INVALID_DEVICE:
            return MidiResult::BadDeviceId;
        case RtMidiError::NO_DEVICES_FOUND:
            return MidiResult::NoDevice;
        case RtMidiError::MEMORY_ERROR:
            return MidiResult::NoMemory;
        default:
            return MidiResult::Other;
    }
}

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// ALSA names end in " client:port" numbers that mean nothing to a musician.
std::string DisplayName(const std::string& full) {
    const auto space = full.find_last_of(' ');
    if (space == std::string::npos) {
        return full;
    }
    const std::string tail = full.substr(space + 1);
    const auto colon = tail.find(':');
    const bool numeric = colon != std::string::npos && colon > 0 && colon + 1 < tail.size() &&
                         tail.find_first_not_of("0123456789:") == std::string::npos;
    return numeric ? full.substr(0, space) : full;
}

struct OutPort {
    std::string target;  // backend name of the port, empty for our own virtual port
    ErrorSink sink;
    std::unique_ptr<RtMidiOut> rt;
};

struct InPort {
    std::string target;
    ErrorSink sink;
    std::unique_ptr<RtMidiIn> rt;
    InputHandOff handOff;
    std::atomic<bool> started{false};
    std::atomic<std::int64_t> startNs{0};
    std::atomic<MidiOutHandle> thru{kNoHandle};
};

template <typename RtPort>
MidiResult CreatePort(RtMidi::Api api, const std::string& client, ErrorSink& sink,
                      std::unique_ptr<RtPort>& rt) {
    try {
        rt = std::make_unique<RtPort>(api, client);
    } catch (const RtMidiError& e) {
        return FromRtError(e.getType());
    } catch (const std::bad_alloc&) {
        return MidiResult::NoMemory;
    }
    rt->setErrorCallback(&RecordRtError, &sink);
    return MidiResult::NoError;
}

// Opens rt on the port named target, or as our virtual port when target is empty.
template <typename RtPort>
MidiResult OpenPort(RtPort& rt, ErrorSink& sink, const std::string& target, const char* ourName) {
    sink.failed = false;
    try {
        if (target.empty()) {
            rt.openVirtualPort(ourName);
        } else {
            const unsigned count = rt.getPortCount();
            unsigned n = 0;
            while (n < count && rt.getPortName(n) != target) {
                ++n;
            }
            if (n == count) {
                return MidiResult::NoDevice;  // gone since the list was taken
            }
            rt.openPort(n, ourName);
            if (!sink.failed && !rt.isPortOpen()) {
                return MidiResult::NoDevice;
            }
        }
    } catch (const RtMidiError& e) {
        return FromRtError(e.getType());
    }
    return sink.failed ? FromRtError(sink.type) : MidiResult::NoError;
}

class RtMidiService final : public ByteSendingMidiService {
  public:
    // api UNSPECIFIED gives a system with no devices.
    RtMidiService(std::string_view clientName, RtMidi::Api api, std::string backendName,
                  std::string reason)
        : clientName_(clientName),
          inClientName_(std::string(clientName) + " In"),
          api_(api),
          backendName_(std::move(backendName)),
          reason_(std::move(reason)) {}

    ~RtMidiService() override {
        std::vector<MidiInHandle> open;
        {
            std::lock_guard lock(inMutex_);
            for (const auto& [handle, port] : inputs_) {
                open.push_back(handle);
            }
        }
        for (MidiInHandle h : open) {
            CloseInput(h);
        }
        std::lock_guard lock(outMutex_);
        std::vector<std::unique_ptr<RtMidiOut>> ports;
        for (auto& [handle, port] : outputs_) {
            ports.push_back(std::move(port->rt));
        }
        for (IdleOutput& idle : idleOutputs_) {
            ports.push_back(std::move(idle.rt));
        }
        outputs_.clear();
        idleOutputs_.clear();
    }

    std::string BackendName() const override { return backendName_; }
    std::string BackendReason() const override { return reason_; }

    std::vector<std::string> ListOutputs() override {
        std::lock_guard lock(listMutex_);
        return Snapshot<RtMidiOut>(outputTargets_);
    }

    std::vector<std::string> ListInputs() override {
        std::lock_guard lock(listMutex_);
        return Snapshot<RtMidiIn>(inputTargets_);
    }

    MidiResult OpenOutput(int index, MidiOutHandle& handle) override {
        handle = kNoHandle;
        std::string target;
        if (MidiResult r = Resolve<RtMidiOut>(outputTargets_, index, target);
            r != MidiResult::NoError) {
            return r;
        }
        std::lock_guard lock(outMutex_);
        for (const auto& [h, port] : outputs_) {
            if (port->target == target) {
                return MidiResult::Allocated;
            }
        }
        auto port = std::make_unique<OutPort>();
        port->target = target;
        MidiResult r = MidiResult::NoError;
        // A port closed a moment ago on the same target is still connected: take it as it is.
        const auto same =
            std::find_if(idleOutputs_.begin(), idleOutputs_.end(),
                         [&](const IdleOutput& idle) { return idle.target == target; });
        if (same != idleOutputs_.end()) {
            port->rt = std::move(same->rt);
            idleOutputs_.erase(same);
            port->rt->setErrorCallback(&RecordRtError, &port->sink);
        } else {
            // A new client while there is room to keep the idle ones connected where they are;
            // otherwise the oldest is moved over to the new target.
            if (idleOutputs_.size() >= kIdleOutputsKept) {
                port->rt = std::move(idleOutputs_.front().rt);
                idleOutputs_.erase(idleOutputs_.begin());
                port->rt->setErrorCallback(&RecordRtError, &port->sink);
                try {
                    port->rt->closePort();
                } catch (const RtMidiError& e) {
                    return FromRtError(e.getType());
                }
            } else {
                r = CreatePort(api_, clientName_, port->sink, port->rt);
            }
            if (r == MidiResult::NoError) {
                r = OpenPort(*port->rt, port->sink, target, kOutPortName);
            }
        }
        if (r != MidiResult::NoError) {
            return r;
        }
        handle = nextHandle_++;
        outputs_.emplace(handle, std::move(port));
        return MidiResult::NoError;
    }

    MidiResult CloseOutput(MidiOutHandle handle) override {
        std::lock_guard lock(outMutex_);
        const auto it = outputs_.find(handle);
        if (it == outputs_.end()) {
            return MidiResult::InvalidHandle;
        }
        IdleOutput idle{std::move(it->second->target), std::move(it->second->rt)};
        outputs_.erase(it);
        // Opening a sequencer client and subscribing its port cost round trips, and a patch
        // switch closes and reopens the port, usually on the same synth: the closed port is
        // kept, still connected, for the next open. Nothing is sent on it meanwhile.
        idle.rt->setErrorCallback(&RecordRtError, &idleSink_);
        idleOutputs_.push_back(std::move(idle));
        if (idleOutputs_.size() > kIdleOutputsKept) {
            idleOutputs_.erase(idleOutputs_.begin());
        }
        return MidiResult::NoError;
    }

    MidiResult OpenInput(int index, MidiInCallback callback, MidiInHandle& handle) override {
        handle = kNoHandle;
        std::string target;
        if (MidiResult r = Resolve<RtMidiIn>(inputTargets_, index, target);
            r != MidiResult::NoError) {
            return r;
        }
        std::lock_guard lock(inMutex_);
        for (const auto& [h, port] : inputs_) {
            if (port->target == target) {
                return MidiResult::Allocated;
            }
        }
        auto port = std::make_unique<InPort>();
        port->target = target;
        MidiResult r = CreatePort(api_, inClientName_, port->sink, port->rt);
        if (r != MidiResult::NoError) {
            return r;
        }
        // Clock and active sensing are what arpeggiators and thru live on; system exclusive
        // input is not used.
        port->rt->ignoreTypes(true, false, false);
        port->rt->setCallback(&RtMidiService::OnInput, port.get());
        if (r = OpenPort(*port->rt, port->sink, target, kInPortName); r != MidiResult::NoError) {
            return r;
        }
        InPort* raw = port.get();
        port->handOff.Start(std::move(callback), [this, raw](std::uint32_t message) {
            if (const MidiOutHandle out = raw->thru.load(std::memory_order_acquire);
                out != kNoHandle) {
                (void)SendShort(out, message);
            }
        });
        handle = nextHandle_++;
        inputs_.emplace(handle, std::move(port));
        return MidiResult::NoError;
    }

    MidiResult StartInput(MidiInHandle handle) override {
        std::lock_guard lock(inMutex_);
        const auto it = inputs_.find(handle);
        if (it == inputs_.end()) {
            return MidiResult::InvalidHandle;
        }
        if (!it->second->started.load()) {
            it->second->startNs.store(NowNs());
            it->second->started.store(true, std::memory_order_release);
        }
        return MidiResult::NoError;
    }

    MidiResult StopInput(MidiInHandle handle) override {
        std::lock_guard lock(inMutex_);
        const auto it = inputs_.find(handle);
        if (it == inputs_.end()) {
            return MidiResult::InvalidHandle;
        }
        it->second->started.store(false, std::memory_order_release);
        return MidiResult::NoError;
    }

    MidiResult CloseInput(MidiInHandle handle) override {
        std::unique_ptr<InPort> port;
        {
            std::lock_guard lock(inMutex_);
            const auto it = inputs_.find(handle);
            if (it == inputs_.end()) {
                return MidiResult::InvalidHandle;
            }
            if (it->second->handOff.OnDispatcher()) {
                return MidiResult::InvalidParam;
            }
            port = std::move(it->second);
            inputs_.erase(it);
        }
        port->started.store(false, std::memory_order_release);
        port->rt.reset();  // no more producer once the backend port is gone
        port->handOff.Stop();
        return MidiResult::NoError;
    }

    MidiInputStats InputStats(MidiInHandle handle) override {
        std::lock_guard lock(inMutex_);
        const auto it = inputs_.find(handle);
        if (it == inputs_.end()) {
            return {};
        }
        return it->second->handOff.Stats();
    }

    MidiResult Connect(MidiInHandle input, MidiOutHandle output) override {
        std::lock_guard inLock(inMutex_);
        std::lock_guard outLock(outMutex_);
        const auto it = inputs_.find(input);
        if (it == inputs_.end() || outputs_.count(output) == 0) {
            return MidiResult::InvalidHandle;
        }
        it->second->thru.store(output, std::memory_order_release);
        return MidiResult::NoError;
    }

    MidiResult Disconnect(MidiInHandle input, MidiOutHandle output) override {
        std::lock_guard lock(inMutex_);
        const auto it = inputs_.find(input);
        if (it == inputs_.end()) {
            return MidiResult::InvalidHandle;
        }
        MidiOutHandle expected = output;
        return it->second->thru.compare_exchange_strong(expected, kNoHandle)
                   ? MidiResult::NoError
                   : MidiResult::InvalidParam;
    }

    MidiCounters Counters() const override {
        MidiCounters c;
        c.sent = sent_.load();
        std::lock_guard lock(inMutex_);
        for (const auto& [handle, port] : inputs_) {
            const MidiInputStats stats = port->handOff.Stats();
            c.received += stats.received;
            c.overflowed += stats.overflowed;
        }
        return c;
    }

  private:
    bool ServerUp() const { return api_ != RtMidi::UNSPECIFIED; }

    bool Own(const std::string& fullName) const {
        return fullName.substr(0, fullName.find(':')).rfind(clientName_, 0) == 0;
    }

    // Takes a fresh list; targets gets the backend names, index 0 empty for our virtual port.
    template <typename RtPort>
    std::vector<std::string> Snapshot(std::vector<std::string>& targets) {
        targets.clear();
        std::vector<std::string> names;
        if (!ServerUp()) {
            return names;
        }
        targets.emplace_back();
        names.push_back(clientName_);
        ErrorSink sink;
        std::unique_ptr<RtPort> lister;
        if (CreatePort(api_, clientName_, sink, lister) != MidiResult::NoError) {
            return names;
        }
        const unsigned count = lister->getPortCount();
        for (unsigned i = 0; i < count; ++i) {
            std::string full = lister->getPortName(i);
            if (!full.empty() && !Own(full)) {
                names.push_back(DisplayName(full));
                targets.push_back(std::move(full));
            }
        }
        return names;
    }

    template <typename RtPort>
    MidiResult Resolve(std::vector<std::string>& targets, int index, std::string& target) {
        std::lock_guard lock(listMutex_);
        if (targets.empty()) {
            Snapshot<RtPort>(targets);
        }
        if (index < 0 || static_cast<std::size_t>(index) >= targets.size()) {
            return MidiResult::BadDeviceId;
        }
        if (!ServerUp()) {
            return MidiResult::NoDevice;
        }
        target = targets[static_cast<std::size_t>(index)];
        return MidiResult::NoError;
    }

    MidiResult SendBytes(MidiOutHandle handle, const std::uint8_t* bytes,
                         std::size_t size) override {
        std::lock_guard lock(outMutex_);
        const auto it = outputs_.find(handle);
        if (it == outputs_.end()) {
            return MidiResult::InvalidHandle;
        }
        if (!ServerUp()) {
            return MidiResult::NoDevice;
        }
        OutPort& port = *it->second;
        port.sink.failed = false;
        try {
            port.rt->sendMessage(bytes, size);
        } catch (const RtMidiError& e) {
            return FromRtError(e.getType());
        }
        if (port.sink.failed) {
            return FromRtError(port.sink.type);
        }
        sent_.fetch_add(1, std::memory_order_relaxed);
        return MidiResult::NoError;
    }

    // Runs on the backend's thread, which may be the JACK process thread: no locks, no
    // allocation, just a hand-off to this port's dispatcher.
    static void OnInput(double /*delta*/, std::vector<unsigned char>* message, void* user) {
        auto* port = static_cast<InPort*>(user);
        if (!port->started.load(std::memory_order_acquire) || message->empty() ||
            message->size() > 3) {
            return;
        }
        std::uint32_t packed = 0;
        for (std::size_t i = 0; i < message->size(); ++i) {
            packed |= static_cast<std::uint32_t>((*message)[i]) << (8 * i);
        }
        const auto sinceStart = NowNs() - port->startNs.load(std::memory_order_relaxed);
        if (port->handOff.Offer(packed, static_cast<std::uint32_t>(sinceStart / 1000000))) {
            port->handOff.Wake(1);
        }
    }

    const std::string clientName_;
    const std::string inClientName_;
    const RtMidi::Api api_;
    const std::string backendName_;
    const std::string reason_;
    std::atomic<std::uint64_t> sent_{0};

    std::mutex listMutex_;
    std::vector<std::string> outputTargets_;
    std::vector<std::string> inputTargets_;

    // Lock order: inMutex_ before outMutex_.
    mutable std::mutex inMutex_;
    std::map<MidiInHandle, std::unique_ptr<InPort>> inputs_;
    std::mutex outMutex_;
    std::map<MidiOutHandle, std::unique_ptr<OutPort>> outputs_;
    struct IdleOutput {
        std::string target;
        std::unique_ptr<RtMidiOut> rt;
    };
    std::vector<IdleOutput> idleOutputs_;  // closed, kept for reuse
    ErrorSink idleSink_;
    std::atomic<std::uint32_t> nextHandle_{1};
};

}  // namespace

std::unique_ptr<MidiService> CreateAlsaMidiService(std::string_view clientName,
                                                   std::string reason) {
    return std::make_unique<RtMidiService>(clientName, RtMidi::LINUX_ALSA, "ALSA sequencer",
                                           std::move(reason));
}

std::unique_ptr<MidiService> CreateNoMidiService(std::string_view clientName, std::string reason) {
    return std::make_unique<RtMidiService>(clientName, RtMidi::UNSPECIFIED, "none",
                                           std::move(reason));
}

}  // namespace platform

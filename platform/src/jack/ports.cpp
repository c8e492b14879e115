// The port table: the lists the user picks from, opening and closing ports by index, thru
// connections, and the JACK ports and connections behind them.

#include <cerrno>
#include <chrono>

#include "service.h"

namespace platform::jack {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kSendQueueBytes = 1 << 17;  // a thousand-message burst is 12 KiB
constexpr auto kCloseWait = 2s;    // a port with messages queued drains before it goes
constexpr auto kLinkWait = 500ms;  // a new connection takes effect within a cycle or two

template <typename Slot>
constexpr bool kIsOutput = std::is_same_v<Slot, OutSlot>;

// The index of a free slot; -1 when the target is open already, -2 when all are taken.
template <typename Slot>
int FreeSlot(std::array<Slot, kSlots>& slots, const std::string& target) {
    int free = -2;
    for (int i = 0; i < kSlots; ++i) {
        if (slots[i].state.load() == kFree) {
            free = free < 0 ? i : free;
        } else if (slots[i].target == target) {
            return -1;
        }
    }
    return free;
}

// A port name of ours that says where it goes, within JACK's length limit.
std::string PortNameFor(const char* prefix, const std::string& target) {
    const std::size_t room = static_cast<std::size_t>(jack_port_name_size()) - 64;
    return (prefix + target).substr(0, room);
}

}  // namespace

std::vector<std::string> JackMidiService::ListOutputs() {
    std::lock_guard lock(controlMutex_);
    return Snapshot(JackPortIsInput, outputTargets_);
}

std::vector<std::string> JackMidiService::ListInputs() {
    std::lock_guard lock(controlMutex_);
    return Snapshot(JackPortIsOutput, inputTargets_);
}

MidiResult JackMidiService::OpenOutput(int index, MidiOutHandle& handle) {
    handle = kNoHandle;
    std::lock_guard lock(controlMutex_);
    int claimed = -1;
    if (MidiResult r = Claim(outs_, outputTargets_, index, claimed); r != MidiResult::NoError) {
        return r;
    }
    OutSlot& slot = outs_[claimed];
    {
        std::lock_guard sendLock(slot.sendMutex);
        if (!slot.carry) {
            slot.carry = std::make_unique<OutputCarry>(kSendQueueBytes);
        } else {
            slot.carry->Discard(cycle_);  // left by a close that could not wait for the server
        }
    }
    handle = NewHandle(claimed);
    slot.handle.store(handle);
    slot.linking.store(!slot.target.empty(), std::memory_order_relaxed);
    slot.state.store(kOpen, std::memory_order_release);
    WaitUntilLinked(slot);
    return MidiResult::NoError;
}

MidiResult JackMidiService::CloseOutput(MidiOutHandle handle) {
    std::lock_guard lock(controlMutex_);
    OutSlot* slot = FindSlot(outs_, handle);
    if (slot == nullptr) {
        return MidiResult::InvalidHandle;
    }
    {
        std::lock_guard sendLock(slot->sendMutex);
        slot->handle.store(kNoHandle);  // no more sends; none is half written
    }
    // What was sent before the close (note offs, usually) still goes out first.
    slot->state.store(kClosing, std::memory_order_release);
    WaitUntilReleased(slot->state);
    ReleasePort(*slot);
    slot->target.clear();
    slot->state.store(kFree, std::memory_order_release);
    return MidiResult::NoError;
}

MidiResult JackMidiService::OpenInput(int index, MidiInCallback callback, MidiInHandle& handle) {
    handle = kNoHandle;
    std::lock_guard lock(controlMutex_);
    int claimed = -1;
    if (MidiResult r = Claim(ins_, inputTargets_, index, claimed); r != MidiResult::NoError) {
        return r;
    }
    InSlot& slot = ins_[claimed];
    slot.started.store(false);
    slot.thru.store(kNoHandle);
    slot.handOff.Start(std::move(callback));
    handle = NewHandle(claimed);
    slot.handle.store(handle);
    slot.state.store(kOpen, std::memory_order_release);
    return MidiResult::NoError;
}

MidiResult JackMidiService::StartInput(MidiInHandle handle) {
    std::lock_guard lock(controlMutex_);
    InSlot* slot = FindSlot(ins_, handle);
    if (slot == nullptr) {
        return MidiResult::InvalidHandle;
    }
    if (!slot->started.load()) {
        slot->startUs.store(jack_get_time());
        slot->started.store(true, std::memory_order_release);
    }
    return MidiResult::NoError;
}

MidiResult JackMidiService::StopInput(MidiInHandle handle) {
    std::lock_guard lock(controlMutex_);
    InSlot* slot = FindSlot(ins_, handle);
    if (slot == nullptr) {
        return MidiResult::InvalidHandle;
    }
    slot->started.store(false, std::memory_order_release);
    return MidiResult::NoError;
}

MidiResult JackMidiService::CloseInput(MidiInHandle handle) {
    std::unique_lock lock(controlMutex_);
    InSlot* slot = FindSlot(ins_, handle);
    if (slot == nullptr) {
        return MidiResult::InvalidHandle;
    }
    if (slot->handOff.OnDispatcher()) {
        return MidiResult::InvalidParam;
    }
    slot->handle.store(kNoHandle);
    slot->started.store(false, std::memory_order_release);
    slot->state.store(kClosing, std::memory_order_release);
    WaitUntilReleased(slot->state);
    ReleasePort(*slot);
    // A callback still running may call into the service: it is waited for unlocked. The slot is
    // not free until it is done.
    lock.unlock();
    slot->handOff.Stop();
    lock.lock();
    const MidiInputStats counted = slot->handOff.TakeStats();
    closedReceived_.fetch_add(counted.received);
    closedOverflowed_.fetch_add(counted.overflowed);
    slot->target.clear();
    slot->state.store(kFree, std::memory_order_release);
    return MidiResult::NoError;
}

MidiInputStats JackMidiService::InputStats(MidiInHandle handle) {
    std::lock_guard lock(controlMutex_);
    InSlot* slot = FindSlot(ins_, handle);
    return slot == nullptr ? MidiInputStats{} : slot->handOff.Stats();
}

MidiResult JackMidiService::Connect(MidiInHandle input, MidiOutHandle output) {
    std::lock_guard lock(controlMutex_);
    InSlot* in = FindSlot(ins_, input);
    if (in == nullptr || FindSlot(outs_, output) == nullptr) {
        return MidiResult::InvalidHandle;
    }
    in->thru.store(output, std::memory_order_release);
    return MidiResult::NoError;
}

MidiResult JackMidiService::Disconnect(MidiInHandle input, MidiOutHandle output) {
    std::lock_guard lock(controlMutex_);
    InSlot* in = FindSlot(ins_, input);
    if (in == nullptr) {
        return MidiResult::InvalidHandle;
    }
    MidiOutHandle expected = output;
    return in->thru.compare_exchange_strong(expected, kNoHandle) ? MidiResult::NoError
                                                                 : MidiResult::InvalidParam;
}

MidiResult JackMidiService::Register(const std::string& name, unsigned long flags,
                                     std::atomic<jack_port_t*>& port) {
    jack_client_t* client = client_.load();
    jack_port_t* p = client == nullptr ? nullptr
                                       : jack_port_register(client, name.c_str(),
                                                            JACK_DEFAULT_MIDI_TYPE, flags, 0);
    port.store(p, std::memory_order_release);
    return p == nullptr ? MidiResult::NoMemory : MidiResult::NoError;
}

void JackMidiService::Unregister(std::atomic<jack_port_t*>& port) {
    jack_port_t* p = port.exchange(nullptr);
    if (p != nullptr && alive_.load()) {
        jack_port_unregister(client_.load(), p);
    }
}

bool JackMidiService::Link(const std::string& from, const std::string& to) {
    const int rc = jack_connect(client_.load(), from.c_str(), to.c_str());
    return rc == 0 || rc == EEXIST;
}

// Connects a slot's port to its target: ours to it for an output, it to ours for an input.
// Nothing to do for our own ports.
template <typename Slot>
bool JackMidiService::LinkToTarget(Slot& slot) {
    jack_port_t* port = slot.port.load();
    if (port == nullptr || slot.target.empty()) {
        return true;
    }
    const std::string ours = jack_port_name(port);
    return kIsOutput<Slot> ? Link(ours, slot.target) : Link(slot.target, ours);
}

// The part of opening both kinds share: the list index resolved, a free slot, our port
// registered under a name that says where it goes, and connected.
template <typename Slot>
MidiResult JackMidiService::Claim(std::array<Slot, kSlots>& slots,
                                  std::vector<std::string>& targets, int index, int& claimed) {
    std::string target;
    if (MidiResult r =
            Resolve(kIsOutput<Slot> ? JackPortIsInput : JackPortIsOutput, targets, index, target);
        r != MidiResult::NoError) {
        return r;
    }
    const int free = FreeSlot(slots, target);
    if (free < 0) {
        return free == -1 ? MidiResult::Allocated : MidiResult::NoMemory;
    }
    Slot& slot = slots[free];
    std::atomic<jack_port_t*>& idle = kIsOutput<Slot> ? idleOut_ : idleIn_;
    if (target.empty()) {
        // Our own port is there already, with whatever the patchbay connected to it.
        if (jack_port_t* own = idle.exchange(nullptr); own != nullptr) {
            slot.target.clear();
            slot.portName = kIsOutput<Slot> ? "out" : "in";
            slot.port.store(own, std::memory_order_release);
            claimed = free;
            return MidiResult::NoError;
        }
    }
    slot.target = target;
    slot.portName = target.empty() ? (kIsOutput<Slot> ? "out" : "in")
                                   : PortNameFor(kIsOutput<Slot> ? "to " : "from ", target);
    if (MidiResult r = Register(slot.portName, kIsOutput<Slot> ? JackPortIsOutput : JackPortIsInput,
                                slot.port);
        r != MidiResult::NoError) {
        return r;
    }
    if (!LinkToTarget(slot)) {
        Unregister(slot.port);
        return MidiResult::NoDevice;  // gone since the list was taken
    }
    claimed = free;
    return MidiResult::NoError;
}

// Every open port again, on a new client; connected afterwards.
template <typename Slot>
void JackMidiService::RegisterOpen(std::array<Slot, kSlots>& slots) {
    for (Slot& slot : slots) {
        if (slot.state.load() == kOpen) {
            (void)Register(slot.portName, kIsOutput<Slot> ? JackPortIsOutput : JackPortIsInput,
                           slot.port);
        }
    }
}

template <typename Slot>
void JackMidiService::ReleasePort(Slot& slot) {
    std::atomic<jack_port_t*>& idle = kIsOutput<Slot> ? idleOut_ : idleIn_;
    if (slot.target.empty() && alive_.load() && idle.load() == nullptr) {
        idle.store(slot.port.exchange(nullptr), std::memory_order_release);
        return;
    }
    Unregister(slot.port);
}

void JackMidiService::RegisterIdleOwnPorts() {
    const auto held = [](const auto& slots) {
        for (const auto& slot : slots) {
            if (slot.state.load() != kFree && slot.target.empty() && slot.port.load() != nullptr) {
                return true;
            }
        }
        return false;
    };
    if (idleOut_.load() == nullptr && !held(outs_)) {
        (void)Register("out", JackPortIsOutput, idleOut_);
    }
    if (idleIn_.load() == nullptr && !held(ins_)) {
        (void)Register("in", JackPortIsInput, idleIn_);
    }
}

template bool JackMidiService::LinkToTarget(OutSlot&);
template bool JackMidiService::LinkToTarget(InSlot&);
template void JackMidiService::RegisterOpen(std::array<OutSlot, kSlots>&);
template void JackMidiService::RegisterOpen(std::array<InSlot, kSlots>&);

MidiOutHandle JackMidiService::NewHandle(int slot) {
    return (nextSerial_++ << kSlotBits) | static_cast<std::uint32_t>(slot + 1);
}

bool JackMidiService::Own(const std::string& fullName) const {
    return fullName.rfind(ownPrefix_, 0) == 0 ||
           fullName.substr(0, fullName.find(':')).rfind(clientName_, 0) == 0;
}

// A fresh list; targets gets the full port names, index 0 empty for our own port.
std::vector<std::string> JackMidiService::Snapshot(unsigned long flags,
                                                   std::vector<std::string>& targets) {
    targets.clear();
    std::vector<std::string> names;
    jack_client_t* client = client_.load();
    if (client == nullptr || !alive_.load()) {
        return names;
    }
    targets.emplace_back();
    names.push_back(clientName_);
    const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, flags);
    for (const char** p = ports; p != nullptr && *p != nullptr; ++p) {
        if (!Own(*p)) {
            names.emplace_back(*p);
            targets.emplace_back(*p);
        }
    }
    jack_free(ports);
    return names;
}

MidiResult JackMidiService::Resolve(unsigned long flags, std::vector<std::string>& targets,
                                    int index, std::string& target) {
    if (targets.empty()) {
        Snapshot(flags, targets);
    }
    if (index < 0 || static_cast<std::size_t>(index) >= targets.size()) {
        return MidiResult::BadDeviceId;
    }
    if (!alive_.load()) {
        return MidiResult::NoDevice;
    }
    target = targets[static_cast<std::size_t>(index)];
    return MidiResult::NoError;
}

// A port opened to a synth returns once the server runs cycles with the connection, so that the
// first messages sent on it (a patch's reset, a note) reach the synth; at once when there are no
// cycles to wait for, and never longer than kLinkWait.
void JackMidiService::WaitUntilLinked(OutSlot& slot) {
    const auto until = std::chrono::steady_clock::now() + kLinkWait;
    while (slot.linking.load(std::memory_order_acquire) && alive_.load() &&
           std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(100us);
    }
    slot.linking.store(false, std::memory_order_relaxed);
}

// Waits until the process callback has let go of a closing port; at once when there are no
// cycles to wait for.
void JackMidiService::WaitUntilReleased(std::atomic<int>& state) {
    const auto until = std::chrono::steady_clock::now() + kCloseWait;
    while (state.load(std::memory_order_acquire) != kReleased && alive_.load() &&
           std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(100us);
    }
    // The server stopped running cycles (gone, or stalled for seconds): none is in flight.
    state.store(kReleased, std::memory_order_release);
}

}  // namespace platform::jack

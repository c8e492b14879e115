// The MIDI service on libjack itself: one client named after the program, holding its own "out"
// and "in" ports (index 0 of each list) and one port per device opened, connected by name.
//
// Threads. Control calls (lists, open, close, connect) take controlMutex_. A send takes only its
// port's send mutex, which serialises the producers of that port's byte ring; the process
// callback is the ring's one consumer. The process callback takes no lock and allocates nothing:
// it writes the queued sends and the thru copies into the port buffers, in time order, carries
// what does not fit to the next cycle, and hands incoming messages to one dispatcher thread per
// input. A supervisor thread opens a new client when a server comes back, connects again ports
// whose peer has returned, and publishes the counters for tamborex-list-devices.

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <semaphore>
#include <thread>
#include <type_traits>

#include "midi_backends.h"
#include "platform/file_io.h"
#include "platform/jack_graph_order.h"
#include "platform/spsc_ring.h"

namespace platform {
namespace {

using namespace std::chrono_literals;

constexpr int kSlots = 16;                       // ports per direction, our own port included
constexpr std::size_t kSendRingBytes = 1 << 17;  // a thousand-message burst is 12 KiB
constexpr std::size_t kSpillBytes = 1 << 14;     // thru copies that missed a full buffer
constexpr std::size_t kInputRingSize = 4096;
constexpr std::uint32_t kSlotBits = 5;  // a handle's low bits name its slot, plus one
constexpr auto kCloseWait = 2s;         // a port with messages queued drains before it goes
constexpr auto kReopenEvery = 500ms;

// Output slots go kFree -> kOpen -> kClosing (the process callback still drains the queue) ->
// kDrained (it clears the buffer once more) -> kReleased (it no longer touches the port) -> kFree.
// Input slots go kOpen -> kClosing -> kReleased.
enum SlotState : int { kFree, kOpen, kClosing, kDrained, kReleased };

struct QueuedHeader {
    jack_nframes_t stamp;  // the frame time when the message was sent
    std::uint32_t size;
};

void Quiet(const char*) {}

struct OutSlot {
    // Control side, under controlMutex_.
    std::string target;  // full JACK port name; empty for our own port
    std::string portName;
    // Shared with sends and the process callback.
    std::atomic<MidiOutHandle> handle{kNoHandle};
    std::atomic<jack_port_t*> port{nullptr};
    std::atomic<int> state{kFree};
    std::mutex sendMutex;
    jack_ringbuffer_t* ring = nullptr;
    // Process callback only.
    std::array<std::uint8_t, kSpillBytes> spill{};
    std::size_t spillUsed = 0;
    bool backlog = false;  // the queue met a full buffer and has not been empty since
};

struct InputEvent {
    std::uint32_t message;
    std::uint32_t timestampMs;
};

struct InSlot {
    std::string target;
    std::string portName;
    MidiInCallback callback;
    std::thread dispatcher;
    std::atomic<MidiInHandle> handle{kNoHandle};
    std::atomic<jack_port_t*> port{nullptr};
    std::atomic<int> state{kFree};
    std::atomic<bool> started{false};
    std::atomic<bool> quit{false};
    std::atomic<jack_time_t> startUs{0};
    std::atomic<MidiOutHandle> thru{kNoHandle};
    std::atomic<std::uint64_t> received{0};
    std::atomic<std::uint64_t> overflowed{0};
    SpscRing<InputEvent, kInputRingSize> ring;
    std::counting_semaphore<> pending{0};
};

// One cycle's view of a thru source: an input's buffer and how far it has been copied.
struct ThruCursor {
    void* buffer = nullptr;
    std::uint32_t next = 0;
    std::uint32_t count = 0;
    MidiOutHandle output = kNoHandle;
};

bool IsShortInput(const jack_midi_event_t& e) {
    return e.size >= 1 && e.size <= 3 && e.buffer[0] >= 0x80 && e.buffer[0] != 0xF0 &&
           e.buffer[0] != 0xF7;
}

class JackMidiService final : public ByteSendingMidiService {
  public:
    JackMidiService(std::string_view clientName, std::string reason)
        : clientName_(clientName), reason_(std::move(reason)) {}

    ~JackMidiService() override {
        {
            std::lock_guard lock(superviseMutex_);
            stopping_ = true;
        }
        superviseWake_.notify_all();
        if (supervisor_.joinable()) {
            supervisor_.join();
        }
        for (int i = 0; i < kSlots; ++i) {
            if (const MidiInHandle h = ins_[i].handle.load(); h != kNoHandle) {
                CloseInput(h);
            }
            if (const MidiOutHandle h = outs_[i].handle.load(); h != kNoHandle) {
                CloseOutput(h);
            }
        }
        std::lock_guard lock(controlMutex_);
        CloseClient();
        for (OutSlot& slot : outs_) {
            if (slot.ring != nullptr) {
                jack_ringbuffer_free(slot.ring);
            }
        }
        std::remove(countersPath_.c_str());
    }

    // Opens the client; false with why when there is no server.
    bool Start(std::string& why) {
        jack_set_error_function(&Quiet);
        jack_set_info_function(&Quiet);
        std::lock_guard lock(controlMutex_);
        if (!OpenClient(why)) {
            return false;
        }
        // Without a private folder the counters are not published at all: anywhere else another
        // user could plant a link to be written through or a FIFO to wait on.
        if (PrivateRuntimeFolder(kMidiCountersFolderName, true, countersFolder_) ==
            FolderState::Private) {
            countersPath_ = countersFolder_ + "/" + clientName_ + "." + std::to_string(getpid()) +
                            ".midi-counters";
        }
        supervisor_ = std::thread([this] { Supervise(); });
        return true;
    }

    std::string BackendName() const override { return "JACK"; }
    std::string BackendReason() const override { return reason_; }

    std::vector<std::string> ListOutputs() override {
        std::lock_guard lock(controlMutex_);
        return Snapshot(JackPortIsInput, outputTargets_);
    }

    std::vector<std::string> ListInputs() override {
        std::lock_guard lock(controlMutex_);
        return Snapshot(JackPortIsOutput, inputTargets_);
    }

    MidiResult OpenOutput(int index, MidiOutHandle& handle) override {
        handle = kNoHandle;
        std::lock_guard lock(controlMutex_);
        int claimed = -1;
        if (MidiResult r = Claim(outs_, outputTargets_, index, claimed); r != MidiResult::NoError) {
            return r;
        }
        OutSlot& slot = outs_[claimed];
        if (slot.ring == nullptr &&
            (slot.ring = jack_ringbuffer_create(kSendRingBytes)) == nullptr) {
            Unregister(slot.port);
            return MidiResult::NoMemory;
        }
        std::lock_guard sendLock(slot.sendMutex);
        jack_ringbuffer_reset(slot.ring);
        handle = NewHandle(claimed);
        slot.handle.store(handle);
        slot.state.store(kOpen, std::memory_order_release);
        return MidiResult::NoError;
    }

    MidiResult CloseOutput(MidiOutHandle handle) override {
        std::lock_guard lock(controlMutex_);
        OutSlot* slot = Find(outs_, handle);
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
        Unregister(slot->port);
        slot->target.clear();
        slot->state.store(kFree, std::memory_order_release);
        return MidiResult::NoError;
    }

    MidiResult OpenInput(int index, MidiInCallback callback, MidiInHandle& handle) override {
        handle = kNoHandle;
        std::lock_guard lock(controlMutex_);
        int claimed = -1;
        if (MidiResult r = Claim(ins_, inputTargets_, index, claimed); r != MidiResult::NoError) {
            return r;
        }
        InSlot& slot = ins_[claimed];
        slot.callback = std::move(callback);
        slot.started.store(false);
        slot.quit.store(false);
        slot.thru.store(kNoHandle);
        slot.dispatcher = std::thread([&slot] { Dispatch(slot); });
        handle = NewHandle(claimed);
        slot.handle.store(handle);
        slot.state.store(kOpen, std::memory_order_release);
        return MidiResult::NoError;
    }

    MidiResult StartInput(MidiInHandle handle) override {
        std::lock_guard lock(controlMutex_);
        InSlot* slot = Find(ins_, handle);
        if (slot == nullptr) {
            return MidiResult::InvalidHandle;
        }
        if (!slot->started.load()) {
            slot->startUs.store(jack_get_time());
            slot->started.store(true, std::memory_order_release);
        }
        return MidiResult::NoError;
    }

    MidiResult StopInput(MidiInHandle handle) override {
        std::lock_guard lock(controlMutex_);
        InSlot* slot = Find(ins_, handle);
        if (slot == nullptr) {
            return MidiResult::InvalidHandle;
        }
        slot->started.store(false, std::memory_order_release);
        return MidiResult::NoError;
    }

    MidiResult CloseInput(MidiInHandle handle) override {
        std::unique_lock lock(controlMutex_);
        InSlot* slot = Find(ins_, handle);
        if (slot == nullptr) {
            return MidiResult::InvalidHandle;
        }
        if (slot->dispatcher.get_id() == std::this_thread::get_id()) {
            return MidiResult::InvalidParam;
        }
        slot->handle.store(kNoHandle);
        slot->started.store(false, std::memory_order_release);
        slot->state.store(kClosing, std::memory_order_release);
        WaitUntilReleased(slot->state);
        Unregister(slot->port);
        // A callback still running may call into the service: it is waited for unlocked. The
        // slot is not free until it is done.
        lock.unlock();
        slot->quit.store(true, std::memory_order_release);
        slot->pending.release();
        slot->dispatcher.join();
        lock.lock();
        InputEvent unused{};
        while (slot->ring.TryPop(unused)) {
        }
        while (slot->pending.try_acquire()) {
        }
        closedReceived_.fetch_add(slot->received.exchange(0));
        closedOverflowed_.fetch_add(slot->overflowed.exchange(0));
        slot->callback = {};
        slot->target.clear();
        slot->state.store(kFree, std::memory_order_release);
        return MidiResult::NoError;
    }

    MidiInputStats InputStats(MidiInHandle handle) override {
        std::lock_guard lock(controlMutex_);
        InSlot* slot = Find(ins_, handle);
        if (slot == nullptr) {
            return {};
        }
        return {slot->received.load(), slot->overflowed.load()};
    }

    MidiResult Connect(MidiInHandle input, MidiOutHandle output) override {
        std::lock_guard lock(controlMutex_);
        InSlot* in = Find(ins_, input);
        if (in == nullptr || Find(outs_, output) == nullptr) {
            return MidiResult::InvalidHandle;
        }
        in->thru.store(output, std::memory_order_release);
        return MidiResult::NoError;
    }

    MidiResult Disconnect(MidiInHandle input, MidiOutHandle output) override {
        std::lock_guard lock(controlMutex_);
        InSlot* in = Find(ins_, input);
        if (in == nullptr) {
            return MidiResult::InvalidHandle;
        }
        MidiOutHandle expected = output;
        return in->thru.compare_exchange_strong(expected, kNoHandle) ? MidiResult::NoError
                                                                     : MidiResult::InvalidParam;
    }

    MidiCounters Counters() const override {
        MidiCounters c;
        c.sent = sent_.load();
        c.thru = thru_.load();
        c.carried = carried_.load();
        c.dropped = dropped_.load();
        c.reconnects = reconnects_.load();
        for (const InSlot& slot : ins_) {
            c.received += slot.received.load();
            c.overflowed += slot.overflowed.load();
        }
        c.received += closedReceived_.load();
        c.overflowed += closedOverflowed_.load();
        return c;
    }

  private:
    // --- client ---------------------------------------------------------------------------

    bool OpenClient(std::string& why) {
        if (!OpenClientInactive(why)) {
            return false;
        }
        if (jack_activate(client_.load()) != 0) {
            why = "JACK would not activate the client";
            jack_client_close(client_.exchange(nullptr));
            return false;
        }
        alive_.store(true, std::memory_order_release);
        return true;
    }

    void CloseClient() {
        jack_client_t* client = client_.exchange(nullptr);
        if (client != nullptr && alive_.exchange(false)) {
            jack_deactivate(client);
            jack_client_close(client);
        }
        // A client whose server died is left as it is: libjack may already have torn it down,
        // and closing it then can crash inside libjack. It holds no more than its memory.
    }

    // After the server came back: a new client with every open port registered and connected
    // again under its old name. Handles stay as they were; what was queued when the old server
    // went is dropped and counted.
    void Reopen() {
        std::lock_guard lock(controlMutex_);
        std::string why;
        {
            std::array<std::unique_lock<std::mutex>, kSlots> sends;
            for (int i = 0; i < kSlots; ++i) {
                sends[i] = std::unique_lock(outs_[i].sendMutex);
            }
            client_.store(nullptr);
            // The dead server's last cycle has ended before its ports' state is reset.
            for (int i = 0; i < 10000 && inCycle_.load(std::memory_order_acquire); ++i) {
                std::this_thread::sleep_for(100us);
            }
            for (OutSlot& slot : outs_) {
                slot.port.store(nullptr);
                DiscardQueued(slot);
            }
            for (InSlot& slot : ins_) {
                slot.port.store(nullptr);
            }
            if (!OpenClientInactive(why)) {
                return;
            }
            jack_client_t* client = client_.load();
            RegisterOpen(outs_);
            RegisterOpen(ins_);
            if (jack_activate(client) != 0) {
                jack_client_close(client_.exchange(nullptr));
                return;  // tried again on the next round
            }
            alive_.store(true, std::memory_order_release);
        }
        RestoreConnections();
        // The lists stay as they were taken: an index still means the port (by name) the user saw.
        reconnects_.fetch_add(1);
    }

    // What was still queued when the server went: it would come out late and stale, so it is
    // counted as dropped. Only while no process cycle runs.
    void DiscardQueued(OutSlot& slot) {
        QueuedHeader header{};
        while (slot.ring != nullptr &&
               jack_ringbuffer_peek(slot.ring, reinterpret_cast<char*>(&header), sizeof header) ==
                   sizeof header) {
            jack_ringbuffer_read_advance(slot.ring, sizeof header + header.size);
            dropped_.fetch_add(1, std::memory_order_relaxed);
        }
        for (std::size_t at = 0; at < slot.spillUsed; at += 1 + slot.spill[at]) {
            dropped_.fetch_add(1, std::memory_order_relaxed);
        }
        slot.spillUsed = 0;
        slot.backlog = false;
    }

    // A client with our callbacks set, not yet active.
    bool OpenClientInactive(std::string& why) {
        jack_status_t status{};
        jack_client_t* client = jack_client_open(clientName_.c_str(), JackNoStartServer, &status);
        if (client == nullptr) {
            why =
                (status & JackServerFailed) ? "no JACK server running" : "JACK refused the client";
            return false;
        }
        jack_set_process_callback(client, &JackMidiService::OnProcess, this);
        jack_on_info_shutdown(client, &JackMidiService::OnShutdown, this);
        jack_set_port_registration_callback(client, &JackMidiService::OnPortRegistration, this);
        jack_set_port_rename_callback(client, &JackMidiService::OnPortRename, this);
        ownPrefix_ = std::string(jack_get_client_name(client)) + ":";
        client_.store(client);
        return true;
    }

    // Connects every open port whose peer is there again but not connected (a synth restarted,
    // or the server came back).
    void RestoreConnections() {
        if (client_.load() == nullptr || !alive_.load()) {
            return;
        }
        auto restore = [this](auto& slots) {
            for (auto& slot : slots) {
                jack_port_t* port = slot.port.load();
                if (slot.state.load() == kOpen && port != nullptr && !slot.target.empty() &&
                    !jack_port_connected_to(port, slot.target.c_str())) {
                    (void)LinkToTarget(slot);
                }
            }
        };
        restore(outs_);
        restore(ins_);
    }

    void Supervise() {
        auto lastTry = std::chrono::steady_clock::now();
        std::unique_lock lock(superviseMutex_);
        while (!stopping_) {
            superviseWake_.wait_for(lock, 100ms);
            if (stopping_) {
                break;
            }
            lock.unlock();
            const auto now = std::chrono::steady_clock::now();
            if (!alive_.load(std::memory_order_acquire)) {
                if (now - lastTry >= kReopenEvery) {
                    lastTry = now;
                    Reopen();
                }
            } else if (graphChanged_.exchange(false)) {
                std::lock_guard control(controlMutex_);
                RestoreConnections();
            }
            PublishCounters();
            lock.lock();
        }
    }

    // The counters, as tamborex-list-devices --stats prints them, whenever they change.
    void PublishCounters() {
        const MidiCounters c = Counters();
        if (countersPath_.empty() || (published_ && c == *published_)) {
            return;
        }
        // Looked at again each time: a cleaner may have removed the folder from the temporary
        // folder and someone else made one of that name since.
        if (CheckPrivateFolder(countersFolder_) != FolderState::Private) {
            return;
        }
        const std::string text = "program " + clientName_ + " (process " +
                                 std::to_string(getpid()) + ")\n" + FormatMidiCounters(c);
        int cause = 0;
        WriteStage failedAt = WriteStage::Create;
        if (WriteFileAtomically(countersPath_,
                                {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()},
                                cause, failedAt)) {
            published_ = c;  // a failed write is tried again at the next look
        }
    }

    // --- ports and lists -------------------------------------------------------------------

    MidiResult Register(const std::string& name, unsigned long flags,
                        std::atomic<jack_port_t*>& port) {
        jack_client_t* client = client_.load();
        jack_port_t* p = client == nullptr ? nullptr
                                           : jack_port_register(client, name.c_str(),
                                                                JACK_DEFAULT_MIDI_TYPE, flags, 0);
        port.store(p, std::memory_order_release);
        return p == nullptr ? MidiResult::NoMemory : MidiResult::NoError;
    }

    template <typename Slot>
    static constexpr bool kIsOutput = std::is_same_v<Slot, OutSlot>;

    // Connects a slot's port to its target: ours to it for an output, it to ours for an input.
    // Nothing to do for our own ports.
    template <typename Slot>
    bool LinkToTarget(Slot& slot) {
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
    MidiResult Claim(std::array<Slot, kSlots>& slots, std::vector<std::string>& targets, int index,
                     int& claimed) {
        std::string target;
        if (MidiResult r = Resolve(kIsOutput<Slot> ? JackPortIsInput : JackPortIsOutput, targets,
                                   index, target);
            r != MidiResult::NoError) {
            return r;
        }
        const int free = FreeSlot(slots, target);
        if (free < 0) {
            return free == -1 ? MidiResult::Allocated : MidiResult::NoMemory;
        }
        Slot& slot = slots[free];
        slot.target = target;
        slot.portName = target.empty() ? (kIsOutput<Slot> ? "out" : "in")
                                       : PortNameFor(kIsOutput<Slot> ? "to " : "from ", target);
        if (MidiResult r = Register(
                slot.portName, kIsOutput<Slot> ? JackPortIsOutput : JackPortIsInput, slot.port);
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
    void RegisterOpen(std::array<Slot, kSlots>& slots) {
        for (Slot& slot : slots) {
            if (slot.state.load() == kOpen) {
                (void)Register(slot.portName, kIsOutput<Slot> ? JackPortIsOutput : JackPortIsInput,
                               slot.port);
            }
        }
    }

    void Unregister(std::atomic<jack_port_t*>& port) {
        jack_port_t* p = port.exchange(nullptr);
        if (p != nullptr && alive_.load()) {
            jack_port_unregister(client_.load(), p);
        }
    }

    bool Link(const std::string& from, const std::string& to) {
        const int rc = jack_connect(client_.load(), from.c_str(), to.c_str());
        return rc == 0 || rc == EEXIST;
    }

    // A port name of ours that says where it goes, within JACK's length limit.
    static std::string PortNameFor(const char* prefix, const std::string& target) {
        const std::size_t room = static_cast<std::size_t>(jack_port_name_size()) - 64;
        return (prefix + target).substr(0, room);
    }

    // The index of a free slot; -1 when the target is open already, -2 when all are taken.
    template <typename Slot>
    static int FreeSlot(std::array<Slot, kSlots>& slots, const std::string& target) {
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

    MidiOutHandle NewHandle(int slot) {
        return (nextSerial_++ << kSlotBits) | static_cast<std::uint32_t>(slot + 1);
    }

    template <typename Slot>
    static Slot* Find(std::array<Slot, kSlots>& slots, std::uint32_t handle) {
        const std::uint32_t index = handle & ((1u << kSlotBits) - 1);
        if (handle == kNoHandle || index == 0 || index > kSlots) {
            return nullptr;
        }
        Slot& slot = slots[index - 1];
        return slot.handle.load() == handle ? &slot : nullptr;
    }

    bool Own(const std::string& fullName) const {
        return fullName.rfind(ownPrefix_, 0) == 0 ||
               fullName.substr(0, fullName.find(':')).rfind(clientName_, 0) == 0;
    }

    // A fresh list; targets gets the full port names, index 0 empty for our own port.
    std::vector<std::string> Snapshot(unsigned long flags, std::vector<std::string>& targets) {
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

    MidiResult Resolve(unsigned long flags, std::vector<std::string>& targets, int index,
                       std::string& target) {
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

    // Waits until the process callback has let go of a closing port; at once when there are no
    // cycles to wait for.
    void WaitUntilReleased(std::atomic<int>& state) {
        const auto until = std::chrono::steady_clock::now() + kCloseWait;
        while (state.load(std::memory_order_acquire) != kReleased && alive_.load() &&
               std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(100us);
        }
        // The server stopped running cycles (gone, or stalled for seconds): none is in flight.
        state.store(kReleased, std::memory_order_release);
    }

    // --- sending ---------------------------------------------------------------------------

    MidiResult SendBytes(MidiOutHandle handle, const std::uint8_t* bytes,
                         std::size_t size) override {
        const std::uint32_t index = handle & ((1u << kSlotBits) - 1);
        if (handle == kNoHandle || index == 0 || index > kSlots) {
            return MidiResult::InvalidHandle;
        }
        OutSlot& slot = outs_[index - 1];
        std::lock_guard lock(slot.sendMutex);
        if (slot.handle.load(std::memory_order_relaxed) != handle) {
            return MidiResult::InvalidHandle;
        }
        jack_client_t* client = client_.load(std::memory_order_relaxed);
        if (client == nullptr || !alive_.load(std::memory_order_acquire)) {
            return MidiResult::NoDevice;
        }
        const std::size_t largest = largestEvent_.load(std::memory_order_relaxed);
        if (largest != 0 && size > largest) {
            dropped_.fetch_add(1, std::memory_order_relaxed);
            return MidiResult::InvalidParam;  // no cycle of this server can carry it
        }
        if (jack_ringbuffer_write_space(slot.ring) < sizeof(QueuedHeader) + size) {
            dropped_.fetch_add(1, std::memory_order_relaxed);
            return MidiResult::NoMemory;
        }
        const QueuedHeader header{jack_frame_time(client), static_cast<std::uint32_t>(size)};
        jack_ringbuffer_write(slot.ring, reinterpret_cast<const char*>(&header), sizeof header);
        jack_ringbuffer_write(slot.ring, reinterpret_cast<const char*>(bytes), size);
        return MidiResult::NoError;
    }

    // --- the process cycle -----------------------------------------------------------------

    static int OnProcess(jack_nframes_t frames, void* self) {
        static_cast<JackMidiService*>(self)->Process(frames);
        return 0;
    }

    void Process(jack_nframes_t frames) {
        jack_client_t* client = client_.load(std::memory_order_acquire);
        if (client == nullptr) {
            return;
        }
        inCycle_.store(true, std::memory_order_relaxed);
        const jack_nframes_t cycleStart = jack_last_frame_time(client);
        std::array<ThruCursor, kSlots> thru{};
        for (int i = 0; i < kSlots; ++i) {
            ReadInput(ins_[i], client, frames, cycleStart, thru[i]);
        }
        for (OutSlot& slot : outs_) {
            WriteOutput(slot, frames, cycleStart, thru);
        }
        for (const ThruCursor& cursor : thru) {
            if (cursor.buffer != nullptr) {
                EndPortBuffer(cursor.buffer);
            }
        }
        inCycle_.store(false, std::memory_order_release);
    }

    void ReadInput(InSlot& slot, jack_client_t* client, jack_nframes_t frames,
                   jack_nframes_t cycleStart, ThruCursor& cursor) {
        const int state = slot.state.load(std::memory_order_acquire);
        if (state == kClosing) {
            slot.state.store(kReleased, std::memory_order_release);
            return;
        }
        jack_port_t* port = slot.port.load(std::memory_order_acquire);
        if (state != kOpen || port == nullptr || !slot.started.load(std::memory_order_acquire)) {
            return;
        }
        cursor.buffer = jack_port_get_buffer(port, frames);
        BeginPortBuffer(cursor.buffer);
        cursor.count = jack_midi_get_event_count(cursor.buffer);
        cursor.output = slot.thru.load(std::memory_order_acquire);
        const jack_time_t startUs = slot.startUs.load(std::memory_order_relaxed);
        std::ptrdiff_t delivered = 0;
        for (std::uint32_t i = 0; i < cursor.count; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, cursor.buffer, i) != 0 || !IsShortInput(event)) {
                continue;  // system exclusive is not used by either program
            }
            std::uint32_t packed = 0;
            for (std::size_t b = 0; b < event.size; ++b) {
                packed |= static_cast<std::uint32_t>(event.buffer[b]) << (8 * b);
            }
            const jack_time_t at = jack_frames_to_time(client, cycleStart + event.time);
            const auto ms = static_cast<std::uint32_t>(at > startUs ? (at - startUs) / 1000 : 0);
            if (slot.ring.TryPush({packed, ms})) {
                slot.received.fetch_add(1, std::memory_order_relaxed);
                ++delivered;
            } else {
                slot.overflowed.fetch_add(1, std::memory_order_relaxed);
            }
        }
        if (delivered > 0) {
            slot.pending.release(delivered);
        }
    }

    // Our sends and the thru copies meant for this port, merged by frame. Whatever does not fit
    // waits for the next cycle: sends in their ring, thru copies in the spill area.
    void WriteOutput(OutSlot& slot, jack_nframes_t frames, jack_nframes_t cycleStart,
                     std::array<ThruCursor, kSlots>& thru) {
        const int state = slot.state.load(std::memory_order_acquire);
        jack_port_t* port = slot.port.load(std::memory_order_acquire);
        if (port == nullptr || (state != kOpen && state != kClosing && state != kDrained)) {
            return;
        }
        void* buffer = jack_port_get_buffer(port, frames);
        BeginPortBuffer(buffer);
        jack_midi_clear_buffer(buffer);
        if (state == kDrained) {
            EndPortBuffer(buffer);
            slot.state.store(kReleased, std::memory_order_release);
            return;
        }
        const std::size_t largest = jack_midi_max_event_size(buffer);
        largestEvent_.store(largest, std::memory_order_relaxed);
        const MidiOutHandle handle = slot.handle.load(std::memory_order_relaxed);
        jack_nframes_t at = 0;
        bool full = !WriteSpill(slot, buffer, largest);
        bool queueWaits = full;
        for (;;) {
            QueuedHeader header{};
            const bool queued =
                !queueWaits && jack_ringbuffer_peek(slot.ring, reinterpret_cast<char*>(&header),
                                                    sizeof header) == sizeof header;
            const jack_nframes_t queuedAt = queued ? FrameOf(header.stamp, frames, cycleStart) : 0;
            ThruCursor* next = nullptr;
            jack_midi_event_t event{};
            for (ThruCursor& c : thru) {
                if (handle == kNoHandle || c.output != handle || c.next >= c.count) {
                    continue;
                }
                jack_midi_event_t e;
                if (jack_midi_event_get(&e, c.buffer, c.next) == 0 &&
                    (next == nullptr || e.time < event.time)) {
                    next = &c;
                    event = e;
                }
            }
            if (next != nullptr && (!queued || event.time < queuedAt)) {
                ++next->next;
                at = std::max(at, event.time);
                if (full || !WriteEvent(buffer, at, event.buffer, event.size, largest)) {
                    full = true;
                    Spill(slot, event.buffer, event.size);
                } else {
                    thru_.fetch_add(1, std::memory_order_relaxed);
                }
                continue;
            }
            if (!queued) {
                break;
            }
            at = std::max(at, queuedAt);
            if (!WriteQueued(slot, buffer, at, header, largest)) {
                full = true;
                queueWaits = true;
                slot.backlog = true;
            }
        }
        EndPortBuffer(buffer);
        const bool empty = jack_ringbuffer_read_space(slot.ring) == 0;
        slot.backlog = slot.backlog && !empty;
        if (state == kClosing && empty && slot.spillUsed == 0) {
            slot.state.store(kDrained, std::memory_order_release);
        }
    }

    // The frame in this cycle for a message sent at frame time stamp: this cycle plays the
    // period before it started, so a message keeps its place in time; one that waited longer
    // goes at the start.
    static jack_nframes_t FrameOf(jack_nframes_t stamp, jack_nframes_t frames,
                                  jack_nframes_t cycleStart) {
        const auto offset = static_cast<std::int32_t>(stamp + frames - cycleStart);
        return static_cast<jack_nframes_t>(
            std::clamp<std::int32_t>(offset, 0, static_cast<std::int32_t>(frames) - 1));
    }

    // False when the buffer is full for this cycle. A message larger than any cycle can carry
    // is dropped and counted instead.
    bool WriteEvent(void* buffer, jack_nframes_t at, const std::uint8_t* bytes, std::size_t size,
                    std::size_t largest) {
        if (size > largest) {
            dropped_.fetch_add(1, std::memory_order_relaxed);
            return true;
        }
        jack_midi_data_t* to = jack_midi_event_reserve(buffer, at, size);
        if (to == nullptr) {
            return false;
        }
        std::memcpy(to, bytes, size);
        return true;
    }

    bool WriteQueued(OutSlot& slot, void* buffer, jack_nframes_t at, const QueuedHeader& header,
                     std::size_t largest) {
        jack_midi_data_t* to =
            header.size > largest ? nullptr : jack_midi_event_reserve(buffer, at, header.size);
        if (to == nullptr && header.size <= largest) {
            return false;
        }
        jack_ringbuffer_read_advance(slot.ring, sizeof header);
        if (to == nullptr) {
            jack_ringbuffer_read_advance(slot.ring, header.size);
            dropped_.fetch_add(1, std::memory_order_relaxed);
            return true;
        }
        jack_ringbuffer_read(slot.ring, reinterpret_cast<char*>(to), header.size);
        sent_.fetch_add(1, std::memory_order_relaxed);
        // Behind a buffer that was full: it waited for a later cycle.
        if (slot.backlog) {
            carried_.fetch_add(1, std::memory_order_relaxed);
        }
        return true;
    }

    // Writes the thru copies carried from the last cycle at its start; false when they do not
    // all fit yet.
    bool WriteSpill(OutSlot& slot, void* buffer, std::size_t largest) {
        std::size_t done = 0;
        while (done < slot.spillUsed) {
            const std::size_t size = slot.spill[done];
            if (!WriteEvent(buffer, 0, &slot.spill[done + 1], size, largest)) {
                break;
            }
            thru_.fetch_add(1, std::memory_order_relaxed);
            carried_.fetch_add(1, std::memory_order_relaxed);
            done += 1 + size;
        }
        std::memmove(slot.spill.data(), slot.spill.data() + done, slot.spillUsed - done);
        slot.spillUsed -= done;
        return slot.spillUsed == 0;
    }

    void Spill(OutSlot& slot, const std::uint8_t* bytes, std::size_t size) {
        // Thru carries what arrived, so an event that cannot be kept is lost; it is counted.
        if (size > 255 || slot.spillUsed + 1 + size > slot.spill.size()) {
            dropped_.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        slot.spill[slot.spillUsed] = static_cast<std::uint8_t>(size);
        std::memcpy(&slot.spill[slot.spillUsed + 1], bytes, size);
        slot.spillUsed += 1 + size;
    }

    // --- notifications (any libjack thread: atomics only) ----------------------------------

    static void OnShutdown(jack_status_t, const char*, void* self) {
        static_cast<JackMidiService*>(self)->alive_.store(false, std::memory_order_release);
    }

    static void OnPortRegistration(jack_port_id_t, int, void* self) {
        static_cast<JackMidiService*>(self)->graphChanged_.store(true);
    }

    static void OnPortRename(jack_port_id_t, const char*, const char*, void* self) {
        static_cast<JackMidiService*>(self)->graphChanged_.store(true);
    }

    static void Dispatch(InSlot& slot) {
        for (;;) {
            slot.pending.acquire();
            if (slot.quit.load(std::memory_order_acquire)) {
                return;
            }
            InputEvent event{};
            if (slot.ring.TryPop(event) && slot.callback) {
                slot.callback(event.message, event.timestampMs);
            }
        }
    }

    const std::string clientName_;
    const std::string reason_;
    std::string countersFolder_;
    std::string countersPath_;  // empty: the counters are not published

    std::mutex controlMutex_;  // before any send mutex
    std::string ownPrefix_;
    std::vector<std::string> outputTargets_;
    std::vector<std::string> inputTargets_;
    std::uint32_t nextSerial_ = 1;

    std::atomic<jack_client_t*> client_{nullptr};
    std::atomic<bool> alive_{false};
    std::atomic<bool> graphChanged_{false};
    std::atomic<bool> inCycle_{false};  // the process callback is running
    std::atomic<std::size_t> largestEvent_{0};
    std::array<OutSlot, kSlots> outs_;
    std::array<InSlot, kSlots> ins_;

    std::atomic<std::uint64_t> sent_{0};
    std::atomic<std::uint64_t> thru_{0};
    std::atomic<std::uint64_t> carried_{0};
    std::atomic<std::uint64_t> dropped_{0};
    std::atomic<std::uint64_t> reconnects_{0};
    std::atomic<std::uint64_t> closedReceived_{0};
    std::atomic<std::uint64_t> closedOverflowed_{0};
    std::optional<MidiCounters> published_;  // what the file holds, once written

    std::mutex superviseMutex_;
    std::condition_variable superviseWake_;
    bool stopping_ = false;
    std::thread supervisor_;
};

}  // namespace

std::unique_ptr<MidiService> CreateJackMidiService(std::string_view clientName, std::string reason,
                                                   std::string& why) {
    auto service = std::make_unique<JackMidiService>(clientName, std::move(reason));
    if (!service->Start(why)) {
        return nullptr;
    }
    return service;
}

}  // namespace platform

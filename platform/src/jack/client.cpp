// The JACK client: opening it, closing it, a new one when the server comes back, and the
// supervisor thread that watches for that and publishes the counters.

#include <unistd.h>

#include <chrono>

#include "platform/file_io.h"
#include "service.h"

namespace platform {
namespace jack {
namespace {

using namespace std::chrono_literals;

constexpr auto kReopenEvery = 500ms;

void Quiet(const char*) {}

}  // namespace

JackMidiService::~JackMidiService() {
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
    std::remove(countersPath_.c_str());
}

bool JackMidiService::Start(std::string& why) {
    jack_set_error_function(&Quiet);
    jack_set_info_function(&Quiet);
    std::lock_guard lock(controlMutex_);
    if (!OpenClient(why)) {
        return false;
    }
    RegisterIdleOwnPorts();
    // Without a private folder the counters are not published at all: anywhere else another
    // user could plant a link to be written through or a FIFO to wait on.
    if (PrivateRuntimeFolder(kMidiCountersFolderName, true, countersFolder_) ==
        FolderState::Private) {
        countersPath_ =
            countersFolder_ + "/" + clientName_ + "." + std::to_string(getpid()) + ".midi-counters";
    }
    supervisor_ = std::thread([this] { Supervise(); });
    return true;
}

MidiCounters JackMidiService::Counters() const {
    MidiCounters c;
    c.sent = cycle_.sent.load();
    c.thru = cycle_.thru.load();
    c.carried = cycle_.carried.load();
    c.dropped = cycle_.dropped.load();
    c.reconnects = reconnects_.load();
    for (const InSlot& slot : ins_) {
        const MidiInputStats stats = slot.handOff.Stats();
        c.received += stats.received;
        c.overflowed += stats.overflowed;
    }
    c.received += closedReceived_.load();
    c.overflowed += closedOverflowed_.load();
    return c;
}

bool JackMidiService::OpenClient(std::string& why) {
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

// A client with our callbacks set, not yet active.
bool JackMidiService::OpenClientInactive(std::string& why) {
    jack_status_t status{};
    jack_client_t* client = jack_client_open(clientName_.c_str(), JackNoStartServer, &status);
    if (client == nullptr) {
        why = (status & JackServerFailed) ? "no JACK server running" : "JACK refused the client";
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

void JackMidiService::CloseClient() {
    jack_client_t* client = client_.exchange(nullptr);
    if (client != nullptr && alive_.exchange(false)) {
        jack_deactivate(client);
        jack_client_close(client);
    }
    // A client whose server died is left as it is: libjack may already have torn it down, and
    // closing it then can crash inside libjack. It holds no more than its memory.
}

// After the server came back: a new client with every open port registered and connected again
// under its old name. Handles stay as they were; what was queued when the old server went is
// dropped and counted.
void JackMidiService::Reopen() {
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
            if (slot.carry) {
                slot.carry->Discard(cycle_);  // it would come out late and stale
            }
        }
        for (InSlot& slot : ins_) {
            slot.port.store(nullptr);
        }
        idleOut_.store(nullptr);  // they went with the old client
        idleIn_.store(nullptr);
        if (!OpenClientInactive(why)) {
            return;
        }
        jack_client_t* client = client_.load();
        RegisterOpen(outs_);
        RegisterOpen(ins_);
        RegisterIdleOwnPorts();
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

// Connects every open port whose peer is there again but not connected (a synth restarted, or
// the server came back).
void JackMidiService::RestoreConnections() {
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

void JackMidiService::Supervise() {
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
void JackMidiService::PublishCounters() {
    const MidiCounters c = Counters();
    if (countersPath_.empty() || (published_ && c == *published_)) {
        return;
    }
    // Looked at again each time: a cleaner may have removed the folder from the temporary folder
    // and someone else made one of that name since.
    if (CheckPrivateFolder(countersFolder_) != FolderState::Private) {
        return;
    }
    const std::string text = "program " + clientName_ + " (process " + std::to_string(getpid()) +
                             ")\n" + FormatMidiCounters(c);
    int cause = 0;
    WriteStage failedAt = WriteStage::Create;
    if (WriteFileAtomically(countersPath_,
                            {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()},
                            cause, failedAt)) {
        published_ = c;  // a failed write is tried again at the next look
    }
}

// Notifications, from any libjack thread: atomics only.

void JackMidiService::OnShutdown(jack_status_t, const char*, void* self) {
    static_cast<JackMidiService*>(self)->alive_.store(false, std::memory_order_release);
}

void JackMidiService::OnPortRegistration(jack_port_id_t, int, void* self) {
    static_cast<JackMidiService*>(self)->graphChanged_.store(true);
}

void JackMidiService::OnPortRename(jack_port_id_t, const char*, const char*, void* self) {
    static_cast<JackMidiService*>(self)->graphChanged_.store(true);
}

}  // namespace jack

std::unique_ptr<MidiService> CreateJackMidiService(std::string_view clientName, std::string reason,
                                                   std::string& why) {
    auto service = std::make_unique<jack::JackMidiService>(clientName, std::move(reason));
    if (!service->Start(why)) {
        return nullptr;
    }
    return service;
}

}  // namespace platform

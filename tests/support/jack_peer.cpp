#include "jack_peer.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include "platform/jack_graph_order.h"

#include <algorithm>
#include <thread>

namespace testsupport {

JackPeer::JackPeer(const std::string& name, Role role)
    : outgoing_(std::make_unique<platform::SpscRing<Outgoing, 1 << 12>>()),
      sentFrames_(std::make_unique<platform::SpscRing<std::uint32_t, 1 << 18>>()),
      arrivals_(std::make_unique<platform::SpscRing<Arrival, 1 << 18>>()) {
    jack_status_t status{};
    client_ = jack_client_open(name.c_str(), JackNoStartServer, &status);
    if (client_ == nullptr) {
        return;
    }
    name_ = jack_get_client_name(client_);
    if (role != Role::Source) {
        in_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    }
    if (role != Role::Sink) {
        out_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    }
    jack_set_process_callback(client_, &JackPeer::OnProcess, this);
    jack_on_shutdown(client_, &JackPeer::OnShutdown, this);
    if (jack_activate(client_) != 0) {
        jack_client_close(client_);
        client_ = nullptr;
        return;
    }
    alive_ = true;
}

void JackPeer::OnShutdown(void* self) {
    static_cast<JackPeer*>(self)->alive_ = false;
}

JackPeer::~JackPeer() {
    // A client whose server died is not closed: libjack may have torn it down already.
    if (client_ != nullptr && alive_) {
        jack_deactivate(client_);
        jack_client_close(client_);
    }
}

std::string JackPeer::Port(const char* shortName) const {
    return name_ + ":" + shortName;
}

bool JackPeer::Connect(const std::string& from, const std::string& to) const {
    const int rc = jack_connect(client_, from.c_str(), to.c_str());
    return rc == 0 || rc == EEXIST;
}

bool JackPeer::Rename(const char* shortName, const std::string& newShortName) {
    jack_port_t* port = std::string(shortName) == "in" ? in_ : out_;
    return port != nullptr && jack_port_rename(client_, port, newShortName.c_str()) == 0;
}

std::uint64_t JackPeer::Send(std::uint32_t packed, int size, std::uint32_t frame) {
    const std::uint64_t now = jack_get_time();
    outgoing_->TryPush({packed, static_cast<std::uint32_t>(size), frame});
    return now;
}

std::vector<std::uint32_t> JackPeer::SentFrames() {
    std::uint32_t f = 0;
    while (sentFrames_->TryPop(f)) {
        frames_.push_back(f);
    }
    return frames_;
}

std::vector<JackPeer::Arrival> JackPeer::WaitForArrivals(std::size_t n,
                                                         std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        Arrival a;
        while (arrivals_->TryPop(a)) {
            collected_.push_back(a);
        }
        if (collected_.size() >= n || std::chrono::steady_clock::now() >= deadline) {
            return collected_;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

int JackPeer::OnProcess(std::uint32_t frames, void* self) {
    static_cast<JackPeer*>(self)->Process(frames);
    return 0;
}

void JackPeer::Process(std::uint32_t frames) {
    const jack_nframes_t start = jack_last_frame_time(client_);
    void* in = in_ != nullptr ? jack_port_get_buffer(in_, frames) : nullptr;
    void* out = out_ != nullptr ? jack_port_get_buffer(out_, frames) : nullptr;
    if (out != nullptr) {
        platform::BeginPortBuffer(out);
        jack_midi_clear_buffer(out);
    }
    if (in != nullptr) {
        platform::BeginPortBuffer(in);
        const std::uint64_t now = jack_get_time();
        const std::uint32_t count = jack_midi_get_event_count(in);
        for (std::uint32_t i = 0; i < count; ++i) {
            jack_midi_event_t e;
            if (jack_midi_event_get(&e, in, i) != 0) {
                continue;
            }
            if (out != nullptr) {
                jack_midi_event_write(out, e.time, e.buffer, e.size);
                continue;
            }
            Arrival a;
            a.size = static_cast<std::uint8_t>(std::min<std::size_t>(e.size, 255));
            std::copy_n(e.buffer, std::min<std::size_t>(e.size, 3), a.bytes.begin());
            a.frame = start + e.time;
            a.arrivedUs = now;
            arrivals_->TryPush(a);
        }
    }
    if (out != nullptr && in == nullptr) {
        Outgoing o{};
        jack_nframes_t last = 0;
        while (outgoing_->TryPop(o)) {
            const jack_nframes_t at = std::max(last, std::min(o.frame, frames - 1));
            const std::uint8_t bytes[3] = {static_cast<std::uint8_t>(o.packed),
                                           static_cast<std::uint8_t>(o.packed >> 8),
                                           static_cast<std::uint8_t>(o.packed >> 16)};
            if (jack_midi_event_write(out, at, bytes, o.size) == 0) {
                sentFrames_->TryPush(start + at);
                last = at;
            }
        }
    }
    for (void* buffer : {in, out}) {
        if (buffer != nullptr) {
            platform::EndPortBuffer(buffer);
        }
    }
}

}  // namespace testsupport

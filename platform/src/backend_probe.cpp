#include "backend_probe.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>

namespace platform {
namespace {

void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}
void QuietJack(const char*) {}

}  // namespace

bool ProbeAlsaSequencer(std::string& why) {
    // The library prints its own complaint when the device node is missing; we report ours.
    snd_lib_error_set_handler(&QuietAlsa);
    snd_seq_t* seq = nullptr;
    const int rc = snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, 0);
    snd_lib_error_set_handler(nullptr);
    if (rc < 0) {
        why = snd_strerror(rc);
        return false;
    }
    snd_seq_close(seq);
    return true;
}

JackServerWatch::~JackServerWatch() {
    // Once the server has gone, the client is dead and libjack may already have torn it down;
    // closing it then can crash inside libjack. It is left as it is.
    if (client_ != nullptr && ServerAlive()) {
        jack_client_close(client_);
    }
}

bool JackServerWatch::Connect(std::string_view clientName, std::string& why) {
    // A program with no JACK server is normal; libjack's own messages would only alarm people.
    jack_set_error_function(&QuietJack);
    jack_set_info_function(&QuietJack);
    jack_status_t status{};
    const std::string name = std::string(clientName.substr(0, 40)) + " watch";
    client_ = jack_client_open(name.c_str(), JackNoStartServer, &status);
    if (client_ == nullptr) {
        why = (status & JackServerFailed) ? "no JACK server running" : "JACK refused the client";
        return false;
    }
    // Not activated: the watch takes no part in processing, so a busy machine can never make
    // the server drop it for missing a cycle. The shutdown notice comes over its connection.
    jack_on_shutdown(client_, &JackServerWatch::OnShutdown, this);
    alive_.store(true, std::memory_order_release);
    return true;
}

std::chrono::microseconds JackServerWatch::Period() const {
    const jack_nframes_t rate = client_ != nullptr ? jack_get_sample_rate(client_) : 0;
    if (rate == 0) {
        return std::chrono::microseconds(0);
    }
    return std::chrono::microseconds(std::int64_t{jack_get_buffer_size(client_)} * 1000000 / rate);
}

void JackServerWatch::OnShutdown(void* self) {
    static_cast<JackServerWatch*>(self)->alive_.store(false, std::memory_order_release);
}

}  // namespace platform

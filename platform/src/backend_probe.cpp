#include <alsa/asoundlib.h>

#include "midi_backends.h"

namespace platform {
namespace {

void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

bool ProbeAlsaSequencer(std::string& why) {
    // The library prints its own complaint when the device node is missing; we report ours.
    snd_lib_error_set_handler(&QuietAlsa);
    snd_seq_t* seq = nullptr;
    const int rc = snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, 0);
    snd_lib_error_set_handler(nullptr);
    if (rc < 0) {
        why = std::string("cannot open /dev/snd/seq (") + snd_strerror(rc) + ")";
        return false;
    }
    snd_seq_close(seq);
    return true;
}

}  // namespace platform

// Any bytes as a datagram on the OSC input: the reader never reads outside them, and every
// command it hands over is one the program can play as it is: a whole MIDI message of the
// length its status byte says (or a system-exclusive one from F0 to F7), or a command under
// the prefix with its argument in range.

#include <cstdlib>
#include <span>

#include "platform/osc.h"

namespace {

bool WholeMessage(const std::vector<std::uint8_t>& bytes) {
    if (bytes.empty()) {
        return false;
    }
    std::size_t first = 1;
    std::size_t last = bytes.size();
    if (bytes[0] == 0xF0) {
        if (bytes.size() < 2 || bytes.back() != 0xF7) {
            return false;
        }
        --last;
    } else {
        // The reader makes only the channel messages that have an address of their own.
        const std::uint8_t kind = bytes[0] & 0xF0;
        const std::size_t length = kind == 0xC0 || kind == 0xD0 ? 2 : 3;
        if (bytes[0] < 0x80 || bytes[0] >= 0xF0 || kind == 0xA0 || bytes.size() != length) {
            return false;
        }
    }
    for (std::size_t i = first; i < last; ++i) {
        if (bytes[i] >= 0x80) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const platform::OscReader reader(
        "/tamborex", {{"entry", true, 0, 127}, {"active", true, 0, 1}, {"panic", false, 0, 0}});
    int accepted = 0;
    const int ignored = reader.Read({data, size}, [&](const platform::OscCommand& c) {
        if (c.kind == platform::OscCommand::Kind::Midi) {
            if (!WholeMessage(c.bytes)) {
                std::abort();
            }
        } else if ((c.name == "entry" && (c.value < 0 || c.value > 127)) ||
                   (c.name == "active" && c.value != 0 && c.value != 1) ||
                   (c.name != "entry" && c.name != "active" && c.name != "panic")) {
            std::abort();
        }
        ++accepted;
        return true;
    });
    // Each message is either taken or ignored; a packet of 65536 bytes holds at most 8192.
    if (ignored < 0 || ignored + accepted > 8192 + 1) {
        std::abort();
    }
    return 0;
}

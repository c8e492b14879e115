#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <cstdlib>

#include "midi_backends.h"
#include "platform/midi.h"
#include "platform/midi_bytes.h"

namespace platform {

std::string_view MidiResultName(MidiResult result) {
    switch (result) {
        case MidiResult::NoError:
            return "no error";
        case MidiResult::InvalidParam:
            return "invalid parameter";
        case MidiResult::BadDeviceId:
            return "bad device id";
        case MidiResult::NoDevice:
            return "no device";
        case MidiResult::Allocated:
            return "already allocated";
        case MidiResult::InvalidHandle:
            return "invalid handle";
        case MidiResult::NoMemory:
            return "out of memory";
        case MidiResult::Other:
            break;
    }
    return "other error";
}

int ShortMessageLength(std::uint8_t status) {
    if (status < midi::kNoteOff) {
        return 1;
    }
    switch (status & midi::kKindMask) {
        case midi::kProgramChange:
        case midi::kChannelPressure:
            return 2;
        case midi::kSystemExclusive:
            break;
        default:
            return 3;
    }
    switch (status) {
        case midi::kTimeCode:
        case midi::kSongSelect:
            return 2;
        case midi::kSongPosition:
            return 3;
        default:
            return 1;
    }
}

std::size_t ShortMessageBytes(std::uint32_t message, std::uint8_t (&bytes)[3]) {
    const auto status = static_cast<std::uint8_t>(message & 0xFF);
    if (!IsShortMessageStatus(status)) {
        return 0;
    }
    bytes[0] = status;
    bytes[1] = static_cast<std::uint8_t>((message >> 8) & 0x7F);
    bytes[2] = static_cast<std::uint8_t>((message >> 16) & 0x7F);
    return static_cast<std::size_t>(ShortMessageLength(status));
}

MidiResult ByteSendingMidiService::SendShort(MidiOutHandle handle, std::uint32_t message) {
    std::uint8_t bytes[3];
    const std::size_t length = ShortMessageBytes(message, bytes);
    return length == 0 ? MidiResult::InvalidParam : SendBytes(handle, bytes, length);
}

MidiResult ByteSendingMidiService::SendLong(MidiOutHandle handle,
                                            std::span<const std::uint8_t> bytes) {
    if (bytes.empty() || bytes.size() > kMaxBlockBytes) {
        return MidiResult::InvalidParam;
    }
    return SendBytes(handle, bytes.data(), bytes.size());
}

MidiResult ByteSendingMidiService::SendShorts(MidiOutHandle handle,
                                              std::span<const std::uint32_t> messages) {
    if (messages.empty() || messages.size() > kMaxShortGroup) {
        return MidiResult::InvalidParam;
    }
    std::uint8_t bytes[kMaxShortGroup * 3];
    std::uint8_t lengths[kMaxShortGroup];
    std::size_t used = 0;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        std::uint8_t one[3];
        const std::size_t length = ShortMessageBytes(messages[i], one);
        if (length == 0) {
            return MidiResult::InvalidParam;
        }
        std::copy(one, one + length, bytes + used);
        lengths[i] = static_cast<std::uint8_t>(length);
        used += length;
    }
    return SendGroup(handle, bytes, {lengths, messages.size()});
}

MidiResult ByteSendingMidiService::SendGroup(MidiOutHandle handle, const std::uint8_t* bytes,
                                             std::span<const std::uint8_t> lengths) {
    for (const std::uint8_t length : lengths) {
        if (const MidiResult r = SendBytes(handle, bytes, length); r != MidiResult::NoError) {
            return r;
        }
        bytes += length;
    }
    return MidiResult::NoError;
}

MidiResult MidiService::SendShorts(MidiOutHandle handle, std::span<const std::uint32_t> messages) {
    if (messages.empty() || messages.size() > kMaxShortGroup) {
        return MidiResult::InvalidParam;
    }
    for (const std::uint32_t message : messages) {
        if (const MidiResult r = SendShort(handle, message); r != MidiResult::NoError) {
            return r;
        }
    }
    return MidiResult::NoError;
}

std::string FormatMidiCounters(const MidiCounters& c) {
    return "sent " + std::to_string(c.sent) + "\nthru " + std::to_string(c.thru) + "\ncarried " +
           std::to_string(c.carried) + "\ndropped " + std::to_string(c.dropped) + "\nreceived " +
           std::to_string(c.received) + "\noverflowed " + std::to_string(c.overflowed) +
           "\nreconnects " + std::to_string(c.reconnects) + "\n";
}

std::string_view MidiBackendWord(MidiBackend backend) {
    switch (backend) {
        case MidiBackend::AlsaSequencer:
            return "alsa";
        case MidiBackend::Jack:
            return "jack";
        case MidiBackend::None:
            return "none";
        case MidiBackend::Automatic:
            break;
    }
    return "auto";
}

bool ParseMidiBackend(std::string_view word, MidiBackend& backend) {
    for (MidiBackend b : {MidiBackend::Automatic, MidiBackend::AlsaSequencer, MidiBackend::Jack,
                          MidiBackend::None}) {
        if (word == MidiBackendWord(b)) {
            backend = b;
            return true;
        }
    }
    return false;
}

namespace {

bool AlsaBuiltIn(std::string& why) {
    std::vector<RtMidi::Api> apis;
    RtMidi::getCompiledApi(apis);
    if (std::find(apis.begin(), apis.end(), RtMidi::LINUX_ALSA) != apis.end()) {
        return true;
    }
    why = "not built into RtMidi";
    return false;
}

}  // namespace

std::unique_ptr<MidiService> CreateMidiService(std::string_view clientName, MidiBackend backend) {
    if (backend == MidiBackend::None) {
        return CreateNoMidiService(clientName, "no MIDI system asked for");
    }
    std::string alsaWhy;
    std::string jackWhy;
    const bool automatic = backend == MidiBackend::Automatic;
    if (backend != MidiBackend::Jack) {
        if (AlsaBuiltIn(alsaWhy) && ProbeAlsaSequencer(alsaWhy)) {
            return CreateAlsaMidiService(clientName, automatic
                                                         ? "ALSA sequencer opened"
                                                         : "ALSA sequencer asked for and opened");
        }
        if (!automatic) {
            return CreateNoMidiService(clientName, "ALSA sequencer asked for but unavailable: " +
                                                       alsaWhy + "; no MIDI devices");
        }
    }
    std::string reason =
        automatic ? "ALSA sequencer unavailable: " + alsaWhy + "; using JACK" : "JACK asked for";
    if (auto jack = CreateJackMidiService(clientName, std::move(reason), jackWhy)) {
        return jack;
    }
    return CreateNoMidiService(
        clientName, automatic ? "ALSA sequencer unavailable: " + alsaWhy +
                                    "; JACK unavailable: " + jackWhy + "; no MIDI devices"
                              : "JACK asked for but unavailable: " + jackWhy + "; no MIDI devices");
}

std::string NoMidiDevicesAdvice(const MidiService& service, std::string_view program) {
    return "Why: " + service.BackendReason() +
           ". Start a JACK server (for example with qjackctl) or load the ALSA sequencer "
           "(modprobe snd-seq), then start " +
           std::string(program) + " again.";
}

int FollowPortName(const std::vector<std::string>& names, const std::string& remembered,
                   int storedIndex) {
    if (remembered.empty() || storedIndex < 0) {
        return storedIndex;
    }
    const auto it = std::find(names.begin(), names.end(), remembered);
    return it == names.end() ? -1 : static_cast<int>(it - names.begin());
}

std::string MissingPortMessage(std::string_view program, std::string_view kind,
                               std::string_view name) {
    return "The MIDI " + std::string(kind) + " port \"" + std::string(name) + "\" is missing, so " +
           std::string(program) +
           " leaves it closed rather than use another port in its place. Connect it and start " +
           std::string(program) + " again, or choose a port in the options.";
}

}  // namespace platform

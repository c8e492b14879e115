#include "tamborex/app/core.h"

#include <filesystem>
#include <vector>

#include "platform/file_io.h"
#include "tamborex/storage/port_names.h"

platform::MidiBackend ConfiguredMidiBackend(const std::string& bankPath) {
    const std::string path =
        (std::filesystem::path(bankPath).parent_path() / kExtraSettingsFile).string();
    std::vector<std::uint8_t> bytes;
    int cause = 0;
    platform::MidiBackend chosen = platform::MidiBackend::Automatic;
    if (platform::ReadWholeFile(path, bytes, cause, 64 * 1024)) {
        const CExtraSettings extra =
            ParseExtraSettings({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
        (void)platform::ParseMidiBackend(extra.midiSystem, chosen);
    }
    return chosen;
}

CTamborexCore::CTamborexCore(CUiThread& ui, const Options& options)
    : ownMidi_(platform::CreateMidiService(
          options.clientName, options.midi.value_or(ConfiguredMidiBackend(options.bankPath)))),
      ownJoystick_(platform::CreateJoystickService()),
      midi_(ownMidi_.get()),
      session_(std::make_unique<CSession>(*ownMidi_, *ownJoystick_, ui, options.bankPath)) {}

CTamborexCore::CTamborexCore(CUiThread& ui, platform::MidiService& midi,
                             platform::JoystickService& joystick, std::string bankPath)
    : midi_(&midi), session_(std::make_unique<CSession>(midi, joystick, ui, std::move(bankPath))) {}

CTamborexCore::~CTamborexCore() {
    // Nothing queued from the MIDI input may run against a session that is going away.
    session_->MidiIn().Stop();
}

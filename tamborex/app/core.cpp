#include "tamborex/app/core.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "platform/file_io.h"
#include "tamborex/storage/port_names.h"

platform::MidiBackend ConfiguredMidiBackend(const std::string& bankPath) {
    const std::filesystem::path path =
        std::filesystem::path(bankPath).parent_path() / kExtraSettingsFile;
    std::vector<std::uint8_t> bytes;
    int cause = 0;
    platform::MidiBackend chosen = platform::MidiBackend::Automatic;
    std::string sessionCopy;
    // Where it cannot be read, the session keeps its settings beside it, as it says at start.
    if (platform::ReadWholeFile(path.string(), bytes, cause, kMaxExtraSettingsSize) ||
        (cause != ENOENT &&
         CSession::ReadSessionCopy(path.string(), kMaxExtraSettingsSize, sessionCopy, bytes))) {
        const CExtraSettings extra =
            ParseExtraSettings({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
        (void)platform::ParseMidiBackend(extra.midiSystem, chosen);
    }
    return chosen;
}

bool LockBankFolder(const std::string& bankPath, platform::FileLock& lock, std::string& refusal) {
    namespace fs = std::filesystem;
    std::error_code ignored;
    const fs::path parent = fs::path(bankPath).parent_path();
    fs::path folder =
        fs::absolute(parent.empty() ? fs::path(".") : parent, ignored).lexically_normal();
    if (!folder.has_filename()) {
        folder = folder.parent_path();  // "/home/me/Tamborex/" as "/home/me/Tamborex"
    }
    long holder = 0;
    int cause = 0;
    switch (lock.Take((folder / kBankLockFile).string(), holder, cause)) {
        case platform::FileLock::Result::Taken:
            return true;
        case platform::FileLock::Result::Held:
            refusal = "Another Tamborex" +
                      (holder > 0 ? " (process " + std::to_string(holder) + ")" : std::string()) +
                      " is playing the bank in " + folder.string() +
                      ". Two on one bank would write over each other's bank and unsaved edits, "
                      "so this one does not start: quit the other one first, or start this one "
                      "on another folder.";
            return false;
        case platform::FileLock::Result::Unavailable:
            break;
    }
    std::fprintf(stderr,
                 "Tamborex: the bank's folder %s could not be locked (%s), so nothing keeps a "
                 "second Tamborex off it.\n",
                 folder.c_str(), platform::ReadFailureText(cause).c_str());
    return true;
}

CTamborexCore::CTamborexCore(CUiThread& ui, const Options& options)
    : ownMidi_(platform::CreateMidiService(
          options.clientName, options.midi.value_or(ConfiguredMidiBackend(options.bankPath)))),
      ownJoystick_(platform::CreateJoystickService()),
      midi_(ownMidi_.get()),
      session_(std::make_unique<CSession>(*ownMidi_, *ownJoystick_, ui, options.bankPath)),
      osc_(std::make_unique<COscLink>(*session_, ui, options.osc)) {}

CTamborexCore::CTamborexCore(CUiThread& ui, platform::MidiService& midi,
                             platform::JoystickService& joystick, std::string bankPath,
                             COscLink::Overrides osc)
    : midi_(&midi),
      session_(std::make_unique<CSession>(midi, joystick, ui, std::move(bankPath))),
      osc_(std::make_unique<COscLink>(*session_, ui, std::move(osc))) {}

CTamborexCore::~CTamborexCore() {
    // Nothing queued from the MIDI input may run against a session that is going away.
    session_->MidiIn().Stop();
}

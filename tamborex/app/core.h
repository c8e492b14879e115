#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/file_lock.h"
#include "platform/joystick.h"
#include "platform/midi.h"
#include "tamborex/app/osc_link.h"
#include "tamborex/engine/core_services.h"
#include "tamborex/session/session.h"

// Tamborex without its front ends: the MIDI and joystick services, and the session with its
// engine, its ports and the bank, for the whole run. Every front end (the bar and its dialogs,
// the headless runner, a session manager) is built over one core and reaches it through the
// session's commands and notifications; none of them owns it.
class CTamborexCore {
  public:
    struct Options {
        // The bank file; everything else of the session's (Tamborex.ini, the recovery file) is
        // kept beside it.
        std::string bankPath = kBankFileName;
        // The MIDI system for this run; without one, the one Tamborex.ini names.
        std::optional<platform::MidiBackend> midi;
        // The MIDI client's name (on JACK the client, on the ALSA sequencer the client and the
        // program's own ports).
        std::string clientName = "Tamborex";
        // Where OSC goes and is heard for this run, over "Tamborex.ini" (the command line's).
        COscLink::Overrides osc;
    };

    // On the machine's MIDI and joysticks.
    CTamborexCore(CUiThread& ui, const Options& options);
    // On services the caller keeps (tests, the virtual-stick tool).
    CTamborexCore(CUiThread& ui, platform::MidiService& midi, platform::JoystickService& joystick,
                  std::string bankPath = kBankFileName, COscLink::Overrides osc = {});
    ~CTamborexCore();
    CTamborexCore(const CTamborexCore&) = delete;
    CTamborexCore& operator=(const CTamborexCore&) = delete;

    CSession& Session() { return *session_; }
    platform::MidiService& Midi() { return *midi_; }
    COscLink& Osc() { return *osc_; }

  private:
    std::unique_ptr<platform::MidiService> ownMidi_;
    std::unique_ptr<platform::JoystickService> ownJoystick_;
    platform::MidiService* midi_;
    std::unique_ptr<CSession> session_;
    std::unique_ptr<COscLink> osc_;  // after the session, which it watches
};

// The MIDI system that Tamborex.ini beside bankPath names; automatic without one.
platform::MidiBackend ConfiguredMidiBackend(const std::string& bankPath);

// The file in the bank's folder whose lock keeps a second Tamborex off that folder.
inline constexpr const char* kBankLockFile = ".Tamborex.lock";

// One Tamborex per bank folder: two would both write the bank, Tamborex.ini and the recovery
// file, and the last to quit would win. Every front end takes the lock of bankPath's folder into
// lock before it makes the core, and holds it for the whole run. False, with the message to give,
// when another copy holds it: this one must not start. A folder that cannot be locked (a
// read-only one, say) is played all the same, with a warning on the error stream.
bool LockBankFolder(const std::string& bankPath, platform::FileLock& lock, std::string& refusal);

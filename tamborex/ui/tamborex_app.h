#pragma once

#include <QApplication>
#include <optional>
#include <string>

#include "platform/joystick.h"
#include "platform/midi.h"

class CTamborexCore;

// The program with its windows: one run of the bar over the core, from start-up to Quit.
class CTamborexApp final : public QApplication {
    Q_OBJECT

  public:
    CTamborexApp(int& argc, char** argv);

    // Runs the bar on the machine's MIDI (the system given, or else the one the settings beside
    // the bank name) and joysticks until it shuts down; the exit status.
    int InitInstance(std::optional<platform::MidiBackend> midiSystem);
    // The same on the given services.
    int Run(platform::MidiService& midi, platform::JoystickService& joystick);
    // Under the session manager at url: the bar appears once it opens a session; it shows and
    // hides the bar, saves, and ends the run with SIGTERM.
    int RunUnderSessionManager(const std::string& url,
                               std::optional<platform::MidiBackend> midiSystem);

    // OSC for this run (--osc-out, --osc-in), over the settings.
    void SetOscOverrides(std::optional<std::string> out, std::optional<std::string> in) {
        oscOut_ = std::move(out);
        oscIn_ = std::move(in);
    }

  private:
    int RunBar(CTamborexCore& core);

    std::optional<std::string> oscOut_;
    std::optional<std::string> oscIn_;
};

#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "configuration_file.h"
#include "ini_profile.h"
#include "mapper.h"
#include "platform/joystick.h"
#include "platform/midi.h"
#include "platform/timer.h"

namespace corvane {

class MainDialog;
class Prompter;

// Under a session manager the assignments in play are kept beside the configurations, in a file
// of corvane.txt's own format holding one configuration of this name, so that reopening the
// session plays what was there when it was saved. corvane.txt itself stays the user's list.
inline constexpr const char* kSessionFileName = "corvane-session.txt";
inline constexpr const char* kSessionConfigurationName = "Session";

// Where one Corvane keeps its files.
struct Places {
    std::string configurations = kConfigurationFileName;
    QString profile;      // Corvane.ini; empty: the user's own (~/.config/Corvane/Corvane.ini)
    std::string session;  // the assignments in play; empty: not kept (no session manager)
};

struct Services {
    std::unique_ptr<platform::MidiService> midi;
    std::unique_ptr<platform::JoystickService> joystick;
    std::unique_ptr<platform::PeriodicTimer> timer;
};
// Makes the services, the MIDI client named clientName on the backend given: the real ones in
// the program, fakes in tests.
using ServiceMaker =
    std::function<Services(std::string_view clientName, platform::MidiBackend backend)>;
// The real services: MIDI on the backend given, SDL joysticks, the thread timer.
Services MakeSystemServices(std::string_view clientName, platform::MidiBackend backend);

// One Corvane at work: its profile, its services, the mapper, the configurations and the window,
// for one set of places. Built when the places are known: at once without a session manager,
// at the session's open under one.
class Instance {
  public:
    // The command line's OSC for this run (--osc-out, --osc-in), over the profile's.
    struct OscOverrides {
        std::optional<std::string> out;
        std::optional<std::string> in;
    };
    // midi: the command line's choice, over the profile's.
    Instance(const Places& places, std::string_view clientName,
             std::optional<platform::MidiBackend> midi, const ServiceMaker& makeServices,
             Prompter& prompter, const OscOverrides& osc = {});
    ~Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    MainDialog& Window() { return *window_; }
    Mapper& Core() { return *mapper_; }

    // Writes the profile and, where the places keep it, the assignments in play. Empty when
    // everything was written, otherwise why not.
    QString Save();
    // The end of the run: stops sampling, then saves.
    QString Finish();
    // Whether the user changed anything since the start or the last save.
    bool Unsaved() const { return mapper_->State() != saved_; }

  private:
    Places places_;
    IniProfile profile_;
    Services services_;
    std::unique_ptr<Mapper> mapper_;
    ConfigurationFile file_;
    std::unique_ptr<MainDialog> window_;
    MapperState saved_;
};

}  // namespace corvane

#include "instance.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "main_dialog.h"
#include "prompter.h"

namespace corvane {

Services MakeSystemServices(std::string_view clientName, platform::MidiBackend backend) {
    return Services{platform::CreateMidiService(clientName, backend),
                    platform::CreateJoystickService(), platform::CreatePeriodicTimer()};
}
namespace {

IniProfile MakeProfile(const QString& path) {
    return path.isEmpty() ? IniProfile() : IniProfile(path);
}

}  // namespace

Instance::Instance(const Places& places, std::string_view clientName,
                   std::optional<platform::MidiBackend> midi, const ServiceMaker& makeServices,
                   Prompter& prompter, const OscOverrides& osc)
    : places_(places), profile_(MakeProfile(places.profile)), file_(places.configurations) {
    if (!profile_.Problem().isEmpty()) {
        prompter.Tell(nullptr, profile_.Problem());
    }
    const Settings settings = ReadSettings(profile_);
    const ExtraSettings extra = ReadExtraSettings(profile_);
    platform::MidiBackend system = platform::MidiBackend::Automatic;
    (void)platform::ParseMidiBackend(extra.midiSystem, system);
    services_ = makeServices(clientName, midi.value_or(system));
    mapper_ = std::make_unique<Mapper>(*services_.midi, *services_.joystick, *services_.timer,
                                       settings, extra);
    if (!places_.session.empty()) {
        ConfigurationFile session(places_.session);
        (void)session.ReadNames();
        if (!session.LastError().empty()) {
            prompter.Tell(nullptr, QString::fromStdString(session.LastError()));
        }
        (void)session.LoadConfiguration(kSessionConfigurationName, mapper_->Controls());
    }
    // A setting that cannot be used is said; Corvane plays on without that direction.
    if (const std::string problem =
            mapper_->ApplyOsc(osc.out.value_or(extra.oscOut), osc.in.value_or(extra.oscIn));
        !problem.empty()) {
        std::string_view rest = problem;  // one line for each direction, each marked as ours
        while (!rest.empty()) {
            const std::string_view line = rest.substr(0, rest.find('\n'));
            std::fprintf(stderr, "Corvane: %.*s\n", static_cast<int>(line.size()), line.data());
            rest.remove_prefix(std::min(rest.size(), line.size() + 1));
        }
        prompter.Tell(nullptr, QString::fromStdString(problem));
    }
    window_ = std::make_unique<MainDialog>(*mapper_, file_, prompter);
    window_->SetOwnPortName(QString::fromUtf8(clientName.data(), clientName.size()));
    saved_ = mapper_->State();
}

Instance::~Instance() {
    window_.reset();
    mapper_.reset();
}

QString Instance::Save() {
    mapper_->RememberController();
    WriteSettings(profile_, mapper_->CurrentSettings());
    WriteExtraSettings(profile_, mapper_->CurrentExtraSettings());
    // Each file is written even when the other could not be: one failure loses nothing more.
    QString why;
    (void)profile_.Flush(why);
    if (!places_.session.empty()) {
        ConfigurationFile session(places_.session);
        if (!session.SaveConfiguration(kSessionConfigurationName, mapper_->Controls())) {
            why += (why.isEmpty() ? "" : "\n") + QString::fromStdString(session.LastError());
        }
    }
    if (why.isEmpty()) {
        saved_ = mapper_->State();
    }
    return why;
}

QString Instance::Finish() {
    mapper_->Shutdown();
    return Save();
}

}  // namespace corvane

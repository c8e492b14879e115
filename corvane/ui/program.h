#pragma once

#include <QObject>
#include <memory>
#include <optional>
#include <string>

#include "instance.h"
#include "platform/midi.h"
#include "platform/nsm.h"

namespace corvane {

class QtPrompter;

struct ProgramSetup {
    Places places;                              // without a session manager
    std::optional<platform::MidiBackend> midi;  // --midi
    Instance::OscOverrides osc;                 // --osc-out, --osc-in
    std::string nsmUrl;                         // the session manager's URL (NSM_URL); empty: none
    std::string executable;  // how the program was started, for the session manager
    ServiceMaker makeServices;
};

// One run of Corvane, from start to exit status.
//
// Without a session manager the window is built at once and the run ends when it is closed.
// Under one, nothing is built (no MIDI client appears) until the session manager opens a
// session: the folder it names then holds corvane.txt, Corvane.ini and the assignments in play,
// the MIDI client takes the client id as its name, and the run lasts until the session ends it;
// the window is shown and hidden at the session manager's word, and closing it only hides it.
//
// SIGTERM, SIGINT and SIGHUP end the run from wherever it is: every box and dialog open is
// cancelled, nested ones included, and everything kept at exit is written without a question.
class Program final : public QObject {
    Q_OBJECT

  public:
    Program(ProgramSetup setup, QtPrompter& prompter);
    ~Program() override;

    // Runs the event loop until the end; the exit status (1 when what is kept at exit could not
    // be written).
    int Run();
    // What a termination signal does.
    void End();
    // The instance at work, once there is one.
    Instance* Current() { return instance_.get(); }

  private:
    void Build(const Places& places, const std::string& clientName);
    platform::NsmResult Open(const platform::NsmOpen& open);
    platform::NsmResult Save();
    void ShowWindow(bool show);
    void WindowClosed();
    void UpdateDirty();

    ProgramSetup setup_;
    QtPrompter& prompter_;
    std::unique_ptr<Instance> instance_;
    std::string sessionPath_;
    bool ending_ = false;
    bool windowWanted_ = true;  // under a session manager: what it asked for last
    std::unique_ptr<platform::NsmClient> nsm_;
};

}  // namespace corvane

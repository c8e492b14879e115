#pragma once

#include <string>

#include "tamborex/session/session_events.h"

// The front end of a Tamborex without a window: what the bar would show in a box goes to
// standard error, one line each, and a question takes its safe answer at once, since nobody is
// there to click.
class CConsoleFrontEnd final : public CSessionObserver, public CSessionAsker {
  public:
    void OnMessage(std::string_view text) override;
    void OnControllerChanged(std::string_view name, bool present) override;
    std::optional<bool> Ask(std::string_view question) override;
    bool ChooseFile(bool, std::string_view, std::string_view, const std::string&,
                    std::string&) override {
        return false;
    }

  private:
    std::string controller_;  // what was said last about the controller
};

#pragma once

#include <QSocketNotifier>
#include <memory>

#include "platform/virtual_stick.h"
#include "stick_lines.h"

// An SDL virtual joystick moved by the commands typed on standard input (see stick_lines.h), on
// the Qt event loop of the program it stands in for a controller in. The caller has the SDL
// joystick subsystem initialised for as long as this lives. At the end of the input the stick
// stays as it is.
class StdinStick {
  public:
    StdinStick(const char* name, int axes, int buttons, int hats);
    StdinStick(const StdinStick&) = delete;
    StdinStick& operator=(const StdinStick&) = delete;

  private:
    void Read();
    void Apply(const StickCommand& command);

    const char* name_;
    int axes_;
    int buttons_;
    int hats_;
    std::unique_ptr<platform::VirtualStick> stick_;
    StickLineReader reader_;
    QSocketNotifier input_;
};

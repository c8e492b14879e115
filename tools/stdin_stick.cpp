#include "stdin_stick.h"

#include <unistd.h>

StdinStick::StdinStick(const char* name, int axes, int buttons, int hats)
    : name_(name),
      axes_(axes),
      buttons_(buttons),
      hats_(hats),
      stick_(std::make_unique<platform::VirtualStick>(name, axes, buttons, hats)),
      input_(STDIN_FILENO, QSocketNotifier::Read) {
    QObject::connect(&input_, &QSocketNotifier::activated, [this] { Read(); });
}

void StdinStick::Read() {
    char buffer[256];
    const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
    if (got <= 0) {
        input_.setEnabled(false);
        return;
    }
    for (const StickCommand& command : reader_.Feed({buffer, static_cast<std::size_t>(got)})) {
        Apply(command);
    }
}

void StdinStick::Apply(const StickCommand& command) {
    using Kind = StickCommand::Kind;
    if (command.kind == Kind::Plug) {
        stick_.reset();  // out before in: the program sees one stick leave and one arrive
        if (command.value != 0) {
            stick_ = std::make_unique<platform::VirtualStick>(name_, axes_, buttons_, hats_);
        }
        return;
    }
    if (!stick_) {
        return;  // pulled out: nothing to move
    }
    if (command.kind == Kind::Button) {
        stick_->Button(command.index, command.value != 0);
    } else {
        stick_->Axis(command.index, static_cast<Sint16>(command.value));
    }
}

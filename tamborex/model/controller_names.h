#pragma once

#include <string>

// The name of MIDI controller 0 to 127, as the controller lists show it. The caller keeps the
// number in range.
const std::string& ControllerName(int number);

#pragma once

#include <string>

#include "platform/learn.h"
#include "tamborex/model/patch.h"

// What a message learnt from the MIDI input makes of an axis or a button: the fields it fills.
// False, with the reason for the player, when the record cannot send that kind of message (an
// axis plays no notes; a button sends no plain controller but a pedal's); the record is then
// unchanged.
bool ApplyLearnedToAxis(const platform::MidiLearnClassifier::Result& learnt, AxisRecord& axis,
                        std::string& why);
bool ApplyLearnedToButton(const platform::MidiLearnClassifier::Result& learnt, ButtonRecord& button,
                          std::string& why);

// The message in words, for the dialog's status line: "Control change 7 on channel 0".
std::string DescribeLearned(const platform::MidiLearnClassifier::Result& learnt);

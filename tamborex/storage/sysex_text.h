#pragma once

#include <cstdint>
#include <string>

#include "tamborex/model/patch.h"

// Bytes as text: two upper-case hexadecimal digits each, one space between bytes.
std::string FormatSysEx(const std::uint8_t* bytes, int length);

// Checks a typed text for message number (1 to 4), upper-casing it in place. On failure returns
// false and the messages to show, in order (a bad last character after a lone digit gives two).
bool CheckSysEx(std::string& text, int messageNumber, std::string& firstMessage,
                std::string& secondMessage);

// Converts a checked text into at most 256 bytes; returns the length.
int ParseSysEx(const std::string& text, std::uint8_t* buffer);

// Whether a checked text holds more bytes than a message can keep, and the refusal to show:
// cutting it would send the message without its closing F7.
bool SysExTooLong(const std::string& text, int messageNumber, std::string& message);

// Whether a checked text that is not empty fails to start with F0 or to end with F7 (F0 alone is
// not both), and the refusal to show: the port sends nothing else as a system-exclusive message.
bool SysExUnframed(const std::string& text, int messageNumber, std::string& message);

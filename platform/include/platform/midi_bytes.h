#pragma once

#include <cstdint>

// MIDI status bytes and controller numbers, by name, for both programs.
namespace platform::midi {

// Channel messages: the status of channel 0; the channel is added to it.
inline constexpr std::uint8_t kNoteOff = 0x80;
inline constexpr std::uint8_t kNoteOn = 0x90;
inline constexpr std::uint8_t kPolyPressure = 0xA0;
inline constexpr std::uint8_t kControlChange = 0xB0;
inline constexpr std::uint8_t kProgramChange = 0xC0;
inline constexpr std::uint8_t kChannelPressure = 0xD0;
inline constexpr std::uint8_t kPitchBend = 0xE0;
inline constexpr std::uint8_t kChannelMask = 0x0F;
inline constexpr std::uint8_t kKindMask = 0xF0;

// System messages.
inline constexpr std::uint8_t kSystemExclusive = 0xF0;
inline constexpr std::uint8_t kTimeCode = 0xF1;
inline constexpr std::uint8_t kSongPosition = 0xF2;
inline constexpr std::uint8_t kSongSelect = 0xF3;
inline constexpr std::uint8_t kEndOfExclusive = 0xF7;
inline constexpr std::uint8_t kTimingClock = 0xF8;
inline constexpr std::uint8_t kStart = 0xFA;
inline constexpr std::uint8_t kContinue = 0xFB;
inline constexpr std::uint8_t kStop = 0xFC;
inline constexpr std::uint8_t kSystemReset = 0xFF;

// Controller numbers.
inline constexpr std::uint8_t kDataEntryMsb = 6;
inline constexpr std::uint8_t kDataEntryLsb = 38;
inline constexpr std::uint8_t kLsbOffset = 32;  // controller n's fine half is n + 32
inline constexpr std::uint8_t kSustain = 64;
inline constexpr std::uint8_t kPortamento = 65;
inline constexpr std::uint8_t kSostenuto = 66;
inline constexpr std::uint8_t kSoftPedal = 67;
inline constexpr std::uint8_t kNrpnLsb = 98;
inline constexpr std::uint8_t kNrpnMsb = 99;
inline constexpr std::uint8_t kRpnLsb = 100;
inline constexpr std::uint8_t kRpnMsb = 101;
inline constexpr std::uint8_t kParameterNull = 127;  // 101 and 100 both 127: no parameter
inline constexpr std::uint8_t kResetAllControllers = 121;

inline constexpr int kChannels = 16;
inline constexpr int kNotes = 128;

}  // namespace platform::midi

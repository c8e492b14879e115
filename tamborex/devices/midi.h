#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/midi.h"

// The last-error codes both MIDI ports keep, and the texts GetErrorText gives for them.
enum MidiError : std::int32_t {
    MIDI_NOERROR = 0,
    MIDI_BADALLOC = 1,  // never set by the ports
    MIDI_INVALPARAM = 2,
    MIDI_BADDEVICEID = 3,
    MIDI_NODEVICE = 4,
    MIDI_ALLOCATED = 5,
    MIDI_INVALHANDLE = 6,
    MIDI_ALREADYACTIVE = 7,
    MIDI_NOMEM = 8,
    MIDI_UNKNOWN = 9,
};

// Base of both MIDI ports: the last error of the most recent operation, the open device and the
// device count read at construction.
class CMIDI {
  public:
    CMIDI() = default;
    CMIDI(const CMIDI&) = delete;
    CMIDI& operator=(const CMIDI&) = delete;
    virtual ~CMIDI() = default;

    virtual std::string GetDevName(int index) const = 0;
    virtual bool Open(std::int16_t deviceId) = 0;

    // "CMIDI Error:" and the text of the last error, cut to fit size bytes with the NUL.
    void GetErrorText(char* buffer, std::size_t size) const;
    std::string GetErrorText() const;

    std::int32_t LastError() const { return lastError; }
    std::int16_t CurrentDevice() const { return currentDevice; }
    std::uint32_t DeviceCount() const { return deviceCount; }

  protected:
    // Turns a platform result into the last error. Within one operation the first error wins:
    // once set, later results are not recorded and report failure.
    bool MapResult(platform::MidiResult result);

    std::int32_t lastError = MIDI_NOERROR;
    std::int16_t currentDevice = -1;
    std::uint32_t deviceCount = 0;
};

const char* MidiErrorText(std::int32_t code);

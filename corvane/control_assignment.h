#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace corvane {

class MidiPorts;

// The input scale a control's value is turned into before scaling: 0 at one end, 65280 at the
// other, 32512 in the middle.
inline constexpr int kInputMiddle = 32512;
inline constexpr int kInputFull = 65280;

inline constexpr int kTypeUnassigned = -1;
inline constexpr int kTypePitchBend = 0;

// What one joystick control sends. The timer thread reads it on every tick while the UI thread
// edits it, so each field is an atomic of its own; a copy reads every field once.
struct ControlAssignment {
    std::atomic<std::int32_t> overrideAxis{0};  // buttons only: 0 none, 1 X, 2 Y, 3 Z
    std::atomic<std::int32_t> type{kTypeUnassigned};
    std::atomic<std::int32_t> min{0};
    std::atomic<std::int32_t> mid{50};
    std::atomic<std::int32_t> max{100};

    ControlAssignment() = default;
    ControlAssignment(std::int32_t type, std::int32_t min, std::int32_t mid, std::int32_t max,
                      std::int32_t overrideAxis = 0);
    ControlAssignment(const ControlAssignment& other) { *this = other; }
    ControlAssignment& operator=(const ControlAssignment& other);
    bool operator==(const ControlAssignment& other) const;

    // Scales the input and sends one message on ports; nothing when unassigned.
    void Send(int channel, int input, MidiPorts& ports) const;
};

// The percentage an input stands for, on the min/mid/max curve.
double CurvePercent(int input, int min, int mid, int max);
// The 7-bit controller value and the 14-bit pitch-bend value of a percentage, limited.
int ControllerValue(double percent);
int PitchBendValue(double percent);

inline constexpr int kControlCount = 7;
enum Control : int { kXAxis, kYAxis, kZAxis, kButton1, kButton2, kButton3, kButton4 };
using ControlTable = std::array<ControlAssignment, kControlCount>;

const std::array<const char*, kControlCount>& ControlLabels();

inline constexpr bool IsButton(int control) {
    return control >= kButton1;
}

// The 101 entries of the type list; an entry's index is type + 1.
const std::vector<std::string>& TypeListLabels();

}  // namespace corvane

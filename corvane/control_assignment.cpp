#include "control_assignment.h"

#include <algorithm>

#include "midi_ports.h"

namespace corvane {
namespace {

// The two constants are single-precision values used in double arithmetic; keeping them so
// keeps every sent value identical to what existing configurations have always produced.
const double kLowerStep = static_cast<double>(1.0f / 32512.0f);
const double kPercentStep = static_cast<double>(0.01f);
constexpr double kUpperStep = 1.0 / 32768.0;

}  // namespace

ControlAssignment::ControlAssignment(std::int32_t type_, std::int32_t min_, std::int32_t mid_,
                                     std::int32_t max_, std::int32_t overrideAxis_)
    : overrideAxis(overrideAxis_), type(type_), min(min_), mid(mid_), max(max_) {}

ControlAssignment& ControlAssignment::operator=(const ControlAssignment& other) {
    overrideAxis.store(other.overrideAxis.load(std::memory_order_relaxed),
                       std::memory_order_relaxed);
    type.store(other.type.load(std::memory_order_relaxed), std::memory_order_relaxed);
    min.store(other.min.load(std::memory_order_relaxed), std::memory_order_relaxed);
    mid.store(other.mid.load(std::memory_order_relaxed), std::memory_order_relaxed);
    max.store(other.max.load(std::memory_order_relaxed), std::memory_order_relaxed);
    return *this;
}

bool ControlAssignment::operator==(const ControlAssignment& other) const {
    return overrideAxis == other.overrideAxis && type == other.type && min == other.min &&
           mid == other.mid && max == other.max;
}

double CurvePercent(int input, int min, int mid, int max) {
    if (input < kInputMiddle) {
        return min + ((static_cast<double>(mid) - min) * input) * kLowerStep;
    }
    return mid + ((static_cast<double>(max) - mid) * (input - kInputMiddle)) * kUpperStep;
}

int ControllerValue(double percent) {
    const double v = (percent * 128) * kPercentStep;
    if (v >= 127) {
        return 127;
    }
    return v < 0 ? 0 : static_cast<int>(v);
}

int PitchBendValue(double percent) {
    const double v = (percent * 16384) * kPercentStep;
    if (v >= 16383) {
        return 16383;
    }
    return v < 0 ? 0 : static_cast<int>(v);
}

void ControlAssignment::Send(int channel, int input, MidiPorts& ports) const {
    const int t = type.load(std::memory_order_relaxed);
    if (t == kTypeUnassigned) {
        return;
    }
    const double percent =
        CurvePercent(input, min.load(std::memory_order_relaxed),
                     mid.load(std::memory_order_relaxed), max.load(std::memory_order_relaxed));
    if (t == kTypePitchBend) {
        ports.SendPitchBend(channel, PitchBendValue(percent));
    } else {
        ports.SendController(channel, t, ControllerValue(percent));
    }
}

const std::array<const char*, kControlCount>& ControlLabels() {
    static const std::array<const char*, kControlCount> labels = {
        "X Axis", "Y Axis", "Z Axis", "Button 1", "Button 2", "Button 3", "Button 4"};
    return labels;
}

const std::vector<std::string>& TypeListLabels() {
    static const std::vector<std::string> labels = [] {
        const std::pair<int, const char*> named[] = {
            {1, "Modulation"},
            {2, "Breath Controller"},
            {4, "Foot Controller"},
            {5, "Portamento Time"},
            {6, "Data Entry MSB"},
            {7, "Main Volume"},
            {10, "Pan"},
            {11, "Expression"},
            {64, "Sustain"},
            {65, "Portamento"},
            {66, "Sostenuto"},
            {67, "Soft Pedal"},
            {71, "Harmonic Content"},
            {72, "Release Time"},
            {73, "Attack Time"},
            {74, "Brightness"},
            {84, "Portamento Control"},
            {91, "Reverb"},
            {93, "Chorus"},
            {94, "Variation"},
            {96, "RPN+"},
            {97, "RPN-"},
            {98, "NRPN LSB"},
            {99, "NRPN MSB"},
        };
        std::vector<std::string> list = {"<not assigned>", "Pitch Bend"};
        for (int controller = 1; controller <= 99; ++controller) {
            std::string label = std::to_string(controller);
            for (const auto& [number, name] : named) {
                if (number == controller) {
                    label += std::string(" - ") + name;
                }
            }
            list.push_back(std::move(label));
        }
        return list;
    }();
    return labels;
}

}  // namespace corvane

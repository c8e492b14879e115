#include "engine.h"

#include <cstdlib>

namespace {
constexpr std::int32_t kControlChange = 0xB0;
constexpr std::int32_t kPitchBend = 0xE0;
constexpr std::int32_t kNrpnMsb = 99;
constexpr std::int32_t kNrpnLsb = 98;
constexpr std::int32_t kDataEntryMsb = 6;
constexpr unsigned kLightDelayMs = 1;
constexpr unsigned kFlashMs = 40;
constexpr unsigned kHoldAfterBurstMs = 100;
}  // namespace

CEngine::CEngine(CWinMIDIOut& midiOut, CWindowServices& window)
    : midiOut_(midiOut), window_(window) {
    patches[1].joystickNumber = 1;
}

bool CEngine::SendShort(std::int32_t status, std::int32_t data1, std::int32_t data2) {
    // Each byte is the low 8 bits of its integer.
    const std::uint8_t message[4] = {static_cast<std::uint8_t>(status),
                                     static_cast<std::uint8_t>(data1),
                                     static_cast<std::uint8_t>(data2), 0};
    return midiOut_.Send(message, 3);
}

void CEngine::TranslateAxis(int slot, int axis, std::int32_t value) {
    AxisRecord& a = patches[slot].axes[axis];
    if (a.suppressed) {
        return;
    }
    if (a.reversePolarity) {
        value = a.max - value;
    }
    a.value = value;
    if (std::abs(a.lastSent - value) < std::abs(a.minimumMovement)) {
        return;
    }
    a.lastSent = value;
    const std::int32_t ch = a.channel;
    switch (a.controller) {
        case kSelectNone:
            return;
        case kSelectPitchBend:
            SendShort(kPitchBend + ch, 0, value);
            break;
        case kSelectNrpnFine:
        case kSelectNrpnCoarse:
            if (SendShort(kControlChange + ch, kNrpnMsb, a.nrpnMsb) &&
                SendShort(kControlChange + ch, kNrpnLsb, a.nrpnLsb)) {
                SendShort(kControlChange + ch, kDataEntryMsb, value);
            }
            break;
        default:
            SendShort(kControlChange + ch, ControllerOfSelection(a.controller), value);
            break;
    }
    SignalActivity();
}

void CEngine::SignalActivity() {
    if (!activityLit) {
        window_.SetTimer(TIMER_ACTIVITY_ON, kLightDelayMs);
        activityLit = 1;
    } else {
        window_.KillTimer(TIMER_ACTIVITY_OFF);
        window_.SetTimer(TIMER_ACTIVITY_OFF, kHoldAfterBurstMs);
    }
}

void CEngine::OnTimer(int id) {
    switch (id) {
        case TIMER_ACTIVITY_ON:
            window_.ShowActivity(true);
            window_.KillTimer(TIMER_ACTIVITY_ON);
            window_.SetTimer(TIMER_ACTIVITY_OFF, kFlashMs);
            break;
        case TIMER_ACTIVITY_OFF:
            window_.ShowActivity(false);
            window_.KillTimer(TIMER_ACTIVITY_OFF);
            activityLit = 0;
            break;
        default:
            break;
    }
}

#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/joystick.h"

// The joystick state record: six axes X, Y, Z, RX, RY, RZ scaled into their ranges, two sliders,
// four point-of-view values and 32 button bytes with bit 7 set while pressed.
using JoyState = platform::RawJoyState;

// The joystick results the program names, with the texts SetError gives for them.
enum class DiResult {
    Ok,
    NotAttached,  // S_FALSE: also "already acquired" and "already unacquired"
    PolledDevice,
    DownloadSkipped,
    EffectRestarted,
    Truncated,
    TruncatedAndRestarted,
    Pending,
    Unsupported,
    NoInterface,
    Generic,
    NoAggregation,
    DeviceNotRegistered,
    DeviceFull,
    MoreData,
    NotDownloaded,
    HasEffects,
    NotExclusiveAcquired,
    IncompleteEffect,
    NotBuffered,
    EffectPlaying,
    ObjectNotFound,
    HandleExists,
    NotAcquired,
    OutOfMemory,
    NotInitialized,
    InputLost,
    InvalidParam,
    BadDriverVersion,
    Acquired,
    OldDirectInputVersion,
    BetaDirectInputVersion,
    AlreadyInitialized,
    Unlisted,  // a result the table has no text for
};

DiResult FromJoyResult(platform::JoyResult result);

// The one joystick the program reads: the one the patch was made for (the first attached until
// told), with every axis scaled into the range the current patch wants (0 to 127 until a patch
// says otherwise).
class CJoystick {
  public:
    // Re-acquiring a lost joystick is tried this often within one Poll; then Poll gives up for
    // this tick instead of hanging the program while the joystick is unplugged.
    static constexpr int kAcquireAttemptsPerPoll = 3;

    CJoystick(platform::JoystickService& service,
              std::function<void(std::string_view)> showMessage);
    CJoystick(const CJoystick&) = delete;
    CJoystick& operator=(const CJoystick&) = delete;

    bool Init();
    // Takes the controller choice picks among those attached now when it is not the one held:
    // after a start without one (it is then initialised, every axis 0 to 127, like Init), when
    // the patch's own controller is plugged in, or when the held one is gone. True when one is
    // held; the state record keeps its last values either way, so the next Poll sees what
    // changed.
    bool Follow(const platform::JoystickChoice& choice);
    bool SetAxisRange(int axis, std::int32_t min, std::int32_t max);
    bool Poll();
    bool ApplyActive();
    void Release();
    // Sets the error text for code; true exactly for Ok. A code without a text leaves the text
    // and gives true.
    bool SetError(DiResult code);

    JoyState state{};
    // When the axes in state first arrived (steady clock microseconds); 0 when the service
    // cannot say.
    std::int64_t inputTimeUs = 0;
    std::int32_t active = 0;
    std::int32_t initialised = 0;
    std::string errorText;

  private:
    // Marks the joystick ready and ranges all six axes 0 to 127.
    void BecomeInitialised();

    platform::JoystickService& service_;
    std::function<void(std::string_view)> showMessage_;
};

// The text SetError gives for a result, or nullptr for one without a text.
const char* DiResultText(DiResult code);

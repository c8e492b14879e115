#include "tamborex/devices/joystick.h"

#include <algorithm>

const char* DiResultText(DiResult code) {
    switch (code) {
        case DiResult::Ok:
            return "No Error";
        case DiResult::NotAttached:
            return "The device exists but is not currently attached. This value is equal to the "
                   "S_FALSE standard COM return value.";
        case DiResult::PolledDevice:
            return "The device is a polled device. As a result, device buffering will not collect "
                   "any data and event notifications will not be signaled until the "
                   "IDirectInputDevice2::Poll method is called.";
        case DiResult::DownloadSkipped:
            return "DI Err: Download skipped";
        case DiResult::EffectRestarted:
            return "The effect was stopped, the parameters were updated, and the effect was "
                   "restarted.";
        case DiResult::Truncated:
            return "The parameters of the effect were successfully updated, but some of them were "
                   "beyond the capabilities of the device and were truncated to the nearest "
                   "supported value.";
        case DiResult::TruncatedAndRestarted:
            return "Equal to DI_EFFECTRESTARTED | DI_TRUNCATED.";
        case DiResult::Pending:
            return "Data is not yet available.";
        case DiResult::Unsupported:
            return "The function called is not supported at this time. This value is equal to the "
                   "E_NOTIMPL standard COM return value.";
        case DiResult::NoInterface:
            return "The specified interface is not supported by the object. This value is equal to "
                   "the E_NOINTERFACE standard COM return value.";
        case DiResult::Generic:
            return "An undetermined error occurred inside the DirectInput subsystem. This value is "
                   "equal to the E_FAIL standard COM return value.";
        case DiResult::NoAggregation:
            return "This object does not support aggregation.";
        case DiResult::DeviceNotRegistered:
            return "The device or device instance is not registered with DirectInput. This value "
                   "is equal to the REGDB_E_CLASSNOTREG standard COM return value.";
        case DiResult::DeviceFull:
            return "The device is full.";
        case DiResult::MoreData:
            return "Not all the requested information fitted into the buffer.";
        case DiResult::NotDownloaded:
            return "The effect is not downloaded.";
        case DiResult::HasEffects:
            return "The device cannot be reinitialized because there are still effects attached "
                   "to it.";
        case DiResult::NotExclusiveAcquired:
            return "The operation cannot be performed unless the device is acquired in "
                   "DISCL_EXCLUSIVE mode.";
        case DiResult::IncompleteEffect:
            return "The effect could not be downloaded because essential information is missing. "
                   "For example, no axes have been associated with the effect, or no "
                   "type-specific information has been supplied.";
        case DiResult::NotBuffered:
            return "The device is not buffered. Set the DIPROP_BUFFERSIZE property to enable "
                   "buffering.";
        case DiResult::EffectPlaying:
            return "The parameters were updated in memory but were not downloaded to the device "
                   "because the device does not support updating an effect while it is still "
                   "playing.";
        case DiResult::ObjectNotFound:
            return "The requested object does not exist.";
        case DiResult::HandleExists:
            return "The device already has an event notification associated with it. This value "
                   "is equal to the E_ACCESSDENIED standard COM return value.";
        case DiResult::NotAcquired:
            return "The operation cannot be performed unless the device is acquired.";
        case DiResult::OutOfMemory:
            return "The DirectInput subsystem couldn't allocate sufficient memory to complete the "
                   "call. This value is equal to the E_OUTOFMEMORY standard COM return value.";
        case DiResult::NotInitialized:
            return "This object has not been initialized.";
        case DiResult::InputLost:
            return "Access to the input device has been lost. It must be reacquired.";
        case DiResult::InvalidParam:
            return "An invalid parameter was passed to the returning function, or the object was "
                   "not in a state that permitted the function to be called. This value is equal "
                   "to the E_INVALIDARG standard COM return value.";
        case DiResult::BadDriverVersion:
            return "The object could not be created due to an incompatible driver version or "
                   "mismatched or incomplete driver components.";
        case DiResult::Acquired:
            return "The operation cannot be performed while the device is acquired.";
        case DiResult::OldDirectInputVersion:
            return "The application requires a newer version of DirectInput.";
        case DiResult::BetaDirectInputVersion:
            return "The application was written for an unsupported prerelease version of "
                   "DirectInput.";
        case DiResult::AlreadyInitialized:
            return "This object is already initialized";
        case DiResult::Unlisted:
            break;
    }
    return nullptr;
}

DiResult FromJoyResult(platform::JoyResult result) {
    using platform::JoyResult;
    switch (result) {
        case JoyResult::Ok:
            return DiResult::Ok;
        case JoyResult::AlreadyDone:
            return DiResult::NotAttached;
        case JoyResult::NotAcquired:
            return DiResult::NotAcquired;
        case JoyResult::InputLost:
            return DiResult::InputLost;
        case JoyResult::NotInitialized:
            return DiResult::NotInitialized;
        case JoyResult::NoDevice:
            return DiResult::DeviceNotRegistered;
        case JoyResult::InvalidParam:
            return DiResult::InvalidParam;
        case JoyResult::Other:
            break;
    }
    return DiResult::Generic;
}

CJoystick::CJoystick(platform::JoystickService& service,
                     std::function<void(std::string_view)> showMessage)
    : service_(service), showMessage_(std::move(showMessage)) {}

bool CJoystick::SetError(DiResult code) {
    const char* text = DiResultText(code);
    if (text == nullptr) {
        return true;
    }
    errorText = text;
    return code == DiResult::Ok;
}

bool CJoystick::Init() {
    const platform::JoyResult opened = service_.Open();
    if (opened == platform::JoyResult::NoDevice) {
        return false;  // nothing attached: the text stays as it was
    }
    if (opened != platform::JoyResult::Ok) {
        return SetError(FromJoyResult(opened));
    }
    BecomeInitialised();
    return true;
}

void CJoystick::BecomeInitialised() {
    initialised = 1;
    for (int axis = 0; axis < 6; ++axis) {
        SetAxisRange(axis, 0, 127);
    }
}

bool CJoystick::Follow(const platform::JoystickChoice& choice) {
    service_.SetChoice(choice);
    if (service_.Reselect() != platform::JoyResult::Ok) {
        return false;
    }
    if (!initialised) {
        BecomeInitialised();
    }
    return true;
}

bool CJoystick::SetAxisRange(int axis, std::int32_t min, std::int32_t max) {
    if (!initialised) {
        return false;
    }
    return service_.SetAxisRange(axis, min, max) == platform::JoyResult::Ok;
}

bool CJoystick::Poll() {
    if (!initialised) {
        SetError(DiResult::InputLost);
        return false;
    }
    for (int attempt = 0; attempt < kAcquireAttemptsPerPoll; ++attempt) {
        DiResult r = FromJoyResult(service_.Poll());
        if (r == DiResult::Ok) {
            r = FromJoyResult(service_.GetState(state));
            if (r == DiResult::Ok) {
                inputTimeUs = service_.InputTimeUs();
            }
        } else if (r == DiResult::NotAcquired || r == DiResult::InputLost) {
            r = FromJoyResult(service_.Acquire());
        } else if (r == DiResult::NotInitialized) {
            showMessage_("Joystick not initialized!");
            return true;
        }
        if (r != DiResult::InputLost) {
            return true;
        }
    }
    // Still unplugged. Say so in the text and try again next tick: a message box every tick
    // would bury the bar. The axes keep their last values; the buttons read as released, so
    // whatever a held button was playing is turned off rather than left sounding.
    SetError(DiResult::InputLost);
    std::fill(std::begin(state.buttons), std::end(state.buttons), std::uint8_t{0});
    return true;
}

bool CJoystick::ApplyActive() {
    if (!initialised) {
        return true;
    }
    if (active) {
        const DiResult r = FromJoyResult(service_.Acquire());
        if (r == DiResult::Ok || r == DiResult::NotAttached) {
            return true;
        }
        active = 0;
        return false;
    }
    const DiResult r = FromJoyResult(service_.Unacquire());
    return r == DiResult::Ok || r == DiResult::NotAttached;
}

void CJoystick::Release() {
    if (initialised) {
        service_.Unacquire();
        service_.Close();
        initialised = 0;
        active = 0;
    }
}

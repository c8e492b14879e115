#pragma once

#include <SDL.h>

#include "platform/joystick.h"

namespace platform {

// An SDL virtual joystick, attached for the lifetime of the object or until Unplug. The caller
// has the SDL joystick subsystem initialised.
class VirtualStick {
  public:
    explicit VirtualStick(const char* name, int axes = 8, int buttons = 12, int hats = 1) {
        SDL_VirtualJoystickDesc desc{};
        desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
        desc.naxes = static_cast<Uint16>(axes);
        desc.nbuttons = static_cast<Uint16>(buttons);
        desc.nhats = static_cast<Uint16>(hats);
        desc.name = name;
        const int index = SDL_JoystickAttachVirtualEx(&desc);
        if (index >= 0) {
            handle_ = SDL_JoystickOpen(index);
            id_ = SDL_JoystickInstanceID(handle_);
        }
        WakeJoystickWatchers();
    }
    ~VirtualStick() { Unplug(); }
    VirtualStick(const VirtualStick&) = delete;
    VirtualStick& operator=(const VirtualStick&) = delete;

    bool Attached() const { return handle_ != nullptr; }
    // Under SDL's joystick lock: the program under test may be reading on another thread.
    void Axis(int axis, Sint16 value) {
        SDL_LockJoysticks();
        SDL_JoystickSetVirtualAxis(handle_, axis, value);
        SDL_UnlockJoysticks();
        WakeJoystickWatchers();
    }
    void Button(int button, bool down) {
        SDL_LockJoysticks();
        SDL_JoystickSetVirtualButton(handle_, button, down);
        SDL_UnlockJoysticks();
        WakeJoystickWatchers();
    }
    void Hat(Uint8 value) {
        SDL_LockJoysticks();
        SDL_JoystickSetVirtualHat(handle_, 0, value);
        SDL_UnlockJoysticks();
        WakeJoystickWatchers();
    }

    void Unplug() {
        if (handle_ == nullptr) {
            return;
        }
        SDL_JoystickClose(handle_);
        handle_ = nullptr;
        for (int i = 0; i < SDL_NumJoysticks(); ++i) {
            if (SDL_JoystickGetDeviceInstanceID(i) == id_) {
                SDL_JoystickDetachVirtual(i);
            }
        }
        WakeJoystickWatchers();
    }

  private:
    SDL_JoystickID id_ = -1;
    SDL_Joystick* handle_ = nullptr;
};

}  // namespace platform

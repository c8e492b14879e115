#include <SDL.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <thread>

#include "joystick_base.h"

namespace platform {
namespace {

// SDL's joystick state is shared by every thread of the process that uses it (the sampling
// timer here, a test's virtual sticks elsewhere); SDL asks callers on several threads to hold
// its joystick lock.
class SdlJoystickLock {
  public:
    SdlJoystickLock() { SDL_LockJoysticks(); }
    ~SdlJoystickLock() { SDL_UnlockJoysticks(); }
    SdlJoystickLock(const SdlJoystickLock&) = delete;
    SdlJoystickLock& operator=(const SdlJoystickLock&) = delete;
};

// SDL keeps its subsystems reference-counted, so several services (and a test that attaches
// virtual joysticks) can each init and quit without stepping on each other.
class SdlJoystickService final : public JoystickServiceBase {
  public:
    SdlJoystickService() {
        // The mapper must keep reading while the music program has the focus.
        SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
        ready_ = SDL_InitSubSystem(SDL_INIT_JOYSTICK) == 0;
        if (ready_) {
            // Nobody drains SDL's event queue here; queued joystick events would only pile up.
            SDL_JoystickEventState(SDL_IGNORE);
        }
    }

    ~SdlJoystickService() override {
        StopWatching();
        std::lock_guard lock(mutex_);
        if (joystick_ != nullptr) {
            SdlJoystickLock sdl;
            SDL_JoystickClose(joystick_);
        }
        if (ready_) {
            SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
        }
    }

    void SetEventListener(JoyEventListener listener) override {
        const bool wanted = static_cast<bool>(listener);
        if (!wanted) {
            StopWatching();
        }
        JoystickServiceBase::SetEventListener(std::move(listener));
        if (wanted && ready_ && !watcher_.joinable()) {
            watchStop_ = false;
            watcher_ = std::thread([this] { Watch(); });
        }
    }

  protected:
    std::vector<JoystickCaps> DeviceList() override {
        SdlJoystickLock sdl;
        std::vector<JoystickCaps> list;
        if (!ready_) {
            return list;
        }
        SDL_JoystickUpdate();
        const int count = SDL_NumJoysticks();
        for (int i = 0; i < count; ++i) {
            JoystickCaps caps;
            const char* name = SDL_JoystickNameForIndex(i);
            const char* path = SDL_JoystickPathForIndex(i);
            caps.name = name != nullptr ? name : "";
            caps.path = path != nullptr ? path : "";
            caps.driver = SDL_JoystickIsVirtual(i) ? "SDL virtual joystick" : DriverFor(caps.path);
            caps.vendorId = SDL_JoystickGetDeviceVendor(i);
            caps.productId = SDL_JoystickGetDeviceProduct(i);
            caps.maxAxes = kJoyAxisSlots;
            caps.maxButtons = kJoyButtons;
            if (SDL_Joystick* j = SDL_JoystickOpen(i)) {
                caps.numAxes = SDL_JoystickNumAxes(j);
                caps.numButtons = SDL_JoystickNumButtons(j);
                caps.numHats = SDL_JoystickNumHats(j);
                SDL_JoystickClose(j);
            }
            list.push_back(std::move(caps));
        }
        return list;
    }

    bool DeviceOpenFirst() override {
        SdlJoystickLock sdl;
        if (!ready_) {
            return false;
        }
        SDL_JoystickUpdate();
        const int count = SDL_NumJoysticks();
        for (int i = 0; i < count && joystick_ == nullptr; ++i) {
            joystick_ = SDL_JoystickOpen(i);
        }
        return joystick_ != nullptr;
    }

    void DeviceClose() override {
        SdlJoystickLock sdl;
        if (joystick_ != nullptr) {
            SDL_JoystickClose(joystick_);
            joystick_ = nullptr;
        }
    }

    bool DeviceUpdate() override {
        SdlJoystickLock sdl;
        SDL_JoystickUpdate();
        return joystick_ != nullptr && SDL_JoystickGetAttached(joystick_) == SDL_TRUE;
    }

    void DeviceRead(RawJoyInput& input) override {
        SdlJoystickLock sdl;
        input.numAxes = std::min(SDL_JoystickNumAxes(joystick_), kJoyAxisSlots);
        for (int a = 0; a < input.numAxes; ++a) {
            input.axes[a] = SDL_JoystickGetAxis(joystick_, a);
        }
        input.numHats = SDL_JoystickNumHats(joystick_);
        input.hat = input.numHats > 0 ? SDL_JoystickGetHat(joystick_, 0) : 0;
        input.numButtons = std::min(SDL_JoystickNumButtons(joystick_), kJoyButtons);
        for (int b = 0; b < input.numButtons; ++b) {
            input.buttons[b] = SDL_JoystickGetButton(joystick_, b) != 0;
        }
    }

  private:
    // SDL reads the devices when asked to update; asked every millisecond here while the stick
    // is in use, so that a change is reported within about a millisecond of the device sending
    // it. After kIdleAfter without a change it is asked every kIdleInterval instead: waking a
    // thousand times a second costs about 1 % of a core by itself. SDL's own event queue would
    // do the same reading on its own thread-bound pump, with nothing to gain.
    static constexpr auto kActiveInterval = std::chrono::milliseconds(1);
    static constexpr auto kIdleInterval = std::chrono::milliseconds(4);
    static constexpr auto kIdleAfter = std::chrono::seconds(2);

    void Watch() {
        RawJoyInput last;
        bool haveLast = false;
        int lastCount = -1;
        auto lastChange = std::chrono::steady_clock::now();
        auto interval = kActiveInterval;
        std::unique_lock lock(watchMutex_);
        while (!watchWake_.wait_for(lock, interval, [this] { return watchStop_; })) {
            lock.unlock();
            JoyEvent events[2]{};
            int count = 0;
            {
                SdlJoystickLock sdl;
                SDL_JoystickUpdate();
                const int attached = SDL_NumJoysticks();
                if (lastCount >= 0 && attached != lastCount) {
                    events[count++] = attached > lastCount ? JoyEvent::Added : JoyEvent::Removed;
                }
                lastCount = attached;
                if (joystick_ != nullptr && SDL_JoystickGetAttached(joystick_) == SDL_TRUE) {
                    RawJoyInput now;
                    DeviceRead(now);
                    if (haveLast && !SameInput(now, last)) {
                        events[count++] = JoyEvent::Input;
                    }
                    last = now;
                    haveLast = true;
                } else {
                    haveLast = false;
                }
            }
            for (int i = 0; i < count; ++i) {
                Notify(events[i]);
            }
            const auto now = std::chrono::steady_clock::now();
            if (count > 0) {
                lastChange = now;
            }
            interval = now - lastChange > kIdleAfter ? kIdleInterval : kActiveInterval;
            lock.lock();
        }
    }

    void StopWatching() {
        {
            std::lock_guard lock(watchMutex_);
            watchStop_ = true;
        }
        watchWake_.notify_all();
        if (watcher_.joinable()) {
            watcher_.join();
        }
    }

    static bool SameInput(const RawJoyInput& a, const RawJoyInput& b) {
        return a.numAxes == b.numAxes && a.hat == b.hat && a.numButtons == b.numButtons &&
               std::memcmp(a.axes, b.axes, sizeof a.axes) == 0 &&
               std::memcmp(a.buttons, b.buttons, sizeof a.buttons) == 0;
    }

    static std::string DriverFor(const std::string& path) {
        if (path.rfind("/dev/input/", 0) == 0) {
            return "SDL evdev";
        }
        return path.empty() ? "SDL" : "SDL HIDAPI";
    }

    bool ready_ = false;
    SDL_Joystick* joystick_ = nullptr;  // changed and read under SDL's joystick lock

    std::mutex watchMutex_;
    std::condition_variable watchWake_;
    bool watchStop_ = false;
    std::thread watcher_;
};

}  // namespace

std::unique_ptr<JoystickService> CreateJoystickService() {
    return std::make_unique<SdlJoystickService>();
}

}  // namespace platform

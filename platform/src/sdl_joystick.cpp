#include <SDL.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "joystick_base.h"
#include "platform/file_io.h"

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

// The wake-up descriptors of the services that report changes, for WakeJoystickWatchers.
std::mutex watchersMutex;
std::vector<int> watcherWakes;

void Signal(int fd) {
    const std::uint64_t one = 1;
    (void)!write(fd, &one, sizeof one);
}

// Empties a descriptor that woke a poll; what it held is not needed, only that it came.
void Drain(int fd) {
    char bytes[4096];
    while (fd >= 0 && read(fd, bytes, sizeof bytes) > 0) {
    }
}

// Read by us, not by SDL, which opens whatever is there: a FIFO held every program before
// its window, and a link to a device would be read for ever. Only a regular file of a
// sensible size is taken; anything else is said on the error stream and passed over.
void AddUsersGamepadLayouts() {
    constexpr std::size_t kMaxLayoutsSize = 4 * 1024 * 1024;  // SDL's own database is 0.5 MB
    const std::string path = GamepadMappingsPath();
    std::vector<std::uint8_t> text;
    int cause = 0;
    if (!ReadWholeFile(path, text, cause, kMaxLayoutsSize)) {
        if (cause != ENOENT) {
            std::fprintf(stderr, "%s is not read (%s): its gamepad layouts are not used.\n",
                         path.c_str(), ReadFailureText(cause, kMaxLayoutsSize).c_str());
        }
        return;
    }
    if (!text.empty()) {
        SDL_GameControllerAddMappingsFromRW(
            SDL_RWFromConstMem(text.data(), static_cast<int>(text.size())), 1);
    }
}

// SDL keeps its subsystems reference-counted, so several services (and a test that attaches
// virtual joysticks) can each init and quit without stepping on each other.
class SdlJoystickService final : public JoystickServiceBase {
  public:
    SdlJoystickService() {
        // The mapper must keep reading while the music program has the focus.
        SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
        // The programs end on SIGTERM and SIGINT themselves (saving first); SDL's own handlers
        // would turn them into a quit event that nobody reads, and the signal would be lost.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        ready_ = SDL_InitSubSystem(SDL_INIT_JOYSTICK) == 0;
        if (ready_) {
            // Nobody drains SDL's event queue here; queued joystick events would only pile up.
            SDL_JoystickEventState(SDL_IGNORE);
            // The gamepad layouts: SDL's own database, then the user's.
            gamepads_ = SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) == 0;
            if (gamepads_) {
                SDL_GameControllerEventState(SDL_IGNORE);
                AddUsersGamepadLayouts();
            }
        }
    }

    ~SdlJoystickService() override {
        StopWatching();
        std::lock_guard lock(mutex_);
        DeviceClose();
        if (gamepads_) {
            SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
        }
        if (ready_) {
            SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
        }
        if (wake_ >= 0) {
            close(wake_);
        }
    }

    void SetEventListener(JoyEventListener listener) override {
        const bool wanted = static_cast<bool>(listener);
        if (!wanted) {
            StopWatching();
        }
        JoystickServiceBase::SetEventListener(std::move(listener));
        if (wanted && ready_ && !watcher_.joinable()) {
            watchStop_.store(false);
            if (wake_ >= 0) {
                std::lock_guard lock(watchersMutex);
                watcherWakes.push_back(wake_);
            }
            watcher_ = std::thread([this] { Watch(); });
        }
    }

  protected:
    std::vector<JoystickCaps> DeviceList(bool counts) override {
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
            char guid[33] = {};
            SDL_JoystickGetGUIDString(SDL_JoystickGetDeviceGUID(i), guid, sizeof guid);
            caps.guid = guid;
            caps.gamepad = gamepads_ && SDL_IsGameController(i) == SDL_TRUE;
            caps.instance = SDL_JoystickGetDeviceInstanceID(i);
            caps.vendorId = SDL_JoystickGetDeviceVendor(i);
            caps.productId = SDL_JoystickGetDeviceProduct(i);
            caps.maxAxes = kJoyAxisSlots;
            caps.maxButtons = kJoyButtons;
            if (!counts) {
                // Counting needs the device open, which is not for every look at the list.
            } else if (SDL_Joystick* j = SDL_JoystickOpen(i)) {
                caps.numAxes = SDL_JoystickNumAxes(j);
                caps.numButtons = SDL_JoystickNumButtons(j);
                caps.numHats = SDL_JoystickNumHats(j);
                SDL_JoystickClose(j);
            }
            list.push_back(std::move(caps));
        }
        return list;
    }

    bool DeviceOpen(const JoystickCaps& which, bool gamepadLayout) override {
        SdlJoystickLock sdl;
        const int index = IndexOf(which.instance);
        if (index < 0) {
            return false;
        }
        if (gamepadLayout && which.gamepad) {
            controller_ = SDL_GameControllerOpen(index);
            joystick_ =
                controller_ != nullptr ? SDL_GameControllerGetJoystick(controller_) : nullptr;
        } else {
            joystick_ = SDL_JoystickOpen(index);
        }
        WakeWatcher();  // to look at the new joystick at once
        return joystick_ != nullptr;
    }

    void DeviceClose() override {
        SdlJoystickLock sdl;
        if (controller_ != nullptr) {
            SDL_GameControllerClose(controller_);  // and its joystick
        } else if (joystick_ != nullptr) {
            SDL_JoystickClose(joystick_);
        }
        controller_ = nullptr;
        joystick_ = nullptr;
        WakeWatcher();
    }

    bool DeviceUpdate() override {
        SdlJoystickLock sdl;
        SDL_JoystickUpdate();
        return joystick_ != nullptr && SDL_JoystickGetAttached(joystick_) == SDL_TRUE;
    }

    void DeviceRead(RawJoyInput& input) override {
        SdlJoystickLock sdl;
        if (controller_ != nullptr) {
            ReadGamepad(input);
            return;
        }
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
    // The gamepad layout in the state record's slots (see JoystickChoice).
    void ReadGamepad(RawJoyInput& input) {
        static constexpr SDL_GameControllerAxis kAxes[] = {
            SDL_CONTROLLER_AXIS_LEFTX,       SDL_CONTROLLER_AXIS_LEFTY,
            SDL_CONTROLLER_AXIS_TRIGGERLEFT, SDL_CONTROLLER_AXIS_RIGHTX,
            SDL_CONTROLLER_AXIS_RIGHTY,      SDL_CONTROLLER_AXIS_TRIGGERRIGHT};
        static constexpr SDL_GameControllerButton kButtons[] = {SDL_CONTROLLER_BUTTON_A,
                                                                SDL_CONTROLLER_BUTTON_B,
                                                                SDL_CONTROLLER_BUTTON_X,
                                                                SDL_CONTROLLER_BUTTON_Y,
                                                                SDL_CONTROLLER_BUTTON_LEFTSHOULDER,
                                                                SDL_CONTROLLER_BUTTON_RIGHTSHOULDER,
                                                                SDL_CONTROLLER_BUTTON_BACK,
                                                                SDL_CONTROLLER_BUTTON_START,
                                                                SDL_CONTROLLER_BUTTON_LEFTSTICK,
                                                                SDL_CONTROLLER_BUTTON_RIGHTSTICK,
                                                                SDL_CONTROLLER_BUTTON_GUIDE,
                                                                SDL_CONTROLLER_BUTTON_MISC1,
                                                                SDL_CONTROLLER_BUTTON_PADDLE1,
                                                                SDL_CONTROLLER_BUTTON_PADDLE2,
                                                                SDL_CONTROLLER_BUTTON_PADDLE3,
                                                                SDL_CONTROLLER_BUTTON_PADDLE4};
        input.numAxes = static_cast<int>(std::size(kAxes));
        for (int a = 0; a < input.numAxes; ++a) {
            const Sint16 value = SDL_GameControllerGetAxis(controller_, kAxes[a]);
            const bool trigger = kAxes[a] == SDL_CONTROLLER_AXIS_TRIGGERLEFT ||
                                 kAxes[a] == SDL_CONTROLLER_AXIS_TRIGGERRIGHT;
            // A trigger rests at 0 and goes to 32767: spread it over the whole range, so that
            // at rest it reads as the bottom of the axis like any other.
            input.axes[a] =
                trigger ? static_cast<std::int16_t>(std::max<int>(value, 0) * 2 - 32768) : value;
        }
        input.numButtons = static_cast<int>(std::size(kButtons));
        for (int b = 0; b < input.numButtons; ++b) {
            input.buttons[b] = SDL_GameControllerGetButton(controller_, kButtons[b]) != 0;
        }
        auto pressed = [this](SDL_GameControllerButton b) {
            return SDL_GameControllerGetButton(controller_, b) != 0;
        };
        input.numHats = 1;
        input.hat = static_cast<std::uint8_t>(
            (pressed(SDL_CONTROLLER_BUTTON_DPAD_UP) ? SDL_HAT_UP : 0) |
            (pressed(SDL_CONTROLLER_BUTTON_DPAD_RIGHT) ? SDL_HAT_RIGHT : 0) |
            (pressed(SDL_CONTROLLER_BUTTON_DPAD_DOWN) ? SDL_HAT_DOWN : 0) |
            (pressed(SDL_CONTROLLER_BUTTON_DPAD_LEFT) ? SDL_HAT_LEFT : 0));
    }

    // The device index of an attached controller's instance; -1 when it is gone.
    static int IndexOf(SDL_JoystickID instance) {
        for (int i = 0; i < SDL_NumJoysticks(); ++i) {
            if (SDL_JoystickGetDeviceInstanceID(i) == instance) {
                return i;
            }
        }
        return -1;
    }

    // The watcher sleeps until the held joystick's device file has something to read (SDL reads
    // it from its own descriptor; the kernel wakes every reader), a device node comes or goes, a
    // virtual joystick changes, or the service stops: a stick at rest costs no wake-ups, and a
    // move is seen at once. A device SDL reads some other way is asked every kActiveInterval
    // while in use and every kIdleInterval after kIdleAfter without a change. After a device
    // node came or went SDL is asked every kSettleInterval for kSettle, since it sees the device
    // only once the system has set it up; and every kLookAnyway in any case.
    static constexpr int kActiveInterval = 1;  // milliseconds
    static constexpr int kIdleInterval = 4;
    static constexpr int kSettleInterval = 5;
    static constexpr int kLookAnyway = 250;
    static constexpr auto kIdleAfter = std::chrono::seconds(2);
    static constexpr auto kSettle = std::chrono::seconds(1);

    void Watch() {
        RawJoyInput last;
        bool haveLast = false;
        std::vector<SDL_JoystickID> lastAttached, attached;
        bool haveAttached = false;
        const auto start = std::chrono::steady_clock::now();
        auto lastChange = start;
        auto settleUntil = start;
        int timeout = kActiveInterval;
        const int nodes = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (nodes >= 0) {
            inotify_add_watch(nodes, "/dev/input", IN_CREATE | IN_DELETE | IN_ATTRIB);
        }
        int device = -1;  // our own descriptor of the held joystick's device file
        std::string devicePath;
        for (;;) {
            pollfd fds[3] = {{wake_, POLLIN, 0}, {nodes, POLLIN, 0}, {device, POLLIN, 0}};
            poll(fds, 3, timeout);
            if (watchStop_.load(std::memory_order_acquire)) {
                break;
            }
            Drain(wake_);
            if (fds[1].revents != 0) {
                Drain(nodes);
                settleUntil = std::chrono::steady_clock::now() + kSettle;
            }
            if ((fds[2].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                close(device);  // unplugged: looked for again below
                device = -1;
                devicePath.clear();
            } else {
                Drain(device);
            }
            JoyEvent events[3]{};
            int count = 0;
            bool isVirtual = false;
            std::string path;
            {
                SdlJoystickLock sdl;
                SDL_JoystickUpdate();
                // By instance, so that one pulled out and another plugged in between two looks
                // are both seen.
                attached.clear();
                for (int i = 0; i < SDL_NumJoysticks(); ++i) {
                    attached.push_back(SDL_JoystickGetDeviceInstanceID(i));
                }
                std::sort(attached.begin(), attached.end());
                if (haveAttached) {
                    if (!std::includes(attached.begin(), attached.end(), lastAttached.begin(),
                                       lastAttached.end())) {
                        events[count++] = JoyEvent::Removed;
                    }
                    if (!std::includes(lastAttached.begin(), lastAttached.end(), attached.begin(),
                                       attached.end())) {
                        events[count++] = JoyEvent::Added;
                    }
                }
                lastAttached.swap(attached);
                haveAttached = true;
                if (joystick_ != nullptr && SDL_JoystickGetAttached(joystick_) == SDL_TRUE) {
                    RawJoyInput now;
                    DeviceRead(now);
                    if (haveLast && !SameInput(now, last)) {
                        NoteInputTime(SteadyMicros());
                        events[count++] = JoyEvent::Input;
                    }
                    last = now;
                    haveLast = true;
                    const int index = IndexOf(SDL_JoystickInstanceID(joystick_));
                    isVirtual = index >= 0 && SDL_JoystickIsVirtual(index) == SDL_TRUE;
                    const char* p = SDL_JoystickPath(joystick_);
                    path = p != nullptr ? p : "";
                } else {
                    haveLast = false;
                }
            }
            if (path != devicePath) {
                if (device >= 0) {
                    close(device);
                }
                devicePath = path;
                device = path.rfind("/dev/", 0) == 0
                             ? open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)
                             : -1;
            }
            for (int i = 0; i < count; ++i) {
                Notify(events[i]);
            }
            const auto now = std::chrono::steady_clock::now();
            if (count > 0) {
                lastChange = now;
            }
            const bool wakesUs = device >= 0 || isVirtual || path.empty();
            if (now < settleUntil) {
                timeout = kSettleInterval;
            } else if (wakesUs) {
                timeout = kLookAnyway;
            } else {
                timeout = now - lastChange > kIdleAfter ? kIdleInterval : kActiveInterval;
            }
        }
        for (int fd : {nodes, device}) {
            if (fd >= 0) {
                close(fd);
            }
        }
        // SDL keeps per-thread state (its error text) for threads it did not start, and frees it
        // only when asked.
        SDL_TLSCleanup();
    }

    // Also while no watcher runs: the next one looks at once, which does no harm.
    void WakeWatcher() {
        if (wake_ >= 0) {
            Signal(wake_);
        }
    }

    void StopWatching() {
        if (!watcher_.joinable()) {
            return;
        }
        watchStop_.store(true, std::memory_order_release);
        WakeWatcher();
        watcher_.join();
        std::lock_guard lock(watchersMutex);
        std::erase(watcherWakes, wake_);
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
    bool gamepads_ = false;  // SDL's gamepad layouts are there
    // Changed and read under SDL's joystick lock. controller_ is set when the held joystick is
    // read in the gamepad layout; joystick_ is then its joystick.
    SDL_Joystick* joystick_ = nullptr;
    SDL_GameController* controller_ = nullptr;

    std::atomic<bool> watchStop_{false};
    // An eventfd for the watcher: a joystick opened or closed, a virtual one changed, or stop.
    const int wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    std::thread watcher_;
};

}  // namespace

std::unique_ptr<JoystickService> CreateJoystickService() {
    return std::make_unique<SdlJoystickService>();
}

void WakeJoystickWatchers() {
    std::lock_guard lock(watchersMutex);
    for (int fd : watcherWakes) {
        Signal(fd);
    }
}

}  // namespace platform

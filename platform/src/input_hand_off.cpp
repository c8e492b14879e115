#include "input_hand_off.h"

namespace platform {

void InputHandOff::Start(MidiInCallback callback, BeforeEach before) {
    Stop();
    callback_ = std::move(callback);
    before_ = std::move(before);
    quit_.store(false, std::memory_order_release);
    dispatcher_ = std::thread([this] { Dispatch(); });
}

void InputHandOff::Stop() {
    if (!dispatcher_.joinable()) {
        return;
    }
    quit_.store(true, std::memory_order_release);
    pending_.release();
    dispatcher_.join();
    Event unused{};
    while (ring_.TryPop(unused)) {
    }
    while (pending_.try_acquire()) {
    }
    callback_ = {};
    before_ = {};
}

void InputHandOff::Dispatch() {
    for (;;) {
        pending_.acquire();
        if (quit_.load(std::memory_order_acquire)) {
            return;
        }
        Event event{};
        if (!ring_.TryPop(event)) {
            continue;
        }
        if (before_) {
            before_(event.message);
        }
        if (callback_) {
            callback_(event.message, event.timestampMs);
        }
    }
}

}  // namespace platform

#pragma once

// The core's user-interface thread on real time, without Qt: timers and posted tasks run on the
// thread that calls RunFor or RunUntil, each as soon as it is due. For tests and benchmarks that
// drive the engine on the real MIDI and joystick services.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tamborex/engine/core_services.h"

class CLoopUiThread final : public CUiThread, public CEngineEvents {
  public:
    using Clock = std::chrono::steady_clock;

    std::vector<std::string> messages;  // written on the loop's thread only

    std::unique_ptr<CTimer> MakeTimer(std::function<void()> onTick) override {
        std::lock_guard lock(mutex_);
        timers_.push_back(std::make_unique<State>(State{std::move(onTick)}));
        return std::make_unique<Timer>(*this, *timers_.back());
    }
    void Post(std::function<void()> task) override {
        {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        wake_.notify_all();
    }
    void Message(std::string_view text) override { messages.emplace_back(text); }
    void Activity(bool) override {}

    void RunFor(Clock::duration length) {
        const auto end = Clock::now() + length;
        RunWhile([end] { return Clock::now() < end; });
    }
    void RunUntil(const std::atomic<bool>& stop) {
        RunWhile([&stop] { return !stop.load(); });
    }
    // Wakes a RunUntil that waits, so it sees its stop flag.
    void Wake() { wake_.notify_all(); }

  private:
    struct State {
        std::function<void()> onTick;
        bool running = false;
        Clock::duration period{};
        Clock::time_point due{};
    };
    class Timer final : public CTimer {
      public:
        Timer(CLoopUiThread& loop, State& state) : loop_(loop), state_(state) {}
        ~Timer() override { Stop(); }
        void Start(unsigned periodMs) override {
            {
                std::lock_guard lock(loop_.mutex_);
                state_.running = true;
                state_.period = std::chrono::milliseconds(periodMs);
                state_.due = Clock::now() + state_.period;
            }
            loop_.wake_.notify_all();
        }
        void Stop() override {
            std::lock_guard lock(loop_.mutex_);
            state_.running = false;
        }
        bool Running() const override {
            std::lock_guard lock(loop_.mutex_);
            return state_.running;
        }
        unsigned PeriodMs() const override {
            std::lock_guard lock(loop_.mutex_);
            return static_cast<unsigned>(
                std::chrono::duration_cast<std::chrono::milliseconds>(state_.period).count());
        }

      private:
        CLoopUiThread& loop_;
        State& state_;
    };

    template <typename Go>
    void RunWhile(Go go) {
        std::unique_lock lock(mutex_);
        while (go()) {
            auto due = Clock::now() + std::chrono::milliseconds(5);
            for (const auto& t : timers_) {
                if (t->running) {
                    due = std::min(due, t->due);
                }
            }
            wake_.wait_until(lock, due, [&] { return !tasks_.empty(); });
            while (!tasks_.empty()) {
                auto task = std::move(tasks_.front());
                tasks_.pop_front();
                lock.unlock();
                task();
                lock.lock();
            }
            // Due timers in the order they were made; a tick may start or stop any of them.
            for (std::size_t i = 0; i < timers_.size(); ++i) {
                State& t = *timers_[i];
                if (t.running && t.due <= Clock::now()) {
                    t.due = Clock::now() + t.period;
                    lock.unlock();
                    t.onTick();
                    lock.lock();
                }
            }
        }
    }

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<std::unique_ptr<State>> timers_;
    std::deque<std::function<void()>> tasks_;
};

// The same loop on a thread of its own, for as long as the object lives: the engine's state then
// belongs to that thread, and callers reach it through loop.Post.
class CLoopUiThreadRunner {
  public:
    CLoopUiThread loop;

    CLoopUiThreadRunner() : thread_([this] { loop.RunUntil(stop_); }) {}
    ~CLoopUiThreadRunner() {
        stop_ = true;
        loop.Wake();
        thread_.join();
    }

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/timer.h"

#include <pthread.h>

#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRealtimePriority = 40;

class ThreadTimer final : public PeriodicTimer {
  public:
    ~ThreadTimer() override { Stop(); }

    TimerCaps GetCaps() const override { return {}; }
    bool BeginResolution(unsigned ms) override { return InCaps(ms); }
    bool EndResolution(unsigned ms) override { return InCaps(ms); }

    bool Start(unsigned periodMs, std::function<void()> tick) override {
        if (!InCaps(periodMs) || !tick || OnTickThread()) {
            return false;
        }
        Stop();
        tick_ = std::move(tick);
        stopRequested_ = false;
        running_ = true;
        thread_ = std::thread(&ThreadTimer::Run, this, std::chrono::milliseconds(periodMs));
        return true;
    }

    void Stop() override {
        {
            std::lock_guard lock(mutex_);
            stopRequested_ = true;
        }
        if (OnTickThread()) {
            return;  // inside the tick: the loop ends once the tick returns
        }
        wake_.notify_all();
        if (thread_.joinable()) {
            thread_.join();
        }
        running_ = false;
    }

    bool Running() const override { return running_; }

    void TickSoon() override {
        {
            std::lock_guard lock(mutex_);
            soon_ = true;
        }
        wake_.notify_all();
    }

  private:
    // The tick thread records its own id: thread_ itself is still being assigned by Start when
    // the first tick may already run.
    bool OnTickThread() const { return tickThread_.load() == std::this_thread::get_id(); }

    bool InCaps(unsigned ms) const {
        const TimerCaps caps = GetCaps();
        return ms >= caps.minPeriodMs && ms <= caps.maxPeriodMs;
    }

    void Run(Clock::duration period) {
        tickThread_ = std::this_thread::get_id();
#ifdef __linux__
        // The default 50 us slack would add to every wake-up; ask for the tightest the kernel
        // gives.
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
        // Where the user may (the audio group usually can), run ahead of ordinary programs but
        // below JACK's own threads, so a busy machine does not hold the tick back by a whole time
        // slice. Without the right the thread keeps normal scheduling.
        sched_param param{};
        param.sched_priority = kRealtimePriority;
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
        auto deadline = Clock::now() + period;
        std::unique_lock lock(mutex_);
        soon_ = false;
        for (;;) {
            wake_.wait_until(lock, deadline, [this] { return stopRequested_ || soon_; });
            if (stopRequested_) {
                break;
            }
            // A tick asked for between periods leaves the deadlines where they are.
            const bool due = Clock::now() >= deadline;
            soon_ = false;
            lock.unlock();
            tick_();
            if (due) {
                deadline += period;
                const auto now = Clock::now();
                if (deadline <= now) {
                    // Overran: skip the missed periods rather than fire a burst of late ticks.
                    deadline += ((now - deadline) / period + 1) * period;
                }
            }
            lock.lock();
        }
        running_ = false;
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopRequested_ = false;
    bool soon_ = false;  // a tick asked for by TickSoon
    std::atomic<bool> running_{false};
    std::atomic<std::thread::id> tickThread_{};
    std::function<void()> tick_;
    std::thread thread_;
};

}  // namespace

std::unique_ptr<PeriodicTimer> CreatePeriodicTimer() {
    return std::make_unique<ThreadTimer>();
}

}  // namespace platform

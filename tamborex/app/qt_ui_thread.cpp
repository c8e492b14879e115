#include "tamborex/app/qt_ui_thread.h"

#include <QTimer>

namespace {

class CQtTimer final : public CTimer {
  public:
    explicit CQtTimer(std::function<void()> onTick) {
        // A coarse timer would let every poll period drift by up to 5 %, and could swallow the
        // activity light's 40 ms.
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [tick = std::move(onTick)] { tick(); });
    }
    void Start(unsigned periodMs) override { timer_.start(static_cast<int>(periodMs)); }
    void Stop() override { timer_.stop(); }
    bool Running() const override { return timer_.isActive(); }
    unsigned PeriodMs() const override { return static_cast<unsigned>(timer_.interval()); }

  private:
    QTimer timer_;
};

}  // namespace

std::unique_ptr<CTimer> CQtUiThread::MakeTimer(std::function<void()> onTick) {
    return std::make_unique<CQtTimer>(std::move(onTick));
}

void CQtUiThread::Post(std::function<void()> task) {
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

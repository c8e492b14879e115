#pragma once

#include <QObject>

#include "tamborex/engine/core_services.h"

// The core's user-interface thread on Qt's event loop (QtCore only, so the headless runner has
// it without a window system): precise QTimers and queued calls.
class CQtUiThread final : public QObject, public CUiThread {
  public:
    std::unique_ptr<CTimer> MakeTimer(std::function<void()> onTick) override;
    void Post(std::function<void()> task) override;
};

#include "qt_services.h"

#include <QTimer>
#include <QWidget>

#include "prompter.h"

namespace {

QString Text(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

}  // namespace

CQtServices::CQtServices(QWidget& window, CPrompter& prompter, std::function<void(int)> onTimer)
    : window_(window), prompter_(prompter), onTimer_(std::move(onTimer)) {}

void CQtServices::SetTimer(int id, unsigned periodMs) {
    auto it = timers_.find(id);
    if (it == timers_.end()) {
        auto* timer = new QTimer(this);
        timer->setTimerType(Qt::PreciseTimer);
        connect(timer, &QTimer::timeout, this, [this, id] { onTimer_(id); });
        it = timers_.emplace(id, timer).first;
    }
    it->second->start(static_cast<int>(periodMs));
}

void CQtServices::KillTimer(int id) {
    if (const auto it = timers_.find(id); it != timers_.end()) {
        it->second->stop();
    }
}

bool CQtServices::TimerActive(int id) const {
    const auto it = timers_.find(id);
    return it != timers_.end() && it->second->isActive();
}

int CQtServices::TimerInterval(int id) const {
    const auto it = timers_.find(id);
    return it == timers_.end() ? 0 : it->second->interval();
}

void CQtServices::Post(std::function<void()> task) {
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

QWidget* CQtServices::Parent() const {
    return window_.isVisible() ? &window_ : nullptr;
}

void CQtServices::Warn(std::string_view text) {
    prompter_.Warn(Parent(), Text(text));
}

bool CQtServices::Ask(std::string_view text) {
    return prompter_.Ask(&window_, Text(text));
}

bool CQtServices::ChooseFile(bool save, std::string_view filter, std::string_view defaultExtension,
                             const std::string& initial, std::string& chosen) {
    return prompter_.ChooseFile(Parent(), save, filter, defaultExtension, initial, chosen);
}

#pragma once

#include <QObject>
#include <functional>
#include <map>
#include <string>
#include <string_view>

class CPrompter;
class QTimer;
class QWidget;

// The core's window services on Qt: window timers by identifier, tasks posted to the
// user-interface thread, and the prompts and file choosers, all parented to one window.
class CQtServices final : public QObject {
  public:
    CQtServices(QWidget& window, CPrompter& prompter, std::function<void(int)> onTimer);

    // Starts timer id, or restarts it; it fires every periodMs until killed. Precise: a coarse
    // timer would let every poll period drift by up to 5 %, and could swallow the activity
    // light's 40 ms.
    void SetTimer(int id, unsigned periodMs);
    void KillTimer(int id);
    bool TimerActive(int id) const;
    int TimerInterval(int id) const;
    // From any thread: runs task on the user-interface thread after everything posted before.
    void Post(std::function<void()> task);
    // Message boxes are parented to the window only while it shows.
    void Warn(std::string_view text);
    bool Ask(std::string_view text);
    bool ChooseFile(bool save, std::string_view filter, std::string_view defaultExtension,
                    const std::string& initial, std::string& chosen);

  private:
    QWidget* Parent() const;

    QWidget& window_;
    CPrompter& prompter_;
    std::function<void(int)> onTimer_;
    std::map<int, QTimer*> timers_;
};

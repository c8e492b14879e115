#pragma once

#include <QObject>
#include <optional>
#include <string>
#include <string_view>

class CPrompter;
class QWidget;

// The prompts and file choosers the core asks for, on Qt, all parented to one window.
class CQtServices final {
  public:
    CQtServices(QWidget& window, CPrompter& prompter);

    // Message boxes are parented to the window only while it shows.
    void Warn(std::string_view text);
    bool Ask(std::string_view text);
    // nullopt: Cancel.
    std::optional<bool> AskOrCancel(std::string_view text);
    bool ChooseFile(bool save, std::string_view filter, std::string_view defaultExtension,
                    const std::string& initial, std::string& chosen);

  private:
    QWidget* Parent() const;

    QWidget& window_;
    CPrompter& prompter_;
};

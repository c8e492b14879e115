#pragma once

#include <QString>
#include <optional>
#include <string>
#include <string_view>

class QDialog;
class QWidget;

// Every modal prompt of Tamborex goes through here: message boxes, the Yes/No question, the file
// choosers and running a modal dialog. The program uses the Qt one; tests answer through their
// own.
class CPrompter {
  public:
    virtual ~CPrompter() = default;
    // One OK button and the warning icon, captioned with the program's name.
    virtual void Warn(QWidget* parent, const QString& text) = 0;
    // Yes and No with the warning icon; true for Yes.
    virtual bool Ask(QWidget* parent, const QString& text) = 0;
    // Yes, No and Cancel with the warning icon; nullopt for Cancel (also Escape and a close).
    virtual std::optional<bool> AskOrCancel(QWidget* parent, const QString& text) {
        return Ask(parent, text);
    }
    // An open or save file chooser for filter ("Name (*.ext) | *.ext"); false when cancelled.
    virtual bool ChooseFile(QWidget* parent, bool save, std::string_view filter,
                            std::string_view defaultExtension, const std::string& initial,
                            std::string& chosen) = 0;
    virtual int Run(QDialog& dialog) = 0;
};

class CQtPrompter final : public CPrompter {
  public:
    void Warn(QWidget* parent, const QString& text) override;
    bool Ask(QWidget* parent, const QString& text) override;
    std::optional<bool> AskOrCancel(QWidget* parent, const QString& text) override;
    bool ChooseFile(QWidget* parent, bool save, std::string_view filter,
                    std::string_view defaultExtension, const std::string& initial,
                    std::string& chosen) override;
    int Run(QDialog& dialog) override;
};

inline constexpr const char* kProgramName = "Tamborex";

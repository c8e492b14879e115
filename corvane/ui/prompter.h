#pragma once

#include <QString>

class QDialog;
class QWidget;

namespace corvane {

// Every modal prompt of the program goes through here: message boxes, the Yes/No question and
// running a modal dialog. The program uses the real one; tests answer through their own.
class Prompter {
  public:
    virtual ~Prompter() = default;
    virtual void Warn(QWidget* parent, const QString& text) = 0;
    virtual bool Ask(QWidget* parent, const QString& title, const QString& text) = 0;
    virtual int Run(QDialog& dialog) = 0;
};

class QtPrompter final : public Prompter {
  public:
    void Warn(QWidget* parent, const QString& text) override;
    bool Ask(QWidget* parent, const QString& title, const QString& text) override;
    int Run(QDialog& dialog) override;
};

}  // namespace corvane

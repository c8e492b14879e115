#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <vector>

class QDialog;
class QWidget;

namespace corvane {

// Every modal prompt of the program goes through here: message boxes, the Yes/No question and
// running a modal dialog. The program uses the real one; tests answer through their own.
class Prompter {
  public:
    virtual ~Prompter() = default;
    virtual void Warn(QWidget* parent, const QString& text) = 0;
    // A message that needs no answer and may come while nothing is allowed to wait for the user
    // (opening a session): where that matters it is shown later without blocking.
    virtual void Tell(QWidget* parent, const QString& text) { Warn(parent, text); }
    virtual bool Ask(QWidget* parent, const QString& title, const QString& text) = 0;
    // Save, Discard or Cancel, before something unsaved would be lost. One that cannot offer
    // Cancel answers Save for Yes and Discard for No.
    virtual QMessageBox::StandardButton AskSave(QWidget* parent, const QString& text) {
        return Ask(parent, QStringLiteral("Corvane"), text) ? QMessageBox::Save
                                                            : QMessageBox::Discard;
    }
    virtual int Run(QDialog& dialog) = 0;
};

class QtPrompter final : public QObject, public Prompter {
    Q_OBJECT

  public:
    void Warn(QWidget* parent, const QString& text) override;
    void Tell(QWidget* parent, const QString& text) override;
    bool Ask(QWidget* parent, const QString& title, const QString& text) override;
    // While ending, Discard: the program is going whatever the answer.
    QMessageBox::StandardButton AskSave(QWidget* parent, const QString& text) override;
    int Run(QDialog& dialog) override;

    // Under a session manager nothing waits for the user: Tell shows its box without blocking,
    // once whatever the program is doing now (answering the session manager) is done.
    void SetNothingWaits(bool on) { nothingWaits_ = on; }
    // Cancels every box and dialog running through here, the innermost first, and closes the
    // boxes Tell left open. forGood: the program is ending, so no box opens any more (Warn and
    // Tell print to the error stream, Ask answers No, Run gives Rejected at once).
    void EndAll(bool forGood);
    bool Ending() const { return ending_; }

  private:
    int Exec(QDialog& dialog);

    std::vector<QPointer<QDialog>> running_;  // innermost last
    std::vector<QPointer<QMessageBox>> told_;
    bool nothingWaits_ = false;
    bool ending_ = false;
};

}  // namespace corvane

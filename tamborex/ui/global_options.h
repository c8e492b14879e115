#pragma once

#include <QDialog>
#include <memory>
#include <string>

namespace Ui {
class CGlobalOptions;
}
class CPrompter;
class CSession;

// "Global Options": presets, the current entry, the MIDI input and the bar's switches. Every
// change goes into the session's settings at once; there is only OK.
class CGlobalOptions final : public QDialog {
    Q_OBJECT

  public:
    CGlobalOptions(CSession& session, CPrompter& prompter, QWidget* parent);
    ~CGlobalOptions() override;

    // Closes only when the channel holds 0 to 15.
    void accept() override;

  private:
    // Re-reads the channel, then the four boxes; a bad channel stops the reading with its
    // message, so the boxes keep their earlier values.
    bool ReadFields();
    void PutFields();
    static QString EntryLine(int entry, const std::string& name);
    void OnInputPort(int index);
    void OnBrowse();

    std::unique_ptr<Ui::CGlobalOptions> ui_;
    CSession& session_;
    CPrompter& prompter_;
    std::int32_t channel_ = 0;
    std::int32_t respondToProgramChange_ = 0;
    std::int32_t alwaysOnTop_ = 0;
    std::int32_t midiThru_ = 0;
    std::int32_t loadMinimized_ = 0;
};

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
    // What the fields say, starting from the session's values.
    struct Fields {
        std::int32_t channel = 0;
        std::int32_t respondToProgramChange = 0;
        std::int32_t alwaysOnTop = 0;
        std::int32_t midiThru = 0;
        std::int32_t loadMinimized = 0;
    };
    // Re-reads the channel, then the four boxes; a bad channel stops the reading with its
    // message, so the boxes keep the session's values.
    Fields ReadFields(bool* good = nullptr);
    // Shows the session's values.
    void PutFields();
    static QString EntryLine(int entry, const std::string& name);
    void OnInputPort(int index);
    // Checks both OSC fields; when they can be read, hands them to the session (which starts,
    // changes or stops OSC), otherwise says what is wrong. False when one could not be read.
    bool ApplyOsc();
    void OnBrowse();

    std::unique_ptr<Ui::CGlobalOptions> ui_;
    CSession& session_;
    CPrompter& prompter_;
};

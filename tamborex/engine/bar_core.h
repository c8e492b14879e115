#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bank.h"
#include "engine.h"
#include "joystick.h"
#include "midi_in.h"
#include "midi_out.h"
#include "platform/joystick.h"
#include "platform/midi.h"

// What the bar's start-up and shutdown need of the window beyond the engine and the bank.
class CBarWindow : public CWindowServices, public CBankWindow {
  public:
    // Both interfaces ask for the same message box; one implementation serves them.
    void MessageBox(std::string_view text) override = 0;
    virtual std::array<std::int32_t, 2> BarPosition() = 0;
    virtual void MoveBar(std::int32_t x, std::int32_t y) = 0;
    virtual void AddTrayIcon() = 0;
    virtual void RemoveTrayIcon() = 0;
    // Whether the Joystick options dialog holds unsaved changes to the patch.
    virtual bool PatchModified() = 0;
    // A Yes/No question with the warning icon; true for Yes.
    virtual bool AskYesNo(std::string_view text) = 0;
};

// Everything the main bar owns for the whole run, without the window itself: the ports, the
// joystick, the engine with both patch slots, and the bank. Start-up and shutdown run here in
// their order; the bar calls them and paints.
class CBarCore {
  public:
    CBarCore(platform::MidiService& midi, platform::JoystickService& joystick, CBarWindow& window,
             std::string bankPath = kBankFileName);
    CBarCore(const CBarCore&) = delete;
    CBarCore& operator=(const CBarCore&) = delete;

    // The bar's initialisation, once its window exists.
    void Startup();
    // The Quit command (and any other request to close): ends with everything released.
    void Shutdown();

    const std::vector<platform::JoystickCaps>& JoystickCaps() const { return joystickCaps_; }

    CWinMIDIOut midiOut;
    CJoystick joystick;
    CEngine engine;
    CBank bank;
    CWinMIDIIn midiIn;

  private:
    platform::JoystickService& joystickService_;
    CBarWindow& window_;
    std::vector<platform::JoystickCaps> joystickCaps_;
    bool shutDown_ = false;
};

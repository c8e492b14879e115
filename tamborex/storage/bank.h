#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine.h"
#include "window_services.h"

inline constexpr int kBankEntries = 128;
inline constexpr int kPresets = 4;
inline constexpr const char* kBankFileName = "Tamborex.bnk";
inline constexpr const char* kNoPatchName = "(no patch)";
inline constexpr const char* kPatchFilter = "Tamborex Patch (*.txp) | *.txp";
inline constexpr const char* kPatchExtension = "*.txp";

// Everything "Tamborex.bnk" keeps: the bank, the presets and the global settings.
struct CBankState {
    std::int32_t patchNumber = 0;
    std::string patchName;
    std::array<std::string, kBankEntries> patchNames;
    std::array<std::string, kBankEntries> patchPaths;
    std::array<std::int32_t, kPresets> presets = {0, 1, 2, 3};
    std::int32_t midiInDevice = -1;
    std::int32_t respondToProgramChange = 1;
    std::int32_t formatTag = 201;  // written back as read
    std::int32_t alwaysOnTop = 0;
    std::int32_t midiThru = 0;
    std::array<std::int32_t, 2> barPos = {0, 0};
    std::array<std::int32_t, 2> secondPos = {0, 0};  // written back as read
    std::int32_t loadMinimized = 0;
    std::array<std::int32_t, 2> joyOptionsPos = {0, 0};

    CBankState() { patchNames.fill(kNoPatchName); }
};

std::vector<std::uint8_t> FormatBank(const CBankState& bank);
// Reads a bank file's bytes into bank. Fields the file does not reach keep their values; the
// messages to show (an old file without its tail, a short or damaged file, indices out of range,
// which are brought into range) are appended to messages.
void ReadBank(std::span<const std::uint8_t> bytes, CBankState& bank,
              std::vector<std::string>& messages);

// What the bank needs of the bar and its dialogs.
class CBankWindow {
  public:
    virtual ~CBankWindow() = default;
    virtual void MessageBox(std::string_view text) = 0;
    // The bar shows patchNumber and patchName.
    virtual void ShowCurrentEntry() = 0;
    // The Joystick options dialog, if open, shows slot 0 again.
    virtual void PatchReloaded() = 0;
    // The Joystick options dialog forgets that the patch was modified.
    virtual void PatchSaved() = 0;
    virtual void ApplyAlwaysOnTop() = 0;
    // Where the Joystick options dialog is now, or where it last was.
    virtual std::array<std::int32_t, 2> JoyOptionsPosition() = 0;
    // The open or save file chooser; false when the user cancels.
    virtual bool ChooseFile(bool save, std::string_view filter, std::string_view defaultExtension,
                            const std::string& initial, std::string& chosen) = 0;
};

// The bank and its operations, as the main bar holds them. The engine reaches it through
// CBankLink (mode-21 buttons, program changes on the MIDI input).
class CBank final : public CBankLink {
  public:
    CBank(CEngine& engine, CWinMIDIOut& midiOut, CJoystick& joystick, CBankWindow& window,
          std::string bankPath = kBankFileName);

    void LoadBank();
    // False when the file could not be written (the old one is then unchanged).
    bool SaveBank();
    // Returns 1 when the output port opened, 0 otherwise.
    int LoadPatchFile(const std::string& path, std::int32_t bankIndex);
    bool SavePatchFile(const std::string& path);
    void LoadCommand();
    void SaveCommand();
    void Preset(int k);
    void Previous();
    void Next();
    // The bar's name field changed.
    void Rename(const std::string& name);

    // CBankLink
    std::int32_t PatchNumber() const override { return state.patchNumber; }
    void SetPatchNumber(std::int32_t number) override;
    void SelectPatch() override;
    bool MidiThru() const override { return state.midiThru != 0; }
    std::int32_t MidiInChannel() const override { return midiInChannel; }
    bool RespondToProgramChange() const override { return state.respondToProgramChange != 0; }

    CBankState state;
    std::int32_t midiInChannel = 0;  // not stored: every run starts on channel 0

  private:
    CEngine& engine_;
    CWinMIDIOut& midiOut_;
    CJoystick& joystick_;
    CBankWindow& window_;
    std::string bankPath_;
};

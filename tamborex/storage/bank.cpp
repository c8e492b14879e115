#include "bank.h"

#include <algorithm>
#include <cstring>

#include "archive.h"
#include "file_io.h"
#include "patch_file.h"

namespace {

// Keeps an index from a file inside the bank, saying so when it had to move it.
void Bound(std::int32_t& index, const char* what, std::vector<std::string>& messages) {
    if (index < 0 || index >= kBankEntries) {
        const std::int32_t kept = std::clamp(index, 0, kBankEntries - 1);
        messages.push_back(std::string("Tamborex.bnk names bank entry ") + std::to_string(index) +
                           " as the " + what + ", which does not exist; entry " +
                           std::to_string(kept) + " is used instead.");
        index = kept;
    }
}

}  // namespace

std::vector<std::uint8_t> FormatBank(const CBankState& bank) {
    CByteWriter out;
    out.WriteInt32(bank.patchNumber);
    out.WriteInt32(bank.midiInDevice);
    out.WriteInt32(bank.respondToProgramChange);
    for (std::int32_t preset : bank.presets) {
        out.WriteInt32(preset);
    }
    for (int i = 0; i < kBankEntries; ++i) {
        out.WriteString(bank.patchNames[i]);
        out.WriteString(bank.patchPaths[i]);
    }
    for (std::int32_t v : {bank.formatTag, bank.alwaysOnTop, bank.midiThru, bank.barPos[0],
                           bank.barPos[1], bank.secondPos[0], bank.secondPos[1], bank.loadMinimized,
                           bank.joyOptionsPos[0], bank.joyOptionsPos[1]}) {
        out.WriteInt32(v);
    }
    return out.Bytes();
}

void ReadBank(std::span<const std::uint8_t> bytes, CBankState& bank,
              std::vector<std::string>& messages) {
    CByteReader in(bytes);
    bool complete = in.ReadInt32(bank.patchNumber) && in.ReadInt32(bank.midiInDevice) &&
                    in.ReadInt32(bank.respondToProgramChange);
    for (std::int32_t& preset : bank.presets) {
        complete = complete && in.ReadInt32(preset);
    }
    int entries = 0;
    while (complete && entries < kBankEntries) {
        complete =
            in.ReadString(bank.patchNames[entries]) && in.ReadString(bank.patchPaths[entries]);
        entries += complete ? 1 : 0;
    }
    if (!complete) {
        // The stream's end-of-file error, with what it means for the bank.
        messages.push_back("Archive error: [3]\nTamborex.bnk ends after " +
                           std::to_string(entries) + " of its " + std::to_string(kBankEntries) +
                           " entries; the rest keep their defaults.");
    } else {
        std::int32_t* tail[] = {&bank.formatTag,       &bank.alwaysOnTop,   &bank.midiThru,
                                &bank.barPos[0],       &bank.barPos[1],     &bank.secondPos[0],
                                &bank.secondPos[1],    &bank.loadMinimized, &bank.joyOptionsPos[0],
                                &bank.joyOptionsPos[1]};
        for (std::int32_t* field : tail) {
            if (!in.ReadInt32(*field)) {
                messages.emplace_back("Old Tamborex bank file: will convert");
                break;
            }
        }
    }
    Bound(bank.patchNumber, "current one", messages);
    for (std::int32_t& preset : bank.presets) {
        Bound(preset, "preset", messages);
    }
}

CBank::CBank(CEngine& engine, CWinMIDIOut& midiOut, CJoystick& joystick, CBankWindow& window,
             std::string bankPath)
    : engine_(engine),
      midiOut_(midiOut),
      joystick_(joystick),
      window_(window),
      bankPath_(std::move(bankPath)) {}

void CBank::LoadBank() {
    std::vector<std::uint8_t> bytes;
    int cause = 0;
    if (ReadWholeFile(bankPath_, bytes, cause)) {
        std::vector<std::string> messages;
        ReadBank(bytes, state, messages);
        for (const std::string& message : messages) {
            window_.MessageBox(message);
        }
    } else if (cause != ENOENT) {
        window_.MessageBox("File IO error. [" + std::to_string(cause) + "] ");
    }
    // Also on a first run: the bar shows, and the bank keeps, the entry's "(no patch)".
    state.patchName = state.patchNames[state.patchNumber];
    window_.ApplyAlwaysOnTop();
}

bool CBank::SaveBank() {
    state.joyOptionsPos = window_.JoyOptionsPosition();
    state.patchNames[state.patchNumber] = state.patchName;
    const std::vector<std::uint8_t> bytes = FormatBank(state);
    int cause = 0;
    bool couldNotCreate = false;
    if (!WriteFileAtomically(bankPath_, bytes, cause, couldNotCreate)) {
        window_.MessageBox(couldNotCreate
                               ? std::string("Tamborex: Error opening bank file for writing.")
                               : "Tamborex: Error writing the bank file (" +
                                     std::string(std::strerror(cause)) +
                                     "). The old file was left as it was.");
        return false;
    }
    return true;
}

int CBank::LoadPatchFile(const std::string& path, std::int32_t bankIndex) {
    if (path.empty()) {
        return 1;
    }
    CPatch& slot0 = engine_.patches[0];
    if (slot0.outputDevice >= 0) {
        engine_.SilenceOutput();
        midiOut_.Open(-1);
    }
    std::vector<std::uint8_t> bytes;
    int cause = 0;
    if (!ReadWholeFile(path, bytes, cause)) {
        window_.MessageBox("Error opening patch file.");
        return 0;
    }
    std::string name;
    if (const std::string problem = ReadPatchFile(bytes, name, engine_.patches); !problem.empty()) {
        window_.MessageBox(problem);
        return 0;
    }
    state.patchName = name;
    state.patchNames[std::clamp(bankIndex, 0, kBankEntries - 1)] = name;
    const bool opened = midiOut_.Open(
        static_cast<std::int16_t>(std::clamp<std::int32_t>(slot0.outputDevice, -1, INT16_MAX)));
    if (!opened) {
        window_.MessageBox("Error setting midi out dev: " + midiOut_.GetErrorText());
    } else {
        engine_.SetPatchActive(0, slot0.active);
    }
    for (int axis = 0; axis < kAxisCount; ++axis) {
        joystick_.SetAxisRange(axis, slot0.axes[axis].min, slot0.axes[axis].max);
    }
    return opened ? 1 : 0;
}

bool CBank::SavePatchFile(const std::string& path) {
    const std::vector<std::uint8_t> bytes = FormatPatchFile(state.patchName, engine_.patches);
    int cause = 0;
    bool couldNotCreate = false;
    if (!WriteFileAtomically(path, bytes, cause, couldNotCreate)) {
        window_.MessageBox(couldNotCreate
                               ? "Can't open file " + path + " for writing!"
                               : "Could not write " + path + " (" + std::strerror(cause) +
                                     "). The old file was left as it was.");
        return false;
    }
    state.patchPaths[state.patchNumber] = path;
    window_.PatchSaved();
    return true;
}

void CBank::LoadCommand() {
    std::string chosen;
    if (window_.ChooseFile(false, kPatchFilter, kPatchExtension,
                           state.patchPaths[state.patchNumber], chosen)) {
        LoadPatchFile(chosen, state.patchNumber);
    }
}

void CBank::SaveCommand() {
    std::string chosen;
    if (window_.ChooseFile(true, kPatchFilter, kPatchExtension, state.patchPaths[state.patchNumber],
                           chosen)) {
        SavePatchFile(chosen);
    }
}

void CBank::SetPatchNumber(std::int32_t number) {
    state.patchNumber = std::clamp(number, 0, kBankEntries - 1);
}

void CBank::SelectPatch() {
    state.patchName = state.patchNames[state.patchNumber];
    LoadPatchFile(state.patchPaths[state.patchNumber], state.patchNumber);
    window_.PatchReloaded();
    window_.ShowCurrentEntry();
}

void CBank::Preset(int k) {
    if (k >= 0 && k < kPresets) {
        SetPatchNumber(state.presets[k]);
        SelectPatch();
    }
}

void CBank::Previous() {
    if (state.patchNumber > 0) {
        --state.patchNumber;
        SelectPatch();
    }
}

void CBank::Next() {
    if (state.patchNumber < kBankEntries - 1) {
        ++state.patchNumber;
        SelectPatch();
    }
}

void CBank::Rename(const std::string& name) {
    state.patchName = name;
    state.patchNames[state.patchNumber] = name;
}

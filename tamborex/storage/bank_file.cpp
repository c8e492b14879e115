#include "tamborex/storage/bank_file.h"

#include <algorithm>

#include "tamborex/storage/archive.h"

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

// A patch file as JSON text: every byte the file's layout holds has a key, so the text turns
// back into the same file.

#include <algorithm>

#include "tamborex/storage/archive.h"
#include "tamborex/storage/patch_io.h"
#include "tamborex/storage/patch_json.h"
#include "tamborex/storage/patch_json_internal.h"
#include "tamborex/storage/patch_json_shape.h"
#include "tamborex/storage/port_names.h"

namespace {

namespace key = patchkey;

// The marks when they say all the reserved block holds; otherwise nothing, and the block goes
// as it is, in hexadecimal.
bool MarksJson(const CPatch& patch, PatchJson& marksJson) {
    const CPatchMarks marks = ReadPatchMarks(patch);
    CPatch again;
    WritePatchMarks(again, marks);
    if (again.reserved != patch.reserved) {
        return false;
    }
    marksJson = PatchJson::object();
    for (const auto& [name, value] : {std::pair{key::kOutputPort, &marks.outputPort},
                                      std::pair{key::kOutputPortKey, &marks.outputPortKey},
                                      std::pair{key::kControllerName, &marks.controllerName},
                                      std::pair{key::kControllerGuid, &marks.controllerGuid}}) {
        if (!IsUtf8(*value)) {
            return false;
        }
        if (!value->empty()) {
            marksJson[name] = *value;
        }
    }
    if (marks.gamepadLayout) {
        marksJson[key::kGamepadLayout] = true;
    }
    return true;
}

PatchJson AxisJson(const AxisRecord& a, std::int32_t version) {
    PatchJson axis = PatchJson::object();
    if (a.controller == kSelectNone) {
        axis[key::kController] = kControllerNone;
    } else if (a.controller == kSelectPitchBend) {
        axis[key::kController] = kControllerPitchBend;
    } else {
        axis[key::kController] = std::int64_t{a.controller} - 2;  // a damaged one may be far out
    }
    axis[key::kChannel] = a.channel;
    axis[key::kMin] = a.min;
    axis[key::kMax] = a.max;
    axis[key::kReverse] = a.reversePolarity != 0;
    axis[key::kFullRange] = a.fullRange != 0;
    if (version >= kVersionWithNrpn) {
        axis[key::kNrpnMsb] = a.nrpnMsb;
        axis[key::kNrpnLsb] = a.nrpnLsb;
    }
    if (version >= kVersionWithMinimumMovement) {
        axis[key::kMinimumMovement] = a.minimumMovement;
    }
    if (a.value != kDefaultAxisValue) {
        axis[key::kValue] = a.value;
    }
    if (!IsDefaultShape(a.shape)) {
        axis[key::kShape] = ShapeJson(a.shape);
    }
    return axis;
}

PatchJson ButtonJson(const ButtonRecord& b) {
    PatchJson button = PatchJson::object();
    button[key::kMode] = b.mode;
    button[key::kData1] = b.data1;
    button[key::kData2] = b.data2;
    button[key::kChannel] = b.channel;
    button[key::kNotes] = b.notes;
    button[key::kVelocities] = b.velocities;
    button[key::kTimes] = b.times;
    button[key::kSteps] = b.stepCount;
    button[key::kAuto] = b.autoArpeggiation != 0;
    if (b.currentStep != kDefaultCurrentStep) {
        button[key::kCurrentStep] = b.currentStep;
    }
    if (b.pressed != kDefaultPressed) {
        button[key::kPressed] = b.pressed;
    }
    return button;
}

PatchJson SlotJson(const CPatch& p, std::int32_t version,
                   const std::vector<std::vector<std::uint8_t>>& unusedSysEx) {
    PatchJson slot = PatchJson::object();
    if (version != kPatchVersion) {
        slot[key::kVersion] = version;
    }
    slot[key::kActive] = p.active != 0;
    slot[key::kJoystick] = p.joystickNumber;
    slot[key::kSensitivity] = p.joystickSensitivity;
    slot[key::kOutputDevice] = p.outputDevice;
    slot[key::kPollInterval] = p.pollIntervalCode;
    if (PatchJson marks; MarksJson(p, marks)) {
        slot[key::kMarks] = std::move(marks);
    } else {
        slot[key::kReserved] = HexText(p.reserved.data(), p.reserved.size());
    }
    PatchJson& axes = slot[key::kAxes] = PatchJson::array();
    for (const AxisRecord& a : p.axes) {
        axes.push_back(AxisJson(a, version));
    }
    PatchJson& buttons = slot[key::kButtons] = PatchJson::array();
    for (const ButtonRecord& b : p.buttons) {
        buttons.push_back(ButtonJson(b));
    }
    if (version >= kVersionWithSysEx) {
        PatchJson& sysex = slot[key::kSysEx] = PatchJson::array();
        const int count = p.sysEx ? std::clamp(p.sysExCount, 0, kSysExCount) : 0;
        for (int i = 0; i < count; ++i) {
            const auto length =
                static_cast<std::size_t>(std::clamp(p.sysEx->lengths[i], 0, kSysExBufferSize));
            sysex.push_back(HexText(p.sysEx->buffers[i].data(), length));
        }
        if (count == kSysExCount && !unusedSysEx.empty()) {
            PatchJson& unused = slot[key::kUnusedSysEx] = PatchJson::array();
            for (const std::vector<std::uint8_t>& message : unusedSysEx) {
                unused.push_back(HexText(message.data(), message.size()));
            }
        }
    }
    return slot;
}

// Why bytes that Tamborex would load are still no patch file for the text. Tamborex loads almost
// any bytes as a patch, as it always has; the text is stricter, so that a text, a bank or a
// picture given by mistake is not shown as a patch full of nonsense. A patch file holds its name,
// then a block for each of its two patches that begins with the block's version: each version
// the file holds must be one Tamborex writes. Empty when the bytes pass, or when the reader has
// its own message for them.
std::string WhyNotAPatchFile(std::span<const std::uint8_t> bytes) {
    CByteReader in(bytes);
    std::string name;
    if (!in.ReadString(name)) {
        return {};
    }
    for (int slot = 1; slot <= 2; ++slot) {
        std::int32_t version = 0;
        if (!in.ReadInt32(version)) {
            return slot == 1 ? "It ends before its first patch." : std::string();
        }
        if (version < kFirstVersion || version > kPatchVersion) {
            return "Patch " + std::to_string(slot) + " would have version " +
                   std::to_string(version) + "; patch files have versions " +
                   std::to_string(kFirstVersion) + " to " + std::to_string(kPatchVersion) + ".";
        }
        if (slot == 1) {
            // The second block's version follows the first block, which the reader walks.
            CByteReader block(bytes);
            (void)block.ReadString(name);
            CPatch scratch;
            if (!LoadPatch(block, scratch).empty()) {
                return {};
            }
            in = block;
        }
    }
    return {};
}

std::string NotAPatchFile(std::span<const std::uint8_t> bytes) {
    const std::string why = WhyNotAPatchFile(bytes);
    CByteReader in(bytes);
    std::string name;
    const bool named = in.ReadString(name);
    if (named && why.empty()) {
        return {};
    }
    // A patch's text given by mistake: said so, whatever else its bytes would make.
    const auto first = std::find_if_not(bytes.begin(), bytes.end(), [](std::uint8_t b) {
        return b == ' ' || b == '\t' || b == '\r' || b == '\n';
    });
    if (first != bytes.end() && (*first == '{' || *first == '[')) {
        return "It looks like JSON text: --import-patch makes a patch file of that.";
    }
    return named ? why : std::string();
}

// One key a line, but a list of numbers or strings on one line: a patch reads as a page, and a
// change to one step of an arpeggio is one changed line in a diff.
void Print(const PatchJson& value, int indent, std::string& out) {
    const bool nested = value.is_object() || value.is_array();
    if (!nested || value.empty()) {
        out += value.dump();
        return;
    }
    const bool flat =
        value.is_array() && std::none_of(value.begin(), value.end(),
                                         [](const PatchJson& v) { return v.is_structured(); });
    if (flat) {
        out += '[';
        for (std::size_t i = 0; i < value.size(); ++i) {
            out += i == 0 ? "" : ", ";
            out += value[i].dump();
        }
        out += ']';
        return;
    }
    const std::string inner(static_cast<std::size_t>(indent + 2), ' ');
    out += value.is_object() ? "{\n" : "[\n";
    bool first = true;
    for (auto it = value.begin(); it != value.end(); ++it) {
        out += first ? "" : ",\n";
        first = false;
        out += inner;
        if (value.is_object()) {
            out += PatchJson(it.key()).dump() + ": ";
        }
        Print(*it, indent + 2, out);
    }
    out +=
        '\n' + std::string(static_cast<std::size_t>(indent), ' ') + (value.is_object() ? '}' : ']');
}

}  // namespace

std::string PatchFileToJson(std::span<const std::uint8_t> bytes, std::string& json) {
    if (std::string problem = NotAPatchFile(bytes); !problem.empty()) {
        return problem;
    }
    CPatchFileText text;
    if (std::string problem = ReadPatchFileText(bytes, text); !problem.empty()) {
        return problem;
    }
    PatchJson root = PatchJson::object();
    if (IsUtf8(text.name)) {
        root[key::kName] = text.name;
    } else {
        root[key::kNameBytes] =
            HexText(reinterpret_cast<const std::uint8_t*>(text.name.data()), text.name.size());
    }
    PatchJson& slots = root[key::kSlots] = PatchJson::array();
    for (std::size_t s = 0; s < text.slots.size(); ++s) {
        slots.push_back(SlotJson(text.slots[s], text.versions[s], text.unusedSysEx[s]));
    }
    json.clear();
    Print(root, 0, json);
    json += '\n';
    return {};
}

std::string PatchFileTextLosses(std::span<const std::uint8_t> bytes) {
    CPatchFileText text;
    std::string json;
    if (!ReadPatchFileText(bytes, text).empty() || !PatchFileToJson(bytes, json).empty()) {
        return {};
    }
    std::vector<std::uint8_t> again;
    std::vector<CPatchJsonProblem> problems;
    if (!PatchFileFromJson(json, again, problems)) {
        const CPatchJsonProblem& first = problems.front();
        return "It holds a value the text cannot be imported with (" +
               (first.key.empty() ? std::string() : first.key + ": ") + first.what + ").";
    }
    if (std::equal(again.begin(), again.end(), bytes.begin(), bytes.end())) {
        return {};
    }
    if (!text.notice.empty()) {
        return text.notice;
    }
    const std::size_t common = std::min(again.size(), bytes.size());
    const auto differ = static_cast<std::size_t>(
        std::mismatch(again.begin(), again.begin() + static_cast<std::ptrdiff_t>(common),
                      bytes.begin())
            .first -
        again.begin());
    if (differ == common && bytes.size() < again.size()) {
        return "It ends " + std::to_string(again.size() - bytes.size()) +
               " bytes early: past its end the text shows the values Tamborex loads.";
    }
    if (differ == common) {
        return "It has " + std::to_string(bytes.size() - again.size()) +
               " bytes after its patches, which the text leaves out.";
    }
    return "Imported, the text writes it differently from byte " + std::to_string(differ) +
           " on, as Tamborex would when saving it.";
}

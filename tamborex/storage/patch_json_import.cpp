// JSON text to a patch file. Everything in the text is checked before anything is written: the
// type and range of each value, the length of each list, and that every key is one the format
// has, so a misspelt key is named instead of silently meaning its default.

#include <algorithm>

#include "tamborex/model/button_modes.h"
#include "tamborex/storage/patch_json_checker.h"
#include "tamborex/storage/patch_json_shape.h"
#include "tamborex/storage/port_names.h"

namespace {

namespace key = patchkey;

constexpr std::int64_t kInt32Min = kJsonInt32Min;
constexpr std::int64_t kInt32Max = kJsonInt32Max;
constexpr std::int64_t kMidiDataMax = 127;
constexpr std::int64_t kChannelMax = 15;
// A bound far above anything a file holds, so that a count stays a 32-bit number.
constexpr std::size_t kMaxUnusedSysEx = 65536;

class CImporter : public CJsonChecker {
  public:
    using CJsonChecker::CJsonChecker;

    void File(const PatchJson& root, CPatchFileText& file) {
        if (!Object(root, "", {key::kName, key::kNameBytes, key::kSlots}, "a patch file")) {
            return;
        }
        const PatchJson* name = Get(root, "", key::kName, false);
        const PatchJson* nameBytes = Get(root, "", key::kNameBytes, false);
        if (name != nullptr && nameBytes != nullptr) {
            Fail(key::kNameBytes, "give the name either as text (name) or as bytes (nameBytes)");
        } else if (name != nullptr) {
            if (name->is_string()) {
                file.name = name->get<std::string>();
            } else {
                Fail(key::kName, "must be text, not " + DescribeJson(*name));
            }
        } else if (nameBytes != nullptr) {
            if (std::vector<std::uint8_t> bytes; Hex(*nameBytes, key::kNameBytes, bytes)) {
                file.name.assign(bytes.begin(), bytes.end());
            }
        } else {
            Fail(key::kName, "missing");
        }
        const PatchJson* slots = List(root, "", key::kSlots, 2, 2, "slots");
        if (slots == nullptr) {
            return;
        }
        for (std::size_t s = 0; s < 2; ++s) {
            Slot((*slots)[s], JsonPathIndex(key::kSlots, s), file.slots[s], file.versions[s],
                 file.unusedSysEx[s]);
        }
    }

    void Slot(const PatchJson& value, const std::string& path, CPatch& p, std::int32_t& version,
              std::vector<std::vector<std::uint8_t>>& unusedSysEx) {
        if (!Object(value, path,
                    {key::kVersion, key::kActive, key::kJoystick, key::kSensitivity,
                     key::kOutputDevice, key::kPollInterval, key::kMarks, key::kReserved,
                     key::kAxes, key::kButtons, key::kSysEx, key::kUnusedSysEx},
                    "a slot")) {
            return;
        }
        version = kPatchVersion;
        (void)Int(value, path, key::kVersion, kFirstVersion, kPatchVersion, version, false);
        (void)Flag(value, path, key::kActive, p.active);
        (void)Int(value, path, key::kJoystick, kInt32Min, kInt32Max, p.joystickNumber);
        (void)Int(value, path, key::kSensitivity, kInt32Min, kInt32Max, p.joystickSensitivity);
        (void)Int(value, path, key::kOutputDevice, kInt32Min, kInt32Max, p.outputDevice);
        (void)Int(value, path, key::kPollInterval, kInt32Min, kInt32Max, p.pollIntervalCode);
        Reserved(value, path, p);
        if (const PatchJson* axes = List(value, path, key::kAxes, kAxisCount, kAxisCount,
                                         "axes (X, Y, Z, RX, RY, RZ)")) {
            for (std::size_t a = 0; a < kAxisCount; ++a) {
                Axis((*axes)[a], JsonPathIndex(JsonPathMember(path, key::kAxes), a), p.axes[a],
                     version);
            }
        }
        if (const PatchJson* buttons =
                List(value, path, key::kButtons, kButtonCount, kButtonCount, "buttons")) {
            for (std::size_t b = 0; b < kButtonCount; ++b) {
                Button((*buttons)[b], JsonPathIndex(JsonPathMember(path, key::kButtons), b),
                       p.buttons[b]);
            }
        }
        if (Newer(value, path, key::kSysEx, version, kVersionWithSysEx,
                  "system-exclusive messages")) {
            SysEx(value, path, p);
        }
        if (Newer(value, path, key::kUnusedSysEx, version, kVersionWithSysEx,
                  "system-exclusive messages")) {
            UnusedSysEx(value, path, p, unusedSysEx);
        }
    }

    // Whether a slot of this version has the key, which was added to the layout at since; the
    // key is refused where the version has no room for it, so an edit is never dropped unseen.
    bool Newer(const PatchJson& object, const std::string& path, const char* k,
               std::int32_t version, std::int32_t since, const char* what) {
        if (version >= since) {
            return true;
        }
        if (object.contains(k)) {
            Fail(JsonPathMember(path, k),
                 "a slot of version " + std::to_string(version) + " keeps no " + what +
                     "; leave the key out, or the slot's version out to write the current "
                     "layout");
        }
        return false;
    }

    void Reserved(const PatchJson& value, const std::string& path, CPatch& p) {
        const PatchJson* marks = Get(value, path, key::kMarks, false);
        const PatchJson* raw = Get(value, path, key::kReserved, false);
        if (marks != nullptr && raw != nullptr) {
            Fail(JsonPathMember(path, key::kReserved),
                 "give the reserved block either as marks or as bytes (reserved), not both");
            return;
        }
        if (raw != nullptr) {
            const std::string at = JsonPathMember(path, key::kReserved);
            std::vector<std::uint8_t> bytes;
            if (!Hex(*raw, at, bytes)) {
                return;
            }
            if (bytes.size() != kReservedSize) {
                Fail(at, "must hold " + std::to_string(kReservedSize) + " bytes, not " +
                             std::to_string(bytes.size()));
                return;
            }
            std::copy(bytes.begin(), bytes.end(), p.reserved.begin());
        } else if (marks != nullptr) {
            Marks(*marks, JsonPathMember(path, key::kMarks), p);
        }
    }

    void Marks(const PatchJson& value, const std::string& path, CPatch& p) {
        if (!Object(value, path,
                    {key::kOutputPort, key::kOutputPortKey, key::kControllerName,
                     key::kControllerGuid, key::kGamepadLayout},
                    "the marks")) {
            return;
        }
        CPatchMarks marks;
        const std::pair<const char*, std::string CPatchMarks::*> texts[] = {
            {key::kOutputPort, &CPatchMarks::outputPort},
            {key::kOutputPortKey, &CPatchMarks::outputPortKey},
            {key::kControllerName, &CPatchMarks::controllerName},
            {key::kControllerGuid, &CPatchMarks::controllerGuid}};
        bool ok = true;
        for (const auto& [k, field] : texts) {
            if (const PatchJson* text = Get(value, path, k, false)) {
                if (text->is_string()) {
                    marks.*field = text->get<std::string>();
                } else {
                    Fail(JsonPathMember(path, k), "must be text, not " + DescribeJson(*text));
                    ok = false;
                }
            }
        }
        if (const PatchJson* pad = Get(value, path, key::kGamepadLayout, false)) {
            if (pad->is_boolean()) {
                marks.gamepadLayout = pad->get<bool>();
            } else {
                Fail(JsonPathMember(path, key::kGamepadLayout),
                     "must be true or false, not " + DescribeJson(*pad));
                ok = false;
            }
        }
        if (!ok) {
            return;
        }
        // The block has 256 bytes: what does not fit is named, never cut off unseen.
        WritePatchMarks(p, marks);
        const CPatchMarks kept = ReadPatchMarks(p);
        const std::string room =
            "does not fit in the slot's reserved block beside the other "
            "marks (" +
            std::to_string(kReservedSize) + " bytes for all of them)";
        for (const auto& [k, field] : texts) {
            if (kept.*field != marks.*field) {
                Fail(JsonPathMember(path, k), room);
            }
        }
        if (kept.gamepadLayout != marks.gamepadLayout) {
            Fail(JsonPathMember(path, key::kGamepadLayout), room);
        }
    }

    void Axis(const PatchJson& value, const std::string& path, AxisRecord& a,
              std::int32_t version) {
        if (!Object(value, path,
                    {key::kController, key::kChannel, key::kMin, key::kMax, key::kReverse,
                     key::kFullRange, key::kNrpnMsb, key::kNrpnLsb, key::kMinimumMovement,
                     key::kValue, key::kShape},
                    "an axis")) {
            return;
        }
        Controller(value, path, a);
        (void)Int(value, path, key::kChannel, 0, kChannelMax, a.channel);
        const bool min = Int(value, path, key::kMin, 0, kMidiDataMax, a.min);
        const bool max = Int(value, path, key::kMax, 0, kMidiDataMax, a.max);
        if (min && max && a.min > a.max) {
            Fail(JsonPathMember(path, key::kMin), "is above max (" + std::to_string(a.min) + " > " +
                                                      std::to_string(a.max) +
                                                      "); to turn the axis round, use reverse");
        }
        (void)Flag(value, path, key::kReverse, a.reversePolarity);
        (void)Flag(value, path, key::kFullRange, a.fullRange);
        const bool msb =
            Newer(value, path, key::kNrpnMsb, version, kVersionWithNrpn, "NRPN numbers");
        const bool lsb =
            Newer(value, path, key::kNrpnLsb, version, kVersionWithNrpn, "NRPN numbers");
        if (msb && lsb) {
            (void)Int(value, path, key::kNrpnMsb, 0, kMidiDataMax, a.nrpnMsb);
            (void)Int(value, path, key::kNrpnLsb, 0, kMidiDataMax, a.nrpnLsb);
        }
        if (Newer(value, path, key::kMinimumMovement, version, kVersionWithMinimumMovement,
                  "minimum movement")) {
            (void)Int(value, path, key::kMinimumMovement, kInt32Min, kInt32Max, a.minimumMovement);
        }
        a.value = kDefaultAxisValue;
        (void)Int(value, path, key::kValue, kInt32Min, kInt32Max, a.value, false);
        a.shape = AxisShape{};
        if (const PatchJson* shape = Get(value, path, key::kShape, false)) {
            CheckShape(*this, *shape, JsonPathMember(path, key::kShape), a.shape);
        }
    }

    void Controller(const PatchJson& axis, const std::string& path, AxisRecord& a) {
        const PatchJson* value = Get(axis, path, key::kController);
        if (value == nullptr) {
            return;
        }
        const std::string at = JsonPathMember(path, key::kController);
        if (value->is_string() && *value == kControllerNone) {
            a.controller = kSelectNone;
        } else if (value->is_string() && *value == kControllerPitchBend) {
            a.controller = kSelectPitchBend;
        } else if (value->is_number_integer()) {
            std::int32_t number = 0;
            if (IntValue(*value, at, 0, kMidiDataMax, number)) {
                a.controller = number + 2;
            }
        } else {
            Fail(at, std::string("must be a controller number from 0 to 127, \"") +
                         kControllerNone + "\" or \"" + kControllerPitchBend + "\", not " +
                         DescribeJson(*value));
        }
    }

    void Button(const PatchJson& value, const std::string& path, ButtonRecord& b) {
        if (!Object(
                value, path,
                {key::kMode, key::kData1, key::kData2, key::kChannel, key::kNotes, key::kVelocities,
                 key::kTimes, key::kSteps, key::kAuto, key::kCurrentStep, key::kPressed},
                "a button")) {
            return;
        }
        (void)Int(value, path, key::kMode, 0, kButtonModeCount - 1, b.mode);
        (void)Int(value, path, key::kData1, 0, kMidiDataMax, b.data1);
        (void)Int(value, path, key::kData2, 0, kMidiDataMax, b.data2);
        (void)Int(value, path, key::kChannel, 0, kChannelMax, b.channel);
        IntList(value, path, key::kNotes, 0, kMidiDataMax, b.notes);
        IntList(value, path, key::kVelocities, 0, kMidiDataMax, b.velocities);
        IntList(value, path, key::kTimes, 0, kInt32Max, b.times);
        (void)Int(value, path, key::kSteps, 1, kArpSteps, b.stepCount);
        (void)Flag(value, path, key::kAuto, b.autoArpeggiation);
        b.currentStep = kDefaultCurrentStep;
        (void)Int(value, path, key::kCurrentStep, kInt32Min, kInt32Max, b.currentStep, false);
        b.pressed = kDefaultPressed;
        (void)Int(value, path, key::kPressed, kInt32Min, kInt32Max, b.pressed, false);
    }

    void SysEx(const PatchJson& slot, const std::string& path, CPatch& p) {
        const PatchJson* list = List(slot, path, key::kSysEx, 0, kSysExCount, "messages");
        if (list == nullptr) {
            return;
        }
        if (!p.sysEx) {
            p.sysEx.emplace();
        }
        p.sysExCount = static_cast<std::int32_t>(list->size());
        for (std::size_t i = 0; i < list->size(); ++i) {
            std::vector<std::uint8_t> bytes;
            if (Message((*list)[i], JsonPathIndex(JsonPathMember(path, key::kSysEx), i), bytes)) {
                std::copy(bytes.begin(), bytes.end(), p.sysEx->buffers[i].begin());
                p.sysEx->lengths[i] = static_cast<std::int32_t>(bytes.size());
            }
        }
    }

    // Messages a file holds past the four, which Tamborex skips: kept only so that such a file
    // comes back whole.
    void UnusedSysEx(const PatchJson& slot, const std::string& path, const CPatch& p,
                     std::vector<std::vector<std::uint8_t>>& unused) {
        if (!slot.contains(key::kUnusedSysEx)) {
            return;
        }
        const std::string at = JsonPathMember(path, key::kUnusedSysEx);
        const PatchJson* list = List(slot, path, key::kUnusedSysEx, 0, kMaxUnusedSysEx, "messages");
        if (list == nullptr) {
            return;
        }
        if (!list->empty() && p.sysExCount != kSysExCount) {
            Fail(at, "only a slot with four messages in sysex has messages past them");
            return;
        }
        unused.resize(list->size());
        for (std::size_t i = 0; i < list->size(); ++i) {
            (void)Message((*list)[i], JsonPathIndex(at, i), unused[i]);
        }
    }

    // A message as the file keeps it. One that does not start with F0 and end with F7 is kept
    // as it is, as the file reader keeps it: the port never sends it.
    bool Message(const PatchJson& value, const std::string& at, std::vector<std::uint8_t>& bytes) {
        if (!Hex(value, at, bytes)) {
            return false;
        }
        if (bytes.size() > kSysExBufferSize) {
            Fail(at, "holds " + std::to_string(bytes.size()) + " bytes; a message holds at most " +
                         std::to_string(kSysExBufferSize));
            return false;
        }
        return true;
    }
};

}  // namespace

bool PatchFileFromJson(std::string_view json, std::vector<std::uint8_t>& bytes,
                       std::vector<CPatchJsonProblem>& problems) {
    problems.clear();
    PatchJson root;
    if (CPatchJsonProblem problem; !ParsePatchJson(json, root, problem)) {
        problems.push_back(std::move(problem));
        return false;
    }
    const CJsonLocations where(json);
    for (const CJsonLocations::Duplicate& duplicate : where.Duplicates()) {
        problems.push_back({duplicate.line, duplicate.path, "given twice in the same object"});
    }
    CPatchFileText file;
    CImporter(where, problems).File(root, file);
    if (!problems.empty()) {
        std::stable_sort(
            problems.begin(), problems.end(),
            [](const CPatchJsonProblem& a, const CPatchJsonProblem& b) { return a.line < b.line; });
        return false;
    }
    bytes = FormatPatchFileText(file);
    return true;
}

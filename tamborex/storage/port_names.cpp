#include "tamborex/storage/port_names.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kTagSize = 4;
constexpr char kPortTag[] = "PORT";
constexpr char kNameTag[] = "JNAM";
constexpr char kGuidTag[] = "JGID";
constexpr char kPadTag[] = "JPAD";

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

}  // namespace

CPatchMarks ReadPatchMarks(const CPatch& patch) {
    CPatchMarks marks;
    const auto* block = reinterpret_cast<const char*>(patch.reserved.data());
    std::size_t at = 0;
    while (at + kTagSize + 1 <= patch.reserved.size()) {
        const std::string_view tag(block + at, kTagSize);
        const std::size_t length =
            std::min<std::size_t>(patch.reserved[at + kTagSize], kReservedSize - at - kTagSize - 1);
        const std::string value(block + at + kTagSize + 1, length);
        if (tag == kPortTag) {
            marks.outputPort = value;
        } else if (tag == kNameTag) {
            marks.controllerName = value;
        } else if (tag == kGuidTag) {
            marks.controllerGuid = value;
        } else if (tag == kPadTag) {
            marks.gamepadLayout = value == "1";
        } else {
            break;  // zeros: the end of the marks
        }
        at += kTagSize + 1 + length;
    }
    return marks;
}

void WritePatchMarks(CPatch& patch, const CPatchMarks& marks) {
    patch.reserved.fill(0);
    std::size_t at = 0;
    // The port's name is cut to the room, as it always was; a cut controller mark would name no
    // controller, so one that does not fit whole is left out.
    auto put = [&](const char* tag, std::string_view value, bool mayCut = false) {
        const std::size_t used = std::min(at + kTagSize + 1, patch.reserved.size());
        const std::size_t room = std::min<std::size_t>(patch.reserved.size() - used, 255);
        if (value.empty() || room == 0 || (!mayCut && value.size() > room)) {
            return;
        }
        const std::size_t length = std::min(value.size(), room);
        std::memcpy(patch.reserved.data() + at, tag, kTagSize);
        patch.reserved[at + kTagSize] = static_cast<std::uint8_t>(length);
        std::memcpy(patch.reserved.data() + at + kTagSize + 1, value.data(), length);
        at += kTagSize + 1 + length;
    };
    put(kPortTag, marks.outputPort, true);
    put(kNameTag, marks.controllerName);
    put(kGuidTag, marks.controllerGuid);
    put(kPadTag, marks.gamepadLayout ? "1" : "");
}

std::string OutputPortName(const CPatch& patch) {
    return ReadPatchMarks(patch).outputPort;
}

void SetOutputPortName(CPatch& patch, std::string_view name) {
    CPatchMarks marks = ReadPatchMarks(patch);
    marks.outputPort = name;
    WritePatchMarks(patch, marks);
}

std::vector<std::uint8_t> FormatExtraSettings(const CExtraSettings& settings) {
    // Line breaks in a name would start a new key: they cannot be in a port name anyway.
    std::string inName = settings.midiInPortName;
    std::replace(inName.begin(), inName.end(), '\n', ' ');
    const std::string text =
        "[MIDI]\nSystem=" + settings.midiSystem + "\nInputPort=" + inName +
        "\n\n[Input]\nLowLatencyInput=" + (settings.lowLatencyInput ? "1" : "0") + "\n";
    return {text.begin(), text.end()};
}

CExtraSettings ParseExtraSettings(std::string_view text) {
    CExtraSettings settings;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = Trimmed(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        const std::string_view key = Trimmed(line.substr(0, equals));
        const std::string_view value = Trimmed(line.substr(equals + 1));
        if (key == "System") {
            settings.midiSystem = value;
        } else if (key == "InputPort") {
            settings.midiInPortName = value;
        } else if (key == "LowLatencyInput") {
            settings.lowLatencyInput = value != "0";
        }
    }
    return settings;
}

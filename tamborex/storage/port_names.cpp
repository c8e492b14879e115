#include "tamborex/storage/port_names.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::size_t kTagSize = 4;
constexpr std::size_t kRecordHead = kTagSize + 1;  // the tag and the length byte
constexpr std::size_t kBlockSize = kReservedSize;
constexpr std::size_t kKeySize = 16;  // a 64-bit hash in hexadecimal
constexpr char kPortTag[] = "PORT";
constexpr char kNameTag[] = "JNAM";
constexpr char kGuidTag[] = "JGID";
constexpr char kPadTag[] = "JPAD";
constexpr char kPortKeyTag[] = "PKEY";

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

// A record's tag: four capital letters. Anything else (zeros) ends the marks.
bool IsTag(std::string_view tag) {
    return std::all_of(tag.begin(), tag.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

// The first at most maxBytes bytes of text, ending between two UTF-8 characters.
std::string_view CutBetweenLetters(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) {
        return text;
    }
    std::size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return text.substr(0, end);
}

std::size_t RecordSize(std::string_view value) {
    return value.empty() ? 0 : kRecordHead + value.size();
}

}  // namespace

CPatchMarks ReadPatchMarks(const CPatch& patch) {
    CPatchMarks marks;
    const auto* block = reinterpret_cast<const char*>(patch.reserved.data());
    std::size_t at = 0;
    while (at + kRecordHead <= patch.reserved.size()) {
        const std::string_view tag(block + at, kTagSize);
        if (!IsTag(tag)) {
            break;  // zeros: the end of the marks
        }
        const std::size_t length =
            std::min<std::size_t>(patch.reserved[at + kTagSize], kReservedSize - at - kRecordHead);
        const std::string value(block + at + kRecordHead, length);
        if (tag == kPortTag) {
            marks.outputPort = value;
        } else if (tag == kNameTag) {
            marks.controllerName = value;
        } else if (tag == kGuidTag) {
            marks.controllerGuid = value;
        } else if (tag == kPadTag) {
            marks.gamepadLayout = value == "1";
        } else if (tag == kPortKeyTag) {
            marks.outputPortKey = value;
        }
        // A tag of a later version is passed over.
        at += kRecordHead + length;
    }
    return marks;
}

CMarksLeftOut WritePatchMarks(CPatch& patch, const CPatchMarks& marks) {
    patch.reserved.fill(0);
    struct Mark {
        const char* tag;
        std::string_view value;
        const char* what;
    };
    const Mark controller[] = {
        {kNameTag, marks.controllerName, "the controller's name"},
        {kGuidTag, marks.controllerGuid, "the controller's GUID"},
        {kPadTag, marks.gamepadLayout ? "1" : "", "the gamepad layout"},
    };
    // The controller marks that fit in room, in their order; a controller mark is whole or not
    // there, since a cut one would name no controller. Gives the room left.
    auto fit = [&](std::size_t room, std::vector<const Mark*>& kept, CMarksLeftOut& out) {
        for (const Mark& mark : controller) {
            if (RecordSize(mark.value) <= room && !mark.value.empty()) {
                room -= RecordSize(mark.value);
                kept.push_back(&mark);
            } else if (!mark.value.empty()) {
                out.marks.emplace_back(mark.what);
            }
        }
        return room;
    };
    // The port's name whole where it fits beside the controller marks; otherwise its start and
    // its key, and the whole name goes beside the bank.
    const std::string_view port = marks.outputPort;
    std::vector<const Mark*> kept;
    CMarksLeftOut leftOut;
    fit(kBlockSize - std::min(RecordSize(port), kBlockSize), kept, leftOut);
    std::vector<const Mark*> keptBesideCut;
    CMarksLeftOut leftOutBesideCut;
    const std::size_t startRoom =
        fit(kBlockSize - kRecordHead - kRecordHead - kKeySize, keptBesideCut, leftOutBesideCut);
    const bool cut = !marks.outputPortKey.empty() ||
                     (!port.empty() && (RecordSize(port) > kBlockSize ||
                                        leftOut.marks.size() > leftOutBesideCut.marks.size()));
    if (cut) {
        kept = std::move(keptBesideCut);
        leftOut = std::move(leftOutBesideCut);
        if (marks.outputPortKey.empty()) {
            leftOut.wholePortName = port;
        }
    }
    std::size_t at = 0;
    auto put = [&](const char* tag, std::string_view value) {
        std::memcpy(patch.reserved.data() + at, tag, kTagSize);
        patch.reserved[at + kTagSize] = static_cast<std::uint8_t>(value.size());
        std::memcpy(patch.reserved.data() + at + kRecordHead, value.data(), value.size());
        at += kRecordHead + value.size();
    };
    if (!port.empty() || cut) {
        put(kPortTag, cut ? CutBetweenLetters(port, startRoom) : port);
    }
    for (const Mark* mark : kept) {
        put(mark->tag, mark->value);
    }
    // Last, where a reader of older versions, which stops at a tag it does not know, has read
    // the controller marks already.
    if (cut) {
        put(kPortKeyTag, marks.outputPortKey.empty() ? PortNameKey(port) : marks.outputPortKey);
    }
    return leftOut;
}

std::string PortNameKey(std::string_view wholeName) {
    // FNV-1a: the key only has to tell apart the few long names one bank ever meets.
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : wholeName) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

std::string FindWholePortName(const CPatchMarks& marks, const std::vector<std::string>& names) {
    if (marks.outputPortKey.empty()) {
        return {};
    }
    const auto it = std::find_if(names.begin(), names.end(), [&](const std::string& name) {
        return name.starts_with(marks.outputPort) && PortNameKey(name) == marks.outputPortKey;
    });
    return it != names.end() ? *it : std::string();
}

std::vector<std::uint8_t> FormatLongPortNames(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        // A line break would split the name: such a name is not kept (no port has one).
        if (name.find_first_of("\r\n") == std::string::npos) {
            text += name + "\n";
        }
    }
    return {text.begin(), text.end()};
}

std::vector<std::string> ParseLongPortNames(std::string_view text) {
    std::vector<std::string> names;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (!line.empty()) {
            names.emplace_back(line);
        }
    }
    return names;
}

std::string OutputPortName(const CPatch& patch) {
    return ReadPatchMarks(patch).outputPort;
}

void SetOutputPortName(CPatch& patch, std::string_view name) {
    CPatchMarks marks = ReadPatchMarks(patch);
    marks.outputPort = name;
    marks.outputPortKey.clear();
    WritePatchMarks(patch, marks);
}

std::vector<std::uint8_t> FormatExtraSettings(const CExtraSettings& settings) {
    // Line breaks in a name would start a new key: they cannot be in a port name anyway.
    std::string inName = settings.midiInPortName;
    std::replace(inName.begin(), inName.end(), '\n', ' ');
    std::string oscOut = settings.oscOut;
    std::string oscIn = settings.oscIn;
    std::replace(oscOut.begin(), oscOut.end(), '\n', ' ');
    std::replace(oscIn.begin(), oscIn.end(), '\n', ' ');
    const std::string text =
        "[MIDI]\nSystem=" + settings.midiSystem + "\nInputPort=" + inName +
        "\n\n[Input]\nLowLatencyInput=" + (settings.lowLatencyInput ? "1" : "0") +
        "\n\n[OSC]\nOscOut=" + oscOut + "\nOscIn=" + oscIn + "\n";
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
        } else if (key == "OscOut") {
            settings.oscOut = value;
        } else if (key == "OscIn") {
            settings.oscIn = value;
        }
    }
    return settings;
}

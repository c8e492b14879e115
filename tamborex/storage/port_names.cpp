#include "tamborex/storage/port_names.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr char kTag[4] = {'P', 'O', 'R', 'T'};
constexpr std::size_t kNameRoom = kReservedSize - sizeof kTag - 1;

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

std::string OutputPortName(const CPatch& patch) {
    if (std::memcmp(patch.reserved.data(), kTag, sizeof kTag) != 0) {
        return {};
    }
    const std::size_t length = std::min<std::size_t>(patch.reserved[sizeof kTag], kNameRoom);
    const auto* name = reinterpret_cast<const char*>(patch.reserved.data()) + sizeof kTag + 1;
    return std::string(name, length);
}

void SetOutputPortName(CPatch& patch, std::string_view name) {
    patch.reserved.fill(0);
    if (name.empty()) {
        return;
    }
    const std::size_t length = std::min(name.size(), kNameRoom);
    std::memcpy(patch.reserved.data(), kTag, sizeof kTag);
    patch.reserved[sizeof kTag] = static_cast<std::uint8_t>(length);
    std::memcpy(patch.reserved.data() + sizeof kTag + 1, name.data(), length);
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

int FollowPortName(const std::vector<std::string>& names, const std::string& remembered,
                   int storedIndex) {
    if (remembered.empty() || storedIndex < 0) {
        return storedIndex;
    }
    const auto it = std::find(names.begin(), names.end(), remembered);
    return it == names.end() ? -1 : static_cast<int>(it - names.begin());
}

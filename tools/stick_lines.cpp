#include "stick_lines.h"

#include <algorithm>
#include <sstream>

namespace {

void ReadLine(const std::string& line, std::vector<StickCommand>& commands) {
    std::istringstream words(line);
    std::string kind;
    int index = 0;
    std::string value;
    while (words >> kind >> index >> value) {
        if (kind == "b") {
            commands.push_back({StickCommand::Kind::Button, index, value == "down" ? 1 : 0});
        } else if (kind == "s") {
            commands.push_back({StickCommand::Kind::Plug, index, value == "in" ? 1 : 0});
        } else if (long position = 0; kind == "a" && std::istringstream(value) >> position) {
            commands.push_back({StickCommand::Kind::Axis, index,
                                static_cast<int>(std::clamp(position, -32768L, 32767L))});
        }
    }
}

}  // namespace

std::vector<StickCommand> StickLineReader::Feed(std::string_view text) {
    std::vector<StickCommand> commands;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view part = text.substr(0, end);
        if (!overlong_ && pending_.size() + part.size() <= kMaxLine) {
            pending_.append(part);
        } else {
            overlong_ = true;
            pending_.clear();
        }
        if (end == std::string_view::npos) {
            break;
        }
        if (!overlong_) {
            ReadLine(pending_, commands);
        }
        pending_.clear();
        overlong_ = false;
        text.remove_prefix(end + 1);
    }
    return commands;
}

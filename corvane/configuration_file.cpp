#include "configuration_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "platform/file_io.h"

namespace corvane {
namespace {

std::string StripCr(const std::string& line) {
    return !line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line;
}

// One integer as %i reads it: white space (line ends too) skipped, sign, then decimal, octal
// after a leading 0 or hexadecimal after 0x. Out-of-range values saturate.
bool ReadInteger(const char*& cursor, std::int32_t& value) {
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(cursor, &end, 0);
    if (end == cursor) {
        return false;
    }
    cursor = end;
    value = static_cast<std::int32_t>(std::clamp<long long>(parsed, INT32_MIN, INT32_MAX));
    return true;
}

}  // namespace

std::string ConfigurationLineName(const std::string& line) {
    const std::string text = StripCr(line);
    const auto begin = text.find_first_not_of('"');
    if (begin == std::string::npos) {
        return {};
    }
    return text.substr(begin, text.find('"', begin) - begin);
}

std::string FormatConfigurationLine(const std::string& name, const ControlTable& table) {
    std::ostringstream line;
    line << '"' << name << '"';
    for (const ControlAssignment& c : table) {
        line << ' ' << c.type << ' ' << c.min << ' ' << c.mid << ' ' << c.max << ' '
             << c.overrideAxis;
    }
    line << '\n';
    return line.str();
}

std::string CheckConfigurationName(const std::string& name, const ControlTable& table) {
    if (name.empty()) {
        return "Please type a name for the configuration.";
    }
    if (name.find('"') != std::string::npos) {
        return "A configuration name cannot contain a double quote (\").";
    }
    if (name.find_first_of("\r\n") != std::string::npos) {
        return "A configuration name cannot contain a line break.";
    }
    const std::size_t length = FormatConfigurationLine(name, table).size();
    if (length > kMaxLineLength) {
        return "The name is too long: a configuration line may hold " +
               std::to_string(kMaxLineLength) + " characters, this one would need " +
               std::to_string(length) + ". Please use a shorter name.";
    }
    return {};
}

ConfigurationFile::ReadResult ConfigurationFile::ReadLines(std::vector<std::string>& lines,
                                                           std::string& content) const {
    std::vector<std::uint8_t> bytes;
    if (!platform::ReadWholeFile(path_, bytes, readError_, kMaxFileSize)) {
        return readError_ == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    }
    content.assign(bytes.begin(), bytes.end());
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos) {
            end = content.size();
        }
        lines.push_back(content.substr(start, end - start));
        start = end + 1;
    }
    return ReadResult::Read;
}

namespace {
// A line that can hold a configuration: not blank, not too long, with a name.
bool HoldsConfiguration(const std::string& line) {
    return line.size() <= kMaxReadLineLength && !ConfigurationLineName(line).empty();
}
}  // namespace

std::vector<std::string> ConfigurationFile::ReadNames() {
    std::vector<std::string> lines;
    std::string content;
    std::vector<std::string> names;
    lastError_.clear();
    if (const ReadResult result = ReadLines(lines, content); result != ReadResult::Read) {
        if (result == ReadResult::Failed) {
            lastError_ = "Could not read \"" + path_ + "\" (" + ReadError() +
                         "). Its configurations are not shown, and saving is refused so that "
                         "none of them is lost.";
        }
        return names;
    }
    std::size_t tooLong = 0;
    for (const std::string& line : lines) {
        if (HoldsConfiguration(line)) {
            names.push_back(ConfigurationLineName(line));
        } else if (line.size() > kMaxReadLineLength) {
            ++tooLong;
        }
    }
    if (tooLong > 0) {
        lastError_ = std::to_string(tooLong) + " line(s) of \"" + path_ + "\" are longer than " +
                     std::to_string(kMaxReadLineLength) +
                     " characters: they hold no configuration and are not shown. They stay in the "
                     "file as they are.";
    }
    return names;
}

bool ConfigurationFile::LoadConfiguration(const std::string& name, ControlTable& table) const {
    std::vector<std::string> lines;
    std::string content;
    if (name.empty() || ReadLines(lines, content) != ReadResult::Read) {
        return false;
    }
    std::size_t offset = 0;
    for (const std::string& line : lines) {
        const std::size_t lineStart = offset;
        offset += line.size() + 1;
        if (!HoldsConfiguration(line) || ConfigurationLineName(line) != name) {
            continue;
        }
        // Past the opening quotes, the name and the closing quote, then up to 35 numbers; a
        // short line leaves the fields after its last number as they were.
        std::size_t pos = lineStart + line.find_first_not_of('"') + name.size();
        if (pos < content.size() && content[pos] == '"') {
            ++pos;
        }
        const char* cursor = content.c_str() + pos;
        bool reading = true;
        for (ControlAssignment& c : table) {
            for (std::atomic<std::int32_t>* field :
                 {&c.type, &c.min, &c.mid, &c.max, &c.overrideAxis}) {
                std::int32_t value = 0;
                reading = reading && ReadInteger(cursor, value);
                if (reading) {
                    field->store(value);
                }
            }
            // A type no list offers would send a controller the user never chose (120 to 127
            // even switch a synth's mode): such a control is left unassigned.
            if (c.type < kTypeUnassigned || c.type > 127) {
                c.type = kTypeUnassigned;
            }
        }
        return true;
    }
    return false;
}

bool ConfigurationFile::RemoveConfiguration(const std::string& name) {
    std::vector<std::string> lines;
    std::string content;
    switch (ReadLines(lines, content)) {
        case ReadResult::Missing:
            return true;  // nothing to remove
        case ReadResult::Failed:
            return ReadFailed();
        case ReadResult::Read:
            break;
    }
    std::erase_if(lines, [&](const std::string& line) {
        return !StripCr(line).empty() && ConfigurationLineName(line) == name;
    });
    return WriteLines(lines);
}

bool ConfigurationFile::SaveConfiguration(const std::string& name, const ControlTable& table) {
    std::vector<std::string> lines;
    std::string content;
    // Writing without having read what is there would throw every other configuration away.
    if (ReadLines(lines, content) == ReadResult::Failed) {
        return ReadFailed();
    }
    std::erase_if(lines, [&](const std::string& line) {
        return !StripCr(line).empty() && ConfigurationLineName(line) == name;
    });
    std::string line = FormatConfigurationLine(name, table);
    line.pop_back();
    lines.push_back(std::move(line));
    return WriteLines(lines);
}

std::string ConfigurationFile::ReadError() const {
    return platform::ReadFailureText(readError_, kMaxFileSize);
}

bool ConfigurationFile::ReadFailed() {
    lastError_ = "Could not read \"" + path_ + "\" (" + ReadError() + "), so nothing was changed.";
    return false;
}

bool ConfigurationFile::WriteLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += '\n';
    }
    int cause = 0;
    platform::WriteStage failedAt = platform::WriteStage::Create;
    if (!platform::WriteFileAtomically(
            path_, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, cause,
            failedAt)) {
        const char* what = failedAt == platform::WriteStage::Create  ? "creating a temporary file"
                           : failedAt == platform::WriteStage::Write ? "writing"
                                                                     : "replacing the file";
        lastError_ = "Could not save the configurations to \"" + path_ + "\" (" + what + ": " +
                     std::strerror(cause) + "). The file was left as it was.";
        return false;
    }
    lastError_.clear();
    return true;
}

}  // namespace corvane

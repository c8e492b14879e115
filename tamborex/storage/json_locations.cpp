#include "tamborex/storage/json_locations.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>

namespace {

bool IsPlainWord(std::string_view key) {
    if (key.empty() || (key.front() >= '0' && key.front() <= '9')) {
        return false;
    }
    return std::all_of(key.begin(), key.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_';
    });
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Deeper than a patch's text ever nests, or under a key longer than any of its keys, nothing is
// looked up: paths there are not built, so a hostile text costs no more than its own size.
constexpr std::size_t kDeepestRecorded = 32;
constexpr std::size_t kLongestRecordedPath = 1024;

// A key as a path shows it: a very long one is cut (between two characters) and marked.
constexpr std::size_t kLongestKeyShown = 64;
std::string_view Shown(std::string_view key, bool& cut) {
    cut = key.size() > kLongestKeyShown;
    if (!cut) {
        return key;
    }
    std::size_t end = kLongestKeyShown;
    while (end > 0 && (static_cast<unsigned char>(key[end]) & 0xC0) == 0x80) {
        --end;
    }
    return key.substr(0, end);
}

}  // namespace

std::string JsonPathMember(const std::string& parent, std::string_view key) {
    bool cut = false;
    const std::string_view shown = Shown(key, cut);
    if (IsPlainWord(key) && !cut) {
        return parent.empty() ? std::string(key) : parent + "." + std::string(key);
    }
    // The parser took only valid UTF-8 and the cut falls between characters, so dumping cannot
    // fail; its escapes keep control characters out of a terminal.
    return parent + "[" + nlohmann::json(std::string(shown)).dump() + (cut ? "..." : "") + "]";
}

std::string JsonPathIndex(const std::string& parent, std::size_t index) {
    return parent + "[" + std::to_string(index) + "]";
}

std::size_t LineAtOffset(std::string_view text, std::size_t offset) {
    const std::size_t end = std::min(offset, text.size());
    return 1 + static_cast<std::size_t>(std::count(text.begin(), text.begin() + end, '\n'));
}

CJsonLocations::CJsonLocations(std::string_view text) {
    // An explicit stack instead of recursion: however deep the text nests, the walk needs no
    // more than the heap the text itself took.
    struct Frame {
        std::string path;
        bool object;
        bool recorded;  // whether its members' paths are kept
        std::size_t index = 0;
        std::set<std::string> keys;
    };
    std::vector<Frame> frames;
    std::size_t pos = 0;
    std::size_t counted = 0;  // newlines are counted up to here
    std::size_t line = 1;
    auto lineHere = [&] {
        line += static_cast<std::size_t>(
            std::count(text.begin() + static_cast<std::ptrdiff_t>(counted),
                       text.begin() + static_cast<std::ptrdiff_t>(pos), '\n'));
        counted = pos;
        return line;
    };
    auto skipSpace = [&] {
        while (pos < text.size() && IsSpace(text[pos])) {
            ++pos;
        }
    };
    auto skipString = [&] {
        ++pos;  // the opening quote
        while (pos < text.size() && text[pos] != '"') {
            pos += text[pos] == '\\' ? 2 : 1;
        }
        pos = std::min(pos + 1, text.size());
    };
    enum class Expect { Value, KeyOrEnd, ValueOrEnd, AfterValue };
    Expect expect = Expect::Value;
    std::string valuePath;
    while (true) {
        skipSpace();
        if (pos >= text.size()) {
            return;
        }
        const char c = text[pos];
        switch (expect) {
            case Expect::Value: {
                const bool recorded = frames.empty() || frames.back().recorded;
                if (recorded) {
                    lines_.try_emplace(valuePath, lineHere());
                }
                if (c == '{' || c == '[') {
                    frames.push_back(Frame{valuePath,
                                           c == '{',
                                           recorded && frames.size() < kDeepestRecorded &&
                                               valuePath.size() <= kLongestRecordedPath,
                                           0,
                                           {}});
                    ++pos;
                    expect = c == '{' ? Expect::KeyOrEnd : Expect::ValueOrEnd;
                } else if (c == '"') {
                    skipString();
                    expect = Expect::AfterValue;
                } else {
                    while (pos < text.size() && !IsSpace(text[pos]) && text[pos] != ',' &&
                           text[pos] != ']' && text[pos] != '}') {
                        ++pos;
                    }
                    expect = Expect::AfterValue;
                }
                break;
            }
            case Expect::KeyOrEnd: {
                if (c == '}') {
                    ++pos;
                    frames.pop_back();
                    expect = Expect::AfterValue;
                    break;
                }
                if (c != '"') {
                    return;
                }
                const std::size_t start = pos;
                skipString();
                Frame& frame = frames.back();
                if (frame.recorded) {
                    const std::size_t keyLine = lineHere();
                    std::string key;
                    try {
                        key = nlohmann::json::parse(text.substr(start, pos - start))
                                  .get<std::string>();
                    } catch (const nlohmann::json::exception&) {
                        return;  // not text a parser accepted
                    }
                    valuePath = JsonPathMember(frame.path, key);
                    if (!frame.keys.insert(std::move(key)).second) {
                        duplicates_.push_back({valuePath, keyLine});
                    }
                    lines_.try_emplace(valuePath, keyLine);
                }
                skipSpace();
                if (pos >= text.size() || text[pos] != ':') {
                    return;
                }
                ++pos;
                expect = Expect::Value;
                break;
            }
            case Expect::ValueOrEnd:
                if (c == ']') {
                    ++pos;
                    frames.pop_back();
                    expect = Expect::AfterValue;
                } else {
                    if (frames.back().recorded) {
                        valuePath = JsonPathIndex(frames.back().path, 0);
                    }
                    expect = Expect::Value;
                }
                break;
            case Expect::AfterValue:
                if (frames.empty()) {
                    return;
                }
                if (c == ',') {
                    ++pos;
                    Frame& frame = frames.back();
                    if (frame.object) {
                        expect = Expect::KeyOrEnd;
                    } else {
                        ++frame.index;
                        if (frame.recorded) {
                            valuePath = JsonPathIndex(frame.path, frame.index);
                        }
                        expect = Expect::Value;
                    }
                } else if (c == '}' || c == ']') {
                    ++pos;
                    frames.pop_back();
                } else {
                    return;
                }
                break;
        }
    }
}

std::size_t CJsonLocations::LineOf(const std::string& path) const {
    const auto found = lines_.find(path);
    return found == lines_.end() ? 0 : found->second;
}

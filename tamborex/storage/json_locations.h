#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Key paths as messages name them: members joined by dots, array elements by their index in
// brackets ("slots[1].axes[3].channel"). A key that is not a plain word is written as a JSON
// string in brackets (slots[0]["two words"]), so whatever a file holds prints as one line.
std::string JsonPathMember(const std::string& parent, std::string_view key);
std::string JsonPathIndex(const std::string& parent, std::size_t index);

// The line each key and array element of a JSON text starts on, by its path, and the keys that
// appear twice in one object. A JSON parser that builds values keeps no positions, so the text
// is walked once more for them. It is meant for text a parser has accepted; any other text gives
// partial answers, never a read past its end.
class CJsonLocations {
  public:
    explicit CJsonLocations(std::string_view text);

    // 1-based; 0 when the path is not in the text.
    std::size_t LineOf(const std::string& path) const;

    struct Duplicate {
        std::string path;
        std::size_t line;
    };
    // Every repeat of a key in the same object, where it repeats.
    const std::vector<Duplicate>& Duplicates() const { return duplicates_; }

  private:
    std::unordered_map<std::string, std::size_t> lines_;
    std::vector<Duplicate> duplicates_;
};

// The 1-based line of a byte offset into text.
std::size_t LineAtOffset(std::string_view text, std::size_t offset);

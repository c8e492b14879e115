#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// A patch file as JSON text, for diffs, review and sharing, and back to the same bytes. The keys
// are described in docs/file-formats.md ("Patches as text"); they are a public interface.

// What the text of a patch file cannot say, or why a text cannot become a patch file.
struct CPatchJsonProblem {
    std::size_t line = 0;  // 1-based; 0 when no line of the text applies
    std::string key;       // the key at fault, "slots[1].axes[3].channel"; empty for the whole
    std::string what;

    bool operator==(const CPatchJsonProblem&) const = default;
};

// The JSON text of a patch file's bytes, ending in a newline. Returns why the file cannot be
// read as a patch file (empty on success). The text describes the patch as Tamborex loads it:
// a file cut short shows the defaults past its end, and PatchFileTextLosses says so. Bytes that
// are no patch file (one that ends before its first patch, or a block whose version Tamborex
// never wrote: a text, a bank, a picture) are refused, though Tamborex itself would load them.
std::string PatchFileToJson(std::span<const std::uint8_t> bytes, std::string& json);

// The bytes of the patch file a JSON text describes. Unknown keys, missing keys, wrong types and
// values out of range are refused: false with every problem found, in the order of their lines.
bool PatchFileFromJson(std::string_view json, std::vector<std::uint8_t>& bytes,
                       std::vector<CPatchJsonProblem>& problems);

// Empty when the text PatchFileToJson gives for bytes turns back into the same bytes; otherwise
// what the text leaves out or changes, in a sentence or two (the file ends early, has bytes after
// its patches, a damaged axis shaping, or a value that the text's importer refuses).
std::string PatchFileTextLosses(std::span<const std::uint8_t> bytes);

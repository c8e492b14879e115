// Any bytes as the JSON text of a patch: the importer either refuses them, naming each fault on a
// line of the text, or gives a patch file whose own text imports again to the same bytes.

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "tamborex/storage/patch_json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::uint8_t> bytes;
    std::vector<CPatchJsonProblem> problems;
    if (!PatchFileFromJson(text, bytes, problems)) {
        const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
        if (problems.empty() || !bytes.empty()) {
            std::abort();
        }
        for (const CPatchJsonProblem& problem : problems) {
            if (problem.line < 1 || problem.line > lines + 1 || problem.what.empty()) {
                std::abort();
            }
        }
        return 0;
    }
    std::string json;
    if (!PatchFileToJson(bytes, json).empty() || !PatchFileTextLosses(bytes).empty()) {
        std::abort();
    }
    std::vector<std::uint8_t> again;
    if (!PatchFileFromJson(json, again, problems) || again != bytes) {
        std::abort();
    }
    return 0;
}

// Any bytes as a patch file: whatever the reader takes has a JSON text, and that text, when it
// can be imported, gives a file whose text is the same again.

#include <cstdlib>

#include "tamborex/storage/patch_json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string json;
    if (!PatchFileToJson({data, size}, json).empty()) {
        return 0;
    }
    std::vector<std::uint8_t> imported;
    std::vector<CPatchJsonProblem> problems;
    if (!PatchFileFromJson(json, imported, problems)) {
        // Only a value outside what the importer takes may keep a text out.
        if (PatchFileTextLosses({data, size}).empty()) {
            std::abort();
        }
        return 0;
    }
    std::string again;
    if (!PatchFileToJson(imported, again).empty() || again != json ||
        !PatchFileTextLosses(imported).empty()) {
        std::abort();
    }
    return 0;
}

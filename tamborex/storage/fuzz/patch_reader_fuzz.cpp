// Any bytes as a patch file: the reader must stay within its buffers, and whatever it takes must
// write back and read again to the same bytes.

#include <cstdlib>

#include "tamborex/storage/patch_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::array<CPatch, 2> slots;
    std::string name;
    if (!ReadPatchFile({data, size}, name, slots).empty()) {
        return 0;
    }
    const std::vector<std::uint8_t> written = FormatPatchFile(name, slots);
    std::array<CPatch, 2> again;
    std::string againName;
    if (!ReadPatchFile(written, againName, again).empty() ||
        FormatPatchFile(againName, again) != written) {
        std::abort();
    }
    return 0;
}

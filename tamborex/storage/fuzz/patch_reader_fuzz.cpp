// Any bytes as a patch file: the reader must stay within its buffers, and whatever it takes must
// write back and read again to the same bytes. The marks in each reserved block, written back,
// read as they were written.

#include <cstdlib>

#include "tamborex/storage/patch_file.h"
#include "tamborex/storage/port_names.h"

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
    for (const CPatch& slot : slots) {
        CPatch once;
        WritePatchMarks(once, ReadPatchMarks(slot));
        CPatch twice;
        WritePatchMarks(twice, ReadPatchMarks(once));
        if (ReadPatchMarks(twice) != ReadPatchMarks(once)) {
            std::abort();
        }
    }
    return 0;
}

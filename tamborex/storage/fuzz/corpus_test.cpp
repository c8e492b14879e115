// Every build runs the fuzz targets over their seed corpus, each file whole and cut off at every
// length, so a reader fault the fuzzers once found cannot come back unseen. A target that finds a
// fault aborts the test program.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#define LLVMFuzzerTestOneInput FuzzBankReader
#include "tamborex/storage/fuzz/bank_reader_fuzz.cpp"
#undef LLVMFuzzerTestOneInput
#define LLVMFuzzerTestOneInput FuzzPatchReader
#include "tamborex/storage/fuzz/patch_reader_fuzz.cpp"
#undef LLVMFuzzerTestOneInput
#define LLVMFuzzerTestOneInput FuzzSysEx
#include "tamborex/storage/fuzz/sysex_fuzz.cpp"
#undef LLVMFuzzerTestOneInput
#define LLVMFuzzerTestOneInput FuzzPatchJson
#include "tamborex/storage/fuzz/patch_json_fuzz.cpp"
#undef LLVMFuzzerTestOneInput
#define LLVMFuzzerTestOneInput FuzzPatchExport
#include "tamborex/storage/fuzz/patch_export_fuzz.cpp"
#undef LLVMFuzzerTestOneInput

namespace {

// Runs target over each seed in corpus/folder and its prefixes (every one, or one in every
// stride); the number of seeds.
int Replay(const char* folder, int (*target)(const std::uint8_t*, std::size_t),
           std::size_t stride = 1) {
    int seeds = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(TBX_FUZZ_CORPUS) / folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        for (std::size_t length = 0; length < bytes.size(); length += stride) {
            target(bytes.data(), length);
        }
        target(bytes.data(), bytes.size());
        ++seeds;
    }
    return seeds;
}

TEST(FuzzCorpus, ReadersStayWithinTheirBuffersOnEverySeedAndTruncation) {
    EXPECT_GE(Replay("bank", FuzzBankReader), 4);
    EXPECT_GE(Replay("patch", FuzzPatchReader), 4);
    EXPECT_GE(Replay("sysex", FuzzSysEx), 6);
}

// A patch's text is tens of kilobytes and each cut is read whole, so the cuts are sampled.
TEST(FuzzCorpus, PatchTextsComeBackOnEverySeedAndSampledCut) {
    EXPECT_GE(Replay("patch_json", FuzzPatchJson, 211), 8);
    EXPECT_GE(Replay("patch", FuzzPatchExport, 211), 4);
}

}  // namespace

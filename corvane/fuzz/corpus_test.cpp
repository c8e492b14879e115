// Every build runs the fuzz target over its seed corpus, each file whole and cut off at every
// length, so a reader fault the fuzzer once found cannot come back unseen.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "configuration_reader_fuzz.cpp"

namespace {

TEST(FuzzCorpus, ConfigurationReaderOffersOnlyLoadableNamesOnEverySeedAndTruncation) {
    int seeds = 0;
    for (const auto& entry : std::filesystem::directory_iterator(TBX_FUZZ_CORPUS)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        for (std::size_t length = 0; length <= bytes.size(); ++length) {
            LLVMFuzzerTestOneInput(bytes.data(), length);
        }
        ++seeds;
    }
    EXPECT_GE(seeds, 4);
}

}  // namespace

// Every build runs the OSC fuzz target over its seed corpus, each packet whole and cut off at
// every length, so a fault the fuzzer once found in the OSC input cannot come back unseen.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "osc_reader_fuzz.cpp"

namespace {

TEST(OscFuzzCorpus, EverySeedAndEveryTruncationIsReadSafely) {
    int seeds = 0;
    for (const auto& entry : std::filesystem::directory_iterator(TBX_OSC_FUZZ_CORPUS)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        for (std::size_t length = 0; length <= bytes.size(); ++length) {
            // A copy of just that length, so a read past the end is the sanitizer's to catch.
            const std::vector<std::uint8_t> cut(
                bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
            LLVMFuzzerTestOneInput(cut.data(), cut.size());
        }
        ++seeds;
    }
    EXPECT_GE(seeds, 10);
}

}  // namespace

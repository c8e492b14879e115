// Any bytes as a bank file: every index the reader leaves must lie inside the bank.

#include <cstdlib>

#include "tamborex/storage/bank_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CBankState bank;
    std::vector<std::string> messages;
    ReadBank({data, size}, bank, messages);
    if (bank.patchNumber < 0 || bank.patchNumber >= kBankEntries) {
        std::abort();
    }
    for (std::int32_t preset : bank.presets) {
        if (preset < 0 || preset >= kBankEntries) {
            std::abort();
        }
    }
    return 0;
}

// Any text typed into the SysEx editor: a text that passes the check converts to at most 256
// bytes, and those bytes format and check again.

#include <cstdlib>

#include "tamborex/storage/sysex_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::string first, second;
    if (!CheckSysEx(text, 1, first, second)) {
        if (first.empty()) {
            std::abort();  // a refusal always says why
        }
        return 0;
    }
    std::uint8_t buffer[kSysExBufferSize];
    const int length = ParseSysEx(text, buffer);
    if (length < 0 || length > kSysExBufferSize) {
        std::abort();
    }
    std::string formatted = FormatSysEx(buffer, length);
    if (!CheckSysEx(formatted, 1, first, second)) {
        std::abort();
    }
    return 0;
}

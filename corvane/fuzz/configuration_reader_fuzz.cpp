// Any bytes as corvane.txt: every offered name loads, and a loaded control holds a type the lists
// offer. The reader works on a file, so each input is written to one first.

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "configuration_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/corvane-fuzz-" + std::to_string(getpid()) + ".txt";
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    corvane::ConfigurationFile file(path);
    for (const std::string& name : file.ReadNames()) {
        corvane::ControlTable table;
        if (name.empty() || !file.LoadConfiguration(name, table)) {
            std::abort();  // an offered name must name a line
        }
        for (const corvane::ControlAssignment& c : table) {
            if (c.type < corvane::kTypeUnassigned || c.type > 127) {
                std::abort();
            }
        }
    }
    return 0;
}

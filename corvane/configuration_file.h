#pragma once

#include <string>
#include <vector>

#include "control_assignment.h"

namespace corvane {

inline constexpr const char* kConfigurationFileName = "corvane.txt";
// A line (name, numbers and line end) must fit the 255-byte line buffer older readers use.
inline constexpr std::size_t kMaxLineLength = 254;
// What is read, far beyond any real file: a longer line holds no configuration (it is kept in the
// file but offers no name), and a larger file is not read at all.
inline constexpr std::size_t kMaxReadLineLength = 4096;
inline constexpr std::size_t kMaxFileSize = 32 * 1024 * 1024;  // 100,000 longest lines fit

// Named configurations, one line each: the name in double quotes, then seven groups
// " type min mid max overrideAxis" in control order. Lines end in LF when written; CR LF is read
// too. Numbers are read as C's %i reads them (a leading 0 means octal, 0x hexadecimal), so
// hand-edited files keep meaning what they always meant.
//
// The file is opened only inside these operations. Changes are written to a temporary file in
// the same folder and renamed over the old one, so a crash or a full disk never loses what was
// there. A failed write returns false and leaves a message in LastError().
class ConfigurationFile {
  public:
    explicit ConfigurationFile(std::string path = kConfigurationFileName)
        : path_(std::move(path)) {}

    // Every line's name, in file order; empty when the file is missing. When the file could not
    // be read, or lines were skipped, LastError() says so (and is empty otherwise).
    std::vector<std::string> ReadNames();
    // Reads the first line with exactly this name into table; false when there is none.
    bool LoadConfiguration(const std::string& name, ControlTable& table) const;
    // Replaces every line of this name by one at the end of the file.
    bool SaveConfiguration(const std::string& name, const ControlTable& table);
    // Deletes every line of this name.
    bool RemoveConfiguration(const std::string& name);

    const std::string& LastError() const { return lastError_; }
    const std::string& Path() const { return path_; }

  private:
    enum class ReadResult { Missing, Read, Failed };
    ReadResult ReadLines(std::vector<std::string>& lines, std::string& content) const;
    bool WriteLines(const std::vector<std::string>& lines);
    bool ReadFailed();
    std::string ReadError() const;

    std::string path_;
    std::string lastError_;
    mutable int readError_ = 0;
};

// The line a configuration is saved as, with its LF.
std::string FormatConfigurationLine(const std::string& name, const ControlTable& table);
// The name a line carries: the first run of characters that are not double quotes.
std::string ConfigurationLineName(const std::string& line);
// Why this name cannot be saved (empty, a double quote, a line too long), or empty when it can.
std::string CheckConfigurationName(const std::string& name, const ControlTable& table);

}  // namespace corvane

#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace platform {

// Files larger than this are not patch or bank files; reading them is refused.
inline constexpr std::size_t kMaxStoredFileSize = 16 * 1024 * 1024;

// Reads a whole file. On failure gives false and the errno-style cause (ENOENT for a missing
// file, EFBIG for one too large).
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, int& cause);

// Where writing a file failed.
enum class WriteStage {
    Create,   // the temporary file could not be made: nothing was written
    Write,    // writing or flushing it
    Replace,  // renaming it over the old file
};

// Writes bytes to a temporary file in the same folder, flushes it to disk and renames it over
// path, so a crash or a full disk never destroys the previous file. The new file keeps the old
// one's permissions. On failure the old file is untouched and the temporary removed; gives false,
// the errno-style cause and the stage that failed.
bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes, int& cause,
                         WriteStage& failedAt);

}  // namespace platform

#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

namespace platform {

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, int& cause) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) {
        cause = errno;
        return false;
    }
    bytes.clear();
    std::uint8_t buffer[8192];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
        if (bytes.size() + got > kMaxStoredFileSize) {
            std::fclose(in);
            cause = EFBIG;
            return false;
        }
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    const bool failed = std::ferror(in) != 0;
    cause = failed ? errno : 0;
    std::fclose(in);
    return !failed;
}

bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes, int& cause,
                         WriteStage& failedAt) {
    namespace fs = std::filesystem;
    const fs::path target(path);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string temp = (folder / (target.filename().string() + ".XXXXXX")).string();
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        cause = errno;
        failedAt = WriteStage::Create;
        return false;
    }
    auto fail = [&](int error, WriteStage stage) {
        cause = error;
        failedAt = stage;
        unlink(temp.c_str());
        return false;
    };
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            close(fd);
            return fail(error, WriteStage::Write);
        }
        written += static_cast<std::size_t>(n);
    }
    // mkstemp makes the file private: keep the old file's permissions, or the usual ones.
    struct stat old {};
    fchmod(fd, stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);
    if (fsync(fd) != 0) {
        const int error = errno;
        close(fd);
        return fail(error, WriteStage::Write);
    }
    if (close(fd) != 0) {
        return fail(errno, WriteStage::Write);
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        return fail(errno, WriteStage::Replace);
    }
    return true;
}

}  // namespace platform

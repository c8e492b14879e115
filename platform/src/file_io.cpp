#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace platform {

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, int& cause,
                   std::size_t maxSize) {
    bytes.clear();
    // Looked at before opening, since opening a FIFO or a device can block or act on it; and
    // again once open, in case the path was swapped in between.
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        cause = errno;
        if (cause == ENOENT && lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
            cause = kDanglingLink;
        }
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        cause = kNotRegularFile;
        return false;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        cause = errno;
        return false;
    }
    auto fail = [&](int error) {
        close(fd);
        bytes.clear();
        cause = error;
        return false;
    };
    if (fstat(fd, &info) != 0) {
        return fail(errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return fail(kNotRegularFile);
    }
    if (static_cast<std::uint64_t>(info.st_size) > maxSize) {
        return fail(EFBIG);
    }
    bytes.reserve(static_cast<std::size_t>(info.st_size));
    std::uint8_t buffer[8192];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return fail(errno);
        }
        if (got == 0) {
            break;
        }
        if (bytes.size() + static_cast<std::size_t>(got) > maxSize) {  // it grew while read
            return fail(EFBIG);
        }
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    close(fd);
    cause = 0;
    return true;
}

std::string ReadFailureText(int cause, std::size_t maxSize) {
    if (cause == EFBIG) {
        const bool megabytes = maxSize >= 1024 * 1024;
        return "larger than " + std::to_string(maxSize / (megabytes ? 1024 * 1024 : 1024)) +
               (megabytes ? " MB" : " KB") + ", far more than any real one";
    }
    if (cause == kDanglingLink) {
        return "a link to a file that does not exist";
    }
    return cause == kNotRegularFile ? "not a regular file" : std::strerror(cause);
}

namespace {

// The temporary WriteFileAtomically makes for a file of this name: hidden, and marked as ours, so
// that no user's copy beside the file ("Tamborex.bnk.backup") ever has the same form.
std::string TemporaryPrefix(const std::string& fileName) {
    return "." + fileName + ".tmp-";
}
constexpr std::size_t kTemporaryLetters = 6;  // what mkstemp puts in place of "XXXXXX"

bool IsOurTemporary(const std::string& name, const std::string& prefix) {
    return name.size() == prefix.size() + kTemporaryLetters &&
           name.compare(0, prefix.size(), prefix) == 0 &&
           std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                       [](unsigned char c) { return std::isalnum(c) != 0; });
}

}  // namespace

int RemoveStaleTemporaries(const std::string& path, long minAgeSeconds) {
    namespace fs = std::filesystem;
    const fs::path target(path);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    const std::string prefix = TemporaryPrefix(target.filename().string());
    const auto now = std::time(nullptr);
    const uid_t user = geteuid();
    int removed = 0;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (!IsOurTemporary(it->path().filename().string(), prefix)) {
            continue;
        }
        // lstat, so that a link named like ours is looked at itself and never followed.
        struct stat info {};
        if (lstat(it->path().c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == user &&
            now - info.st_mtime > minAgeSeconds && unlink(it->path().c_str()) == 0) {
            ++removed;
        }
    }
    return removed;
}

FolderState CheckPrivateFolder(const std::string& folder) {
    // Without its trailing slashes, or lstat would look through a link at the last component.
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    struct stat info {};
    if (path.empty() || lstat(path.c_str(), &info) != 0) {
        return !path.empty() && errno == ENOENT ? FolderState::Missing : FolderState::NotPrivate;
    }
    return S_ISDIR(info.st_mode) && info.st_uid == geteuid() && (info.st_mode & 077) == 0
               ? FolderState::Private
               : FolderState::NotPrivate;
}

FolderState PrivateRuntimeFolder(const std::string& name, bool create, std::string& folder) {
    // The session's own folder, which the system makes for this user alone; under su, cron or in
    // a container it may be unset or another user's.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime != '\0' &&
        CheckPrivateFolder(runtime) == FolderState::Private) {
        folder = runtime;
        return FolderState::Private;
    }
    // Otherwise a folder of our own in the temporary folder, where anyone may have made the name
    // first: it is used only if it turns out to be ours and closed to everyone else.
    const char* temporary = std::getenv("TMPDIR");
    folder = std::string(temporary != nullptr && *temporary != '\0' ? temporary : "/tmp") + "/" +
             name + "-" + std::to_string(geteuid());
    if (create && mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return FolderState::NotPrivate;
    }
    return CheckPrivateFolder(folder);
}

bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes, int& cause,
                         WriteStage& failedAt) {
    namespace fs = std::filesystem;
    const fs::path target(path);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    RemoveStaleTemporaries(path);
    std::string temp = (folder / (TemporaryPrefix(target.filename().string()) + "XXXXXX")).string();
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
    // mkstemp makes the file private: keep the old file's permissions, or the usual ones; never
    // its set-id bits, which a file the program writes has no business with.
    struct stat old {};
    fchmod(fd, stat(path.c_str(), &old) == 0 ? (old.st_mode & 0777) : 0644);
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

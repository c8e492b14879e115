#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/file_io.h"

namespace platform {
namespace {

// The lock file, opened without following a link or waiting on a FIFO; -1 with cause (an errno
// value or kNotRegularFile) when it is not a regular file that can be opened. A file of another
// user's (left by a copy started with sudo) is opened for reading: the lock needs no more.
int OpenLockFile(const std::string& path, int& cause) {
    constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = open(path.c_str(), O_RDWR | O_CREAT | kFlags, 0644);
    cause = errno;
    if (fd < 0 && errno == EACCES) {
        fd = open(path.c_str(), O_RDONLY | kFlags);
        // Missing, in a folder it may not be made in: the refusal is the reason, not the absence.
        cause = fd < 0 && errno == ENOENT ? EACCES : errno;
    }
    if (fd < 0) {
        return -1;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        cause = kNotRegularFile;
        close(fd);
        return -1;
    }
    return fd;
}

// A new, empty lock file renamed over whatever holds the name; -1 with cause when the folder
// does not allow it (or a folder holds the name).
int ReplaceLockFile(const std::string& path, int& cause) {
    std::string temporary = path + ".XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        cause = errno;
        return -1;
    }
    if (fchmod(fd, 0644) != 0 || rename(temporary.c_str(), path.c_str()) != 0) {
        cause = errno;
        close(fd);
        unlink(temporary.c_str());
        return -1;
    }
    return fd;
}

}  // namespace

FileLock::Result FileLock::Take(const std::string& path, long& holder, int& cause) {
    Release();
    holder = 0;
    cause = 0;
    int fd = OpenLockFile(path, cause);
    if (fd < 0 && (cause == ELOOP || cause == kNotRegularFile)) {
        // A link or a FIFO where the lock file belongs would leave every copy unlocked: a fresh
        // file takes its name (a link's target is left as it is).
        fd = ReplaceLockFile(path, cause);
    }
    if (fd < 0) {
        return Result::Unavailable;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK) {
            char text[32] = {};
            if (pread(fd, text, sizeof text - 1, 0) > 0) {
                holder = std::strtol(text, nullptr, 10);
            }
        }
        close(fd);
        cause = error == EWOULDBLOCK ? 0 : error;
        return error == EWOULDBLOCK ? Result::Held : Result::Unavailable;
    }
    // Said for the next one who tries; a failure here costs only the id in that message.
    const std::string id = std::to_string(getpid()) + "\n";
    if (ftruncate(fd, 0) == 0) {
        (void)!pwrite(fd, id.data(), id.size(), 0);
    }
    fd_ = fd;
    return Result::Taken;
}

void FileLock::Release() {
    if (fd_ >= 0) {
        close(fd_);  // lets go of the lock
        fd_ = -1;
    }
}

}  // namespace platform

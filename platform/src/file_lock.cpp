#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/file_io.h"

namespace platform {

FileLock::Result FileLock::Take(const std::string& path, long& holder, int& cause) {
    Release();
    holder = 0;
    cause = 0;
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        cause = errno;
        return Result::Unavailable;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        cause = kNotRegularFile;
        close(fd);
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

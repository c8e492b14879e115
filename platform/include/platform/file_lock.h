#pragma once

#include <string>

namespace platform {

// An exclusive lock on a file of the program's own, held while the object holds it, so that two
// copies of a program never work on one folder's files at once. The lock is the kernel's (flock):
// it goes with the process, however that ends, so the file a crashed copy leaves behind never
// blocks the next start. The file holds the holder's process id, for a message naming it.
class FileLock {
  public:
    enum class Result {
        Taken,
        Held,         // another process (or another FileLock of this one) holds it
        Unavailable,  // the file cannot be made or opened, or a folder holds its name
    };

    FileLock() = default;
    ~FileLock() { Release(); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes the lock on path, made (mode 0644) when missing, without waiting. A link or a FIFO
    // at path is neither followed nor waited on: a fresh file takes its name. Held: holder is
    // the holder's process id, or 0 while it has not written it yet (or could not). Unavailable:
    // cause is an errno value or kNotRegularFile.
    [[nodiscard]] Result Take(const std::string& path, long& holder, int& cause);
    void Release();
    bool Holding() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

}  // namespace platform

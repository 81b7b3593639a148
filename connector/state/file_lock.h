#pragma once

#include <string>

namespace korvane::connector {

// An exclusive advisory lock (flock) on a lock file, held from construction to destruction.
// Runs of the program that take the same lock take turns.
class FileLock {
  public:
    // Creates `path` (mode 0600) when missing and waits for the lock.
    explicit FileLock(const std::string& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Returns true when the lock is held (false when the lock file could not be opened).
    bool held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

}  // namespace korvane::connector

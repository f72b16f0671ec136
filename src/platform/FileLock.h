#pragma once
// An exclusive advisory lock (flock) on a lock file, held for the object's lifetime, so
// that two processes sharing one settings folder take turns at read-merge-write.
//
// The lock file is created when missing and never removed (removing it would let a third
// process lock a new file while the second still holds the old one). When it cannot be
// created (a read-only folder) nothing is locked: Held() says so.
#include <string>

namespace platform {

class FileLock {
public:
    // Waits until the lock is free.
    explicit FileLock(const std::string& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool Held() const { return held_; }

private:
    int fd_ = -1;
    bool held_ = false;
};

} // namespace platform

// An exclusive advisory lock (flock) on an open file, held for the object's lifetime. The kernel
// drops it when the descriptor closes or the process dies, so a lock never outlives its holder.
#pragma once

#include <sys/types.h>

class FileLock {
  public:
    FileLock() = default;
    // Takes the lock on fd without waiting; the object owns fd (and closes it) either way.
    explicit FileLock(int fd);
    ~FileLock();
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool held() const { return held_; }
    // True when another open file held the lock; false when fd was bad or locking failed.
    bool busy() const { return busy_; }
    int descriptor() const { return fd_; }

  private:
    void release();

    int fd_ = -1;
    bool held_ = false;
    bool busy_ = false;
};

// The process holding a flock on the file open at fd, read from the kernel's lock table
// (/proc/locks); 0 when nobody holds one or the table cannot be read.
pid_t FileLock_Holder(int fd);

#include "FileLock.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

FileLock::FileLock(int fd) : fd_(fd) {
    if (fd_ < 0) {
        return;
    }
    if (flock(fd_, LOCK_EX | LOCK_NB) == 0) {
        held_ = true;
    } else {
        busy_ = errno == EWOULDBLOCK;
    }
}

FileLock::~FileLock() {
    release();
}

FileLock::FileLock(FileLock&& other) noexcept
    : fd_(other.fd_), held_(other.held_), busy_(other.busy_) {
    other.fd_ = -1;
    other.held_ = false;
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        release();
        fd_ = other.fd_;
        held_ = other.held_;
        busy_ = other.busy_;
        other.fd_ = -1;
        other.held_ = false;
    }
    return *this;
}

void FileLock::release() {
    if (fd_ >= 0) {
        close(fd_);  // drops the lock with the last descriptor of this open file
        fd_ = -1;
    }
    held_ = false;
}

pid_t FileLock_Holder(int fd) {
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
        return 0;
    }
    // Lines read "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF"; a waiter's line has "->"
    // after the number and holds nothing.
    char file[64];
    snprintf(file, sizeof file, "%02x:%02x:%lu", major(st.st_dev), minor(st.st_dev),
             static_cast<unsigned long>(st.st_ino));
    std::ifstream table("/proc/locks");
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, where;
        long pid = 0;
        if (fields >> number >> kind >> mode >> access >> pid >> where && kind == "FLOCK" &&
            where == file && pid > 0) {
            return static_cast<pid_t>(pid);
        }
    }
    return 0;
}

#include "SerialPortLock.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

// Only a terminal is a serial port: a lock on anything else (a null device every program shares)
// would keep out runs that have nothing to do with each other, and the recovery refuses such a
// path when it opens it. Non-blocking, so that a port whose carrier is down does not hold the
// open.
int openTerminal(const std::string& port) {
    int fd = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0 && !isatty(fd)) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

SerialPortLock::SerialPortLock(const std::string& port) : lock_(openTerminal(port)) {
    if (lock_.busy()) {
        holder_ = FileLock_Holder(lock_.descriptor());
    }
}

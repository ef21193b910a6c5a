#include "SerialPortLock.h"

#include <fcntl.h>

SerialPortLock::SerialPortLock(const std::string& port)
    // Non-blocking: a port whose carrier is down must not hold the open.
    : lock_(open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
    if (lock_.busy()) {
        holder_ = FileLock_Holder(lock_.descriptor());
    }
}

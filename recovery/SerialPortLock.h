// Keeps other programs off a serial port while a recovery talks to the bootloader behind it: an
// exclusive flock on a descriptor of the port, the advisory lock serial tools take on the ports
// they open. Opening a port sends nothing; the lock lasts as long as the object.
#pragma once

#include <string>
#include <sys/types.h>

#include "FileLock.h"

class SerialPortLock {
  public:
    explicit SerialPortLock(const std::string& port);

    // True when another open file of the port holds the lock. A path that cannot be opened or is
    // not a terminal is not busy: the recovery reports it when it opens the port itself.
    bool busy() const { return lock_.busy(); }
    // The process holding the port when busy, 0 when it cannot be told.
    pid_t holder() const { return holder_; }

  private:
    FileLock lock_;
    pid_t holder_ = 0;
};

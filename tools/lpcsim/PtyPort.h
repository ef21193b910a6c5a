// The chip's UART: the master side of a pseudo-terminal. The simulator keeps the slave side
// open as well, so that a host closing and reopening the port (as it does between steps) finds
// the same line, and so that the rate the host sets can be read back.
#pragma once

#include <string>

namespace lpcsim {

class PtyPort {
  public:
    PtyPort() = default;
    ~PtyPort();
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    bool open(std::string* why);
    int masterFd() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }
    // Bits per second the host set on the line, or 0 when it cannot be told.
    unsigned lineRate() const;

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

}  // namespace lpcsim

// A pseudo-terminal standing in for a device's serial line. The simulator keeps the master as
// its end of the line and holds the slave open too, so the line settings stay, the rate a host
// sets can be read back, and the terminal never hangs up when a host closes and reopens it.
#pragma once

#include <termios.h>

#include <string>

namespace simtools {

// How the line starts out, before any host sets it up.
struct PtyLine {
    speed_t rate = 0;         // 0: the terminal's own default
    bool timedReads = false;  // a read with nothing waiting returns after 0.1 s, as on a UART
};

// The terminal's default rate, and reads that time out after 0.1 s.
constexpr PtyLine kTimedReadLine{0, true};

class Pty {
  public:
    Pty() = default;
    ~Pty() { close(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    // Raw bytes both ways; the master does not block. False with a one-line reason in error.
    bool open(const PtyLine& line, std::string& error);
    void close();
    // Drops what the host has not read yet.
    void dropUnread();
    // Bits per second the host set on the line, or 0 when it cannot be told.
    unsigned lineRate() const;

    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

}  // namespace simtools

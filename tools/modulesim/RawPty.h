// A pseudo-terminal with raw line settings: the simulator keeps the master as its end of the
// line and holds the slave open too, so the line settings stay and the terminal never hangs up
// when a host closes it.
#pragma once

#include <string>

namespace modulesim {

class RawPty {
  public:
    RawPty() = default;
    ~RawPty() { close(); }
    RawPty(const RawPty&) = delete;
    RawPty& operator=(const RawPty&) = delete;

    bool open(std::string& error);
    void close();
    // Drops what the host has not read yet.
    void dropUnread();

    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

}  // namespace modulesim

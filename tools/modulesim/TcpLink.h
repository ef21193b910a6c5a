// A module with its own TCP/IP port: one host connection at a time (a new one takes over), and
// a reboot that resets the connection and keeps the port closed for a moment.
#pragma once

#include <netinet/in.h>

#include "HostLink.h"

namespace modulesim {

class TcpLink : public HostLink {
  public:
    TcpLink(EventLoop& loop, SimModule& front, int defaultLatencyMs, const PacketLog& log);
    ~TcpLink() override;

    bool open(std::string& error) override;
    void describe(std::vector<std::string>& lines) const override;

    // What the discovery answer needs.
    bool listening() const { return listener_ >= 0; }
    uint16_t port() const { return port_; }
    in_addr bindAddress() const { return bindAddress_; }

  protected:
    void dropHost() override;
    void rebootFront() override;
    void readDone(size_t count) override;

  private:
    bool listen(std::string& error);
    void closeListener();
    void accepted();
    void closeConnection(bool reset);
    void relisten(int attemptsLeft);

    int listener_ = -1;
    in_addr bindAddress_{};
    uint16_t port_ = 0;
    EventLoop::TimerId rebootTimer_ = 0;
    // Data segments the connection had received when the last read was noted.
    uint32_t segmentsNoted_ = 0;
};

}  // namespace modulesim

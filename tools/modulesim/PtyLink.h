// A module on a pseudo-terminal, as a USB module looks through a serial device or the kernel
// driver's node: raw bytes both ways, or COBS frames on a packetised serial line. With a node
// directory the slave is also reachable as DIR/zendrival.SERIAL.
#pragma once

#include "HostLink.h"
#include "Pty.h"

namespace modulesim {

class PtyLink : public HostLink {
  public:
    PtyLink(EventLoop& loop, SimModule& front, int defaultLatencyMs, const PacketLog& log,
            std::unique_ptr<Framing> framing = nullptr);
    ~PtyLink() override;

    bool open(std::string& error) override;
    void describe(std::vector<std::string>& lines) const override;

  protected:
    void dropHost() override;
    void rebootFront() override;
    void sessionChanging() override;

  private:
    bool makeNode(std::string& error);

    simtools::Pty pty_;
    std::string nodePath_;
};

}  // namespace modulesim

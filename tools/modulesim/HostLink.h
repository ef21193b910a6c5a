// The host's side of one attachment: the byte channel a module (and, for a router, the modules
// on its I2C bus) is reached through. It cuts the incoming bytes into packets, hands each to
// the module it is addressed to, applies that module's fault knobs to the replies, and sends
// heartbeats and stream samples while a host is there. The transports (TCP, pseudo-terminal)
// derive from it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "EventLoop.h"
#include "Framing.h"
#include "PacketLog.h"
#include "SimModule.h"

namespace modulesim {

// How a transport's channel behaves.
struct ChannelTraits {
    const char* endNote;  // what the log notes when the channel reports end of file or an error
    // Whether a host that stops answering heartbeats counts as gone (no connection state).
    bool hostTrackedByHeartbeat;
};

class HostLink {
  public:
    // Without a framing the packets travel back to back in their wire form.
    HostLink(EventLoop& loop, SimModule& front, int defaultLatencyMs, const PacketLog& log,
             ChannelTraits traits, std::unique_ptr<Framing> framing = nullptr);
    virtual ~HostLink();
    HostLink(const HostLink&) = delete;
    HostLink& operator=(const HostLink&) = delete;

    // A module on the front module's I2C bus, answering at its own address on this link.
    void addBusModule(SimModule& module);
    SimModule& front() { return front_; }
    const SimModule& front() const { return front_; }

    virtual bool open(std::string& error) = 0;
    // The lines printed at start-up for this attachment.
    virtual void describe(std::vector<std::string>& lines) const = 0;

  protected:
    // The transport has a byte channel (a TCP connection, a pseudo-terminal master).
    void setChannel(int fd);
    void clearChannel();
    int channel() const { return fd_; }

    bool inSession() const { return inSession_; }
    void startSession();
    void endSession();

    // Drops the host (the connection closes, the terminal hangs up, the device leaves the bus):
    // the channel ended, or the disconnect-after knob fired.
    virtual void dropHost() = 0;
    // The front module asked to restart; its acknowledgement is already on its way.
    virtual void rebootFront() = 0;
    // Called when a host session starts and when it ends (the pty drops what a host left
    // unread, so the next one does not read it).
    virtual void sessionChanging() {}
    // Called after every read of count bytes from the host.
    virtual void readDone(size_t /*count*/) {}

    int latencyFor(const SimModule& module) const;

    EventLoop& loop_;
    SimModule& front_;
    const PacketLog& log_;

  private:
    void readable();
    void writable();
    void dispatch(const Packet& packet);
    void dispatchToModule(SimModule& module, const Packet& packet);
    bool countReceived(SimModule& module, const Packet& packet);
    SimModule* moduleAt(uint8_t address);
    void sendReply(SimModule& module, Packet packet);
    void send(SimModule& module, const Packet& packet, bool badCheck = false);
    void transmit(uint32_t serial, const Packet& packet, bool badCheck);
    void flush();
    void armHeartbeat();
    void heartbeatDue();
    void armStream(SimModule& module);
    void streamDue(SimModule* module);

    int defaultLatencyMs_;
    ChannelTraits traits_;
    std::vector<SimModule*> busModules_;
    int fd_ = -1;
    std::unique_ptr<Framing> framing_;
    std::vector<uint8_t> output_;
    bool inSession_ = false;
    uint64_t session_ = 0;  // changes whenever a session starts or ends; late work is dropped
    EventLoop::TimerId heartbeatTimer_ = 0;
    std::map<SimModule*, EventLoop::TimerId> streamTimers_;
};

}  // namespace modulesim

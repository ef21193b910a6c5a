// Answers the TCP/IP module discovery request (UDP multicast 232.2.2.2 port 9888) for every
// module with its own TCP/IP port.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "EventLoop.h"
#include "PacketLog.h"
#include "TcpLink.h"

namespace modulesim {

class DiscoveryResponder {
  public:
    DiscoveryResponder(EventLoop& loop, std::vector<TcpLink*> links, const PacketLog& log);
    ~DiscoveryResponder();
    DiscoveryResponder(const DiscoveryResponder&) = delete;
    DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

    // Joins the group on every IPv4 interface, or on loopback only outside a private network
    // namespace (a note on stderr says so). False when the request port cannot be opened.
    bool open(std::string& error);

    static constexpr uint16_t kRequestPort = 9888;
    static constexpr uint16_t kReplyPort = 9889;
    static constexpr size_t kMessageSize = 16;

  private:
    struct Seen {
        sockaddr_in from;
        int64_t atMs;
    };

    void readable();
    bool seenRecently(const sockaddr_in& from, int64_t nowMs);
    void answer(const TcpLink& link, const sockaddr_in& requester);

    EventLoop& loop_;
    std::vector<TcpLink*> links_;
    const PacketLog& log_;
    int socket_ = -1;
    std::deque<Seen> seen_;
};

// The 16-byte answer of one module: its address, TCP port and serial number (little-endian)
// and its model.
std::vector<uint8_t> discoveryAnswer(uint8_t address, uint16_t port, uint32_t serial,
                                     uint8_t model);

// True when this process runs in a network namespace of its own rather than the machine's.
bool inPrivateNetworkNamespace();

}  // namespace modulesim

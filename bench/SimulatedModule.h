// The module simulator as the TCP benchmarks reach it: started on loopback, then talked to on a
// raw socket (the ideal) or through the device library (what is measured against it).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "BackgroundProgram.h"
#include "BenchSupport.h"
#include "Module.h"
#include "TestSupport.h"
#include "VexnetConfig.h"
#include "qLinkSpec.h"

namespace bench {

// The simulator's TCP/IP port once it runs; false (and says so) when it did not start.
inline bool simulatorListening(zvtest::BackgroundProgram& sim, Endpoint* endpoint) {
    if (!sim.waitReady()) {
        std::fprintf(stderr, "the module simulator did not start\n");
        return false;
    }
    *endpoint = parseEndpoint(sim.startupValue("tcp"));
    return true;
}

// A plain TCP connection to the simulator, with Nagle off as the library's socket stream has it.
class RawLink : public RawPackets<RawLink> {
  public:
    explicit RawLink(const Endpoint& endpoint) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(endpoint.port);
        inet_pton(AF_INET, endpoint.host.c_str(), &address.sin_addr);
        if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
            close(fd_);
            fd_ = -1;
            return;
        }
        int on = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    }
    ~RawLink() {
        if (fd_ >= 0)
            close(fd_);
    }
    RawLink(const RawLink&) = delete;
    RawLink& operator=(const RawLink&) = delete;

    bool ok() const { return fd_ >= 0; }
    bool send(const std::vector<uint8_t>& bytes) {
        return write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    bool read(uint8_t* buffer, size_t size) { return readExactly(fd_, buffer, size); }

  private:
    int fd_ = -1;
};

// Connects module straight to the simulated module serial at endpoint, with no link server.
inline bool connectDirect(Pelmorax::Zendrival::Module& module, const Endpoint& endpoint,
                          uint32_t serial) {
    Pelmorax::Zendrival::VexnetConfig direct;
    direct.enabled = false;
    direct.fallback = false;
    module.setConfig(direct);
    linkSpec target{};
    target.type = linkTypeTCPIP;
    target.serialNumber = serial;
    inet_pton(AF_INET, endpoint.host.c_str(), &target.ipAddress);
    target.port = endpoint.port;
    return module.connectFromSpec(target) == qErrNone;
}

}  // namespace bench

// The far ends of discovery, played with plain UDP sockets so the tests check the wire format
// rather than the library's own socket code: a module answering the multicast request and a
// link server answering the loopback probe.
#pragma once

#include <arpa/inet.h>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "DiscoveryTestSupport.h"

namespace discoverytest {

struct Datagram {
    std::string bytes;
    uint32_t sender = 0;
};

// A UDP socket bound to port, joined to group on each interface, answering every datagram on a
// thread of its own until destroyed (or for at most 30 s).
class UdpPeer {
  public:
    UdpPeer(const char* group, uint16_t port, const std::vector<const char*>& interfaces,
            bool reuse) {
        descriptor_ = socket(AF_INET, SOCK_DGRAM, 0);
        int flag = reuse ? 1 : 0;
        setsockopt(descriptor_, SOL_SOCKET, SO_REUSEADDR, &flag, sizeof(flag));
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        ready_ = bind(descriptor_, reinterpret_cast<sockaddr*>(&local), sizeof(local)) == 0;
        for (const char* interface : interfaces) {
            ip_mreq membership{};
            membership.imr_multiaddr.s_addr = ipv4(group);
            membership.imr_interface.s_addr = ipv4(interface);
            ready_ = ready_ && setsockopt(descriptor_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership,
                                          sizeof(membership)) == 0;
        }
    }
    virtual ~UdpPeer() { stop(); }
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    bool ready() const { return ready_; }
    void start() {
        thread_ = std::thread([this] { run(); });
    }
    void stop() {
        stopping_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        if (descriptor_ >= 0) {
            close(descriptor_);
            descriptor_ = -1;
        }
    }
    std::vector<Datagram> received() {
        std::lock_guard<std::mutex> guard(lock_);
        return received_;
    }

  protected:
    virtual void answer(const Datagram& request) = 0;

    // Sends bytes from a fresh socket, optionally bound to a local address and with a multicast
    // interface, to address:port.
    static void sendFrom(const char* from, const char* to, uint16_t port, const void* bytes,
                         size_t length) {
        int out = socket(AF_INET, SOCK_DGRAM, 0);
        if (from != nullptr) {
            sockaddr_in local{};
            local.sin_family = AF_INET;
            local.sin_addr.s_addr = ipv4(from);
            bind(out, reinterpret_cast<sockaddr*>(&local), sizeof(local));
            in_addr outgoing{};
            outgoing.s_addr = ipv4(from);
            setsockopt(out, IPPROTO_IP, IP_MULTICAST_IF, &outgoing, sizeof(outgoing));
        }
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_addr.s_addr = ipv4(to);
        target.sin_port = htons(port);
        sendto(out, bytes, length, 0, reinterpret_cast<sockaddr*>(&target), sizeof(target));
        close(out);
    }

  private:
    void run() {
        for (int round = 0; round < 300 && !stopping_; ++round) {
            pollfd waiting{descriptor_, POLLIN, 0};
            if (poll(&waiting, 1, 100) <= 0) {
                continue;
            }
            char buffer[512];
            sockaddr_in sender{};
            socklen_t size = sizeof(sender);
            ssize_t length = recvfrom(descriptor_, buffer, sizeof(buffer), 0,
                                      reinterpret_cast<sockaddr*>(&sender), &size);
            if (length < 0) {
                continue;
            }
            Datagram request{std::string(buffer, static_cast<size_t>(length)),
                             sender.sin_addr.s_addr};
            {
                std::lock_guard<std::mutex> guard(lock_);
                received_.push_back(request);
            }
            answer(request);
        }
    }

    int descriptor_ = -1;
    bool ready_ = false;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::mutex lock_;
    std::vector<Datagram> received_;
};

// A module with its own network port: answers the request with the given replies, sent from
// replyFrom to the requester's reply port.
class ModulePeer : public UdpPeer {
  public:
    ModulePeer(const std::vector<const char*>& interfaces, const char* replyFrom,
               std::vector<std::string> replies)
        : UdpPeer(qDISCOVERY_TCPIP_GROUP, qDISCOVERY_TCPIP_REQUEST_PORT, interfaces, true),
          replyFrom_(replyFrom),
          replies_(std::move(replies)) {}
    ~ModulePeer() override { stop(); }

  protected:
    void answer(const Datagram& request) override {
        char to[INET_ADDRSTRLEN];
        in_addr address{};
        address.s_addr = request.sender;
        inet_ntop(AF_INET, &address, to, sizeof(to));
        for (const std::string& reply : replies_) {
            sendFrom(replyFrom_, to, qDISCOVERY_TCPIP_REPLY_PORT, reply.data(), reply.size());
        }
    }

  private:
    const char* replyFrom_;
    std::vector<std::string> replies_;
};

// A link server on this machine: holds request port 9850 + n (without address reuse, as a
// server does) and answers the probe with its linkSpec (or replySize bytes of it) on the reply
// port.
class LinkServerPeer : public UdpPeer {
  public:
    LinkServerPeer(int n, const linkSpec& spec, size_t replySize = sizeof(linkSpec))
        : UdpPeer(qDISCOVERY_LOOPBACK_GROUP, qDISCOVERY_LOOPBACK_REQUEST_PORT + n, {"127.0.0.1"},
                  false),
          n_(n),
          reply_(reinterpret_cast<const char*>(&spec), sizeof(spec)) {
        reply_.resize(replySize);
    }
    ~LinkServerPeer() override { stop(); }

  protected:
    void answer(const Datagram& request) override {
        if (request.bytes != std::string("\xBA\xDC\xCD\xAB", 4)) {
            return;
        }
        sendFrom("127.0.0.1", qDISCOVERY_LOOPBACK_GROUP,
                 static_cast<uint16_t>(qDISCOVERY_LOOPBACK_REPLY_PORT + n_), reply_.data(),
                 reply_.size());
    }

  private:
    int n_;
    std::string reply_;
};

}  // namespace discoverytest

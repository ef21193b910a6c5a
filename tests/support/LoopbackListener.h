// A TCP listener on 127.0.0.1 with a system-chosen port that plays a module's TCP/IP port.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

class LoopbackListener {
  public:
    // backlog 0 lets one connection wait to be accepted; the SYNs of later ones are dropped, as
    // by a host that has gone from the network.
    explicit LoopbackListener(int backlog = 8) {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_, backlog);
        socklen_t length = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~LoopbackListener() { stopListening(); }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    static uint32_t address() { return htonl(INADDR_LOOPBACK); }
    uint32_t port() const { return port_; }

    // A connection the link made, or -1 when none comes in time.
    int accept(int timeoutMs = 5000) {
        pollfd incoming{listener_, POLLIN, 0};
        if (poll(&incoming, 1, timeoutMs) != 1) {
            return -1;
        }
        return ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    }

    // Later connections are refused.
    void stopListening() {
        if (listener_ >= 0) {
            close(listener_);
            listener_ = -1;
        }
    }

  private:
    int listener_ = -1;
    uint32_t port_ = 0;
};

// Reads exactly count bytes from a connection, or fewer when they do not come in time or the
// connection ends.
inline std::string receiveFrom(int fd, size_t count, int timeoutMs = 5000) {
    std::string got;
    while (got.size() < count) {
        pollfd readable{fd, POLLIN, 0};
        if (poll(&readable, 1, timeoutMs) != 1) {
            break;
        }
        char buffer[4096];
        ssize_t n = recv(fd, buffer, std::min(sizeof buffer, count - got.size()), 0);
        if (n <= 0) {
            break;
        }
        got.append(buffer, static_cast<size_t>(n));
    }
    return got;
}

inline void sendTo(int fd, const std::string& wire) {
    ssize_t n = send(fd, wire.data(), wire.size(), MSG_NOSIGNAL);
    (void)n;
}

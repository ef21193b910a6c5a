#include "TcpLink.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "TcpSegments.h"

namespace modulesim {

namespace {

// The acknowledgement of a restart request leaves before the connection is reset.
constexpr int kRebootAfterAckMs = 100;
constexpr int kRelistenRetryMs = 100;
constexpr int kRelistenAttempts = 50;

void makeNonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

}  // namespace

TcpLink::TcpLink(EventLoop& loop, SimModule& front, int defaultLatencyMs, const PacketLog& log)
    : HostLink(loop, front, defaultLatencyMs, log, {"host disconnected", false}) {
    inet_pton(AF_INET, front.config().tcpHost.c_str(), &bindAddress_);
    port_ = front.config().tcpPort;
}

TcpLink::~TcpLink() {
    loop_.cancel(rebootTimer_);
    closeConnection(false);
    closeListener();
}

bool TcpLink::open(std::string& error) {
    return listen(error);
}

bool TcpLink::listen(std::string& error) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("socket: ") + strerror(errno);
        return false;
    }
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr = bindAddress_;
    address.sin_port = htons(port_);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 4) != 0) {
        error = "cannot listen on " + front_.config().tcpHost + ":" + std::to_string(port_) + ": " +
                strerror(errno);
        close(fd);
        return false;
    }
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);  // a restart listens on the same port again
    makeNonBlocking(fd);
    listener_ = fd;
    loop_.watch(fd, POLLIN, [this](short) { accepted(); });
    return true;
}

void TcpLink::closeListener() {
    if (listener_ >= 0) {
        loop_.unwatch(listener_);
        close(listener_);
        listener_ = -1;
    }
}

void TcpLink::describe(std::vector<std::string>& lines) const {
    char line[64];
    snprintf(line, sizeof line, "tcp %08X %s:%u", front_.serial(), front_.config().tcpHost.c_str(),
             port_);
    lines.push_back(line);
}

void TcpLink::accepted() {
    int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
        return;
    }
    // One host at a time: the newest connection wins, as when a host reconnects before the
    // module noticed that its old connection was gone.
    closeConnection(false);
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setChannel(fd);
    segmentsNoted_ = 0;
    startSession();
    log_.note(front_.serial(), "host connected");
}

void TcpLink::closeConnection(bool reset) {
    int fd = channel();
    if (fd < 0) {
        return;
    }
    if (reset) {
        linger hard{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    clearChannel();
    close(fd);
    endSession();
}

// How the host's writes arrived: a small write never spans two segments, so a read with many
// packets in few segments shows that the host wrote them together.
void TcpLink::readDone(size_t count) {
    if (!log_.segments()) {
        return;
    }
    uint32_t segments = 0;
    if (!dataSegmentsReceived(channel(), &segments)) {
        return;
    }
    log_.note(front_.serial(), "read " + std::to_string(count) + " bytes in " +
                                   std::to_string(segments - segmentsNoted_) + " segments");
    segmentsNoted_ = segments;
}

void TcpLink::dropHost() {
    closeConnection(false);
}

void TcpLink::rebootFront() {
    if (rebootTimer_ != 0) {
        return;
    }
    rebootTimer_ = loop_.after(kRebootAfterAckMs + latencyFor(front_), [this]() {
        // The port closes before the reset reaches the host, so a host that reconnects at
        // once finds the module away rather than in a backlog that is about to vanish.
        closeListener();
        closeConnection(true);
        front_.reboot(EventLoop::nowMs());
        rebootTimer_ = loop_.after(front_.config().rebootMs, [this]() {
            rebootTimer_ = 0;
            relisten(kRelistenAttempts);
        });
    });
}

void TcpLink::relisten(int attemptsLeft) {
    std::string error;
    if (listen(error)) {
        log_.note(front_.serial(), "listens again");
        return;
    }
    if (attemptsLeft <= 1) {
        fprintf(stderr, "modulesim: %08X stays away after its restart: %s\n", front_.serial(),
                error.c_str());
        return;
    }
    rebootTimer_ = loop_.after(kRelistenRetryMs, [this, attemptsLeft]() {
        rebootTimer_ = 0;
        relisten(attemptsLeft - 1);
    });
}

}  // namespace modulesim

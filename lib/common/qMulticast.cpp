// UDP multicast sockets of the loopback discovery exchange. Address reuse stays off on purpose:
// a link server holds its request port as a receiver, so failing to bind a port is how a
// searcher learns that a server is listening there.
#include "qMulticast.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "qDebugging.h"

namespace {

constexpr uint16_t kMulticastCheck = 0xDEAD;
constexpr uint32_t kLoopbackAddress = 0x0100007F;  // 127.0.0.1, network byte order
constexpr int kReceiveTimeoutSeconds = 1;
constexpr unsigned char kTimeToLive = 1;  // discovery never leaves the local network

}  // namespace

struct qMulticast {
    uint16_t check;
    int descriptor;
    int mode;
    sockaddr_in group;
};

namespace {

bool validSocket(const qMulticast* socket) {
    return socket != nullptr && socket->check == kMulticastCheck;
}

// Numeric resolution only: discovery must never wait on, or send, a name lookup.
bool resolveGroup(const char* group, uint16_t port, sockaddr_in* address) {
    if (group == nullptr) {
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    char service[8];
    snprintf(service, sizeof(service), "%u", static_cast<unsigned>(port));
    addrinfo* found = nullptr;
    if (getaddrinfo(group, service, &hints, &found) != 0 || found == nullptr) {
        return false;
    }
    memcpy(address, found->ai_addr, sizeof(sockaddr_in));
    freeaddrinfo(found);
    return true;
}

bool bindReceiver(int descriptor, uint16_t port) {
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    any.sin_port = htons(port);
    return bind(descriptor, reinterpret_cast<sockaddr*>(&any), sizeof(any)) == 0;
}

bool setOptions(int descriptor, const sockaddr_in& group, uint32_t interface) {
    ip_mreq membership{};
    membership.imr_multiaddr = group.sin_addr;
    membership.imr_interface.s_addr = interface;
    in_addr outgoing{};
    outgoing.s_addr = interface;
    unsigned char ttl = kTimeToLive;
    unsigned char loop = 1;
    timeval timeout{kReceiveTimeoutSeconds, 0};
    return setsockopt(descriptor, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof(membership)) ==
               0 &&
           setsockopt(descriptor, IPPROTO_IP, IP_MULTICAST_IF, &outgoing, sizeof(outgoing)) == 0 &&
           setsockopt(descriptor, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof(ttl)) == 0 &&
           setsockopt(descriptor, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout)) == 0 &&
           setsockopt(descriptor, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof(loop)) == 0;
}

int openSocket(uint32_t interface, const sockaddr_in& group, int mode) {
    int descriptor = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (descriptor < 0) {
        qDebug_Print(qDEBUG_MULTICAST, "Multicast socket failed: %s\n", strerror(errno));
        return -1;
    }
    int reuse = 0;
    if (setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse)) != 0) {
        close(descriptor);
        return -1;
    }
    if (mode == qMULTICAST_RECEIVER && !bindReceiver(descriptor, ntohs(group.sin_port))) {
        qDebug_Print(qDEBUG_MULTICAST, "Multicast port %u is taken\n", ntohs(group.sin_port));
        close(descriptor);
        return -1;
    }
    if (!setOptions(descriptor, group, interface)) {
        qDebug_Print(qDEBUG_MULTICAST, "Multicast options failed: %s\n", strerror(errno));
        close(descriptor);
        return -1;
    }
    return descriptor;
}

}  // namespace

qMulticast* qMulticast_Create(uint32_t interface, const char* group, uint16_t port, int mode) {
    if (mode != qMULTICAST_RECEIVER && mode != qMULTICAST_SENDER) {
        return nullptr;
    }
    if (interface == 0) {
        interface = kLoopbackAddress;
    }
    sockaddr_in groupAddress{};
    if (!resolveGroup(group, port, &groupAddress)) {
        qDebug_Print(qDEBUG_MULTICAST, "Multicast group %s does not resolve\n",
                     group != nullptr ? group : "(null)");
        return nullptr;
    }
    int descriptor = openSocket(interface, groupAddress, mode);
    if (descriptor < 0) {
        return nullptr;
    }
    qMulticast* socket = static_cast<qMulticast*>(calloc(1, sizeof(qMulticast)));
    if (socket == nullptr) {
        close(descriptor);
        return nullptr;
    }
    socket->check = kMulticastCheck;
    socket->descriptor = descriptor;
    socket->mode = mode;
    socket->group = groupAddress;
    return socket;
}

int qMulticast_Send(qMulticast* socket, const uint8_t* bytes, size_t length) {
    if (!validSocket(socket)) {
        return -2;
    }
    if (socket->mode != qMULTICAST_SENDER) {
        return -3;
    }
    if (bytes == nullptr && length > 0) {
        return -1;
    }
    ssize_t sent = sendto(socket->descriptor, bytes, length, MSG_NOSIGNAL,
                          reinterpret_cast<const sockaddr*>(&socket->group), sizeof(socket->group));
    if (sent < 0) {
        qDebug_Print(qDEBUG_MULTICAST, "Multicast send failed: %s\n", strerror(errno));
        return -1;
    }
    return static_cast<int>(sent);
}

int qMulticast_Receive(qMulticast* socket, uint8_t* buffer, size_t size) {
    if (!validSocket(socket)) {
        return -2;
    }
    if (socket->mode != qMULTICAST_RECEIVER) {
        return -3;
    }
    if (buffer == nullptr || size == 0) {
        return -1;
    }
    ssize_t received = recv(socket->descriptor, buffer, size, MSG_WAITALL);
    if (received < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            qDebug_Print(qDEBUG_MULTICAST, "Multicast receive failed: %s\n", strerror(errno));
        }
        return -1;
    }
    return static_cast<int>(received);
}

int qMulticast_Destroy(qMulticast** socket) {
    if (socket == nullptr || !validSocket(*socket)) {
        return -2;
    }
    close((*socket)->descriptor);
    (*socket)->check = 0;
    free(*socket);
    *socket = nullptr;
    return 0;
}

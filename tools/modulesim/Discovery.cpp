#include "Discovery.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <set>

namespace modulesim {

namespace {

constexpr const char* kGroup = "232.2.2.2";
constexpr uint8_t kRequestMarker = 1;
// One request reaches a simulator on several interfaces of a test network (a veth pair, the
// multicast loop); a module on one interface would see it once.
constexpr int64_t kDuplicateWindowMs = 1000;
constexpr size_t kMaxRemembered = 64;

std::string namespaceOf(const char* path) {
    char target[PATH_MAX];
    ssize_t length = readlink(path, target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<size_t>(length)) : std::string();
}

// Addresses of the IPv4 interfaces that are up; only loopback ones when loopbackOnly.
std::vector<in_addr> interfaceAddresses(bool loopbackOnly) {
    std::vector<in_addr> addresses;
    std::set<uint32_t> seen;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return addresses;
    }
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET ||
            (entry->ifa_flags & IFF_UP) == 0 ||
            (loopbackOnly && (entry->ifa_flags & IFF_LOOPBACK) == 0)) {
            continue;
        }
        in_addr address = reinterpret_cast<sockaddr_in*>(entry->ifa_addr)->sin_addr;
        if (seen.insert(address.s_addr).second) {
            addresses.push_back(address);
        }
    }
    freeifaddrs(list);
    return addresses;
}

}  // namespace

bool inPrivateNetworkNamespace() {
    // The kernel's initial network namespace always has this inode number; init's namespace
    // (when it can be read) tells a container's own namespace apart as well.
    const std::string initial = "net:[4026531833]";
    std::string own = namespaceOf("/proc/self/ns/net");
    std::string machine = namespaceOf("/proc/1/ns/net");
    return !own.empty() && own != initial && (machine.empty() || own != machine);
}

std::vector<uint8_t> discoveryAnswer(uint8_t address, uint16_t port, uint32_t serial,
                                     uint8_t model) {
    std::vector<uint8_t> answer(DiscoveryResponder::kMessageSize, 0);
    answer[1] = address;
    answer[2] = static_cast<uint8_t>(port);
    answer[3] = static_cast<uint8_t>(port >> 8);
    for (int i = 0; i < 4; ++i) {
        answer[4 + i] = static_cast<uint8_t>(serial >> (8 * i));
    }
    answer[12] = model;
    return answer;
}

DiscoveryResponder::DiscoveryResponder(EventLoop& loop, std::vector<TcpLink*> links,
                                       const PacketLog& log)
    : loop_(loop), links_(std::move(links)), log_(log) {}

DiscoveryResponder::~DiscoveryResponder() {
    if (socket_ >= 0) {
        loop_.unwatch(socket_);
        close(socket_);
    }
}

bool DiscoveryResponder::open(std::string& error) {
    socket_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (socket_ < 0) {
        error = std::string("discovery socket: ") + strerror(errno);
        return false;
    }
    // Several simulators (and the host's own listener) share the port.
    int on = 1;
    setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(kRequestPort);
    if (bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        error = std::string("cannot bind the discovery port 9888: ") + strerror(errno);
        close(socket_);
        socket_ = -1;
        return false;
    }
    bool privateNetwork = inPrivateNetworkNamespace();
    if (!privateNetwork) {
        fprintf(stderr,
                "modulesim: not in a private network namespace; discovery listens on loopback "
                "only (see scripts/netns-run)\n");
    }
    ip_mreq membership{};
    inet_pton(AF_INET, kGroup, &membership.imr_multiaddr);
    for (const in_addr& address : interfaceAddresses(!privateNetwork)) {
        membership.imr_interface = address;
        setsockopt(socket_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership);
    }
    loop_.watch(socket_, POLLIN, [this](short) { readable(); });
    return true;
}

bool DiscoveryResponder::seenRecently(const sockaddr_in& from, int64_t nowMs) {
    while (!seen_.empty() &&
           (nowMs - seen_.front().atMs > kDuplicateWindowMs || seen_.size() > kMaxRemembered)) {
        seen_.pop_front();
    }
    for (const Seen& seen : seen_) {
        if (seen.from.sin_addr.s_addr == from.sin_addr.s_addr &&
            seen.from.sin_port == from.sin_port) {
            return true;
        }
    }
    seen_.push_back(Seen{from, nowMs});
    return false;
}

void DiscoveryResponder::readable() {
    uint8_t request[64];
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    ssize_t count = recvfrom(socket_, request, sizeof request, 0,
                             reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (count != static_cast<ssize_t>(kMessageSize) || request[0] != kRequestMarker ||
        seenRecently(from, EventLoop::nowMs())) {
        return;
    }
    for (const TcpLink* link : links_) {
        if (link->listening()) {
            answer(*link, from);
        }
    }
}

void DiscoveryResponder::answer(const TcpLink& link, const sockaddr_in& requester) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return;
    }
    // The answer comes from the module's own address: that is where the host connects.
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr = link.bindAddress();
    if (local.sin_addr.s_addr != htonl(INADDR_ANY)) {
        bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    }
    const SimModule& module = link.front();
    std::vector<uint8_t> answer =
        discoveryAnswer(module.address(), link.port(), module.serial(), module.config().model);
    sockaddr_in to = requester;
    to.sin_port = htons(kReplyPort);
    sendto(fd, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    close(fd);
    if (log_.enabled()) {
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &requester.sin_addr, text, sizeof text);
        log_.note(module.serial(), std::string("answers discovery from ") + text);
    }
}

}  // namespace modulesim

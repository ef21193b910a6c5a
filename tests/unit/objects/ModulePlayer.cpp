#include "ModulePlayer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "qStream.h"

namespace zvtest {

namespace {

constexpr int POLL_MS = 5;
constexpr uint8_t ROUTE_ADDRESS = 175;

struct HostEnd {
    int fd;
};

qErr hostGet(uint8_t* byte, void* reference) {
    const int fd = static_cast<HostEnd*>(reference)->fd;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, POLL_MS) <= 0) {
        return qErrNotReady;
    }
    const ssize_t got = read(fd, byte, 1);
    if (got == 1) {
        return qErrNone;
    }
    return got == 0 ? qErrEOF : qErrIO;
}

qErr hostWrite(const uint8_t* bytes, size_t length, void* reference) {
    const int fd = static_cast<HostEnd*>(reference)->fd;
    while (length > 0) {
        const ssize_t put = send(fd, bytes, length, MSG_NOSIGNAL);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return qErrWrite;
        }
        bytes += put;
        length -= static_cast<size_t>(put);
    }
    return qErrNone;
}

qErr hostPut(uint8_t byte, void* reference) {
    return hostWrite(&byte, 1, reference);
}

qErr hostDelete(void* reference) {
    HostEnd* end = static_cast<HostEnd*>(reference);
    close(end->fd);
    delete end;
    return qErrNone;
}

bool readByte(int fd, uint8_t* byte, const std::atomic<bool>& running) {
    while (running) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, POLL_MS) <= 0) {
            continue;
        }
        return read(fd, byte, 1) == 1;
    }
    return false;
}

}  // namespace

ModulePlayer::ModulePlayer() {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0) {
        hostFd = fds[0];
        moduleFd = fds[1];
    }
    thread = std::thread(&ModulePlayer::run, this);
}

ModulePlayer::ModulePlayer(uint16_t* tcpPort) {
    listenFd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof(address);
    if (listenFd >= 0 && bind(listenFd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        listen(listenFd, 1) == 0 &&
        getsockname(listenFd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        *tcpPort = ntohs(address.sin_port);
    } else {
        *tcpPort = 0;
    }
    thread = std::thread([this] {
        if (acceptConnection()) {
            run();
        }
    });
}

bool ModulePlayer::acceptConnection() {
    while (running) {
        pollfd p{listenFd, POLLIN, 0};
        if (poll(&p, 1, POLL_MS) > 0) {
            moduleFd = accept(listenFd, nullptr, nullptr);
            return moduleFd >= 0;
        }
    }
    return false;
}

ModulePlayer::~ModulePlayer() {
    running = false;
    thread.join();
    if (moduleFd >= 0) {
        close(moduleFd);
    }
    if (listenFd >= 0) {
        close(listenFd);
    }
    if (hostFd >= 0) {
        close(hostFd);  // never handed to a link
    }
}

qLinkID ModulePlayer::makeEngineLink() {
    qStream* stream = qStream_Create(hostGet, hostPut, hostWrite, hostDelete, new HostEnd{hostFd});
    hostFd = -1;
    return stream != nullptr ? qLink_Create(stream) : 0;
}

void ModulePlayer::setResponder(Responder r) {
    std::lock_guard<std::mutex> guard(mutex);
    responder = std::move(r);
}

void ModulePlayer::writeBytes(const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> guard(writeMutex);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put =
            ::send(moduleFd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (put <= 0) {
            return;
        }
        done += static_cast<size_t>(put);
    }
}

void ModulePlayer::send(const WirePacket& packet) {
    std::vector<uint8_t> bytes{packet.address, static_cast<uint8_t>(packet.data.size())};
    bytes.insert(bytes.end(), packet.data.begin(), packet.data.end());
    writeBytes(bytes);
}

std::vector<WirePacket> ModulePlayer::requests() {
    std::lock_guard<std::mutex> guard(mutex);
    return seen;
}

bool ModulePlayer::waitForRequests(size_t count, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> guard(mutex);
    return arrived.wait_for(guard, limit, [&] { return seen.size() >= count; });
}

void ModulePlayer::run() {
    uint8_t address = 0;
    uint8_t length = 0;
    while (readByte(moduleFd, &address, running) && readByte(moduleFd, &length, running)) {
        WirePacket request;
        request.address = address;
        request.data.resize(length);
        bool complete = true;
        for (uint8_t i = 0; i < length && complete; ++i) {
            complete = readByte(moduleFd, &request.data[i], running);
        }
        if (!complete) {
            break;
        }
        if (address == ROUTE_ADDRESS) {
            continue;
        }
        Responder current;
        {
            std::lock_guard<std::mutex> guard(mutex);
            seen.push_back(request);
            current = responder;
        }
        arrived.notify_all();
        if (current) {
            for (const WirePacket& reply : current(request)) {
                send(reply);
            }
        }
    }
}

WirePacket streamSample(uint8_t module, uint8_t command, uint8_t option, uint8_t index,
                        uint8_t type, uint32_t value, uint8_t subIndex) {
    WirePacket p{module, {command, option, static_cast<uint8_t>(index | 0x40), type}};
    if (type >= 5) {
        p.data.push_back(subIndex);
    }
    for (uint8_t b : {0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02}) {
        p.data.push_back(b);
    }
    const int width = (type == 1 || type == 5) ? 1 : (type == 2 || type == 6) ? 2 : 4;
    for (int i = width - 1; i >= 0; --i) {
        p.data.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
    p.data.push_back(0);
    return p;
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace zvtest

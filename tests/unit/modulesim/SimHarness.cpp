#include "SimHarness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "TestSupport.h"

namespace simtest {

namespace {

int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

uint32_t bigEndian32(const std::vector<uint8_t>& bytes, size_t offset) {
    if (bytes.size() < offset + 4) {
        return 0xFFFFFFFFu;
    }
    return (uint32_t(bytes[offset]) << 24) | (uint32_t(bytes[offset + 1]) << 16) |
           (uint32_t(bytes[offset + 2]) << 8) | bytes[offset + 3];
}

bool SimProcess::start(const std::vector<std::string>& args, std::string* why) {
    program_.reset();
    try {
        program_ = std::make_unique<zvtest::BackgroundProgram>(zvtest::modulesimBinary(), args);
    } catch (const std::exception& failure) {
        if (why)
            *why = failure.what();
        return false;
    }
    if (!program_->waitReady(10000)) {
        if (why)
            *why = "no ready line from modulesim";
        return false;
    }
    return true;
}

std::string SimProcess::where(const std::string& kind, const std::string& serial) const {
    if (!program_) {
        return "";
    }
    std::istringstream rest(program_->startupValue(kind + " " + serial));
    std::string where;
    rest >> where;
    return where;
}

PacketChannel::~PacketChannel() {
    close();
}

void PacketChannel::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool PacketChannel::connectTcp(const std::string& where, int retryMs) {
    close();
    size_t colon = where.rfind(':');
    if (colon == std::string::npos) {
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(std::stoi(where.substr(colon + 1))));
    if (inet_pton(AF_INET, where.substr(0, colon).c_str(), &address.sin_addr) != 1) {
        return false;
    }
    int64_t deadline = nowMs() + retryMs;
    do {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            int on = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            fd_ = fd;
            return true;
        }
        ::close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (nowMs() < deadline);
    return false;
}

bool PacketChannel::openDevice(const std::string& path) {
    close();
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY);
    return fd_ >= 0;
}

void writeAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (fd >= 0 && done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
}

void PacketChannel::send(const std::vector<uint8_t>& bytes) {
    writeAll(fd_, bytes);
}

bool PacketChannel::readExactly(uint8_t* out, size_t count, int timeoutMs) {
    int64_t deadline = nowMs() + timeoutMs;
    size_t got = 0;
    while (got < count) {
        int64_t left = deadline - nowMs();
        pollfd p{fd_, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) != 1) {
            return false;
        }
        ssize_t n = read(fd_, out + got, count - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            // A pseudo-terminal set to return at once may read nothing; a socket at its end
            // reads nothing for good.
            if (n == 0 && isatty(fd_)) {
                continue;
            }
            return false;
        }
        got += static_cast<size_t>(n);
    }
    return true;
}

bool PacketChannel::receive(WirePacket& packet, int timeoutMs, bool keepHeartbeats) {
    int64_t deadline = nowMs() + timeoutMs;
    while (fd_ >= 0) {
        int left = static_cast<int>(deadline - nowMs());
        uint8_t header[2];
        if (left <= 0 || !readExactly(header, 2, left)) {
            return false;
        }
        packet.address = header[0];
        packet.data.assign(header[1], 0);
        if (header[1] > 0 && !readExactly(packet.data.data(), header[1], 2000)) {
            return false;
        }
        bool heartbeat = packet.data.size() == 2 && packet.data[0] == 0 && packet.data[1] < 2;
        if (keepHeartbeats || !heartbeat) {
            return true;
        }
    }
    return false;
}

WirePacket PacketChannel::exchange(uint8_t address, const std::vector<uint8_t>& data) {
    sendPacket(address, data);
    WirePacket reply;
    if (!receive(reply)) {
        return WirePacket();
    }
    return reply;
}

bool descriptorQuietFor(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, ms) != 1) {
        return true;
    }
    // Readable without data: a closed connection or a terminal that hung up.
    uint8_t byte;
    return read(fd, &byte, 1) <= 0;
}

bool PacketChannel::quietFor(int ms) {
    return descriptorQuietFor(fd_, ms);
}

bool PacketChannel::closedByPeer(int timeoutMs) {
    int64_t deadline = nowMs() + timeoutMs;
    while (nowMs() < deadline) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(deadline - nowMs())) != 1) {
            return false;
        }
        uint8_t buffer[256];
        ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n <= 0) {
            return true;
        }
    }
    return false;
}

}  // namespace simtest

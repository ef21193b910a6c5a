#include "FakeModule.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kPollMs = 20;
constexpr int kAcceptLimitMs = 10000;
constexpr uint8_t kMagic = 173;
constexpr uint8_t kRoute = 175;

// Commands whose packets are not UEI payloads: their last byte is data, never a trailer.
bool isUEICommand(uint8_t command) {
    static const uint8_t kNotUEI[] = {0, 1, 2, 4, 8, 9, 23, 24, 73, 94, 95, 173, 175};
    for (uint8_t other : kNotUEI) {
        if (command == other) {
            return false;
        }
    }
    return true;
}

// A UEI byte write announcing more of the same value, which the module answers only at its end:
// of an entity, or of the upgrade loader's block data (a set on the upgrade command).
bool fullAndContinuing(const std::string& packet) {
    size_t dataSize = packet.size() - 2;
    uint8_t command = static_cast<uint8_t>(packet[2]);
    bool ueiValue = isUEICommand(command) || (command == 95 && (packet[3] & 0xC0) != 0);
    return (dataSize == 27 || dataSize == 28) && ueiValue &&
           (static_cast<uint8_t>(packet.back()) & 0x80);
}

}  // namespace

std::string wire(std::initializer_list<uint8_t> values) {
    return std::string(values.begin(), values.end());
}

std::string bytesPacket(uint8_t dataSize, uint8_t sequence, bool more, uint8_t tag) {
    std::string packet = wire({FakeModule::kAddress, dataSize, 30, 0x80, 0x21});
    while (packet.size() < static_cast<size_t>(dataSize) + 1) {
        packet.push_back(static_cast<char>(tag));
    }
    packet.push_back(static_cast<char>(sequence | (more ? 0x80 : 0)));
    return packet;
}

std::string fullPlainPacket(uint8_t command, uint8_t sub, uint8_t tag, uint8_t last) {
    std::string packet = wire({FakeModule::kAddress, 28, command, sub});
    packet.append(25, static_cast<char>(tag));
    packet.push_back(static_cast<char>(last));
    return packet;
}

FakeModule::FakeModule() : responder_(standardReply) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 1);
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { run(); });
}

FakeModule::~FakeModule() {
    running_ = false;
    thread_.join();
    if (connection_ >= 0) {
        close(connection_);
    }
    close(listener_);
}

void FakeModule::setResponder(Responder responder) {
    std::lock_guard<std::mutex> guard(lock_);
    responder_ = std::move(responder);
}

void FakeModule::send(const std::string& bytes) {
    std::lock_guard<std::mutex> guard(sendLock_);
    size_t sent = 0;
    while (connection_ >= 0 && sent < bytes.size()) {
        ssize_t n = ::send(connection_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        sent += static_cast<size_t>(n);
    }
}

std::vector<std::string> FakeModule::received() {
    std::lock_guard<std::mutex> guard(lock_);
    return received_;
}

std::vector<std::string> FakeModule::requests() {
    std::vector<std::string> result;
    for (const std::string& packet : received()) {
        bool route = static_cast<uint8_t>(packet[0]) == kRoute;
        bool heartbeatAnswer = packet.size() == 4 && packet[1] == 2 && packet[2] == 0;
        if (!route && !heartbeatAnswer) {
            result.push_back(packet);
        }
    }
    return result;
}

std::vector<std::string> FakeModule::standardReply(const std::string& packet) {
    uint8_t address = static_cast<uint8_t>(packet[0]);
    if (address == kMagic && packet.size() == 2) {
        return {wire({kAddress, 0})};
    }
    if (packet == wire({kAddress, 3, 3, 72, 32})) {
        return {wire({kAddress, 4, 3, 72, 0, kModel})};
    }
    bool heartbeatAnswer = packet.size() == 4 && packet[1] == 2 && packet[2] == 0;
    if (address == kRoute || heartbeatAnswer || fullAndContinuing(packet)) {
        return {};
    }
    return {packet};
}

void FakeModule::handle(const std::string& packet) {
    Responder responder;
    {
        std::lock_guard<std::mutex> guard(lock_);
        received_.push_back(packet);
        responder = responder_;
    }
    for (const std::string& reply : responder(packet)) {
        send(reply);
    }
}

void FakeModule::run() {
    pollfd incoming{listener_, POLLIN, 0};
    if (poll(&incoming, 1, kAcceptLimitMs) != 1) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(sendLock_);
        connection_ = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    }
    std::string packet;
    while (running_ && connection_ >= 0) {
        pollfd readable{connection_, POLLIN, 0};
        if (poll(&readable, 1, kPollMs) != 1) {
            continue;
        }
        char byte = 0;
        if (recv(connection_, &byte, 1, 0) != 1) {
            break;
        }
        packet.push_back(byte);
        if (packet.size() >= 2 && packet.size() == static_cast<size_t>(packet[1]) + 2) {
            handle(packet);
            packet.clear();
        }
    }
}

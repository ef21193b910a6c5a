// A module on a TCP port of 127.0.0.1, reached by a TCP/IP link. It records every packet the
// link sends and answers each through a replaceable responder; tests may also push bytes of their
// own (stream samples, heartbeats).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FakeModule {
  public:
    // Wire form of a received packet -> wire forms to send back.
    using Responder = std::function<std::vector<std::string>(const std::string& packet)>;

    static constexpr uint8_t kAddress = 4;
    static constexpr uint8_t kModel = 0x2A;

    FakeModule();
    ~FakeModule();
    FakeModule(const FakeModule&) = delete;
    FakeModule& operator=(const FakeModule&) = delete;

    uint32_t port() const { return port_; }
    void setResponder(Responder responder);
    void send(const std::string& wire);
    std::vector<std::string> received();
    // Received packets other than the link's own route commands and heartbeat answers.
    std::vector<std::string> requests();

    // The default answers: module address and model queries, echo of everything else except
    // route packets, heartbeat answers and full UEI byte-write packets that announce more.
    static std::vector<std::string> standardReply(const std::string& packet);

  private:
    void run();
    void handle(const std::string& packet);

    int listener_ = -1;
    int connection_ = -1;
    uint32_t port_ = 0;
    std::atomic<bool> running_{true};
    std::mutex lock_;
    std::mutex sendLock_;
    Responder responder_;
    std::vector<std::string> received_;
    std::thread thread_;
};

std::string wire(std::initializer_list<uint8_t> values);
// A UEI byte-write packet of dataSize bytes (command 30) with its trailer; tag marks the sender.
std::string bytesPacket(uint8_t dataSize, uint8_t sequence, bool more, uint8_t tag);
// A packet of 28 data bytes of a command that is no UEI payload (95 upgrade, 4 store slots, 94
// factory data), its second byte the sub-command, filled with tag up to a last byte of last.
std::string fullPlainPacket(uint8_t command, uint8_t sub, uint8_t tag, uint8_t last);

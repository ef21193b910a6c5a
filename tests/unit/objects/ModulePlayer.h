// Plays a module at the far end of a socket pair. The host side is an engine link made with
// qLink_Create over a stream on one end; a thread on the other end reads the request packets as
// raw wire bytes (address, length, data), records them and writes the replies a test scripts.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "qLink.h"

namespace zvtest {

struct WirePacket {
    uint8_t address = 0;
    std::vector<uint8_t> data;

    bool operator==(const WirePacket& other) const {
        return address == other.address && data == other.data;
    }
};

class ModulePlayer {
  public:
    // Replies (possibly none) to one request.
    using Responder = std::function<std::vector<WirePacket>(const WirePacket& request)>;

    // Over a socket pair; makeEngineLink gives the host end.
    ModulePlayer();
    // As a module with its own TCP/IP port: listens on 127.0.0.1 and takes one connection.
    explicit ModulePlayer(uint16_t* tcpPort);
    ~ModulePlayer();
    ModulePlayer(const ModulePlayer&) = delete;
    ModulePlayer& operator=(const ModulePlayer&) = delete;

    // A new running engine link over the host end; the caller owns it (one use).
    qLinkID makeEngineLink();
    void setResponder(Responder responder);
    // An unsolicited packet from the module.
    void send(const WirePacket& packet);
    // Requests to module addresses seen so far (link-level route packets left out).
    std::vector<WirePacket> requests();
    // Waits (bounded) until at least count requests have arrived.
    bool waitForRequests(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(5));

  private:
    void run();
    bool acceptConnection();
    void writeBytes(const std::vector<uint8_t>& bytes);

    int hostFd = -1;
    std::atomic<int> moduleFd{-1};
    int listenFd = -1;
    std::atomic<bool> running{true};
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<WirePacket> seen;
    Responder responder;
    std::mutex writeMutex;
    std::thread thread;
};

// A stream-sample packet from module: command, option, index | 0x40, type, (sub-index),
// timestamp, value, trailer 0.
WirePacket streamSample(uint8_t module, uint8_t command, uint8_t option, uint8_t index,
                        uint8_t type, uint32_t value, uint8_t subIndex = 0);

// Polls until condition holds, at most limit (never a pass/fail timing).
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = std::chrono::seconds(5));

}  // namespace zvtest

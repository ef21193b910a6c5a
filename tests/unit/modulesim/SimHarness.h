// Runs the module simulator in the background and talks raw bytes to it, with plain sockets and
// file descriptors only: the simulator is checked on its own, not through the device library.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "BackgroundProgram.h"
#include "WirePacket.h"

namespace simtest {

using WirePacket = zvtest::WirePacket;

// How long a test waits for an answer it expects. Generous, as a reply that does come returns at
// once, and a sanitizer build on a loaded machine can stall the simulator for seconds.
constexpr int kReplyWaitMs = 10000;

// The bytes of a packet as they travel: address, length, data.
inline std::vector<uint8_t> wire(uint8_t address, const std::vector<uint8_t>& data) {
    return WirePacket{address, data}.bytes();
}
uint32_t bigEndian32(const std::vector<uint8_t>& bytes, size_t offset);

// The simulator as a background program; stopped (SIGTERM) when the object goes away.
class SimProcess {
  public:
    // Starts modulesim with args and waits (10 s at most) for its "ready" line.
    bool start(const std::vector<std::string>& args, std::string* why = nullptr);
    // The third word of the start-up line "KIND SERIAL WHERE", or "" when there is none.
    std::string where(const std::string& kind, const std::string& serial) const;
    pid_t pid() const { return program_ ? program_->pid() : -1; }
    // SIGTERM, then the exit code (or 128 + signal), or -1 when it was not running.
    int stop() { return program_ ? program_->stop() : -1; }

  private:
    std::unique_ptr<zvtest::BackgroundProgram> program_;
};

// A byte channel to a module: a TCP connection or an opened pseudo-terminal.
class PacketChannel {
  public:
    PacketChannel() = default;
    ~PacketChannel();
    PacketChannel(const PacketChannel&) = delete;
    PacketChannel& operator=(const PacketChannel&) = delete;

    // "ADDR:PORT"; retried for up to retryMs while the port is closed.
    bool connectTcp(const std::string& where, int retryMs = 0);
    bool openDevice(const std::string& path);
    void close();
    bool isOpen() const { return fd_ >= 0; }

    void send(const std::vector<uint8_t>& bytes);
    void sendPacket(uint8_t address, const std::vector<uint8_t>& data) {
        send(wire(address, data));
    }
    // The next whole packet; heartbeats from the module ([a, 2, 0, 0/1]) are skipped unless
    // keepHeartbeats. False when none comes within timeoutMs.
    bool receive(WirePacket& packet, int timeoutMs = kReplyWaitMs, bool keepHeartbeats = false);
    // Sends a request and returns the next reply; an empty packet with address 0 when none.
    WirePacket exchange(uint8_t address, const std::vector<uint8_t>& data);
    // True when no byte arrives for ms milliseconds (a channel closed meanwhile counts as quiet:
    // pair it with closedByPeer when the channel must stay up).
    bool quietFor(int ms);
    // True once the peer has closed or reset the connection (within timeoutMs).
    bool closedByPeer(int timeoutMs = kReplyWaitMs);

  private:
    bool readExactly(uint8_t* out, size_t count, int timeoutMs);

    int fd_ = -1;
};

// Writes all of bytes to fd, or as much as it takes before an error.
void writeAll(int fd, const std::vector<uint8_t>& bytes);

// Nothing arrives on fd for ms milliseconds; a closed or hung-up descriptor counts as quiet.
bool descriptorQuietFor(int fd, int ms);

}  // namespace simtest

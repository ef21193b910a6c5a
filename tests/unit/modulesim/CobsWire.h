// The host's end of a packetised serial line, written apart from the simulator's so that each
// checks the other: CRC-8/MAXIM bit by bit, COBS the plain way, and a terminal that reads and
// writes whole frames.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "SimHarness.h"

namespace cobstest {

using Bytes = std::vector<uint8_t>;

uint8_t crc8Maxim(const Bytes& bytes);
Bytes cobsStuff(const Bytes& plain);
// False on a code byte of 0 or one that points past the end.
bool cobsUnstuff(const Bytes& stuffed, Bytes& plain);
// Wire form, CRC-8 (inverted when badCrc), stuffed, then the 0 delimiter.
Bytes frameOf(uint8_t address, const Bytes& data, bool badCrc = false);

// A pseudo-terminal carrying frames.
class FrameTerminal {
  public:
    FrameTerminal() = default;
    ~FrameTerminal();
    FrameTerminal(const FrameTerminal&) = delete;
    FrameTerminal& operator=(const FrameTerminal&) = delete;

    bool open(const std::string& path);
    void sendBytes(const Bytes& bytes);
    void sendPacket(uint8_t address, const Bytes& data) { sendBytes(frameOf(address, data)); }
    // The next frame as it came, without its delimiter; false when none ends within timeoutMs.
    bool receiveRaw(Bytes& stuffed, int timeoutMs = simtest::kReplyWaitMs);
    // The next frame that unstuffs and passes its CRC, as a packet; heartbeats are skipped
    // unless keepHeartbeats. Frames that fail are counted in badFrames.
    bool receive(simtest::WirePacket& packet, int timeoutMs = simtest::kReplyWaitMs,
                 bool keepHeartbeats = false);
    simtest::WirePacket exchange(uint8_t address, const Bytes& data);
    // True when no byte comes for ms milliseconds.
    bool quietFor(int ms);
    // True once the terminal has hung up (within timeoutMs).
    bool hungUp(int timeoutMs = simtest::kReplyWaitMs);

    int badFrames = 0;

  private:
    int fd_ = -1;
    Bytes pending_;
};

}  // namespace cobstest

// The module side of the packet wire format: packets, their byte form, big-endian values, the
// error codes a module sends back, and the packed firmware version.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace modulesim {

constexpr size_t kMaxPacketData = 28;
constexpr uint8_t kMagicAddress = 173;  // sync/identify request and its answer
constexpr uint8_t kRouteAddress = 175;  // route command from the host

// Error codes as modules report them in error replies (the numbering is shared with the host).
enum ErrorCode : uint8_t {
    qErrNone = 0,
    qErrParam = 2,
    qErrNotFound = 3,
    qErrMode = 7,
    qErrEOF = 10,
    qErrNotReady = 11,
    qErrRange = 13,
    qErrSize = 14,
    qErrOverrun = 15,
    qErrTimeout = 18,
    qErrUnimplemented = 21,
    qErrPacket = 24,
    qErrIndexRange = 26,
    qErrShortCommand = 27,
    qErrInvalidEntity = 28,
    qErrInvalidOption = 29,
    qErrResource = 30,
};

// Command bytes a module understands (data byte 0).
enum Command : uint8_t {
    kCmdHeartbeat = 0,
    kCmdSystem = 3,
    kCmdStoreSlot = 4,
    kCmdI2C = 8,
    kCmdEcho = 23,
    kCmdModuleInfo = 73,
    kCmdStoreEntity = 92,
    kCmdStream = 93,
    kCmdFactoryData = 94,
    kCmdUpgrade = 95,
};

struct Packet {
    uint8_t address = 0;
    std::vector<uint8_t> data;

    Packet() = default;
    Packet(uint8_t to, std::vector<uint8_t> bytes) : address(to), data(std::move(bytes)) {}
};

// Address, length, data: the packet as it travels.
std::vector<uint8_t> encodePacket(const Packet& packet);

// Cuts a byte stream into packets. A zero address byte or a length above 28 cannot start a
// packet, so such a byte is skipped and the next one is tried: the host resynchronises the same
// way, and a module must not lock up on a stray byte.
class PacketReader {
  public:
    void feed(const uint8_t* bytes, size_t count, std::vector<Packet>& complete);
    void reset();

  private:
    enum class Stage { Address, Length, Data };
    Stage stage_ = Stage::Address;
    Packet current_;
    size_t expected_ = 0;
};

void appendBigEndian(std::vector<uint8_t>& out, uint32_t value, size_t width);
uint32_t readBigEndian(const uint8_t* bytes, size_t width);
uint8_t byteSum(const uint8_t* bytes, size_t count);

// Packs a firmware version as modules report it: the current layout (0x2F, major, minor, patch)
// for major above 2 or 2.15 and later, else the legacy nibble layout with a 24-bit patch.
uint32_t packVersion(uint8_t major, uint8_t minor, uint8_t patch);

}  // namespace modulesim

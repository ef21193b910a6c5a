#include "Wire.h"

namespace modulesim {

std::vector<uint8_t> encodePacket(const Packet& packet) {
    std::vector<uint8_t> bytes;
    bytes.reserve(packet.data.size() + 2);
    bytes.push_back(packet.address);
    bytes.push_back(static_cast<uint8_t>(packet.data.size()));
    bytes.insert(bytes.end(), packet.data.begin(), packet.data.end());
    return bytes;
}

void PacketReader::reset() {
    stage_ = Stage::Address;
    current_ = Packet();
    expected_ = 0;
}

void PacketReader::feed(const uint8_t* bytes, size_t count, std::vector<Packet>& complete) {
    for (size_t i = 0; i < count; ++i) {
        uint8_t byte = bytes[i];
        switch (stage_) {
            case Stage::Address:
                if (byte != 0) {
                    current_ = Packet();
                    current_.address = byte;
                    stage_ = Stage::Length;
                }
                break;
            case Stage::Length:
                if (byte > kMaxPacketData) {
                    // Not a packet boundary after all: look for one from the next byte on.
                    stage_ = Stage::Address;
                } else if (byte == 0) {
                    complete.push_back(current_);
                    stage_ = Stage::Address;
                } else {
                    expected_ = byte;
                    current_.data.reserve(byte);
                    stage_ = Stage::Data;
                }
                break;
            case Stage::Data:
                current_.data.push_back(byte);
                if (current_.data.size() == expected_) {
                    complete.push_back(current_);
                    stage_ = Stage::Address;
                }
                break;
        }
    }
}

void appendBigEndian(std::vector<uint8_t>& out, uint32_t value, size_t width) {
    for (size_t i = width; i > 0; --i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * (i - 1))));
    }
}

uint32_t readBigEndian(const uint8_t* bytes, size_t width) {
    uint32_t value = 0;
    for (size_t i = 0; i < width; ++i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

uint8_t byteSum(const uint8_t* bytes, size_t count) {
    uint8_t sum = 0;
    for (size_t i = 0; i < count; ++i) {
        sum = static_cast<uint8_t>(sum + bytes[i]);
    }
    return sum;
}

uint32_t packVersion(uint8_t major, uint8_t minor, uint8_t patch) {
    if (major > 2 || (major == 2 && minor > 14)) {
        return 0x2F000000u | (uint32_t(major) << 16) | (uint32_t(minor) << 8) | patch;
    }
    return (uint32_t(major & 0x0F) << 28) | (uint32_t(minor & 0x0F) << 24) | patch;
}

}  // namespace modulesim

// One packet as it travels between host and module: an address, a length byte and up to 28 data
// bytes. Tests build, compare and print packets through this one type.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace zvtest {

struct WirePacket {
    uint8_t address = 0;
    std::vector<uint8_t> data;

    // The bytes on the wire: address, length, data.
    std::vector<uint8_t> bytes() const;
    std::string wireText() const;
    // The packet whose wire bytes these are (the length byte is taken from the text's size).
    static WirePacket fromWire(const std::string& wire);

    bool operator==(const WirePacket& other) const {
        return address == other.address && data == other.data;
    }
    bool operator!=(const WirePacket& other) const { return !(*this == other); }
};

// Wire bytes as text, for comparisons: bytes({0xAD, 0x00}).
std::string bytes(std::initializer_list<uint8_t> values);
std::string repeat(const std::string& part, int times);
// Printable form for failure messages: "AD 00 ".
std::string hex(const std::string& wire);

std::vector<std::string> wireTexts(const std::vector<WirePacket>& packets);
std::vector<WirePacket> fromWireTexts(const std::vector<std::string>& wires);

}  // namespace zvtest

#include "WirePacket.h"

#include <algorithm>
#include <cstdio>

namespace zvtest {

std::vector<uint8_t> WirePacket::bytes() const {
    std::vector<uint8_t> wire(data.size() + 2);
    wire[0] = address;
    wire[1] = static_cast<uint8_t>(data.size());
    std::copy(data.begin(), data.end(), wire.begin() + 2);
    return wire;
}

std::string WirePacket::wireText() const {
    std::vector<uint8_t> wire = bytes();
    return std::string(wire.begin(), wire.end());
}

WirePacket WirePacket::fromWire(const std::string& wire) {
    WirePacket packet;
    if (!wire.empty()) {
        packet.address = static_cast<uint8_t>(wire[0]);
    }
    if (wire.size() > 2) {
        packet.data.assign(wire.begin() + 2, wire.end());
    }
    return packet;
}

std::string bytes(std::initializer_list<uint8_t> values) {
    return std::string(values.begin(), values.end());
}

std::string repeat(const std::string& part, int times) {
    std::string whole;
    for (int i = 0; i < times; ++i) {
        whole += part;
    }
    return whole;
}

std::string hex(const std::string& wire) {
    std::string text;
    char piece[4];
    for (unsigned char c : wire) {
        snprintf(piece, sizeof piece, "%02X ", c);
        text += piece;
    }
    return text;
}

std::vector<std::string> wireTexts(const std::vector<WirePacket>& packets) {
    std::vector<std::string> wires;
    for (const WirePacket& packet : packets) {
        wires.push_back(packet.wireText());
    }
    return wires;
}

std::vector<WirePacket> fromWireTexts(const std::vector<std::string>& wires) {
    std::vector<WirePacket> packets;
    for (const std::string& wire : wires) {
        packets.push_back(WirePacket::fromWire(wire));
    }
    return packets;
}

}  // namespace zvtest

#include "ServedModule.h"

using servedmodule::kAddress;
using servedmodule::kModel;

namespace {

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

bool isRouteOrHeartbeatAnswer(const std::string& packet) {
    bool heartbeatAnswer = packet.size() == 4 && packet[1] == 2 && packet[2] == 0;
    return static_cast<uint8_t>(packet[0]) == kRoute || heartbeatAnswer;
}

}  // namespace

namespace servedmodule {

std::vector<std::string> standardReply(const std::string& packet) {
    uint8_t address = static_cast<uint8_t>(packet[0]);
    if (address == kMagic && packet.size() == 2) {
        return {bytes({kAddress, 0})};
    }
    if (packet == bytes({kAddress, 3, 3, 72, 32})) {
        return {bytes({kAddress, 4, 3, 72, 0, kModel})};
    }
    if (isRouteOrHeartbeatAnswer(packet) || fullAndContinuing(packet)) {
        return {};
    }
    return {packet};
}

}  // namespace servedmodule

std::string bytesPacket(uint8_t dataSize, uint8_t sequence, bool more, uint8_t tag) {
    std::string packet = bytes({kAddress, dataSize, 30, 0x80, 0x21});
    while (packet.size() < static_cast<size_t>(dataSize) + 1) {
        packet.push_back(static_cast<char>(tag));
    }
    packet.push_back(static_cast<char>(sequence | (more ? 0x80 : 0)));
    return packet;
}

std::string fullPlainPacket(uint8_t command, uint8_t sub, uint8_t tag, uint8_t last) {
    std::string packet = bytes({kAddress, 28, command, sub});
    packet.append(25, static_cast<char>(tag));
    packet.push_back(static_cast<char>(last));
    return packet;
}

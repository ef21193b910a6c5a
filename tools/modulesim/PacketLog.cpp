#include "PacketLog.h"

#include <cstdio>

namespace modulesim {

void PacketLog::packet(uint32_t serial, char direction, const Packet& packet) const {
    if (!enabled_) {
        return;
    }
    std::string line;
    char byte[4];
    for (uint8_t value : encodePacket(packet)) {
        snprintf(byte, sizeof byte, " %02X", value);
        line += byte;
    }
    fprintf(stderr, "modulesim %08X %c%s\n", serial, direction, line.c_str());
}

void PacketLog::note(uint32_t serial, const std::string& text) const {
    if (enabled_) {
        fprintf(stderr, "modulesim %08X %s\n", serial, text.c_str());
    }
}

}  // namespace modulesim

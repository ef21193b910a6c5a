// A link over a caller-made stream whose far end the test plays.
#pragma once

#include <gtest/gtest.h>

#include "ModulePeer.h"
#include "qLink.h"

using zvtest::bytes;
using zvtest::eventually;
using zvtest::hex;
using zvtest::ModulePeer;
using zvtest::repeat;

// The route command every start sends (address 175, one byte: route on) and every stop sends
// (route off).
inline std::string routeOn() {
    return bytes({0xAF, 0x01, 0x01});
}
inline std::string routeOff() {
    return bytes({0xAF, 0x01, 0x00});
}
inline std::string syncRequests() {
    return repeat(bytes({0xAD, 0x00}), 6);
}

class LinkOverPair : public ::testing::Test {
  protected:
    void SetUp() override {
        id = qLink_Create(module.stream());
        ASSERT_NE(id, 0u);
        ASSERT_EQ(hex(module.receive(3)), hex(routeOn()));
    }
    void TearDown() override {
        module.setQuiet(false);
        module.poke();
        module.releaseWrites();
        if (id != 0) {
            qLink_Destroy(&id);
        }
    }

    // The next packet from the module, as wire bytes ("" when none comes).
    std::string awaitInbound(uint32_t timeoutMs = 5000) {
        qPacket* packet = qLink_AwaitPacket(id, timeoutMs);
        if (packet == nullptr) {
            return "";
        }
        uint8_t wire[qPACKET_MAX_WIRE];
        size_t length = 0;
        qPacket_GetBytes(packet, wire, sizeof wire, &length);
        qPacket_Destroy(&packet);
        return std::string(reinterpret_cast<char*>(wire), length);
    }

    qErr put(std::initializer_list<uint8_t> wire) {
        std::string w = bytes(wire);
        qPacket* packet =
            qPacket_CreateWithData(static_cast<uint8_t>(w[0]), static_cast<uint8_t>(w.size() - 2),
                                   reinterpret_cast<const uint8_t*>(w.data() + 2));
        qErr err = qLink_PutPacket(id, packet);
        qPacket_Destroy(&packet);
        return err;
    }

    ModulePeer module;
    qLinkID id = 0;
};

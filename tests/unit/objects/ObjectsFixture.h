// A Module whose link runs over a socket pair to a scripted module peer.
#pragma once

#include <gtest/gtest.h>

#include "Module.h"
#include "ModulePeer.h"

namespace zvtest {

constexpr uint8_t kModule = 0x10;

using Bytes = std::vector<uint8_t>;

class ConnectedModule : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(module.getLink()->adoptEngineLink(player.makeEngineLink()), qErrNone);
        ASSERT_TRUE(eventually([&] { return module.isConnected(); }));
    }

    Pelmorax::Zendrival::Link& link() { return *module.getLink(); }

    // Answers every request with the replies the function gives for its data bytes.
    void respond(std::function<std::vector<WirePacket>(const Bytes& data)> answer) {
        if (!answer) {
            player.setResponder(nullptr);  // a silent module
            return;
        }
        player.setResponder([answer](const WirePacket& request) { return answer(request.data); });
    }

    // Data bytes of the requests seen so far.
    std::vector<Bytes> requestData() {
        std::vector<Bytes> data;
        for (const WirePacket& p : player.requests()) {
            data.push_back(p.data);
        }
        return data;
    }

    ModulePeer player;  // declared first, so the module's link goes before its far end
    Pelmorax::Zendrival::Module module{kModule, false, 0};
};

inline WirePacket from(uint8_t address, Bytes data) {
    return WirePacket{address, std::move(data)};
}

// A stream-sample packet from module: command, option, index | 0x40, type, (sub-index),
// timestamp, value, trailer 0.
inline WirePacket streamSample(uint8_t module, uint8_t command, uint8_t option, uint8_t index,
                               uint8_t type, uint32_t value, uint8_t subIndex = 0) {
    WirePacket p{module, {command, option, static_cast<uint8_t>(index | 0x40), type}};
    if (type >= 5) {
        p.data.push_back(subIndex);
    }
    for (uint8_t b : {0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02}) {
        p.data.push_back(b);
    }
    const int width = (type == 1 || type == 5) ? 1 : (type == 2 || type == 6) ? 2 : 4;
    for (int i = width - 1; i >= 0; --i) {
        p.data.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
    p.data.push_back(0);
    return p;
}

}  // namespace zvtest

// A Module whose link runs over a socket pair to a ModulePlayer.
#pragma once

#include <gtest/gtest.h>

#include "Module.h"
#include "ModulePlayer.h"

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

    ModulePlayer player;  // declared first, so the module's link goes before its far end
    Pelmorax::Zendrival::Module module{kModule, false, 0};
};

inline WirePacket from(uint8_t address, Bytes data) {
    return WirePacket{address, std::move(data)};
}

}  // namespace zvtest

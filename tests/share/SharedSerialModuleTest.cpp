// A module on a COBS-framed serial port, shared by linkshare: the loopback probe announces it as a
// shared serial link, and clients talk to it through the server.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "PrivateNetwork.h"
#include "SharedModule.h"
#include "autoGen_SystemClass_CPP.h"
#include "discover.h"

using namespace Pelmorax::Zendrival;

namespace {

constexpr uint32_t kSerialModule = 0x00C0B510;
constexpr uint8_t kSerialModel = 11;
constexpr uint8_t kSerialAddress = 6;

bool keepSpec(const linkSpec* found, bool* accepted, void* reference) {
    static_cast<std::vector<linkSpec>*>(reference)->push_back(*found);
    *accepted = true;
    return true;
}

}  // namespace

TEST(SharedSerialModule, ClientsReachACobsSerialModuleThroughTheServer) {
    ZV_SHARE_NETWORK_OR_SKIP();
    zvtest::BackgroundProgram simulator(
        zvtest::modulesimBinary(),
        {"--duration", "120", "--module", "serial=00C0B510,model=11,address=6,hb-ms=100,cobs-pty"});
    ASSERT_TRUE(simulator.waitReady()) << "the module simulator did not start";
    const std::string path = simulator.startupValue("pty 00C0B510");
    ASSERT_FALSE(path.empty());

    zvtest::BackgroundProgram sharer(zvtest::linkshareBinary(),
                                     {"--serial", path, "00C0B510", "--duration", "120"});
    ASSERT_TRUE(sharer.waitReady(20000)) << "linkshare did not share the serial link";
    unsigned port = 0;
    ASSERT_EQ(sscanf(sharer.startupValue("shared 00C0B510").c_str(), "port %u", &port), 1);

    std::vector<linkSpec> found;
    qDiscovery_EnumerateModules(linkTypeNetworkClient, keepSpec, &found, htonl(INADDR_LOOPBACK));
    ASSERT_EQ(found.size(), 1u);
    alignas(4) linkSpec shared = found[0];
    EXPECT_EQ(shared.type, static_cast<uint32_t>(linkTypeNetworkClientSerial));
    EXPECT_EQ(shared.serialNumber, kSerialModule);
    EXPECT_EQ(shared.model, kSerialModel);
    EXPECT_EQ(shared.module, kSerialAddress);
    EXPECT_EQ(shared.port, port);

    Module first(2, 0), second(2, 0);
    ASSERT_EQ(first.connectFromSpec(shared), qErrNone);
    ASSERT_EQ(second.connectFromSpec(shared), qErrNone);
    EXPECT_EQ(first.getModuleAddress(), kSerialAddress);
    SystemClass firstSystem, secondSystem;
    firstSystem.init(&first, 0);
    secondSystem.init(&second, 0);
    for (int i = 0; i < 10; ++i) {
        uint32_t serial = 0;
        uint8_t model = 0;
        EXPECT_EQ(firstSystem.getSerialNumber(&serial), qErrNone);
        EXPECT_EQ(serial, kSerialModule);
        EXPECT_EQ(secondSystem.getModel(&model), qErrNone);
        EXPECT_EQ(model, kSerialModel);
    }
    first.disconnect();
    second.disconnect();
    EXPECT_EQ(sharer.stop(), 0);
}

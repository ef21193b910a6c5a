// Connecting a module for real: over its own TCP/IP port on the loopback address, and discovery
// with its fallback inside a private network namespace.
#include <arpa/inet.h>
#include <netinet/in.h>

#include <gtest/gtest.h>

#include "ObjectsFixture.h"
#include "SettingGuards.h"
#include "TestSupport.h"
#include "qDebugging.h"

using namespace Pelmorax::Zendrival;
using namespace zvtest;

namespace {

linkSpec tcpSpec(uint16_t port) {
    linkSpec spec{};
    spec.type = linkTypeTCPIP;
    spec.serialNumber = 0x00C0FFEE;
    spec.ipAddress = htonl(INADDR_LOOPBACK);
    spec.port = port;
    return spec;
}

// A direct link: this build puts no link server in front of it.
VexnetConfig unshared() {
    VexnetConfig config;
    config.enabled = false;
    return config;
}

}  // namespace

TEST(ModuleOverTcp, ConnectLearnsTheAddressFromTheModule) {
    ModulePeer player(ModulePeer::kOwnTcpPort);
    const uint16_t port = player.port();
    ASSERT_NE(port, 0);
    player.setResponder([](const WirePacket& request) {
        return request.address == 173 ? std::vector<WirePacket>{from(0x2A, {})}
                                      : std::vector<WirePacket>{};
    });
    Module module(0x10, 0);
    ASSERT_EQ(module.setConfig(unshared()), qErrNone);
    ASSERT_EQ(module.connectFromSpec(tcpSpec(port)), qErrNone);
    EXPECT_TRUE(module.isConnected());
    EXPECT_EQ(module.getModuleAddress(), 0x2A);
    EXPECT_EQ(module.connectFromSpec(tcpSpec(port)), qErrBusy);
    EXPECT_EQ(player.requests()[0], from(173, {}));

    // After a disconnect the stored specifier connects again.
    ASSERT_EQ(module.disconnect(), qErrNone);
    EXPECT_FALSE(module.isConnected());
}

TEST(ModuleOverTcp, SilentModuleLeavesTheLinkUpButReportsNotReady) {
    ModulePeer player(ModulePeer::kOwnTcpPort);
    const uint16_t port = player.port();
    Module module(0x10, 0);
    ASSERT_EQ(module.setConfig(unshared()), qErrNone);
    EXPECT_EQ(module.connectFromSpec(tcpSpec(port)), qErrNotReady);
    EXPECT_TRUE(module.isConnected());
    EXPECT_EQ(module.getModuleAddress(), 0x10);
    EXPECT_EQ(player.requests().size(), 4u);
}

TEST(ModuleOverTcp, SharingWithoutALinkServerFailsTheConnect) {
    ModulePeer player(ModulePeer::kOwnTcpPort);
    const uint16_t port = player.port();
    Module module(0x10, 0);
    EXPECT_EQ(module.connectFromSpec(tcpSpec(port)), qErrConnection);
    EXPECT_FALSE(module.isConnected());
    EXPECT_EQ(module.getLink()->getEngineLinkId(), 0u);
}

TEST(ModuleDiscovery, NotFoundOverUsbFallsBackToASharedLinkOnce) {
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    Module module(0x10, 0);
    std::string trace;
    {
        LibraryTrace on(qDEBUG_LINK);
        testing::internal::CaptureStdout();
        EXPECT_EQ(module.connect(linkTypeUSB, 0x7E57AB1E), qErrNotFound);
        trace = testing::internal::GetCapturedStdout();
    }
    EXPECT_NE(trace.find("Executing Fallback - old type: 1 - new type: 4\n"), std::string::npos);

    VexnetConfig noFallback;
    noFallback.fallback = false;
    ASSERT_EQ(module.setConfig(noFallback), qErrNone);
    {
        LibraryTrace on(qDEBUG_LINK);
        testing::internal::CaptureStdout();
        EXPECT_EQ(module.connect(linkTypeUSB, 0x7E57AB1E), qErrNotFound);
        trace = testing::internal::GetCapturedStdout();
    }
    EXPECT_EQ(trace.find("Executing Fallback"), std::string::npos);
}

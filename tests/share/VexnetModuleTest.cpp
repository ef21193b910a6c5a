// A Module whose link is published through a link server (its VexnetConfig), against the module
// simulator in this process: by default a connected TCP/IP or serial link is shared and the Module
// talks through a client of its own server; the loopback probe finds the link and other Modules
// connect to it; with sharing off the link is direct and network-client types are refused;
// discovery falls back to a shared link; a module behind a router shares the router's client.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "Eventually.h"
#include "PrivateNetwork.h"
#include "StreamCacheChecks.h"
#include "VexnetSupport.h"
#include "autoGen_SystemClass_CPP.h"
#include "qLinkManagerInternal.h"

using namespace Pelmorax::Zendrival;
using vexnettest::askIdentity;
using vexnettest::engineLinkType;
using vexnettest::Identity;
using vexnettest::linkTypeOf;
using vexnettest::probeSharedLinks;
using zvtest::eventually;

namespace {

constexpr uint32_t kSerial = 0x5A4E0017;
constexpr uint8_t kModel = 15;
constexpr uint8_t kAddress = 4;
// Heartbeats every 100 ms flush the server's stream batches; samples come every 20 ms.
const char kModule[] = "serial=5A4E0017,model=15,address=4,hb-ms=100,stream-ms=20,tcp=127.0.0.1:0";

// A module reached only over a packetised serial line, so no TCP/IP module answers its serial,
// and another module on its own TCP/IP port that does answer the TCP/IP discovery request.
constexpr uint32_t kSerialOnlySerial = 0x5A4E0021;
const char kSerialOnlyModule[] = "serial=5A4E0021,model=15,address=4,cobs-pty";
constexpr uint32_t kOtherTcpSerial = 0x5A4E0022;
const char kOtherTcpModule[] = "serial=5A4E0022,model=9,address=6,hb-ms=0,tcp=127.0.0.1:0";

constexpr uint32_t kRouterSerial = 0xD2720031;
const char kRouterModule[] = "serial=D2720031,model=5,address=2,hb-ms=100,tcp=127.0.0.1:0";
constexpr uint32_t kBehindSerial = 0x0000B031;
constexpr uint8_t kBehindAddress = 6;
const char kBehindModule[] = "serial=0000B031,model=8,address=6,behind=D2720031";

const uint32_t kLoopback = htonl(INADDR_LOOPBACK);

VexnetConfig configOf(const Module& module) {
    VexnetConfig config;
    EXPECT_EQ(module.getConfig(&config), qErrNone);
    return config;
}

// linkSpec is a packed wire record: aligned here so that its fields can be read in place.
struct AlignedSpec {
    alignas(4) linkSpec spec{};
};

AlignedSpec specifierOf(const Module& module) {
    AlignedSpec stored;
    EXPECT_EQ(module.getLinkSpecifier(&stored.spec), qErrNone);
    return stored;
}

// The port the engine's client link connects to.
uint32_t clientPortOf(Module& module) {
    const qLinkEntryRef entry = sLookupEntryByID(module.getLink()->getEngineLinkId());
    return entry != nullptr ? entry->spec.port : 0;
}

class VexnetModule : public ::testing::Test {
  protected:
    void SetUp() override {
        ZV_SHARE_NETWORK_OR_SKIP();
        linksBefore_ = qLinkManager_Count();
    }

    void start(const std::vector<std::string>& modules) {
        sim_ = vexnettest::startModules(modules, traceFile());
    }

    std::string traceFile() const { return scratch_.file("modules.log"); }

    // Starts the serial-only module and the other TCP/IP module (after the veth pair, so that the
    // simulator hears the TCP/IP discovery request on it) and shares the serial-only one.
    void publishSerialOnlyModule(Module& publisher) {
        start({kSerialOnlyModule, kOtherTcpModule});
        ASSERT_EQ(publisher.connectFromSpec(vexnettest::serialSpecOf(*sim_, kSerialOnlySerial)),
                  qErrNone);
        EXPECT_EQ(engineLinkType(publisher), static_cast<uint32_t>(linkTypeNetworkClient));
        EXPECT_EQ(linkTypeOf(vexnettest::servedLinkOf(publisher)),
                  static_cast<uint32_t>(linkTypeSerial));
    }

    zvtest::TempDir scratch_;
    std::unique_ptr<zvtest::BackgroundProgram> sim_;
    size_t linksBefore_ = 0;
};

}  // namespace

TEST_F(VexnetModule, DefaultConfigSharesTheLinkAndTalksThroughAClientOfItsServer) {
    start({kModule});
    Module publisher(2, 0);
    const VexnetConfig defaults = configOf(publisher);
    EXPECT_TRUE(defaults.enabled);
    EXPECT_TRUE(defaults.fallback);
    EXPECT_TRUE(defaults.localOnly);
    EXPECT_EQ(defaults.assignedPort, 0);
    const uint8_t loopbackBytes[4] = {127, 0, 0, 1};
    EXPECT_EQ(memcmp(&defaults.networkInterface, loopbackBytes, 4), 0);

    const linkSpec direct = vexnettest::tcpSpecOf(*sim_, kSerial);
    ASSERT_EQ(publisher.connectFromSpec(direct), qErrNone);
    EXPECT_TRUE(publisher.isConnected());
    EXPECT_EQ(publisher.getModuleAddress(), kAddress);

    const VexnetConfig published = configOf(publisher);
    EXPECT_NE(published.assignedPort, 0);
    EXPECT_EQ(published.networkInterface, kLoopback);
    // The Module holds a client of the server; the server holds the direct TCP/IP link.
    EXPECT_EQ(engineLinkType(publisher), static_cast<uint32_t>(linkTypeNetworkClient));
    EXPECT_EQ(clientPortOf(publisher), published.assignedPort);
    const qLinkID served = vexnettest::servedLinkOf(publisher);
    EXPECT_EQ(linkTypeOf(served), static_cast<uint32_t>(linkTypeTCPIP));
    EXPECT_TRUE(vexnettest::isPublished(served));
    // The stored specifier is still the one it was connected by.
    EXPECT_EQ(specifierOf(publisher).spec.type, static_cast<uint32_t>(linkTypeTCPIP));

    const Identity identity = askIdentity(publisher);
    EXPECT_EQ(identity.serialResult, qErrNone);
    EXPECT_EQ(identity.serial, kSerial);
    EXPECT_EQ(identity.modelResult, qErrNone);
    EXPECT_EQ(identity.model, kModel);
}

TEST_F(VexnetModule, StreamSamplesReachTheSharingModule) {
    start({kModule});
    Module publisher(2, 0);
    ASSERT_EQ(publisher.connectFromSpec(vexnettest::tcpSpecOf(*sim_, kSerial)), qErrNone);
    ASSERT_EQ(engineLinkType(publisher), static_cast<uint32_t>(linkTypeNetworkClient));
    SystemClass system;
    system.init(&publisher, 0);
    // A get of the input voltage (system entity, option 12) as the module's trace shows it.
    auto voltageGets = [this] {
        return vexnettest::traceLinesAbout(traceFile(), kSerial, "< 04 03 03 4C 20");
    };
    // Before any stream, a get goes to the module.
    uint32_t millivolts = 0;
    ASSERT_EQ(system.getInputVoltage(&millivolts), qErrNone);
    EXPECT_EQ(millivolts, 12000u);
    ASSERT_TRUE(eventually([&] { return voltageGets() == 1; })) << voltageGets() << " gets";
    std::atomic<int> samples{0};
    // The input voltage streams once asked for; the server batches the samples.
    ASSERT_EQ(system.registerOptionCallback(
                  12, true,
                  [&samples](const qPacket* packet, void*) -> uint8_t {
                      if (Link::isStreamSample(packet))
                          ++samples;
                      return 0;
                  },
                  nullptr),
              qErrNone);
    EXPECT_TRUE(eventually([&] { return samples >= 5; })) << samples << " samples";
    // The first get after the samples came is answered by the newest sample, fresh; gets
    // right after it find that sample already read. None of them goes to the module.
    zvtest::expectFreshThenStale([&](uint32_t* value) { return system.getInputVoltage(value); },
                                 12000u);
    EXPECT_EQ(voltageGets(), 1u);
    EXPECT_EQ(system.registerOptionCallback(12, false, nullptr, nullptr), qErrNone);
}

TEST_F(VexnetModule, ProbeFindsTheSharedLinkAndAnotherModuleConnectsToIt) {
    start({kModule});
    Module publisher(2, 0);
    ASSERT_EQ(publisher.connectFromSpec(vexnettest::tcpSpecOf(*sim_, kSerial)), qErrNone);
    const uint16_t port = configOf(publisher).assignedPort;

    const std::vector<linkSpec> found = probeSharedLinks();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].type, static_cast<uint32_t>(linkTypeNetworkClientTCPIP));
    EXPECT_EQ(found[0].serialNumber, kSerial);
    EXPECT_EQ(found[0].ipAddress, kLoopback);
    EXPECT_EQ(found[0].port, port);
    EXPECT_EQ(found[0].model, kModel);
    EXPECT_EQ(found[0].module, kAddress);

    Module second(2, 0);
    ASSERT_EQ(second.discoverAndConnect(linkTypeNetworkClient, kSerial), qErrNone);
    EXPECT_EQ(second.getModuleAddress(), kAddress);
    const AlignedSpec secondSpec = specifierOf(second);
    EXPECT_EQ(secondSpec.spec.type, static_cast<uint32_t>(linkTypeNetworkClientTCPIP));
    EXPECT_EQ(secondSpec.spec.port, port);
    // A client of its own, to the same server.
    EXPECT_EQ(engineLinkType(second), static_cast<uint32_t>(linkTypeNetworkClient));
    EXPECT_NE(second.getLink()->getEngineLinkId(), publisher.getLink()->getEngineLinkId());
    EXPECT_EQ(clientPortOf(second), port);
    const Identity identity = askIdentity(second);
    EXPECT_EQ(identity.serialResult, qErrNone);
    EXPECT_EQ(identity.serial, kSerial);
    EXPECT_EQ(identity.modelResult, qErrNone);
    EXPECT_EQ(identity.model, kModel);

    // The publisher's disconnect takes the server away: nothing is shared any more, and the
    // second Module's requests fail instead of hanging.
    EXPECT_EQ(publisher.disconnect(), qErrNone);
    EXPECT_TRUE(probeSharedLinks().empty());
    SystemClass system;
    system.init(&second, 0);
    uint32_t serial = 0;
    EXPECT_NE(system.getSerialNumber(&serial), qErrNone);
    EXPECT_EQ(serial, 0u);
    EXPECT_EQ(second.disconnect(), qErrNone);
    EXPECT_EQ(qLinkManager_Count(), linksBefore_);
}

TEST_F(VexnetModule, ConnectBySerialOverTcpDiscoverySharesTheLink) {
    vexnettest::DiscoveryInterfaces network;
    ASSERT_EQ(network.problem(), "");
    start({kModule});
    Module publisher(2, 0);
    ASSERT_EQ(publisher.connect(linkTypeTCPIP, kSerial), qErrNone);
    const AlignedSpec stored = specifierOf(publisher);
    EXPECT_EQ(stored.spec.type, static_cast<uint32_t>(linkTypeTCPIP));
    EXPECT_EQ(stored.spec.port, vexnettest::tcpSpecOf(*sim_, kSerial).port);
    EXPECT_EQ(engineLinkType(publisher), static_cast<uint32_t>(linkTypeNetworkClient));
    EXPECT_EQ(linkTypeOf(vexnettest::servedLinkOf(publisher)),
              static_cast<uint32_t>(linkTypeTCPIP));
    const std::vector<linkSpec> found = probeSharedLinks();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].port, configOf(publisher).assignedPort);
    EXPECT_EQ(askIdentity(publisher).serial, kSerial);
}

TEST_F(VexnetModule, ReconnectSharesTheLinkAgain) {
    start({kModule});
    Module publisher(2, 0);
    ASSERT_EQ(publisher.connectFromSpec(vexnettest::tcpSpecOf(*sim_, kSerial)), qErrNone);
    EXPECT_EQ(publisher.disconnect(), qErrNone);
    EXPECT_FALSE(publisher.isConnected());
    // The client, the direct link and its server are gone.
    EXPECT_EQ(qLinkManager_Count(), linksBefore_);

    ASSERT_EQ(publisher.reconnect(), qErrNone);
    EXPECT_EQ(engineLinkType(publisher), static_cast<uint32_t>(linkTypeNetworkClient));
    const std::vector<linkSpec> found = probeSharedLinks();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].port, configOf(publisher).assignedPort);
    EXPECT_EQ(clientPortOf(publisher), configOf(publisher).assignedPort);
    EXPECT_EQ(askIdentity(publisher).serial, kSerial);
}

TEST_F(VexnetModule, APublishedModuleIsReachedThroughItsServerOnly) {
    vexnettest::DiscoveryInterfaces network;
    ASSERT_EQ(network.problem(), "");
    start({kModule});
    Module publisher(2, 0);
    ASSERT_EQ(publisher.connectFromSpec(vexnettest::tcpSpecOf(*sim_, kSerial)), qErrNone);
    const size_t linksShared = qLinkManager_Count();

    // A second direct link to the same module is refused while a server publishes it.
    Module direct(2, 0);
    EXPECT_EQ(direct.connectFromSpec(vexnettest::tcpSpecOf(*sim_, kSerial)), qErrConnection);
    EXPECT_FALSE(direct.isConnected());
    EXPECT_EQ(qLinkManager_Count(), linksShared);

    // TCP/IP discovery finds the module, the direct link is refused, and the fallback reaches it
    // through the server.
    Module seeker(2, 0);
    ASSERT_EQ(seeker.discoverAndConnect(linkTypeTCPIP, kSerial), qErrNone);
    EXPECT_GE(vexnettest::traceLinesAbout(traceFile(), kSerial, "answers discovery"), 1u);
    EXPECT_EQ(specifierOf(seeker).spec.type, static_cast<uint32_t>(linkTypeNetworkClientTCPIP));
    EXPECT_EQ(clientPortOf(seeker), configOf(publisher).assignedPort);
    EXPECT_EQ(askIdentity(seeker).serial, kSerial);
}

TEST_F(VexnetModule, WithSharingOffTheLinkIsDirectAndNotPublished) {
    start({kModule});
    Module direct(2, 0);
    ASSERT_EQ(direct.setConfig(vexnettest::directConfig()), qErrNone);
    ASSERT_EQ(direct.connectFromSpec(vexnettest::tcpSpecOf(*sim_, kSerial)), qErrNone);
    EXPECT_EQ(direct.getModuleAddress(), kAddress);
    EXPECT_EQ(engineLinkType(direct), static_cast<uint32_t>(linkTypeTCPIP));
    EXPECT_FALSE(vexnettest::isPublished(direct.getLink()->getEngineLinkId()));
    EXPECT_EQ(vexnettest::servedLinkOf(direct), 0u);
    EXPECT_EQ(configOf(direct).assignedPort, 0);
    EXPECT_EQ(qLinkManager_Count(), linksBefore_ + 1);

    const Identity identity = askIdentity(direct);
    EXPECT_EQ(identity.serial, kSerial);
    EXPECT_EQ(identity.model, kModel);
    EXPECT_TRUE(probeSharedLinks().empty());
}

TEST_F(VexnetModule, NetworkClientTypesAreRefusedWithSharingOff) {
    start({kModule});
    // A server that would answer, so that only the configuration can refuse.
    Module publisher(2, 0);
    ASSERT_EQ(publisher.connectFromSpec(vexnettest::tcpSpecOf(*sim_, kSerial)), qErrNone);
    const size_t linksShared = qLinkManager_Count();
    for (uint32_t type = linkTypeNetworkClient; type <= linkTypeNetworkClientSerial; ++type) {
        SCOPED_TRACE(type);
        Module client(2, 0);
        ASSERT_EQ(client.setConfig(vexnettest::directConfig()), qErrNone);
        AlignedSpec wanted;
        wanted.spec.type = type;
        wanted.spec.serialNumber = kSerial;
        wanted.spec.ipAddress = kLoopback;
        wanted.spec.port = configOf(publisher).assignedPort;
        EXPECT_EQ(client.connectFromSpec(wanted.spec), qErrConfiguration);
        EXPECT_FALSE(client.isConnected());
        EXPECT_EQ(client.getLink()->getEngineLinkId(), 0u);
        // The specifier stays for a later try.
        EXPECT_EQ(specifierOf(client).spec.type, type);
        EXPECT_EQ(qLinkManager_Count(), linksShared);
    }

    // Discovery finds the shared link; the refusal is not a reason to fall back.
    Module seeker(2, 0);
    ASSERT_EQ(seeker.setConfig(vexnettest::directConfig()), qErrNone);
    EXPECT_EQ(seeker.discoverAndConnect(linkTypeNetworkClient, kSerial), qErrConfiguration);
    EXPECT_FALSE(seeker.isConnected());
    EXPECT_EQ(specifierOf(seeker).spec.type, static_cast<uint32_t>(linkTypeNetworkClientTCPIP));
    EXPECT_EQ(qLinkManager_Count(), linksShared);
}

TEST_F(VexnetModule, TcpDiscoveryOfAnOnlySharedSerialFallsBackToTheSharedLink) {
    vexnettest::DiscoveryInterfaces network;
    ASSERT_EQ(network.problem(), "");
    Module publisher(2, 0);
    ASSERT_NO_FATAL_FAILURE(publishSerialOnlyModule(publisher));
    const uint16_t port = configOf(publisher).assignedPort;

    Module seeker(2, 0);
    ASSERT_EQ(seeker.discoverAndConnect(linkTypeTCPIP, kSerialOnlySerial), qErrNone);
    // The TCP/IP request went out and another module answered it.
    EXPECT_GE(vexnettest::traceLinesAbout(traceFile(), kOtherTcpSerial, "answers discovery"), 1u);
    const AlignedSpec stored = specifierOf(seeker);
    EXPECT_EQ(stored.spec.type, static_cast<uint32_t>(linkTypeNetworkClientSerial));
    EXPECT_EQ(stored.spec.serialNumber, kSerialOnlySerial);
    EXPECT_EQ(stored.spec.port, port);
    EXPECT_EQ(engineLinkType(seeker), static_cast<uint32_t>(linkTypeNetworkClient));
    EXPECT_EQ(clientPortOf(seeker), port);
    EXPECT_EQ(seeker.getModuleAddress(), kAddress);
    const Identity identity = askIdentity(seeker);
    EXPECT_EQ(identity.serial, kSerialOnlySerial);
    EXPECT_EQ(identity.model, kModel);
}

TEST_F(VexnetModule, WithoutFallbackTcpDiscoveryOfAnOnlySharedSerialFindsNothing) {
    vexnettest::DiscoveryInterfaces network;
    ASSERT_EQ(network.problem(), "");
    Module publisher(2, 0);
    ASSERT_NO_FATAL_FAILURE(publishSerialOnlyModule(publisher));

    Module seeker(2, 0);
    VexnetConfig noFallback;
    noFallback.fallback = false;
    ASSERT_EQ(seeker.setConfig(noFallback), qErrNone);
    EXPECT_EQ(seeker.discoverAndConnect(linkTypeTCPIP, kSerialOnlySerial), qErrNotFound);
    EXPECT_GE(vexnettest::traceLinesAbout(traceFile(), kOtherTcpSerial, "answers discovery"), 1u);
    EXPECT_FALSE(seeker.isConnected());
    linkSpec unused;
    EXPECT_EQ(seeker.getLinkSpecifier(&unused), qErrNotFound);
    // Only the publisher's client and the link it serves.
    EXPECT_EQ(qLinkManager_Count(), linksBefore_ + 2);
}

TEST_F(VexnetModule, ModuleBehindASharedRouterUsesTheRoutersClientAndOutlivesIt) {
    start({kRouterModule, kBehindModule});
    auto router = std::make_unique<Module>(2, 0);
    ASSERT_EQ(router->connectFromSpec(vexnettest::tcpSpecOf(*sim_, kRouterSerial)), qErrNone);
    const VexnetConfig routerConfig = configOf(*router);
    const qLinkID shared = router->getLink()->getEngineLinkId();

    Module behind(kBehindAddress, false, 0);
    ASSERT_EQ(behind.connectThroughLinkModule(router.get()), qErrNone);
    const AlignedSpec stored = specifierOf(behind);
    EXPECT_EQ(stored.spec.type, static_cast<uint32_t>(linkTypeNetworkClient));
    EXPECT_EQ(stored.spec.ipAddress, routerConfig.networkInterface);
    EXPECT_EQ(stored.spec.port, routerConfig.assignedPort);
    EXPECT_TRUE(configOf(behind).enabled);
    EXPECT_EQ(behind.getLink()->getEngineLinkId(), shared);
    EXPECT_EQ(qLinkManager_UseCount(shared), 2);
    EXPECT_EQ(behind.getModuleAddress(), kBehindAddress);

    // Each gets its own module's answers over the one connection.
    Identity identity = askIdentity(behind);
    EXPECT_EQ(identity.serialResult, qErrNone);
    EXPECT_EQ(identity.serial, kBehindSerial);
    EXPECT_EQ(identity.model, 8);
    EXPECT_EQ(askIdentity(*router).serial, kRouterSerial);

    router.reset();
    EXPECT_EQ(qLinkManager_UseCount(shared), 1);
    EXPECT_TRUE(behind.isConnected());
    identity = askIdentity(behind);
    EXPECT_EQ(identity.serialResult, qErrNone);
    EXPECT_EQ(identity.serial, kBehindSerial);
    // The router's link is still shared while it has a user.
    const std::vector<linkSpec> found = probeSharedLinks();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].serialNumber, kRouterSerial);

    EXPECT_EQ(behind.disconnect(), qErrNone);
    EXPECT_EQ(qLinkManager_UseCount(shared), -1);
    EXPECT_EQ(qLinkManager_Count(), linksBefore_);
    EXPECT_TRUE(probeSharedLinks().empty());
}

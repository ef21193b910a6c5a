// Connecting: argument checks, configuration rules, the address query and modules behind a
// router sharing the router's engine link.
#include <gtest/gtest.h>

#include <cstring>

#include "ObjectsFixture.h"

using namespace Pelmorax::Zendrival;
using namespace zvtest;

TEST(ModuleConnect, SerialNumberZeroIsRefusedBeforeDiscovery) {
    Module module(2, 0);
    EXPECT_EQ(module.connect(linkTypeUSB, 0), qErrParam);
    linkSpec spec;
    EXPECT_EQ(module.getLinkSpecifier(&spec), qErrNotFound);
}

TEST(LinkConnect, NeedsAStoredSpecifier) {
    Link link("plain");
    EXPECT_EQ(link.connect(), qErrConfiguration);
    EXPECT_EQ(link.getEngineLinkId(), 0u);
    EXPECT_EQ(link.getStatus(), qLINK_STATUS_ERROR);
}

TEST(LinkConnect, NetworkClientNeedsSharingEnabled) {
    Link link(qLinkSpec_Of(linkTypeNetworkClient, 7), "client");
    VexnetConfig config;
    config.enabled = false;
    ASSERT_EQ(link.setConfig(config), qErrNone);
    EXPECT_EQ(link.connect(), qErrConfiguration);
    EXPECT_EQ(link.getEngineLinkId(), 0u);
}

TEST(LinkConnect, UnknownLinkTypeIsAModeError) {
    Link link(qLinkSpec_Of(9, 7), "odd");
    EXPECT_EQ(link.connect(), qErrMode);
    // A failed connect keeps the specifier for a retry.
    linkSpec kept;
    ASSERT_EQ(link.getLinkSpecifier(&kept), qErrNone);
    EXPECT_EQ(kept.type, 9u);
}

TEST(LinkConnect, NameIsCopiedAndBounded) {
    std::string longName(3000, 'n');
    Link link(longName.c_str());
    EXPECT_EQ(strlen(link.getName()), 1024u);
    Link unnamed(nullptr);
    EXPECT_STREQ(unnamed.getName(), "");
}

TEST(LinkConnect, DefaultConfigurationSharesOnLoopback) {
    VexnetConfig config;
    EXPECT_TRUE(config.enabled);
    EXPECT_TRUE(config.fallback);
    EXPECT_TRUE(config.localOnly);
    EXPECT_EQ(config.assignedPort, 0);
    const uint8_t loopback[] = {127, 0, 0, 1};
    EXPECT_EQ(memcmp(&config.networkInterface, loopback, 4), 0);
}

TEST(LinkFallback, OnlyRetryableFailuresOfFallbackTypes) {
    EXPECT_TRUE(_fallbackHelper(qErrNotFound, linkTypeUSB, true));
    EXPECT_TRUE(_fallbackHelper(qErrInitialization, linkTypeTCPIP, true));
    EXPECT_TRUE(_fallbackHelper(qErrConnection, linkTypeNetworkClientSerial, true));
    EXPECT_FALSE(_fallbackHelper(qErrNotFound, linkTypeUSB, false));
    EXPECT_FALSE(_fallbackHelper(qErrTimeout, linkTypeUSB, true));
    EXPECT_FALSE(_fallbackHelper(qErrNotFound, linkTypeSerial, true));
    for (uint32_t type = 0; type < 9; ++type) {
        EXPECT_EQ(isVEXNET(static_cast<linkType>(type)), type >= 4 && type <= 7) << type;
    }
}

TEST(LinkDiscovery, ModelCallbackSkipsOtherModelsAndCopiesTheFirstMatch) {
    linkSpec wanted = qLinkSpec_Of(linkTypeUSB, 0);
    wanted.model = 5;
    linkSpec other = qLinkSpec_Of(linkTypeUSB, 0x1111);
    other.model = 6;
    linkSpec match = qLinkSpec_Of(linkTypeUSB, 0x2222);
    match.model = 5;
    bool found = false;
    EXPECT_TRUE(cbModelCallback(&other, &found, &wanted));
    EXPECT_FALSE(found);
    EXPECT_EQ(wanted.serialNumber, 0u);
    EXPECT_FALSE(cbModelCallback(&match, &found, &wanted));
    EXPECT_TRUE(found);
    EXPECT_EQ(memcmp(&wanted, &match, sizeof(linkSpec)), 0);

    linkSpec anyModel = qLinkSpec_Of(linkTypeUSB, 0);
    found = false;
    EXPECT_FALSE(cbModelCallback(&other, &found, &anyModel));
    EXPECT_EQ(anyModel.serialNumber, 0x1111u);
}

using LinkConnected = ConnectedModule;

TEST_F(LinkConnected, ConnectAgainIsRefused) {
    EXPECT_EQ(link().connect(), qErrConnection);
    EXPECT_EQ(link().adoptEngineLink(99), qErrConnection);
}

TEST_F(LinkConnected, ConfigurationAndSpecifierAreFixedWhileConnected) {
    VexnetConfig changed;
    changed.fallback = false;
    EXPECT_EQ(module.setConfig(changed), qErrMode);
    VexnetConfig current;
    ASSERT_EQ(module.getConfig(&current), qErrNone);
    EXPECT_TRUE(current.fallback);
    EXPECT_EQ(link().setLinkSpecifier(qLinkSpec_Of(linkTypeUSB, 1)), qErrBusy);
    EXPECT_EQ(module.getConfig(nullptr), qErrParam);
}

TEST_F(LinkConnected, ModuleAddressIsLearnedFromTheMagicRequest) {
    respond([](const Bytes&) { return std::vector<WirePacket>{from(0x2A, {})}; });
    uint8_t address = 0xFF;
    ASSERT_EQ(link().getModuleAddress(&address), qErrNone);
    EXPECT_EQ(address, 0x2A);
    auto seen = player.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], from(173, {}));
}

TEST_F(LinkConnected, DisconnectDropsTheEngineLink) {
    const qLinkID id = link().getEngineLinkId();
    EXPECT_EQ(module.disconnect(), qErrNone);
    EXPECT_FALSE(module.isConnected());
    EXPECT_EQ(qLink_GetStatus(id), qLINK_STATUS_INVALID);
    uint8_t address = 9;
    EXPECT_EQ(link().getModuleAddress(&address), qErrNotReady);
    EXPECT_EQ(address, 0);
}

TEST(ModuleRouter, ModuleBehindARouterSharesTheRoutersLink) {
    ModulePeer player;
    auto router = std::make_unique<Module>(kModule, false, 0);
    ASSERT_EQ(router->getLink()->setLinkSpecifier(qLinkSpec_Of(linkTypeUSB, 0xABCD)), qErrNone);
    ASSERT_EQ(router->getLink()->adoptEngineLink(player.makeEngineLink()), qErrNone);
    ASSERT_TRUE(eventually([&] { return router->isConnected(); }));

    Module behind(0x20, 0);
    ASSERT_EQ(behind.connectThroughLinkModule(router.get()), qErrNone);
    EXPECT_EQ(behind.getLink()->getEngineLinkId(), router->getLink()->getEngineLinkId());
    EXPECT_EQ(behind.getModuleAddress(), 0x20);
    linkSpec spec;
    ASSERT_EQ(behind.getLinkSpecifier(&spec), qErrNone);
    EXPECT_EQ(spec.type, static_cast<uint32_t>(linkTypeNetworkClient));

    // Already connected: nothing changes, not even the configuration.
    Module otherRouter(0x30, false, 0);
    VexnetConfig different;
    different.fallback = false;
    ASSERT_EQ(otherRouter.setConfig(different), qErrNone);
    EXPECT_EQ(behind.connectThroughLinkModule(&otherRouter), qErrNone);
    VexnetConfig kept;
    ASSERT_EQ(behind.getConfig(&kept), qErrNone);
    EXPECT_TRUE(kept.fallback);

    // The shared link outlives the router's module.
    router.reset();
    EXPECT_TRUE(behind.isConnected());
    ASSERT_EQ(behind.getLink()->sendPacket(0x20, 23, 1, Bytes{7}.data()), qErrNone);
    ASSERT_TRUE(player.waitForRequests(1));
    EXPECT_EQ(player.requests()[0], from(0x20, {23, 7}));
}

TEST(ModuleRouter, RouterWithoutEngineLinkIsAnInitialisationError) {
    Module router(kModule, false, 0);
    ASSERT_EQ(router.getLink()->setLinkSpecifier(qLinkSpec_Of(linkTypeUSB, 1)), qErrNone);
    Module behind(0x20, 0);
    EXPECT_EQ(behind.connectThroughLinkModule(&router), qErrInitialization);
    EXPECT_EQ(behind.getLink()->getEngineLinkId(), 0u);
    EXPECT_EQ(behind.connectThroughLinkModule(nullptr), qErrInitialization);
}

// Links shared by link servers on this machine, found by the loopback multicast probe.
#include <gtest/gtest.h>

#include <cstring>

#include "DiscoveryTestSupport.h"
#include "UdpPeers.h"
#include "discover.h"

namespace {

using discoverytest::Collector;
using discoverytest::ipv4;
using discoverytest::LinkServerPeer;
using discoverytest::sharedLinkSpec;

TEST(LoopbackProbeTest, ServerHoldingARequestPortIsAskedAndFound) {
    ENTER_PRIVATE_NETWORK(false);
    linkSpec served = sharedLinkSpec(0x00C0FFEE, "127.0.0.1", 5556);
    served.reserved[95] = 0x5A;  // every byte of the reply makes it into the found linkSpec
    LinkServerPeer server(3, served);
    ASSERT_TRUE(server.ready());
    server.start();

    Collector seen;
    int count = qDiscovery_EnumerateModules(linkTypeNetworkClient, Collector::callback, &seen, 0);
    server.stop();

    std::vector<discoverytest::Datagram> requests = server.received();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].bytes, std::string("\xBA\xDC\xCD\xAB", 4));
    EXPECT_EQ(count, 1);
    ASSERT_EQ(seen.offered.size(), 1u);
    EXPECT_EQ(memcmp(&seen.offered[0], &served, sizeof(linkSpec)), 0);
}

TEST(LoopbackProbeTest, OnlyLinksOnThisMachineAreReported) {
    ENTER_PRIVATE_NETWORK(false);
    LinkServerPeer remote(0, sharedLinkSpec(0x100, "10.1.2.3", 5555));
    LinkServerPeer local(1, sharedLinkSpec(0x200, "127.0.0.1", 5556));
    ASSERT_TRUE(remote.ready());
    ASSERT_TRUE(local.ready());
    remote.start();
    local.start();

    Collector seen;
    int count = qDiscovery_Enumerate_VexnetModules(Collector::callback, &seen, ipv4("127.0.0.1"));
    linkSpec* found = qDiscovery_FindModule(linkTypeNetworkClientUSB, 0x200, 0);
    linkSpec* absent = qDiscovery_FindModule(linkTypeNetworkClientUSB, 0x100, 0);
    remote.stop();
    local.stop();

    EXPECT_EQ(remote.received().size(), 3u) << "each search asks every server once";
    EXPECT_EQ(count, 1);
    ASSERT_EQ(seen.offered.size(), 1u);
    EXPECT_EQ(seen.offered[0].serialNumber, 0x200u);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->port, 5556u);
    EXPECT_EQ(found->type, static_cast<uint32_t>(linkTypeNetworkClientUSB));
    qLinkSpec_Destroy(&found);
    EXPECT_EQ(absent, nullptr);
}

TEST(LoopbackProbeTest, RepliesOfAnotherSizeAreNotSpecs) {
    // Deliberate: only a reply of exactly one link record is taken; longer ones are not cut to fit.
    ENTER_PRIVATE_NETWORK(false);
    LinkServerPeer shorter(0, sharedLinkSpec(0x100, "127.0.0.1", 5555), sizeof(linkSpec) - 1);
    LinkServerPeer longer(7, sharedLinkSpec(0x200, "127.0.0.1", 5556), sizeof(linkSpec) + 1);
    ASSERT_TRUE(shorter.ready());
    ASSERT_TRUE(longer.ready());
    shorter.start();
    longer.start();

    Collector seen;
    int count = qDiscovery_Enumerate_VexnetModules(Collector::callback, &seen, 0);
    shorter.stop();
    longer.stop();

    EXPECT_EQ(shorter.received().size(), 1u);
    EXPECT_EQ(longer.received().size(), 1u);
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(seen.offered.empty());
}

TEST(LoopbackProbeTest, NoServersNoSpecs) {
    ENTER_PRIVATE_NETWORK(false);
    Collector seen;
    EXPECT_EQ(
        qDiscovery_EnumerateModules(linkTypeNetworkClientTCPIP, Collector::callback, &seen, 0), 0);
    EXPECT_TRUE(seen.offered.empty());
}

}  // namespace

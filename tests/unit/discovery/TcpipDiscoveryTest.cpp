// Modules with their own network port, found by the multicast request. Each enumeration waits
// two seconds after the last reply, so these tests are few and each checks several things.
#include <gtest/gtest.h>

#include <string>

#include "DiscoveryTestSupport.h"
#include "UdpPeers.h"
#include "discover.h"

namespace {

using discoverytest::Collector;
using discoverytest::ipv4;
using discoverytest::ModulePeer;

const std::string& kReply = discoverytest::kModuleReply;
const std::string kRequest("\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00", 16);

// The same module on another port, as a second candidate with the same serial number.
std::string replyWithPort(uint16_t port) {
    std::string reply = kReply;
    reply[2] = static_cast<char>(port & 0xFF);
    reply[3] = static_cast<char>(port >> 8);
    return reply;
}

TEST(TcpipDiscoveryTest, DefaultInterfaceAsksThroughEveryInterfaceButLoopback) {
    ENTER_PRIVATE_NETWORK(true);
    // Broken replies first: only a reply of exactly 16 bytes describes a module.
    ModulePeer module({"10.77.0.1", "10.77.0.2", "127.0.0.1"}, "10.77.0.2",
                      {kReply.substr(0, 15), kReply + '\0', kReply});
    ASSERT_TRUE(module.ready());
    module.start();

    Collector seen;
    int count = qDiscovery_EnumerateModules(linkTypeTCPIP, Collector::callback, &seen, 0);
    module.stop();

    std::vector<discoverytest::Datagram> requests = module.received();
    ASSERT_EQ(requests.size(), 2u);
    std::vector<uint32_t> senders;
    for (const auto& request : requests) {
        EXPECT_EQ(request.bytes, kRequest);
        senders.push_back(request.sender);
    }
    EXPECT_NE(std::find(senders.begin(), senders.end(), ipv4("10.77.0.1")), senders.end());
    EXPECT_NE(std::find(senders.begin(), senders.end(), ipv4("10.77.0.2")), senders.end());

    // Deliberate: a module heard on several interfaces is listed once, not once per interface.
    // The module answered both requests alike; it is one module and is offered once.
    EXPECT_EQ(count, 1);
    ASSERT_EQ(seen.offered.size(), 1u);
    for (const linkSpec& spec : seen.offered) {
        discoverytest::expectModuleReplySpec(spec, ipv4("10.77.0.2"));
    }
}

TEST(TcpipDiscoveryTest, GivenInterfaceAsksOnlyThroughIt) {
    ENTER_PRIVATE_NETWORK(true);
    ModulePeer module({"10.77.0.1", "10.77.0.2"}, "10.77.0.1", {kReply});
    ASSERT_TRUE(module.ready());
    module.start();

    linkSpec* unknown = qDiscovery_FindModule(linkTypeTCPIP, 0x87654321, ipv4("10.77.0.2"));
    module.stop();

    EXPECT_EQ(unknown, nullptr);
    std::vector<discoverytest::Datagram> requests = module.received();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].sender, ipv4("10.77.0.2"));
}

// Another module answers first; then two candidates with the serial number, on two ports.
std::vector<std::string> threeReplies() {
    std::string otherModule = kReply;
    otherModule[4] = 0x11;  // serial number 0x12345611
    return {otherModule, replyWithPort(4001), replyWithPort(4002)};
}

TEST(TcpipDiscoveryTest, FindModuleTakesTheFirstOfTwoCandidates) {
    ENTER_PRIVATE_NETWORK(true);
    ModulePeer module({"10.77.0.1"}, "10.77.0.1", threeReplies());
    ASSERT_TRUE(module.ready());
    module.start();

    linkSpec* found = qDiscovery_FindModule(linkTypeTCPIP, 0x12345678, ipv4("10.77.0.1"));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->type, static_cast<uint32_t>(linkTypeTCPIP));
    EXPECT_EQ(found->serialNumber, 0x12345678u);
    EXPECT_EQ(found->port, 4001u);
    EXPECT_EQ(found->ipAddress, ipv4("10.77.0.1"));
    qLinkSpec_Destroy(&found);
}

TEST(TcpipDiscoveryTest, FindFirstModuleTakesWhoeverAnswersFirst) {
    ENTER_PRIVATE_NETWORK(true);
    ModulePeer module({"10.77.0.1"}, "10.77.0.1", threeReplies());
    ASSERT_TRUE(module.ready());
    module.start();

    linkSpec* first = qDiscovery_FindFirstModule(linkTypeTCPIP, ipv4("10.77.0.1"));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->serialNumber, 0x12345611u);
    EXPECT_EQ(first->port, 4000u);
    qLinkSpec_Destroy(&first);
}

}  // namespace

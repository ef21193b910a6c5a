// What a search for shared links does with each payload a link server sends back: only whole
// linkSpecs count, each module once, and a search on this machine only takes links on it.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "DiscoveryTestSupport.h"
#include "discover.h"

namespace {

using discoverytest::Collector;
using discoverytest::ipv4;
using discoverytest::sharedLinkSpec;

std::vector<uint8_t> payloadOf(const linkSpec& spec) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&spec);
    return std::vector<uint8_t>(bytes, bytes + sizeof(spec));
}

qSharedLinkSearch searchFor(Collector* collector, bool thisMachineOnly, uint32_t hostAddress) {
    return qSharedLinkSearch{Collector::callback, collector, thisMachineOnly, hostAddress, {}, 0};
}

TEST(SharedLinkOfferTest, OnlyPayloadsOfExactlyOneLinkSpecAreOffered) {
    Collector collector;
    qSharedLinkSearch search = searchFor(&collector, false, 0);
    std::vector<uint8_t> payload = payloadOf(sharedLinkSpec(0x11, "10.77.0.2", 40000));
    payload.push_back(0);
    EXPECT_TRUE(qDiscovery_OfferSharedLink(&search, payload.data(), payload.size()));
    EXPECT_TRUE(qDiscovery_OfferSharedLink(&search, payload.data(), payload.size() - 2));
    EXPECT_TRUE(collector.offered.empty());
    EXPECT_TRUE(qDiscovery_OfferSharedLink(&search, payload.data(), payload.size() - 1));
    ASSERT_EQ(collector.offered.size(), 1u);
    EXPECT_EQ(memcmp(&collector.offered[0], payload.data(), sizeof(linkSpec)), 0);
    EXPECT_EQ(search.count, 1);
}

TEST(SharedLinkOfferTest, TheSameModuleIsOfferedOnce) {
    Collector collector;
    qSharedLinkSearch search = searchFor(&collector, false, 0);
    linkSpec first = sharedLinkSpec(0x22, "10.77.0.2", 40000);
    linkSpec again = first;
    again.model = 77;  // not part of what makes a module the same
    linkSpec otherPort = sharedLinkSpec(0x22, "10.77.0.2", 40001);
    for (const linkSpec& spec : {first, again, otherPort}) {
        std::vector<uint8_t> payload = payloadOf(spec);
        qDiscovery_OfferSharedLink(&search, payload.data(), payload.size());
    }
    ASSERT_EQ(collector.offered.size(), 2u);
    EXPECT_EQ(collector.offered[0].model, first.model);
    EXPECT_EQ(collector.offered[1].port, 40001u);
    EXPECT_EQ(search.count, 2);
}

TEST(SharedLinkOfferTest, ThisMachineOnlyTakesLoopbackAndTheHostsOwnAddress) {
    Collector collector;
    qSharedLinkSearch search = searchFor(&collector, true, ipv4("10.77.0.1"));
    for (const char* ip : {"10.77.0.2", "127.0.0.1", "10.77.0.1", "192.168.1.20"}) {
        std::vector<uint8_t> payload = payloadOf(sharedLinkSpec(0x33, ip, 40000));
        qDiscovery_OfferSharedLink(&search, payload.data(), payload.size());
    }
    ASSERT_EQ(collector.offered.size(), 2u);
    EXPECT_EQ(collector.offered[0].ipAddress, ipv4("127.0.0.1"));
    EXPECT_EQ(collector.offered[1].ipAddress, ipv4("10.77.0.1"));
}

TEST(SharedLinkOfferTest, TheCallbackDecidesWhetherTheSearchGoesOn) {
    Collector collector;
    collector.accept = 1;
    qSharedLinkSearch search = searchFor(&collector, false, 0);
    std::vector<uint8_t> payload = payloadOf(sharedLinkSpec(0x44, "10.77.0.2", 40000));
    EXPECT_FALSE(qDiscovery_OfferSharedLink(&search, payload.data(), payload.size()));
    EXPECT_EQ(search.count, 1);
}

}  // namespace

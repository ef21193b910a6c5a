// Links shared by link servers elsewhere on the network, found by beacons. The two ends of the
// veth pair stand in for two hosts: link servers beacon from 10.77.0.2, the search runs on
// 10.77.0.1.
#include <gtest/gtest.h>

#include <algorithm>
#include <czmq.h>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "DiscoveryTestSupport.h"
#include "discover.h"
#include "zBeaconInterface.h"

namespace {

using discoverytest::Collector;
using discoverytest::ipv4;
using discoverytest::sharedLinkSpec;

// A CZMQ beacon on the discovery port publishing payload from the given interface.
class Beacon {
  public:
    Beacon(const char* interface, const void* payload, size_t size, int intervalMs) {
        if (!zBeaconInterface_setAndLock(interface)) {
            return;
        }
        actor_ = zactor_new(zbeacon, nullptr);
        if (actor_ != nullptr) {
            zsock_send(actor_, "si", "CONFIGURE", static_cast<int>(qDISCOVERY_BEACON_PORT));
            char* host = zstr_recv(actor_);
            host_ = host != nullptr ? host : "";
            zstr_free(&host);
            zsock_send(actor_, "sbi", "PUBLISH", payload, size, intervalMs);
        }
        zBeaconInterface_unlock();
    }
    ~Beacon() {
        if (actor_ != nullptr) {
            zstr_sendx(actor_, "SILENCE", nullptr);
            zactor_destroy(&actor_);
        }
    }
    Beacon(const Beacon&) = delete;
    Beacon& operator=(const Beacon&) = delete;

    const std::string& host() const { return host_; }

  private:
    zactor_t* actor_ = nullptr;
    std::string host_;
};

// Listens on the discovery port meanwhile and keeps every beacon payload it hears.
class BeaconListener {
  public:
    BeaconListener() {
        zBeaconInterface_setAndLock("10.77.0.1");
        actor_ = zactor_new(zbeacon, nullptr);
        zsock_send(actor_, "si", "CONFIGURE", static_cast<int>(qDISCOVERY_BEACON_PORT));
        char* host = zstr_recv(actor_);
        zstr_free(&host);
        zBeaconInterface_unlock();
        zsock_send(actor_, "sb", "SUBSCRIBE", "", static_cast<size_t>(0));
        zsock_set_rcvtimeo(actor_, 100);
    }
    ~BeaconListener() { zactor_destroy(&actor_); }
    BeaconListener(const BeaconListener&) = delete;
    BeaconListener& operator=(const BeaconListener&) = delete;

    // Payloads heard so far, once the beacons have gone quiet.
    std::vector<std::string> drain() {
        std::vector<std::string> payloads;
        for (int i = 0; i < 1000; ++i) {
            zmsg_t* message = zmsg_recv(actor_);
            if (message == nullptr) {
                break;
            }
            zframe_t* address = zmsg_pop(message);
            zframe_t* data = zmsg_pop(message);
            if (data != nullptr) {
                payloads.emplace_back(reinterpret_cast<char*>(zframe_data(data)),
                                      zframe_size(data));
            }
            zframe_destroy(&address);
            zframe_destroy(&data);
            zmsg_destroy(&message);
        }
        return payloads;
    }

  private:
    zactor_t* actor_ = nullptr;
};

TEST(BeaconSearchTest, ServerHeardRepeatedlyIsReportedOnce) {
    ENTER_PRIVATE_NETWORK(true);
    linkSpec served = sharedLinkSpec(0x00C0FFEE, "10.77.0.2", 5555);
    BeaconListener listener;
    auto server = std::make_unique<Beacon>("10.77.0.2", &served, sizeof(served), 50);
    ASSERT_EQ(server->host(), "10.77.0.2");
    // Not a linkSpec: a payload must be exactly 128 bytes.
    linkSpec other = sharedLinkSpec(0x0BADBEEF, "10.77.0.2", 5556);
    auto shortPayload = std::make_unique<Beacon>("10.77.0.2", &other, sizeof(other) - 1, 50);
    ASSERT_TRUE(zBeaconInterface_setAndLock("*"));
    zBeaconInterface_unlock();

    Collector seen;
    int count = qDiscovery_Enumerate_VexnetModules(Collector::callback, &seen, ipv4("10.77.0.1"));
    server.reset();
    shortPayload.reset();

    std::vector<std::string> heard = listener.drain();
    const std::string servedBytes(reinterpret_cast<const char*>(&served), sizeof(served));
    EXPECT_GE(std::count(heard.begin(), heard.end(), servedBytes), 2)
        << "the server's beacon was repeated during the search";
    EXPECT_GE(std::count(heard.begin(), heard.end(), std::string("Zendrival2-Discovery")), 1)
        << "the search announces itself";
    EXPECT_EQ(count, 1);
    ASSERT_EQ(seen.offered.size(), 1u);
    EXPECT_EQ(memcmp(&seen.offered[0], &served, sizeof(linkSpec)), 0);
    // The search put the interface it replaced back and let go of the lock.
    EXPECT_STREQ(zBeaconInterface_get(), "*");
    ASSERT_TRUE(zBeaconInterface_setAndLock("*"));
    zBeaconInterface_unlock();
}

TEST(BeaconSearchTest, FindModuleStopsAtTheServerOfTheSerialNumber) {
    ENTER_PRIVATE_NETWORK(true);
    linkSpec first = sharedLinkSpec(0x100, "10.77.0.2", 5555);
    linkSpec second = sharedLinkSpec(0x200, "10.77.0.2", 5556);
    Beacon one("10.77.0.2", &first, sizeof(first), 50);
    Beacon two("10.77.0.2", &second, sizeof(second), 50);

    linkSpec* found = qDiscovery_FindModule(linkTypeNetworkClient, 0x200, ipv4("10.77.0.1"));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(memcmp(found, &second, sizeof(linkSpec)), 0);
    qLinkSpec_Destroy(&found);
    EXPECT_EQ(qDiscovery_FindModule(linkTypeNetworkClient, 0x300, ipv4("10.77.0.1")), nullptr);
}

}  // namespace

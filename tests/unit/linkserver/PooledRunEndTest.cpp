// How a client may end a pooled byte write: never with a route command, which only the link's
// owner may give, and a run the module does not answer must not leave the client waiting in the
// reply queue, where it would take the next client's reply.
#include <algorithm>

#include "ServerFixture.h"

namespace {

constexpr uint8_t kRoute = 175;

bool contains(const std::vector<std::string>& packets, const std::string& packet) {
    return std::find(packets.begin(), packets.end(), packet) != packets.end();
}

}  // namespace

using PooledRunEndTest = ServerFixture;

TEST_F(PooledRunEndTest, RouteCommandDoesNotEndARunAndIsNotForwarded) {
    // Deliberate: a route command never joins or ends a pooled run, whatever its data byte.
    ZV_SERVER_NETWORK_OR_SKIP();
    ASSERT_NE(publish(), 0u);
    RawClient writer(port_);
    std::string first = bytesPacket(28, 0, true, 0xA0);
    openPool(writer, first);
    // Its one data byte reads as an entity command whose trailer continues the run at sequence 1.
    std::string route = bytes({kRoute, 1, 0x81});
    writer.send(route);
    std::string echo = bytes({4, 3, 23, 6, 6});
    writer.send(echo);
    ASSERT_EQ(hex(writer.receive()), hex(echo));
    EXPECT_FALSE(contains(moduleReceived(), route));
    // The run is still open and completes as a write run should.
    std::string last = bytesPacket(10, 1, false, 0xA1);
    writer.send(last);
    ASSERT_EQ(hex(writer.receive()), hex(last));
    auto requests = moduleRequests();
    auto start = std::find(requests.begin(), requests.end(), first);
    ASSERT_NE(start, requests.end());
    ASSERT_NE(start + 1, requests.end());
    EXPECT_EQ(*(start + 1), last);
    EXPECT_FALSE(contains(moduleReceived(), route));
}

TEST_F(PooledRunEndTest, RunTheModuleDoesNotAnswerLeavesRepliesWithTheirClients) {
    // Deliberate: a run ending at the route address queues no client for a reply never sent.
    ZV_SERVER_NETWORK_OR_SKIP();
    ASSERT_NE(publish(), 0u);
    RawClient writer(port_);
    RawClient other(port_);
    openPool(writer, bytesPacket(28, 0, true, 0xB0));
    // A run ending at the route address goes out whole, and the module gives no answer to it.
    std::string unanswered = bytes({kRoute, 2, 30, 0x01});
    writer.send(unanswered);
    ASSERT_TRUE(eventually([&] { return contains(moduleReceived(), unanswered); }));
    std::string echo = bytes({4, 3, 23, 9, 9});
    other.send(echo);
    EXPECT_EQ(hex(other.receive()), hex(echo));
    EXPECT_EQ(writer.receive(300), "");
}

// Multi-packet UEI byte writes are held until complete and reach the module as one run.
#include <algorithm>

#include "ServerFixture.h"

namespace {

size_t indexOf(const std::vector<std::string>& packets, const std::string& packet) {
    return static_cast<size_t>(std::find(packets.begin(), packets.end(), packet) - packets.begin());
}

}  // namespace

class PoolingTest : public ServerFixture {
  protected:
    // Sends count full byte-write packets that are not pooled (sequence 5, more to come) and
    // waits until the module has them all, so no queue between overflows.
    void sendUnpooled(RawClient& client, int count) {
        constexpr int kChunk = 100;
        for (int sent = 0; sent < count;) {
            size_t before = moduleReceived().size();
            int chunk = std::min(kChunk, count - sent);
            for (int i = 0; i < chunk; i++) {
                client.send(bytesPacket(28, 5, true, 0xBB));
            }
            sent += chunk;
            ASSERT_TRUE(eventually([&] { return moduleReceived().size() >= before + chunk; }));
        }
    }
};

TEST_F(PoolingTest, WriteRunIsHeldBackUntilComplete) {
    ZV_SERVER_NETWORK_OR_SKIP();
    ASSERT_NE(publish(), 0u);
    RawClient writer(port_);
    RawClient other(port_);
    std::string first = bytesPacket(28, 0, true, 0xA0);
    std::string second = bytesPacket(28, 1, true, 0xA1);
    std::string last = bytesPacket(12, 2, false, 0xA2);
    writer.send(first);
    // Sent on the same connection, this request reaches the server after the opening packet.
    std::string own = bytes({4, 3, 23, 2, 2});
    writer.send(own);
    ASSERT_EQ(hex(writer.receive()), hex(own));
    std::string echo = bytes({4, 3, 23, 3, 3});
    other.send(echo);
    ASSERT_EQ(hex(other.receive()), hex(echo));
    writer.send(second);
    writer.send(last);
    EXPECT_EQ(hex(writer.receive()), hex(last));
    auto requests = moduleRequests();
    size_t start = indexOf(requests, first);
    ASSERT_LT(start + 2, requests.size());
    EXPECT_LT(indexOf(requests, own), start);
    EXPECT_LT(indexOf(requests, echo), start);
    EXPECT_EQ(requests[start + 1], second);
    EXPECT_EQ(requests[start + 2], last);
}

TEST_F(PoolingTest, RunNotStartingAtSequenceZeroIsForwardedAtOnce) {
    ZV_SERVER_NETWORK_OR_SKIP();
    ASSERT_NE(publish(), 0u);
    RawClient writer(port_);
    std::string first = bytesPacket(28, 1, true, 0xC1);
    writer.send(first);
    EXPECT_TRUE(eventually([&] {
        auto requests = moduleRequests();
        return indexOf(requests, first) < requests.size();
    }));
}

TEST_F(PoolingTest, SequenceGapAbandonsTheRun) {
    ZV_SERVER_NETWORK_OR_SKIP();
    ASSERT_NE(publish(), 0u);
    RawClient writer(port_);
    std::string first = bytesPacket(28, 0, true, 0xD0);
    writer.send(first);
    writer.send(bytesPacket(28, 2, true, 0xD2));
    writer.send(bytesPacket(10, 3, false, 0xD3));
    // Neither the gap nor what follows completes the run, so nothing of it is sent.
    std::string echo = bytes({4, 3, 23, 4, 4});
    writer.send(echo);
    EXPECT_EQ(hex(writer.receive()), hex(echo));
    auto requests = moduleRequests();
    EXPECT_EQ(indexOf(requests, first), requests.size());
}

TEST_F(PoolingTest, PoolSurvivesItsTimeToLive) {
    ZV_SERVER_NETWORK_OR_SKIP();
    ASSERT_NE(publish(), 0u);
    RawClient writer(port_);
    RawClient other(port_);
    std::string first = bytesPacket(28, 0, true, 0xE0);
    std::string second = bytesPacket(28, 1, true, 0xE1);
    openPool(writer, first);
    // 2000 UEI packets age the pool out; these 1998 and the two that finish the run do not.
    sendUnpooled(other, 1998);
    writer.send(second);
    writer.send(bytesPacket(9, 2, false, 0xE2));
    ASSERT_EQ(hex(writer.receive()), hex(bytesPacket(9, 2, false, 0xE2)));
    auto requests = moduleRequests();
    size_t start = indexOf(requests, first);
    ASSERT_LT(start + 1, requests.size());
    EXPECT_EQ(requests[start + 1], second);
}

TEST_F(PoolingTest, ExpiredPoolIsDestroyed) {
    ZV_SERVER_NETWORK_OR_SKIP();
    ASSERT_NE(publish(), 0u);
    RawClient writer(port_);
    RawClient other(port_);
    std::string first = bytesPacket(28, 0, true, 0xF0);
    std::string second = bytesPacket(28, 1, true, 0xF1);
    openPool(writer, first);
    sendUnpooled(other, 2000);
    // The pool is gone: the continuation is an ordinary packet and goes out by itself.
    writer.send(second);
    EXPECT_TRUE(eventually([&] { return moduleRequests().back() == second; }));
    auto requests = moduleRequests();
    EXPECT_EQ(indexOf(requests, first), requests.size());
}

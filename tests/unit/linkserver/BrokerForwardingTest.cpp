// The broker hands each client request to the sync worker without waiting, through a pair of
// sockets that holds only so many frames. A request that does not get through is never answered,
// so its client must not wait for a reply: it would take the next client's reply instead.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ServedModule.h"
#include "qCzmqSetup.h"
#include "qServer_ZeroMQInternal.h"

namespace {

// A broker whose sync pair holds very few frames, as when the sync worker has fallen behind.
class BrokerForwardingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        qCzmq_Prepare();
        server_.check = qSERVER_CHECK;
        server_.pools = &pools_;
        server_.syncBroker = dealer(highWaterMark());
        syncWorker_ = dealer(highWaterMark());
        std::string endpoint =
            "inproc://broker-forwarding-" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name());
        ASSERT_EQ(zsock_bind(server_.syncBroker, "%s", endpoint.c_str()), 0);
        ASSERT_EQ(zsock_connect(syncWorker_, "%s", endpoint.c_str()), 0);
    }

    void TearDown() override {
        zsock_destroy(&server_.syncBroker);
        zsock_destroy(&syncWorker_);
    }

    virtual int highWaterMark() const { return 1; }

    static zsock_t* dealer(int highWaterMark) {
        zsock_t* socket = zsock_new(ZMQ_DEALER);
        zsock_set_linger(socket, 0);
        zsock_set_sndhwm(socket, highWaterMark);
        zsock_set_rcvhwm(socket, highWaterMark);
        return socket;
    }

    void fromClient(const std::string& wire) {
        qServer_HandleClientFrame(&server_, "client", wire);
    }

    // Every frame the sync worker would get.
    std::vector<std::string> forwarded() {
        std::vector<std::string> frames;
        char buffer[64];
        int size = 0;
        while ((size = zmq_recv(zsock_resolve(syncWorker_), buffer, sizeof buffer, ZMQ_DONTWAIT)) >=
               0) {
            frames.emplace_back(buffer, static_cast<size_t>(size));
        }
        return frames;
    }

    std::list<qServerPool> pools_;
    qServer server_{};
    zsock_t* syncWorker_ = nullptr;
};

TEST_F(BrokerForwardingTest, ClientWaitsOnlyForRequestsThatReachedTheSyncWorker) {
    // Deliberate: a client waits for a reply only once its request reached the sync worker.
    constexpr int kRequests = 10;
    for (int i = 0; i < kRequests; ++i) {
        fromClient(bytes({4, 3, 23, static_cast<uint8_t>(i), 0}));
    }
    std::vector<std::string> frames = forwarded();
    ASSERT_GT(frames.size(), 0u);
    ASSERT_LT(frames.size(), static_cast<size_t>(kRequests));
    EXPECT_EQ(frames[0], bytes({4, 3, 23, 0, 0}));
    EXPECT_EQ(server_.replyQueue.size(), frames.size());
}

TEST_F(BrokerForwardingTest, RunWhoseLastPacketDidNotGetThroughLeavesNoClientWaiting) {
    // Deliberate: a pooled run that did not get through leaves no client waiting for a reply.
    fromClient(bytesPacket(28, 0, true, 0xA0));
    fromClient(bytesPacket(28, 1, true, 0xA1));
    fromClient(bytesPacket(28, 2, true, 0xA2));
    std::string last = bytesPacket(10, 3, false, 0xA3);
    fromClient(last);
    std::vector<std::string> frames = forwarded();
    ASSERT_GT(frames.size(), 0u);
    ASSERT_LT(frames.size(), 4u);
    EXPECT_EQ(frames[0], bytesPacket(28, 0, true, 0xA0));
    EXPECT_NE(frames.back(), last);
    EXPECT_TRUE(server_.replyQueue.empty());
    EXPECT_TRUE(pools_.empty());
}

TEST_F(BrokerForwardingTest, RunThatGotThroughWaitsForOneReply) {
    fromClient(bytesPacket(28, 0, true, 0xB0));
    std::string last = bytesPacket(10, 1, false, 0xB1);
    fromClient(last);
    std::vector<std::string> frames = forwarded();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1], last);
    ASSERT_EQ(server_.replyQueue.size(), 1u);
    EXPECT_EQ(server_.replyQueue.front(), "client");
}

// The same broker with room on its sync pair: every request gets through.
class BrokerReplyQueueTest : public BrokerForwardingTest {
  protected:
    int highWaterMark() const override { return 100; }
};

TEST_F(BrokerReplyQueueTest, OnlyUEIValuesReadTheirLastByteAsAContinuationFlag) {
    // Deliberate: only UEI values continue by their last byte; each DATA piece gets its reply.
    // An upgrade DATA piece ending in bit 7 is plain data: its sender waits for its reply.
    fromClient(fullPlainPacket(95, 1, 0x11, 0x80));
    EXPECT_EQ(server_.replyQueue.size(), 1u);
    // The loader's block data as one UEI value (a set of option 10 on the upgrade command) is
    // answered once, at its end.
    std::string first = bytes({4, 28, 95, 0x8A, 0x20});
    first.append(24, '\x5C');
    first.push_back('\x80');
    std::string last = bytes({4, 13, 95, 0x8A, 0x20});
    last.append(9, '\x6D');
    last.push_back('\x01');
    fromClient(first);
    EXPECT_EQ(server_.replyQueue.size(), 1u);
    fromClient(last);
    EXPECT_EQ(server_.replyQueue.size(), 2u);
    EXPECT_EQ(forwarded().size(), 3u);
}

}  // namespace

#include <gtest/gtest.h>

#include <thread>

#include "LinkFixture.h"

namespace {

// The reader only sees the silences the test makes, so every sync request on the wire comes from
// a byte the test sent.
class LinkSyncTest : public LinkOverPair {
  protected:
    void SetUp() override {
        LinkOverPair::SetUp();
        module.setQuiet(true);
    }

    // Sends a byte with an odd address: framing is lost and the six requests go out.
    void loseFraming() {
        module.send(bytes({0x05}));
        ASSERT_EQ(hex(module.receive(12)), hex(syncRequests()));
        ASSERT_EQ(qLink_GetStatus(id), qLINK_STATUS_SYNCING);
    }

    bool running() {
        return eventually([this] { return qLink_GetStatus(id) == qLINK_STATUS_RUNNING; });
    }
};

TEST_F(LinkSyncTest, AddressZeroAddressZeroCompletesTheSync) {
    loseFraming();
    module.send(bytes({0x04, 0x00, 0x04, 0x00}));
    ASSERT_TRUE(running());
    // The pattern is consumed by the sync, and packets flow again from the next byte on.
    module.send(bytes({0x04, 0x01, 0x33}));
    EXPECT_EQ(hex(awaitInbound()), hex(bytes({0x04, 0x01, 0x33})));
    EXPECT_EQ(qLink_GetPacket(id), nullptr);
}

TEST_F(LinkSyncTest, DifferentSecondAddressDoesNotCompleteAndNextByteRestarts) {
    loseFraming();
    module.send(bytes({0x04, 0x00, 0x06}));
    EXPECT_EQ(module.receiveUntilSilent(150), "");
    EXPECT_EQ(qLink_GetStatus(id), qLINK_STATUS_SYNCING);

    module.send(bytes({0x00}));
    EXPECT_EQ(hex(module.receive(12)), hex(syncRequests()));
    EXPECT_EQ(qLink_GetStatus(id), qLINK_STATUS_SYNCING);

    module.send(bytes({0x04, 0x00, 0x04, 0x00}));
    EXPECT_TRUE(running());
}

TEST_F(LinkSyncTest, OddOrZeroFirstByteRestartsAtOnce) {
    loseFraming();
    module.send(bytes({0x05}));
    EXPECT_EQ(hex(module.receive(12)), hex(syncRequests()));
    module.send(bytes({0x00}));
    EXPECT_EQ(hex(module.receive(12)), hex(syncRequests()));
    EXPECT_EQ(qLink_GetStatus(id), qLINK_STATUS_SYNCING);
}

TEST_F(LinkSyncTest, SilenceWhileSynchronisingAsksAgain) {
    loseFraming();
    // Deliberate: sync requests repeat at most every 100 ms, so a silent line is not flooded.
    // Requests are repeated while the module stays silent, though not on every empty read.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    module.poke();
    EXPECT_EQ(hex(module.receive(12)), hex(syncRequests()));
}

TEST_F(LinkSyncTest, PacketToOddAddressWhileRunningResynchronises) {
    module.send(bytes({0x04, 0x01, 0x11}));
    EXPECT_EQ(hex(awaitInbound()), hex(bytes({0x04, 0x01, 0x11})));
    // A whole packet to address 7: its first byte already gives the loss away.
    module.send(bytes({0x07, 0x01, 0x22}));
    EXPECT_EQ(hex(module.receive(12)), hex(syncRequests()));
    EXPECT_EQ(qLink_GetStatus(id), qLINK_STATUS_SYNCING);
    EXPECT_EQ(qLink_GetPacket(id), nullptr);
}

TEST_F(LinkSyncTest, ZeroAddressOrOverlongLengthWhileRunningResynchronises) {
    module.send(bytes({0x00}));
    EXPECT_EQ(hex(module.receive(12)), hex(syncRequests()));
    module.send(bytes({0x04, 0x00, 0x04, 0x00}));
    ASSERT_TRUE(running());
    module.send(bytes({0x04, 29}));
    EXPECT_EQ(hex(module.receive(12)), hex(syncRequests()));
}

// qLink_Sync against a module that answers every request with an empty packet from address 4.
TEST(LinkSyncCallTest, SyncCompletesAgainstAnsweringModuleAndDropsSurplusAnswers) {
    ModulePeer module;
    qLinkID id = qLink_Create(module.stream());
    ASSERT_NE(id, 0u);
    ASSERT_EQ(hex(module.receive(3)), hex(routeOn()));
    std::thread answering([&module] {
        if (module.receive(12) == syncRequests()) {
            module.send(repeat(bytes({0x04, 0x00}), 6));
        }
    });
    EXPECT_EQ(qLink_Sync(id), qErrNone);
    answering.join();
    EXPECT_EQ(qLink_GetStatus(id), qLINK_STATUS_RUNNING);
    EXPECT_EQ(qLink_GetPacket(id), nullptr);
    EXPECT_EQ(qLink_Destroy(&id), qErrNone);
    // At most a repeat of the requests (a slow answer) before the route-off command.
    std::string rest = module.receiveUntilSilent(200);
    ASSERT_GE(rest.size(), 3u);
    EXPECT_EQ(hex(rest.substr(rest.size() - 3)), hex(routeOff()));
    EXPECT_EQ(rest.size() % 12, 3u);
}

TEST(LinkSyncCallTest, SyncWithoutAnswerIsNotReady) {
    ModulePeer module;
    qLinkID id = qLink_Create(module.stream());
    ASSERT_NE(id, 0u);
    ASSERT_EQ(hex(module.receive(3)), hex(routeOn()));
    EXPECT_EQ(qLink_Sync(id), qErrNotReady);
    EXPECT_EQ(hex(module.receive(12)), hex(syncRequests()));
    EXPECT_EQ(qLink_GetStatus(id), qLINK_STATUS_SYNCING);
    qLink_Destroy(&id);
}

TEST(LinkSyncCallTest, SyncOfUnknownOrStoppedLink) {
    EXPECT_EQ(qLink_Sync(0), qErrParam);
    EXPECT_EQ(qLink_Sync(987654), qErrParam);
}

}  // namespace

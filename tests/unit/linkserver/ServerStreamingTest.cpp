// Stream samples of the module reach every subscribed client in batches.
#include "ServerFixture.h"

namespace {

// A UEI stream value: no get/set bits, stream bit in the index, five data bytes.
std::string sample(uint8_t value) {
    return bytes({4, 5, 30, 0x01, 0x41, value, value});
}

std::string subscription() {
    return bytes({4, 7, 93, 0x81, 0x21, 0, 0, 0, 1});
}

// Subscribes the client to the samples; the server answers with the subscription itself.
void subscribe(RawClient& client) {
    client.send(subscription());
    ASSERT_EQ(hex(client.receive()), hex(subscription()));
}

}  // namespace

TEST_F(ServerFixture, SamplesReachEverySubscriberAtTheHeartbeat) {
    ZV_SERVER_NETWORK_OR_SKIP();
    ASSERT_NE(publish(), 0u);
    RawClient first(port_);
    RawClient second(port_);
    ASSERT_NO_FATAL_FAILURE(subscribe(first));
    ASSERT_NO_FATAL_FAILURE(subscribe(second));

    module_->send(sample(1) + sample(2) + sample(3) + bytes({4, 2, 0, 0}));
    std::string batch = sample(1) + sample(2) + sample(3);
    EXPECT_EQ(hex(first.receive()), hex(batch));
    EXPECT_EQ(hex(second.receive()), hex(batch));
    // The heartbeat itself was answered by the link, not passed on.
    EXPECT_TRUE(eventually([&] { return moduleReceived().back() == bytes({4, 2, 0, 2}); }));
}

TEST_F(ServerFixture, FullBatchIsSentWithoutAHeartbeat) {
    ZV_SERVER_NETWORK_OR_SKIP();
    ASSERT_NE(publish(), 0u);
    RawClient client(port_);
    ASSERT_NO_FATAL_FAILURE(subscribe(client));
    // 581 samples of 7 bytes are 4067 bytes, the first size beyond the batch limit.
    std::string samples;
    for (int i = 0; i < 581; i++) {
        samples += sample(static_cast<uint8_t>(i));
    }
    module_->send(samples);
    EXPECT_EQ(client.receive().size(), samples.size());
}

TEST_F(ServerFixture, UnsubscribedClientGetsRepliesButNoSamples) {
    ZV_SERVER_NETWORK_OR_SKIP();
    ASSERT_NE(publish(), 0u);
    RawClient subscriber(port_);
    RawClient bystander(port_);
    ASSERT_NO_FATAL_FAILURE(subscribe(subscriber));
    module_->send(sample(9) + bytes({4, 2, 0, 0}));
    ASSERT_EQ(hex(subscriber.receive()), hex(sample(9)));
    bystander.send(bytes({4, 3, 23, 8, 8}));
    // The first frame the bystander sees is its reply, not the batch.
    EXPECT_EQ(hex(bystander.receive()), hex(bytes({4, 3, 23, 8, 8})));
}

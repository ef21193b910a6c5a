// Stream subscriptions over a live link: the module is told, samples are cached for gets and
// handed to callbacks on the worker thread, and unsubscribing tears the machinery down.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "LinkImpl.h"
#include "ObjectsFixture.h"
#include "autoGen_SystemClass_CPP.h"

namespace Pelmorax {
namespace Zendrival {

struct LinkTestAccess {
    static bool workerRunning(Link& link) { return link.m_impl->asyncWorker.joinable(); }
    static bool filterInstalled(Link& link) { return link.m_impl->streamFilterInstalled; }
};

}  // namespace Zendrival
}  // namespace Pelmorax

using namespace Pelmorax::Zendrival;
using namespace zvtest;

namespace {

std::vector<WirePacket> acknowledgeStreamControl(const Bytes& d) {
    if (d[0] == 93) {
        return {from(kModule, {93, static_cast<uint8_t>(d[1] | 0x40), 0})};
    }
    return {from(kModule, {d[0], static_cast<uint8_t>(d[1] & 0x3F), 0, 0, 0, 0, 42})};
}

uint8_t anyStreamPacket(const qPacket* packet, void*) {
    return Link::isStreamPacket(packet);
}

}  // namespace

class Streams : public ConnectedModule {
  protected:
    void SetUp() override {
        ConnectedModule::SetUp();
        respond(acknowledgeStreamControl);
    }

    bool keyKept(uint8_t option, uint8_t subIndex) {
        return eventually([&] {
            return !link().filterActiveStreamKeys(kModule, 3, option, 0, subIndex, true).empty();
        });
    }
};

TEST_F(Streams, SampleOfAWildcardSubscriptionAnswersLaterGets) {
    ASSERT_EQ(link().enableStream(kModule, 3, 255, 0, true), qErrNone);
    EXPECT_EQ(requestData()[0], Bytes({93, 0x81, 0x20, kModule, 3, 0xFF, 0}));
    EXPECT_TRUE(LinkTestAccess::workerRunning(link()));

    player.send(streamSample(kModule, 3, 7, 0, 3, 0x2F020C02));
    ASSERT_TRUE(keyKept(7, 0));
    uint32_t value = 0;
    EXPECT_EQ(link().getStreamValue(kModule, 3, 7, 0, 0, &value), qErrNone);
    EXPECT_EQ(value, 0x2F020C02u);
    value = 0;
    EXPECT_EQ(link().getStreamValue(kModule, 3, 7, 0, 0, &value), qErrStreamStale);
    EXPECT_EQ(value, 0x2F020C02u);

    SystemClass system;
    system.init(&module, 0);
    uint32_t version = 0;
    EXPECT_EQ(system.getVersion(&version), qErrStreamStale);
    EXPECT_EQ(version, 0x2F020C02u);
    EXPECT_EQ(requestData().size(), 1u);  // answered locally
}

TEST_F(Streams, UnknownKeyIsAskedOfTheModule) {
    uint32_t value = 0;
    EXPECT_EQ(link().getStreamValue(kModule, 3, 9, 0, 0, &value), qErrNotFound);
    SystemClass system;
    system.init(&module, 0);
    ASSERT_EQ(system.getSerialNumber(&value), qErrNone);
    EXPECT_EQ(value, 42u);
    EXPECT_EQ(requestData()[0], Bytes({3, 0x49, 0x20}));
}

TEST_F(Streams, CallbacksRunOnTheWorkerWithTheirContext) {
    std::atomic<int> calls{0};
    std::atomic<bool> onCallerThread{false};
    std::atomic<uint32_t> seenValue{0};
    int context = 0;
    const std::thread::id caller = std::this_thread::get_id();
    StreamCallback callback = [&](const qPacket* packet, void* ctx) -> uint8_t {
        uint32_t v = 0;
        Link::getStreamSample(packet, nullptr, &v, nullptr);
        seenValue = v;
        onCallerThread = onCallerThread || std::this_thread::get_id() == caller;
        calls += ctx == &context ? 1 : 100;
        return 0;
    };
    ASSERT_EQ(link().registerStreamCallback(kModule, 3, 21, 0, true, callback, &context), qErrNone);
    player.send(streamSample(kModule, 3, 21, 0, 2, 0x1234));
    ASSERT_TRUE(eventually([&] { return calls.load() != 0; }));
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(seenValue.load(), 0x1234u);
    EXPECT_FALSE(onCallerThread.load());
}

TEST_F(Streams, LastUnsubscribeRemovesTheFilterAndStopsTheWorker) {
    ASSERT_EQ(link().enableStream(kModule, 3, 7, 0, true), qErrNone);
    ASSERT_TRUE(LinkTestAccess::filterInstalled(link()));
    ASSERT_EQ(link().enableStream(kModule, 3, 7, 0, false), qErrNone);
    EXPECT_EQ(requestData()[1], Bytes({93, 0x82, 0x20, kModule, 3, 7, 0}));
    EXPECT_FALSE(LinkTestAccess::filterInstalled(link()));
    EXPECT_FALSE(LinkTestAccess::workerRunning(link()));

    player.send(streamSample(kModule, 3, 7, 0, 3, 5));
    qPacket* queued = qLink_AwaitFirst(link().getEngineLinkId(), anyStreamPacket, nullptr, 3000);
    EXPECT_NE(queued, nullptr);
    qPacket_Destroy(&queued);
}

TEST_F(Streams, FailedEnableLeavesNothingBehind) {
    // Deliberate: an enable that failed and left no subscription removes the stream filter.
    respond(nullptr);
    EXPECT_EQ(link().enableStream(kModule, 3, 7, 0, true), qErrTimeout);
    EXPECT_TRUE(link().filterActiveStreamKeys(255, 255, 255, 255, 255, true).empty());
    EXPECT_FALSE(LinkTestAccess::filterInstalled(link()));
    EXPECT_FALSE(LinkTestAccess::workerRunning(link()));
}

TEST_F(Streams, ConcreteSubIndexSelectsItsEntriesOnly) {
    ASSERT_EQ(link().enableStream(kModule, 3, 7, 0, true), qErrNone);
    player.send(streamSample(kModule, 3, 7, 0, 5, 11, 1));
    player.send(streamSample(kModule, 3, 7, 0, 5, 22, 2));
    ASSERT_TRUE(keyKept(7, 1));
    ASSERT_TRUE(keyKept(7, 2));
    EXPECT_EQ(link().filterActiveStreamKeys(kModule, 3, 7, 0, 1, true),
              std::vector<uint64_t>({Link::createStreamKey(kModule, 3, 7, 0, 1)}));

    Link::StreamStatusEntry entries[4];
    size_t count = 0;
    ASSERT_EQ(link().getStreamStatus(kModule, 3, 255, 0, 255, entries, 4, &count), qErrNone);
    ASSERT_EQ(count, 2u);  // the subscription itself holds wildcards and is not listed
    EXPECT_EQ(entries[0].value, 11u);
    EXPECT_EQ(entries[1].value, 22u);
    EXPECT_EQ(link().getStreamStatus(kModule, 3, 255, 0, 255, entries, 1, &count), qErrSize);
    EXPECT_EQ(count, 1u);
}

TEST_F(Streams, ArgumentChecksAndStreamingQuery) {
    EXPECT_EQ(link().enableStream(kModule + 1, 3, 7, 0, true), qErrParam);
    EXPECT_EQ(link().enableStream(255, 3, 7, 0, true), qErrParam);
    respond([](const Bytes&) { return std::vector<WirePacket>{from(kModule, {93, 1, 0, 1})}; });
    uint8_t streaming = 0;
    ASSERT_EQ(link().isLinkStreaming(kModule, &streaming), qErrNone);
    EXPECT_EQ(streaming, 1);
    EXPECT_EQ(requestData(), std::vector<Bytes>({{93, 0x41, 0x20}}));
}

// qLink_AwaitFirst: a caller awaiting a reply reads it from the stream on its own thread, handling
// every byte as the reader thread would, and hands the reading back when it is done.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "LinkFixture.h"
#include "unix_time.h"

namespace {

using Clock = std::chrono::steady_clock;
using zvtest::WirePacket;

// Requests are [4, 2, 0x10, n]; the module answers each with [4, 2, 0x11, n].
constexpr uint8_t kRequest = 0x10;
constexpr uint8_t kReply = 0x11;

uint8_t isReplyTo(const qPacket* packet, void* reference) {
    const uint8_t number = *static_cast<const uint8_t*>(reference);
    return packet->dataSize == 2 && packet->data[0] == kReply && packet->data[1] == number;
}

uint8_t acceptNothing(const qPacket*, void*) {
    return 0;
}

// Request kBurst is answered with a heartbeat, a packet nobody awaits and then the reply.
constexpr uint8_t kBurst = 0x80;
const WirePacket kHeartbeat{0x04, {0x00, 0x00}};
const WirePacket kHeartbeatAnswer{0x04, {0x00, 0x02}};
const WirePacket kOther{0x04, {0x77}};

void answerRequests(ModulePeer& peer) {
    peer.setResponder([](const WirePacket& request) {
        if (request.data.size() != 2 || request.data[0] != kRequest) {
            return std::vector<WirePacket>{};
        }
        const WirePacket reply{0x04, {kReply, request.data[1]}};
        return request.data[1] == kBurst ? std::vector<WirePacket>{kHeartbeat, kOther, reply}
                                         : std::vector<WirePacket>{reply};
    });
}

// Sends request number n on the link and awaits its reply; says whether it came.
bool exchangeOn(qLinkID link, uint8_t number, uint32_t timeoutMs = 5000) {
    const uint8_t data[] = {kRequest, number};
    qOwnedPacket request(qPacket_CreateWithData(0x04, sizeof data, data));
    const qPacket* const one[] = {request.get()};
    if (qLink_SendPackets(link, one, 1) != qErrNone) {
        return false;
    }
    qOwnedPacket reply(qLink_AwaitFirst(link, isReplyTo, &number, timeoutMs));
    return reply != nullptr;
}

class LinkCallerReadTest : public LinkOverPair {
  protected:
    void SetUp() override {
        LinkOverPair::SetUp();
        answerRequests(module);
    }

    bool exchange(uint8_t number) { return exchangeOn(id, number); }

    // Exchanges until this thread read a reply itself: the first reply after an idle moment
    // comes through the reader thread, which was waiting on the stream already, and so does any
    // that follows a pause longer than the reader thread's stand-by (this thread held up).
    bool exchangeUntilTheCallerReads() {
        for (uint8_t n = 0; n < 20; ++n) {
            if (!exchange(n)) {
                return false;
            }
            if (module.lastReadingThread() == std::this_thread::get_id()) {
                return true;
            }
        }
        return false;
    }

    std::vector<WirePacket> receivedPacketLog() {
        std::vector<WirePacket> logged;
        uint8_t type = 0;
        uint8_t record[qPACKET_MAX_WIRE];
        uint8_t length = sizeof record;
        while (qLink_PacketDebug_Read(id, &type, &length, record) == qErrNone) {
            if (type == qPACKETLOG_RECEIVED) {
                logged.push_back(WirePacket::fromWire(std::string(record, record + length)));
            }
            length = sizeof record;
        }
        return logged;
    }
};

TEST_F(LinkCallerReadTest, RepliesAreReadOnTheCallersThread) {
    EXPECT_TRUE(exchangeUntilTheCallerReads());
    EXPECT_EQ(qLink_GetPacket(id), nullptr);
}

TEST_F(LinkCallerReadTest, AStreamWhoseGetWaitsLongIsLeftToTheReaderThread) {
    // Like USB through libusb: a get may wait a whole second for a transfer.
    ModulePeer usbLike;
    qStream* stream = usbLike.stream();
    ASSERT_NE(stream, nullptr);
    stream->getWaitMs = qSTREAM_GET_WAIT_LIMIT_MS;
    qLinkID link = qLink_Create(stream);
    ASSERT_NE(link, 0u);
    answerRequests(usbLike);
    for (uint8_t n = 0; n < 5; ++n) {
        EXPECT_TRUE(exchangeOn(link, n));
    }
    EXPECT_NE(usbLike.lastReadingThread(), std::this_thread::get_id());
    EXPECT_EQ(qLink_Destroy(&link), qErrNone);
}

TEST_F(LinkCallerReadTest, BytesBeforeTheReplyAreHandledAsTheReaderWould) {
    ASSERT_EQ(qLink_PacketDebug_Enable(id), qErrNone);
    bool readByTheCaller = false;
    for (size_t round = 1; round <= 10 && !readByTheCaller; ++round) {
        ASSERT_TRUE(exchangeUntilTheCallerReads());
        receivedPacketLog();
        ASSERT_TRUE(exchange(kBurst));
        readByTheCaller = module.lastReadingThread() == std::this_thread::get_id();
        // Whoever read them: the heartbeat was answered, the other packet waits on the inbound
        // queue, and all three were logged in their order.
        EXPECT_TRUE(eventually([&] {
            const std::vector<WirePacket> all = module.received();
            return static_cast<size_t>(std::count(all.begin(), all.end(), kHeartbeatAnswer)) ==
                   round;
        }));
        EXPECT_EQ(hex(awaitInbound(0)), hex(kOther.wireText()));
        EXPECT_EQ(qLink_GetPacket(id), nullptr);
        EXPECT_EQ(receivedPacketLog(),
                  (std::vector<WirePacket>{kHeartbeat, kOther, {0x04, {kReply, kBurst}}}));
    }
    EXPECT_TRUE(readByTheCaller);
}

TEST_F(LinkCallerReadTest, AWaitThatFindsNothingEndsOnTime) {
    ASSERT_TRUE(exchangeUntilTheCallerReads());
    const uint64_t before = qTime_GetMSTicks();
    EXPECT_EQ(qLink_AwaitFirst(id, acceptNothing, nullptr, 300), nullptr);
    const uint64_t waited = qTime_GetMSTicks() - before;
    EXPECT_GE(waited, 290u);
    // The caller's last read ends by the deadline, give or take one get's 20 ms; the margin is
    // for a loaded machine.
    EXPECT_LT(waited, 600u);
}

TEST_F(LinkCallerReadTest, TheReaderThreadReadsAgainOnceCallersAreDone) {
    ASSERT_TRUE(exchangeUntilTheCallerReads());
    // Nobody awaits this one: the reader thread takes it after its short stand-by.
    module.send(bytes({0x04, 0x01, 0x55}));
    EXPECT_EQ(hex(awaitInbound(1000)), hex(bytes({0x04, 0x01, 0x55})));
    EXPECT_NE(module.lastReadingThread(), std::this_thread::get_id());
}

TEST_F(LinkCallerReadTest, TwoCallersEachGetTheirOwnReplies) {
    std::atomic<int> failures{0};
    auto caller = [&](uint8_t first) {
        for (int i = 0; i < 100; ++i) {
            if (!exchange(static_cast<uint8_t>(first + i))) {
                failures++;
            }
        }
    };
    std::thread one(caller, 0);
    std::thread two(caller, kBurst + 0x10);
    one.join();
    two.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(qLink_GetPacket(id), nullptr);
}

TEST_F(LinkCallerReadTest, DestroyingTheLinkEndsACallersRead) {
    ASSERT_TRUE(exchange(1));
    std::atomic<bool> returned{false};
    Clock::time_point end;
    const qLinkID link = id;
    std::thread waiter([&] {
        // No reply comes: the caller reads until the link goes.
        qOwnedPacket none(qLink_AwaitFirst(link, acceptNothing, nullptr, 10000));
        end = Clock::now();
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_FALSE(returned.load());
    const Clock::time_point destroyed = Clock::now();
    qLinkID gone = id;
    id = 0;
    EXPECT_EQ(qLink_Destroy(&gone), qErrNone);
    waiter.join();
    EXPECT_LT(end - destroyed, std::chrono::seconds(1));
}

}  // namespace

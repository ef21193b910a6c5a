// What a wait for a packet promises, whichever thread reads the stream meanwhile: it survives a
// resynchronisation, offers each packet to its filter once, ends by its deadline whatever the
// transport does, and a user filter may await packets of other links and of its own.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>

#include "LinkFixture.h"
#include "LoopbackListener.h"
#include "qLinkInternal.h"
#include "qStreamsocket.h"

namespace {

using Clock = std::chrono::steady_clock;
using zvtest::WirePacket;

const WirePacket kSyncRequest{0xAD, {}};
const WirePacket kReply{0x04, {0x11, 0x01}};

uint8_t isReply(const qPacket* packet, void*) {
    return packet->dataSize == 2 && packet->data[0] == 0x11;
}

uint8_t acceptNothing(const qPacket*, void*) {
    return 0;
}

// Counts the offers of each packet (by its first data byte) and accepts none.
uint8_t countOffers(const qPacket* packet, void* reference) {
    (*static_cast<std::map<uint8_t, int>*>(reference))[packet->data[0]]++;
    return 0;
}

std::chrono::milliseconds since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

class LinkWaitPromisesTest : public LinkOverPair {
  protected:
    qLinkObject* object() { return qLink_Lookup(id).get(); }
};

TEST_F(LinkWaitPromisesTest, AResyncDuringAWaitStillDeliversTheReply) {
    // The module answers the first of each six sync requests with "address 4, length 0" twice,
    // which ends the sync.
    std::atomic<int> syncRequests{0};
    module.setResponder([&](const WirePacket& packet) {
        if (packet != kSyncRequest || syncRequests++ % 6 != 0) {
            return std::vector<WirePacket>{};
        }
        return std::vector<WirePacket>{{0x04, {}}, {0x04, {}}};
    });
    for (int round = 1; round <= 5; ++round) {
        // The reader thread is inside its wait on the stream when the caller begins: the caller
        // cannot read yet, and the noise byte reaches the reader thread.
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        std::thread lineNoise([this] {
            std::this_thread::sleep_for(std::chrono::microseconds(300));
            module.send(bytes({0x05}));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            module.send(kReply);
        });
        qOwnedPacket reply(qLink_AwaitFirst(id, isReply, nullptr, 1000));
        lineNoise.join();
        EXPECT_NE(reply, nullptr) << "round " << round;
        EXPECT_EQ(syncRequests.load(), 6 * round);
    }
}

TEST_F(LinkWaitPromisesTest, AFilterSeesEachPacketOnce) {
    module.send(WirePacket{0x04, {0x21}});
    ASSERT_TRUE(eventually([this] { return qPacketFifo_GetLength(object()->inbound) == 1; }));
    std::thread later([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        module.send(WirePacket{0x04, {0x22}});
    });
    std::map<uint8_t, int> offers;
    EXPECT_EQ(qLink_AwaitFirst(id, countOffers, &offers, 200), nullptr);
    later.join();
    EXPECT_EQ(offers, (std::map<uint8_t, int>{{0x21, 1}, {0x22, 1}}));
}

// How a 300 ms wait ended when the module's connection was reset 150 ms into it.
struct VanishedPeerWait {
    std::chrono::milliseconds waited;
    // Whether the caller met the reset (rather than the reader thread, which may read when the
    // caller begins).
    bool callerMetIt;
};

// The module's connection is reset and the module cannot be reached again: its port takes no
// more connections, as when it has gone from the network.
VanishedPeerWait awaitWhileThePeerVanishes() {
    LoopbackListener listener(0);
    qStream* stream = nullptr;
    EXPECT_EQ(qStream_CreateSocket(listener.address(), listener.port(), &stream), qErrNone);
    qLinkID id = qLink_Create(stream);
    const int connection = listener.accept();
    EXPECT_EQ(hex(receiveFrom(connection, 3)), hex(routeOn()));
    // Fills the port's queue of connections waiting to be accepted.
    const int filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in port{};
    port.sin_family = AF_INET;
    port.sin_addr.s_addr = listener.address();
    port.sin_port = htons(static_cast<uint16_t>(listener.port()));
    connect(filler, reinterpret_cast<sockaddr*>(&port), sizeof port);
    std::thread vanish([connection] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        linger reset{1, 0};
        setsockopt(connection, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        close(connection);
    });
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(qLink_AwaitFirst(id, acceptNothing, nullptr, 300), nullptr);
    const VanishedPeerWait outcome{since(start), qLink_Lookup(id)->readingHandedBack.load()};
    vanish.join();
    // The refused connection ends the reader thread's reconnect at the kernel's next try.
    listener.stopListening();
    close(filler);
    EXPECT_EQ(qLink_Destroy(&id), qErrNone);
    return outcome;
}

// Reconnecting is the reader thread's, however long the kernel tries; the caller's wait ends on
// time. The caller takes over the reading within a moment of its wait, so it is the one to meet
// the reset but on a machine too busy to let it.
TEST(LinkWaitPromises, ACallerLeavesAVanishedPeerToTheReaderThread) {
    bool callerMetIt = false;
    for (int attempt = 1; attempt <= 5 && !callerMetIt; ++attempt) {
        const VanishedPeerWait wait = awaitWhileThePeerVanishes();
        callerMetIt = wait.callerMetIt;
        EXPECT_GE(wait.waited.count(), 290);
        // The margin is for a loaded machine; a caller that reconnected would wait for minutes.
        EXPECT_LT(wait.waited.count(), 700);
    }
    EXPECT_TRUE(callerMetIt);
}

// A user filter of one link that exchanges on a second link, then awaits a packet of its own
// link, still knows it reads the first: it must not take that link's read lock again.
TEST(LinkWaitPromises, AUserFilterAwaitsAnotherLinkAndThenItsOwn) {
    ModulePeer first;
    ModulePeer second;
    qLinkID one = first.makeEngineLink();
    qLinkID two = second.makeEngineLink();
    ASSERT_NE(one, 0u);
    ASSERT_NE(two, 0u);
    second.setResponder([](const WirePacket& request) {
        return request.data.size() == 1 ? std::vector<WirePacket>{kReply}
                                        : std::vector<WirePacket>{};
    });
    struct Nesting {
        qLinkID two;
        std::shared_ptr<qLinkObject> one;
        ModulePeer* second;
        std::atomic<int> rounds{0};
        std::atomic<int> readSecondItself{0};
        std::atomic<int> lostTheirPlace{0};
    } nesting{two, qLink_Lookup(one), &second};
    auto filter = [](const qPacket* packet, void* reference) -> uint8_t {
        auto* n = static_cast<Nesting*>(reference);
        if (packet->dataSize != 1 || packet->data[0] != 0x42) {
            return 0;
        }
        const uint8_t request[] = {0x10};
        qOwnedPacket out(qPacket_CreateWithData(0x04, 1, request));
        const qPacket* const batch[] = {out.get()};
        qLink_SendPackets(n->two, batch, 1);
        qOwnedPacket reply(qLink_AwaitFirst(n->two, isReply, nullptr, 1000));
        if (reply != nullptr && n->second->lastReadingThread() == std::this_thread::get_id()) {
            n->readSecondItself++;
        }
        if (!qLink_ThreadReads(n->one.get())) {
            n->lostTheirPlace++;
        }
        qOwnedPacket own(qLink_AwaitFirst(n->one->id, acceptNothing, nullptr, 30));
        n->rounds++;
        return 1;
    };
    ASSERT_EQ(qLink_InstallUserPacketFilter(one, filter, &nesting), qErrNone);
    for (int round = 1; round <= 20 && nesting.readSecondItself.load() < 3; ++round) {
        first.send(WirePacket{0x04, {0x42}});
        ASSERT_TRUE(eventually([&] { return nesting.rounds.load() == round; }));
    }
    EXPECT_GE(nesting.readSecondItself.load(), 3);
    EXPECT_EQ(nesting.lostTheirPlace.load(), 0);
    EXPECT_FALSE(qLink_ThreadReads(nesting.one.get()));
    qLink_InstallUserPacketFilter(one, nullptr, nullptr);
    EXPECT_EQ(qLink_Destroy(&one), qErrNone);
    EXPECT_EQ(qLink_Destroy(&two), qErrNone);
}

}  // namespace

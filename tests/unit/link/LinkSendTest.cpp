// qLink_SendPackets: a caller's packets go straight to the stream from its own thread while the
// link is idle, and behind the outbound queue in order otherwise.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "LinkFixture.h"

namespace {

class LinkSendTest : public LinkOverPair {
  protected:
    // Sends the packets on the idle link and says whether this thread wrote them. The writer lets
    // go of the link a moment after its last bytes (the route command) have arrived, and a send
    // meanwhile is queued behind it instead: so up to a few tries, each one's bytes received.
    bool sendFromThisThread(const std::vector<zvtest::WirePacket>& packets);
};

// A packet to address 4 of size data bytes (the largest by default), told apart by its number.
zvtest::WirePacket numbered(int number, uint8_t size = qPACKET_MAX_DATA) {
    std::vector<uint8_t> data(size);
    for (size_t b = 0; b < data.size(); ++b) {
        data[b] = static_cast<uint8_t>(number + b);
    }
    if (size >= 2) {
        data[0] = static_cast<uint8_t>(number >> 8);
        data[1] = static_cast<uint8_t>(number);
    }
    return zvtest::WirePacket{0x04, data};
}

qOwnedPacket engineForm(const zvtest::WirePacket& packet) {
    return qOwnedPacket(qPacket_CreateWithData(
        packet.address, static_cast<uint8_t>(packet.data.size()), packet.data.data()));
}

qErr send(qLinkID id, const std::vector<zvtest::WirePacket>& packets) {
    std::vector<qOwnedPacket> owned;
    std::vector<const qPacket*> pointers;
    for (const zvtest::WirePacket& packet : packets) {
        owned.push_back(engineForm(packet));
        pointers.push_back(owned.back().get());
    }
    return qLink_SendPackets(id, pointers.data(), pointers.size());
}

std::string wireOf(const std::vector<zvtest::WirePacket>& packets) {
    std::string wire;
    for (const zvtest::WirePacket& packet : packets) {
        std::vector<uint8_t> b = packet.bytes();
        wire.append(b.begin(), b.end());
    }
    return wire;
}

bool LinkSendTest::sendFromThisThread(const std::vector<zvtest::WirePacket>& packets) {
    const std::string wire = wireOf(packets);
    for (int attempt = 0; attempt < 20; ++attempt) {
        module.clearWriteSizes();
        EXPECT_EQ(send(id, packets), qErrNone);
        const std::vector<std::thread::id> writers = module.writingThreads();
        EXPECT_EQ(module.receive(wire.size()), wire);
        if (!writers.empty() && writers.front() == std::this_thread::get_id()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

TEST_F(LinkSendTest, IdleLinkIsWrittenFromTheCallersThreadOneWriteAPacket) {
    const std::vector<zvtest::WirePacket> packets = {numbered(1, 3), numbered(2, 1)};
    ASSERT_TRUE(sendFromThisThread(packets));
    // Written by the time the call returned, by this thread, as the writer would: one write each.
    EXPECT_EQ(module.writeSizes(), (std::vector<size_t>{5, 3}));
    EXPECT_EQ(module.writingThreads(), std::vector<std::thread::id>(2, std::this_thread::get_id()));
}

TEST_F(LinkSendTest, PooledPacketsLeaveInBuffersOfAtMost4096Bytes) {
    ASSERT_EQ(qLink_EnablePooledPackets(id, true), qErrNone);
    std::vector<zvtest::WirePacket> packets;
    for (int i = 0; i < 200; ++i) {
        packets.push_back(numbered(i));
    }
    ASSERT_TRUE(sendFromThisThread(packets));
    // 6000 bytes: the first buffer is cut once another largest packet might not fit.
    const size_t perBuffer = (4096 - qPACKET_MAX_WIRE) / qPACKET_MAX_WIRE + 1;
    EXPECT_EQ(module.writeSizes(), (std::vector<size_t>{perBuffer * qPACKET_MAX_WIRE,
                                                        (200 - perBuffer) * qPACKET_MAX_WIRE}));
    EXPECT_EQ(module.writingThreads(), std::vector<std::thread::id>(2, std::this_thread::get_id()));
}

TEST_F(LinkSendTest, PacketsQueueBehindAWriteUnderWayAndKeepTheirOrder) {
    module.clearWriteSizes();
    module.holdWrites();
    // The writer thread takes the first packet and hangs in its write.
    ASSERT_EQ(put({0x02, 0x01, 0xEE}), qErrNone);
    ASSERT_TRUE(eventually([this] { return module.writesBegun() == 1; }));
    // Neither call waits for that write: both queue behind it.
    ASSERT_EQ(send(id, {numbered(1, 1)}), qErrNone);
    ASSERT_EQ(send(id, {numbered(2, 2), numbered(3, 2)}), qErrNone);
    EXPECT_EQ(module.writesBegun(), 1u);
    EXPECT_EQ(qLink_GetStatus(id), qLINK_STATUS_RUNNING);
    module.releaseWrites();
    const std::string expected =
        bytes({0x02, 0x01, 0xEE}) + wireOf({numbered(1, 1), numbered(2, 2), numbered(3, 2)});
    EXPECT_EQ(hex(module.receive(expected.size())), hex(expected));
    for (std::thread::id writer : module.writingThreads()) {
        EXPECT_NE(writer, std::this_thread::get_id());
    }
}

TEST_F(LinkSendTest, InvalidPacketIsRefusedAndNothingIsWritten) {
    module.clearWriteSizes();
    qOwnedPacket broken = engineForm(numbered(1, 2));
    broken->dataSize = qPACKET_MAX_DATA + 1;
    const qPacket* const one[] = {broken.get()};
    EXPECT_EQ(qLink_SendPackets(id, one, 1), qErrParam);
    EXPECT_EQ(module.receiveUntilSilent(100), "");
    EXPECT_EQ(qLink_SendPackets(0, one, 1), qErrParam);
}

// Two callers and the reader's heartbeat answers share the stream: every packet arrives whole,
// each caller's in the order it sent them.
TEST_F(LinkSendTest, ConcurrentSendersAndHeartbeatAnswersNeverInterleave) {
    constexpr int kPerSender = 300;
    std::atomic<bool> sending{true};
    std::thread heartbeats([this, &sending] {
        for (int i = 0; i < 200 && sending; ++i) {
            module.send(bytes({0x04, 0x02, 0x00, 0x00}));
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    auto sender = [this](uint8_t address) {
        for (int i = 0; i < kPerSender; ++i) {
            zvtest::WirePacket packet = numbered(i, 4);
            packet.address = address;
            ASSERT_EQ(send(id, {packet}), qErrNone);
        }
    };
    std::thread first(sender, 0x06);
    std::thread second(sender, 0x08);
    first.join();
    second.join();
    sending = false;
    heartbeats.join();
    ASSERT_TRUE(module.waitForRequests(2 * kPerSender));
    std::vector<int> next(256, 0);
    for (const zvtest::WirePacket& request : module.requests()) {
        ASSERT_TRUE(request.address == 0x06 || request.address == 0x08) << int(request.address);
        ASSERT_EQ(request.data, numbered(next[request.address], 4).data);
        ++next[request.address];
    }
    EXPECT_EQ(next[0x06], kPerSender);
    EXPECT_EQ(next[0x08], kPerSender);
}

// A caller sending while another thread destroys the link either sends or is refused; the stream
// is never used after it is closed (a fault ASan would report).
TEST(LinkSendRaceTest, SendingWhileTheLinkIsDestroyedIsSafe) {
    for (int round = 0; round < 20; ++round) {
        ModulePeer module;
        qLinkID id = module.makeEngineLink();
        ASSERT_NE(id, 0u);
        std::atomic<int> sent{0};
        std::thread sender([id, &sent] {
            qOwnedPacket packet = engineForm(numbered(7, 3));
            const qPacket* const one[] = {packet.get()};
            while (qLink_SendPackets(id, one, 1) == qErrNone && sent < 100000) {
                ++sent;
            }
        });
        ASSERT_TRUE(eventually([&sent] { return sent > 10; }));
        qLinkID doomed = id;
        EXPECT_EQ(qLink_Destroy(&doomed), qErrNone);
        sender.join();
        EXPECT_LT(sent.load(), 100000);
    }
}

}  // namespace

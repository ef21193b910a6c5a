// A module shared by a linkshare process is found by the loopback probe and serves several client
// links at once: replies reach the client that asked, stream samples reach every subscriber, a
// multi-packet write reaches the module in one piece, and a stopped server fails requests.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "Eventually.h"
#include "Link.h"
#include "SharedModule.h"
#include "StreamCacheChecks.h"
#include "autoGen_SystemClass_CPP.h"
#include "qUEI.h"

using namespace Pelmorax::Zendrival;
using sharetest::kAddress;
using sharetest::kModel;
using sharetest::kSerial;
using sharetest::SharedModule;
using sharetest::TracedPacket;

namespace {

// Samples pass through linkshare and the simulator on a shared machine: twice the usual patience.
bool eventually(const std::function<bool()>& condition) {
    return zvtest::eventually(condition, std::chrono::seconds(20), std::chrono::milliseconds(10));
}

bool isHeartbeat(const TracedPacket& packet) {
    return packet.bytes.size() == 4 && packet.bytes[1] == 2 && packet.bytes[2] == qCMD_HEARTBEAT;
}

// A set of the system entity: here only the byte-sequence writes of the writing client.
bool isSystemSet(const TracedPacket& packet) {
    return packet.direction == '<' && packet.bytes.size() > 4 && packet.bytes[2] == qCMD_SYSTEM &&
           (packet.bytes[3] & qUEI_OPTION_SET) != 0;
}

// A full byte-sequence packet whose trailer says more of the same write follows.
bool continues(const TracedPacket& packet) {
    return packet.bytes[1] == 28 && (packet.bytes.back() & qUEI_BYTES_CONTINUE) != 0;
}

uint8_t sequenceOf(const TracedPacket& packet) {
    return packet.bytes.back() & qUEI_BYTES_SEQUENCE_MASK;
}

}  // namespace

TEST_F(SharedModule, ProbeFindsTheSharedLinkAsPublished) {
    EXPECT_EQ(shared_.type, static_cast<uint32_t>(linkTypeNetworkClientTCPIP));
    EXPECT_EQ(shared_.serialNumber, kSerial);
    EXPECT_EQ(shared_.port, sharedPort_);
    EXPECT_EQ(shared_.ipAddress, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(shared_.model, kModel);
    EXPECT_EQ(shared_.module, kAddress);
}

TEST_F(SharedModule, EachOfTwoClientsGetsItsOwnReplies) {
    auto first = connectClient();
    auto second = connectClient();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(first->getModuleAddress(), kAddress);
    SystemClass firstSystem, secondSystem;
    firstSystem.init(first.get(), 0);
    secondSystem.init(second.get(), 0);
    // Different requests at the same time: a reply handed to the wrong client shows as a wrong
    // value or a time-out there.
    constexpr int kRequests = 40;
    std::atomic<int> wrongSerials{0}, wrongModels{0};
    std::thread asker([&] {
        for (int i = 0; i < kRequests; ++i) {
            uint32_t serial = 0;
            if (firstSystem.getSerialNumber(&serial) != qErrNone || serial != kSerial)
                ++wrongSerials;
        }
    });
    for (int i = 0; i < kRequests; ++i) {
        uint8_t model = 0;
        if (secondSystem.getModel(&model) != qErrNone || model != kModel)
            ++wrongModels;
    }
    asker.join();
    EXPECT_EQ(wrongSerials.load(), 0);
    EXPECT_EQ(wrongModels.load(), 0);
}

TEST_F(SharedModule, BothClientsReceiveStreamSamples) {
    auto first = connectClient();
    auto second = connectClient();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    std::atomic<int> firstSamples{0}, secondSamples{0};
    auto counter = [](std::atomic<int>& samples) {
        return [&samples](const qPacket* packet, void*) -> uint8_t {
            if (Link::isStreamSample(packet))
                ++samples;
            return 0;
        };
    };
    SystemClass firstSystem, secondSystem;
    firstSystem.init(first.get(), 0);
    secondSystem.init(second.get(), 0);
    // Gets of the input voltage (system entity, option 12) the module was sent.
    auto voltageGets = [this] {
        const std::vector<TracedPacket> packets = trace();
        return std::count_if(packets.begin(), packets.end(), [](const TracedPacket& packet) {
            return packet.direction == '<' && packet.bytes.size() >= 4 &&
                   packet.bytes[2] == SystemClass::COMMAND &&
                   packet.bytes[3] == (12 | qUEI_OPTION_GET);
        });
    };
    // Before any stream, a get goes to the module and its trace shows it.
    uint32_t millivolts = 0;
    ASSERT_EQ(secondSystem.getInputVoltage(&millivolts), qErrNone);
    EXPECT_EQ(millivolts, 12000u);
    ASSERT_TRUE(eventually([&] { return voltageGets() == 1; })) << voltageGets() << " gets";
    // The server sends stream batches only to clients that asked the module for a stream; the
    // input voltage is asked for through both.
    ASSERT_EQ(firstSystem.registerOptionCallback(12, true, counter(firstSamples), nullptr),
              qErrNone);
    ASSERT_EQ(secondSystem.registerOptionCallback(12, true, counter(secondSamples), nullptr),
              qErrNone);
    EXPECT_TRUE(eventually([&] { return firstSamples >= 5 && secondSamples >= 5; }))
        << firstSamples << " and " << secondSamples << " samples";
    // Samples keep coming to both, not just a batch that was on its way.
    const int firstBefore = firstSamples, secondBefore = secondSamples;
    EXPECT_TRUE(eventually(
        [&] { return firstSamples > firstBefore + 3 && secondSamples > secondBefore + 3; }));
    // The first get after the samples came is answered by the newest sample, fresh; gets
    // right after it find that sample already read. None of them goes to the module.
    zvtest::expectFreshThenStale(
        [&](uint32_t* value) { return secondSystem.getInputVoltage(value); }, 12000u);
    EXPECT_EQ(voltageGets(), 1);
    EXPECT_EQ(firstSystem.registerOptionCallback(12, false, nullptr, nullptr), qErrNone);
    EXPECT_EQ(secondSystem.registerOptionCallback(12, false, nullptr, nullptr), qErrNone);
}

TEST_F(SharedModule, MultiPacketWriteIsNotInterleavedWithAnotherClient) {
    auto writer = connectClient();
    auto other = connectClient();
    ASSERT_NE(writer, nullptr);
    ASSERT_NE(other, nullptr);
    SystemClass otherSystem;
    otherSystem.init(other.get(), 0);
    std::atomic<bool> writing{true};
    std::atomic<int> otherFailures{0};
    // The other client keeps asking while the writes go on; bounded in count as well.
    std::thread asker([&] {
        for (int i = 0; i < 2000 && writing; ++i) {
            uint32_t serial = 0;
            if (otherSystem.getSerialNumber(&serial) != qErrNone || serial != kSerial)
                ++otherFailures;
        }
    });
    SystemClass writerSystem;
    writerSystem.init(writer.get(), 0);
    constexpr int kWrites = 20;
    uint32_t words[16];  // 64 bytes: three packets of 24, 24 and 16 value bytes
    int failedWrites = 0;
    for (int write = 0; write < kWrites; ++write) {
        for (uint32_t i = 0; i < 16; ++i)
            words[i] = static_cast<uint32_t>(write) * 100 + i;
        if (writerSystem.setInputPowerBehaviorConfig(words, 16) != qErrNone)
            ++failedWrites;
    }
    writing = false;
    asker.join();
    EXPECT_EQ(failedWrites, 0);
    EXPECT_EQ(otherFailures.load(), 0);

    std::vector<TracedPacket> received;
    for (const TracedPacket& packet : trace()) {
        if (packet.direction == '<' && !isHeartbeat(packet))
            received.push_back(packet);
    }
    int runs = 0, continued = 0;
    size_t firstWrite = received.size(), lastWrite = 0;
    for (size_t i = 0; i < received.size(); ++i) {
        if (!isSystemSet(received[i]))
            continue;
        firstWrite = std::min(firstWrite, i);
        lastWrite = i;
        if (sequenceOf(received[i]) == 0)
            ++runs;
        if (continues(received[i])) {
            ++continued;
            ASSERT_LT(i + 1, received.size());
            EXPECT_TRUE(isSystemSet(received[i + 1]))
                << "packet " << i + 1 << " of the trace interrupts a write run";
            EXPECT_EQ(sequenceOf(received[i + 1]), sequenceOf(received[i]) + 1);
        }
    }
    EXPECT_EQ(runs, kWrites);
    EXPECT_EQ(continued, 2 * kWrites);
    // The other client's requests did reach the module while the writes went on.
    int between = 0;
    for (size_t i = firstWrite; i < lastWrite; ++i) {
        if (!isSystemSet(received[i]))
            ++between;
    }
    EXPECT_GT(between, 0);
}

TEST_F(SharedModule, StoppedSharerFailsRequestsWithoutHanging) {
    auto client = connectClient();
    ASSERT_NE(client, nullptr);
    SystemClass system;
    system.init(client.get(), 0);
    uint32_t serial = 0;
    ASSERT_EQ(system.getSerialNumber(&serial), qErrNone);
    EXPECT_EQ(serial, kSerial);

    EXPECT_EQ(sharer_->stop(), 0);
    sharer_.reset();
    for (int i = 0; i < 2; ++i) {
        serial = 0;
        EXPECT_NE(system.getSerialNumber(&serial), qErrNone);
        EXPECT_EQ(serial, 0u);
    }
    // Nobody shares the module any more.
    EXPECT_TRUE(probeSharedLinks().empty());
    EXPECT_EQ(client->disconnect(), qErrNone);
}

// Raw packets, the echo test and the module-information queries.
#include <gtest/gtest.h>

#include "ObjectsFixture.h"

using namespace Pelmorax::Zendrival;
using namespace zvtest;

using RawPackets = ConnectedModule;

TEST_F(RawPackets, TwentySevenBytesFillAPacketAndTwentyEightAreRefused) {
    Bytes data(28);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(0xC0 + i);
    }
    EXPECT_EQ(link().sendPacket(kModule, 50, 28, data.data()), qErrParam);
    EXPECT_EQ(link().sendPacket(kModule + 1, 50, 1, data.data()), qErrPacket);
    ASSERT_EQ(link().sendPacket(kModule, 50, 27, data.data()), qErrNone);
    ASSERT_TRUE(player.waitForRequests(1));
    Bytes expected{50};
    expected.insert(expected.end(), data.begin(), data.begin() + 27);
    EXPECT_EQ(requestData(), std::vector<Bytes>({expected}));
}

TEST_F(RawPackets, ReceiveMatchesLeadingBytesWhateverTheAddress) {
    player.send(from(0x40, {51, 1, 9}));
    player.send(from(0x42, {50, 2, 8, 7}));
    const Bytes pattern{50, 2};
    uint8_t length = 2;
    uint8_t data[qPACKET_MAX_DATA] = {};
    ASSERT_EQ(link().receivePacket(kModule, pattern.data(), &length, data), qErrNone);
    EXPECT_EQ(length, 4);
    EXPECT_EQ(Bytes(data, data + 4), Bytes({50, 2, 8, 7}));
}

TEST(RawPacketsOffline, NotConnectedIsAConnectionError) {
    Link link("offline");
    EXPECT_EQ(link.sendPacket(kModule, 1, 0, nullptr), qErrConnection);
    uint8_t length = 0;
    uint8_t data[qPACKET_MAX_DATA];
    EXPECT_EQ(link.receivePacket(kModule, nullptr, &length, data), qErrConnection);
    Module module(kModule, 0);
    EXPECT_EQ(module.debug(data, 1), qErrConnection);
    uint32_t build;
    EXPECT_EQ(module.getBuild(&build), qErrConnection);
    EXPECT_EQ(module.getBuild(nullptr), qErrParam);
}

TEST_F(RawPackets, EchoMustComeBackUnchanged) {
    const Bytes sent{1, 2, 3};
    respond([](const Bytes& d) { return std::vector<WirePacket>{from(kModule, d)}; });
    EXPECT_EQ(module.debug(sent.data(), 3), qErrNone);
    respond([](const Bytes& d) {
        Bytes changed = d;
        if (changed.size() > 1) {
            changed[1] ^= 1;
        }
        return std::vector<WirePacket>{from(kModule, changed)};
    });
    EXPECT_EQ(module.debug(sent.data(), 3), qErrIO);
    respond([](const Bytes& d) {
        return std::vector<WirePacket>{from(kModule, Bytes(d.begin(), d.end() - 1))};
    });
    EXPECT_EQ(module.debug(sent.data(), 3), qErrIO);
    EXPECT_EQ(requestData()[0], Bytes({23, 1, 2, 3}));
}

TEST_F(RawPackets, BuildIsABigEndianWord) {
    respond([](const Bytes&) {
        return std::vector<WirePacket>{from(kModule, {73, 255, 0x00, 0x01, 0x02, 0x03})};
    });
    uint32_t build = 0;
    ASSERT_EQ(module.getBuild(&build), qErrNone);
    EXPECT_EQ(build, 0x00010203u);
    EXPECT_EQ(requestData()[0], Bytes({73, 255}));
    respond([](const Bytes&) {
        return std::vector<WirePacket>{from(kModule, {73, 255, 1, 2, 3})};
    });
    EXPECT_EQ(module.getBuild(&build), qErrSize);
}

TEST_F(RawPackets, HasUEIChecksFlagsBeforeSending) {
    EXPECT_EQ(module.hasUEI(3, 7, 0, 0x01), qErrParam);
    EXPECT_EQ(module.hasUEI(3, 7, 0, 0xC0), qErrParam);
    EXPECT_TRUE(requestData().empty());
    respond([](const Bytes& d) {
        return std::vector<WirePacket>{from(kModule, {73, 1, d[2], d[3], d[4], 0})};
    });
    EXPECT_EQ(module.hasUEI(3, 7, 0, 0x40), qErrNone);
    EXPECT_EQ(requestData()[0], Bytes({73, 1, 3, 7, 0, 0x40}));
    respond([](const Bytes& d) {
        return std::vector<WirePacket>{from(kModule, {73, 1, d[2], d[3], d[4], qErrInvalidOption})};
    });
    EXPECT_EQ(module.hasUEI(3, 9, 0, 0x80), qErrInvalidOption);
}

TEST_F(RawPackets, CountQueriesCheckTheEcho) {
    respond([](const Bytes& d) {
        Bytes reply = d;
        reply.push_back(d[1] == 4 ? 6 : d[1] == 5 ? 2 : 9);
        return std::vector<WirePacket>{from(kModule, reply)};
    });
    uint8_t count = 0;
    ASSERT_EQ(module.classQuantity(8, &count), qErrNone);
    EXPECT_EQ(count, 6);
    ASSERT_EQ(module.subClassQuantity(8, 1, &count), qErrNone);
    EXPECT_EQ(count, 2);
    uint8_t group = 0;
    ASSERT_EQ(module.entityGroup(8, 3, &group), qErrNone);
    EXPECT_EQ(group, 9);
    EXPECT_EQ(requestData(), std::vector<Bytes>({{73, 4, 8}, {73, 5, 8, 1}, {73, 6, 8, 3}}));

    respond([](const Bytes&) { return std::vector<WirePacket>{from(kModule, {73, 4, 7, 1})}; });
    count = 5;
    EXPECT_EQ(module.classQuantity(8, &count), qErrUnknown);
    EXPECT_EQ(count, 0);
}

// The system and store entities, module information and echo as the wire shows them.
#include "SimFixture.h"

namespace {

using simtest::WirePacket;

const char kModule[] = "serial=0A0B0C0D,tcp,hb-ms=0,address=4,model=19,version=2.15.7,build=4242";

TEST_F(TcpSimTest, SystemEntityReportsTheModuleIdentity) {
    ASSERT_TRUE(start({kModule}, "0A0B0C0D"));
    WirePacket version = link.exchange(4, {3, 0x47, 0x20});
    EXPECT_EQ(version.address, 4);
    EXPECT_EQ(version.data, (Bytes{3, 7, 0, 0x2F, 0x02, 0x0F, 0x07}));
    EXPECT_EQ(link.exchange(4, {3, 0x49, 0x20}).data, (Bytes{3, 9, 0, 0x0A, 0x0B, 0x0C, 0x0D}));
    EXPECT_EQ(link.exchange(4, {3, 0x48, 0x20}).data, (Bytes{3, 8, 0, 19}));
    EXPECT_EQ(link.exchange(4, {3, 0x41, 0x20}).data, (Bytes{3, 1, 0, 4}));
    EXPECT_EQ(link.exchange(4, {3, 0x42, 0x20}).data, (Bytes{3, 2, 0, 4}));
    EXPECT_EQ(link.exchange(4, {3, 0x6B, 0x20}).data, (Bytes{3, 43, 0, 0, 0, 0x10, 0x92}));
    EXPECT_EQ(link.exchange(4, {3, 0x6D, 0x20}).data, (Bytes{3, 45, 0, 0x80, 0, 0, 0}));
}

TEST_F(TcpSimTest, OlderVersionsArePackedInTheLegacyLayout) {
    ASSERT_TRUE(start({"serial=1,tcp,hb-ms=0"}, "00000001"));
    EXPECT_EQ(link.exchange(2, {3, 0x47, 0x20}).data, (Bytes{3, 7, 0, 0x2C, 0, 0, 0x02}));
}

TEST_F(TcpSimTest, NameTravelsAsARunOfPacketsBothWays) {
    ASSERT_TRUE(start({"serial=1,tcp,hb-ms=0,name=ABCDEFGHIJKLMNOPQRSTUVWXYZ0123"}, "00000001"));
    link.sendPacket(2, {3, 0x60, 0x20});
    WirePacket first, second;
    ASSERT_TRUE(link.receive(first));
    ASSERT_TRUE(link.receive(second));
    Bytes expectFirst{3, 32, 0};
    for (char c = 'A'; c <= 'X'; ++c)
        expectFirst.push_back(static_cast<uint8_t>(c));
    expectFirst.push_back(0x80);
    EXPECT_EQ(first.data, expectFirst);
    EXPECT_EQ(second.data, (Bytes{3, 32, 0, 'Y', 'Z', '0', '1', '2', '3', 0x01}));

    // A 26-byte name in two packets: one acknowledgement, after the last.
    Bytes part1{3, 0xA0, 0x20}, part2{3, 0xA0, 0x20, 'y', 'z', 0x01};
    for (char c = 'a'; c <= 'x'; ++c)
        part1.push_back(static_cast<uint8_t>(c));
    part1.push_back(0x80);
    link.sendPacket(2, part1);
    EXPECT_TRUE(link.quietFor(200));
    EXPECT_EQ(link.exchange(2, part2).data, (Bytes{3, 0xE0, 0}));
    link.sendPacket(2, {3, 0x60, 0x20});
    ASSERT_TRUE(link.receive(first));
    ASSERT_TRUE(link.receive(second));
    EXPECT_EQ(first.data.size(), 28u);
    EXPECT_EQ(second.data, (Bytes{3, 32, 0, 'y', 'z', 0x01}));

    // An empty name is one packet holding only the trailer.
    EXPECT_EQ(link.exchange(2, {3, 0xA0, 0x20, 0x00}).data, (Bytes{3, 0xE0, 0}));
    EXPECT_EQ(link.exchange(2, {3, 0x60, 0x20}).data, (Bytes{3, 32, 0, 0x00}));
}

TEST_F(TcpSimTest, BadNameRunsGetErrorReplies) {
    ASSERT_TRUE(start({"serial=1,tcp,hb-ms=0"}, "00000001"));
    // Starting in the middle of a run.
    EXPECT_EQ(link.exchange(2, {3, 0xA0, 0x20, 'a', 0x01}).data, (Bytes{3, 0xE0, 0x80, 24}));
    // 24 + 9 bytes: more than a name holds.
    Bytes part1{3, 0xA0, 0x20}, part2{3, 0xA0, 0x20};
    part1.insert(part1.end(), 24, 'n');
    part1.push_back(0x80);
    part2.insert(part2.end(), 9, 'n');
    part2.push_back(0x01);
    link.sendPacket(2, part1);
    EXPECT_EQ(link.exchange(2, part2).data, (Bytes{3, 0xE0, 0x80, 14}));
    EXPECT_EQ(link.exchange(2, {3, 0x60, 0x20}).data.size(), 19u);  // "Module 00000001"
}

TEST_F(TcpSimTest, MissingOptionsAndEntitiesGetErrorReplies) {
    ASSERT_TRUE(start({kModule}, "0A0B0C0D"));
    // get of an option the module lacks: plain option, index with bit 7, the code.
    EXPECT_EQ(link.exchange(4, {3, 0x45, 0x20}).data, (Bytes{3, 5, 0x80, 29}));
    // sets answer with 0xC0 in the option byte, as the acknowledgement would.
    EXPECT_EQ(link.exchange(4, {3, 0x85, 0x20, 1}).data, (Bytes{3, 0xC5, 0x80, 29}));
    EXPECT_EQ(link.exchange(4, {3, 0x87, 0x20, 0, 0, 0, 1}).data, (Bytes{3, 0xC7, 0x80, 7}));
    EXPECT_EQ(link.exchange(4, {3, 0x54, 0x20}).data, (Bytes{3, 20, 0x80, 7}));
    EXPECT_EQ(link.exchange(4, {3, 0x82, 0x20}).data, (Bytes{3, 0xC2, 0x80, 27}));
    EXPECT_EQ(link.exchange(4, {3, 0x47, 0x21}).data, (Bytes{3, 7, 0x81, 28}));
    EXPECT_EQ(link.exchange(4, {18, 0x41, 0x20}).data, (Bytes{18, 1, 0x80, 28}));
    EXPECT_EQ(link.exchange(4, {3, 0x86, 0x20, 7}).data, (Bytes{3, 0xC6, 0x80, 13}));
}

TEST_F(TcpSimTest, SetsAreAcknowledgedWithTheStoredValue) {
    ASSERT_TRUE(start({kModule}, "0A0B0C0D"));
    EXPECT_EQ(link.exchange(4, {3, 0x82, 0x20, 8}).data, (Bytes{3, 0xC2, 0, 8}));
    EXPECT_EQ(link.exchange(4, {3, 0x42, 0x20}).data, (Bytes{3, 2, 0, 8}));
    // with a sub-index byte before the value
    EXPECT_EQ(link.exchange(4, {3, 0x82, 0x20, 0, 10}).data, (Bytes{3, 0xC2, 0, 10}));
    EXPECT_EQ(link.exchange(4, {3, 0xA2, 0x20, 0, 0, 0x30, 0x39}).data,
              (Bytes{3, 0xE2, 0, 0, 0, 0x30, 0x39}));
    EXPECT_EQ(link.exchange(4, {3, 0x62, 0x20}).data, (Bytes{3, 34, 0, 0, 0, 0x30, 0x39}));
    EXPECT_EQ(link.exchange(4, {3, 0x94, 0x20, 1}).data, (Bytes{3, 0xD4, 0, 1}));  // routeToMe
    EXPECT_EQ(link.exchange(4, {3, 0x98, 0x20}).data, (Bytes{3, 0xD8, 0}));        // logEvents call
}

TEST_F(TcpSimTest, StoreEntitySavesLoadsAndResetsSystemSettings) {
    ASSERT_TRUE(start({kModule}, "0A0B0C0D"));
    auto store = [&](uint8_t option) {
        // the system entity: command 3, index 0, as (command << 8) | index
        return link.exchange(4, {92, static_cast<uint8_t>(0x80 | option), 0x20, 0, 0, 3, 0}).data;
    };
    auto led = [&]() { return link.exchange(4, {3, 0x44, 0x20}).data.back(); };
    link.exchange(4, {3, 0x84, 0x20, 7});
    EXPECT_EQ(store(0), (Bytes{92, 0xC0, 0, 0, 0, 3, 0}));
    link.exchange(4, {3, 0x84, 0x20, 9});
    EXPECT_EQ(led(), 9);
    EXPECT_EQ(store(2), (Bytes{92, 0xC2, 0, 0, 0, 3, 0}));
    EXPECT_EQ(led(), 7);
    EXPECT_EQ(store(1), (Bytes{92, 0xC1, 0, 0, 0, 3, 0}));
    EXPECT_EQ(led(), 0);
    EXPECT_EQ(link.exchange(4, {92, 0x80, 0x20, 0, 0, 18, 0}).data, (Bytes{92, 0xC0, 0x80, 28}));
    EXPECT_EQ(link.exchange(4, {92, 0x40, 0x20}).data, (Bytes{92, 0, 0x80, 7}));
}

TEST_F(TcpSimTest, EchoAndModuleInformation) {
    ASSERT_TRUE(start({kModule}, "0A0B0C0D"));
    Bytes echo{23};
    for (uint8_t i = 1; i <= 27; ++i)
        echo.push_back(i);
    EXPECT_EQ(link.exchange(4, echo).data, echo);
    EXPECT_EQ(link.exchange(4, {73, 255}).data, (Bytes{73, 255, 0, 0, 0x10, 0x92}));
    EXPECT_EQ(link.exchange(4, {73, 1, 3, 9, 0, 0x40}).data, (Bytes{73, 1, 3, 9, 0, 0}));
    EXPECT_EQ(link.exchange(4, {73, 1, 3, 9, 0, 0x80}).data, (Bytes{73, 1, 3, 9, 0, 7}));
    EXPECT_EQ(link.exchange(4, {73, 1, 3, 11, 0, 0x80}).data, (Bytes{73, 1, 3, 11, 0, 0}));
    EXPECT_EQ(link.exchange(4, {73, 1, 3, 50, 0, 0}).data, (Bytes{73, 1, 3, 50, 0, 29}));
    EXPECT_EQ(link.exchange(4, {73, 1, 18, 1, 0, 0}).data, (Bytes{73, 1, 18, 1, 0, 28}));
    EXPECT_EQ(link.exchange(4, {73, 1, 95, 10, 0, 0x80}).data, (Bytes{73, 1, 95, 10, 0, 0}));
    EXPECT_EQ(link.exchange(4, {73, 1, 95, 10, 0, 0x40}).data, (Bytes{73, 1, 95, 10, 0, 7}));
    EXPECT_EQ(link.exchange(4, {73, 1, 95, 11, 0, 0x80}).data, (Bytes{73, 1, 95, 11, 0, 29}));
    EXPECT_EQ(link.exchange(4, {73, 4, 3}).data, (Bytes{73, 4, 3, 1}));
    EXPECT_EQ(link.exchange(4, {73, 4, 18}).data, (Bytes{73, 4, 18, 0}));
    EXPECT_EQ(link.exchange(4, {73, 5, 8, 0}).data, (Bytes{73, 5, 8, 0, 1}));
    EXPECT_EQ(link.exchange(4, {73, 6, 8, 0}).data, (Bytes{73, 6, 8, 0, 1}));
    EXPECT_EQ(link.exchange(4, {73, 6, 8, 1}).data, (Bytes{73, 6, 8, 1, 0xFF}));
}

}  // namespace

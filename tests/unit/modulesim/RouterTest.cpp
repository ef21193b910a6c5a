// A router module with modules on its I2C bus, all reached over the router's link.
#include "SimFixture.h"

namespace {

using simtest::WirePacket;

class RouterTest : public TcpSimTest {
  protected:
    bool startRouter() {
        return start(
            {"serial=0A0B0C0D,tcp,hb-ms=0,address=2", "serial=11111111,behind=0A0B0C0D,address=4",
             "serial=22222222,behind=0A0B0C0D,address=6,model=20"},
            "0A0B0C0D");
    }
};

TEST_F(RouterTest, I2CWriteAnswersOnlyWhereAModuleSits) {
    ASSERT_TRUE(startRouter());
    EXPECT_EQ(link.exchange(2, {8, 0, 4, 2, 3, 0, 0}).data, (Bytes{8, 0, 4, 0, 0}));
    EXPECT_EQ(link.exchange(2, {8, 0, 6, 2, 3, 0, 0}).data, (Bytes{8, 0, 6, 0, 0}));
    EXPECT_EQ(link.exchange(2, {8, 0, 8, 2, 3, 0, 0}).data, (Bytes{8, 0, 8, 0, 0x92}));
    EXPECT_EQ(link.exchange(2, {8, 0, 2, 2, 3, 0, 0}).data, (Bytes{8, 0, 2, 0, 0x92}));
    // malformed: a length that disagrees with the data, a speed above 3, another bus
    EXPECT_EQ(link.exchange(2, {8, 0, 4, 3, 3, 0, 0}).data, (Bytes{8, 0, 4, 0, 0x8E}));
    EXPECT_EQ(link.exchange(2, {8, 0, 4, 2, 4, 0, 0}).data, (Bytes{8, 0, 4, 0, 0x82}));
    EXPECT_EQ(link.exchange(2, {8, 1, 4, 2, 3, 0, 0}).data, (Bytes{8, 1, 4, 0, 0x9A}));
}

TEST_F(RouterTest, I2CReadReturnsWhatWasWritten) {
    ASSERT_TRUE(startRouter());
    EXPECT_EQ(link.exchange(2, {8, 0, 4, 3, 0, 0x10, 0xAA, 0xBB}).data, (Bytes{8, 0, 4, 0, 0}));
    EXPECT_EQ(link.exchange(2, {8, 0, 4, 1, 0, 0x10}).data, (Bytes{8, 0, 4, 0, 0}));
    EXPECT_EQ(link.exchange(2, {8, 0, 5, 2, 0}).data, (Bytes{8, 0, 5, 2, 0, 0xAA, 0xBB}));
    EXPECT_EQ(link.exchange(2, {8, 0, 9, 2, 0}).data, (Bytes{8, 0, 9, 0, 0x92}));
    EXPECT_EQ(link.exchange(2, {8, 0, 1, 1}).data, (Bytes{8, 0, 1, 1, 0}));  // pull-ups on
}

TEST_F(RouterTest, BusModulesAnswerAtTheirOwnAddress) {
    ASSERT_TRUE(startRouter());
    WirePacket serial = link.exchange(6, {3, 0x49, 0x20});
    EXPECT_EQ(serial.address, 6);
    EXPECT_EQ(serial.data, (Bytes{3, 9, 0, 0x22, 0x22, 0x22, 0x22}));
    EXPECT_EQ(link.exchange(6, {3, 0x48, 0x20}).data, (Bytes{3, 8, 0, 20}));
    EXPECT_EQ(link.exchange(6, {3, 0x42, 0x20}).data, (Bytes{3, 2, 0, 2}));  // its router
    EXPECT_EQ(link.exchange(4, {3, 0x49, 0x20}).data, (Bytes{3, 9, 0, 0x11, 0x11, 0x11, 0x11}));
    link.sendPacket(8, {3, 0x49, 0x20});  // nobody there
    EXPECT_TRUE(link.quietFor(300));
}

TEST_F(RouterTest, OnlyTheRouterAnswersIdentifyAndBusModulesIgnoreRouting) {
    ASSERT_TRUE(startRouter());
    link.sendPacket(173, {});
    WirePacket answer;
    ASSERT_TRUE(link.receive(answer));
    EXPECT_EQ(answer.address, 2);
    EXPECT_TRUE(link.quietFor(300));
    EXPECT_EQ(link.exchange(2, {3, 0x94, 0x20, 0}).data, (Bytes{3, 0xD4, 0, 0}));
    EXPECT_EQ(link.exchange(4, {23, 1}).data, (Bytes{23, 1}));
    EXPECT_EQ(link.exchange(2, {3, 0x94, 0x20, 1}).data, (Bytes{3, 0xD4, 0, 1}));
    EXPECT_EQ(link.exchange(4, {23, 2}).data, (Bytes{23, 2}));
}

TEST_F(TcpSimTest, BusModuleKnobsApplyToItsOwnReplies) {
    ASSERT_TRUE(start({"serial=0A0B0C0D,tcp,hb-ms=0", "serial=1,behind=0A0B0C0D,address=4,silent"},
                      "0A0B0C0D"));
    link.sendPacket(4, {23, 1});
    EXPECT_TRUE(link.quietFor(300));
    EXPECT_EQ(link.exchange(2, {23, 1}).data, (Bytes{23, 1}));
    // Silent on its link, but still there on the bus.
    EXPECT_EQ(link.exchange(2, {8, 0, 4, 2, 3, 0, 0}).data, (Bytes{8, 0, 4, 0, 0}));
}

}  // namespace

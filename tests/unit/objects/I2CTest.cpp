// I2C transfers: request layout, limits, status codes and the bus speed.
#include <gtest/gtest.h>

#include "ObjectsFixture.h"
#include "autoGen_I2CClass_CPP.h"

using namespace Pelmorax::Zendrival;
using namespace zvtest;

class I2CBus : public ConnectedModule {
  protected:
    void SetUp() override {
        ConnectedModule::SetUp();
        bus.init(&module, 1);
    }
    I2CClass bus;
};

TEST_F(I2CBus, ReadOfTwentyThreeBytesFillsOnePacketEachWay) {
    uint8_t buffer[24] = {};
    EXPECT_EQ(bus.read(0xA0, 24, buffer), qErrSize);
    ASSERT_EQ(bus.setSpeed(2), qErrNone);
    respond([](const Bytes& d) {
        Bytes reply{8, d[1], d[2], 23, 0x00};
        for (uint8_t i = 0; i < 23; ++i) {
            reply.push_back(static_cast<uint8_t>(0x30 + i));
        }
        return std::vector<WirePacket>{from(kModule, reply)};
    });
    buffer[23] = 0xEE;
    ASSERT_EQ(bus.read(0xA0, 23, buffer), qErrNone);
    EXPECT_EQ(buffer[0], 0x30);
    EXPECT_EQ(buffer[22], 0x30 + 22);
    EXPECT_EQ(buffer[23], 0xEE);
    EXPECT_EQ(requestData(), std::vector<Bytes>({{8, 1, 0xA1, 23, 2}}));
}

TEST_F(I2CBus, ReadNeverTakesMoreThanAsked) {
    respond([](const Bytes& d) {
        return std::vector<WirePacket>{from(kModule, {8, d[1], d[2], 4, 0x00, 1, 2, 3, 4})};
    });
    uint8_t buffer[3] = {};
    ASSERT_EQ(bus.read(0xA0, 2, buffer), qErrNone);
    EXPECT_EQ(Bytes(buffer, buffer + 3), Bytes({1, 2, 0}));
}

TEST_F(I2CBus, WriteSendsTheDataAndReportsTheStatusCode) {
    const Bytes data{9, 8, 7};
    respond([](const Bytes& d) {
        return std::vector<WirePacket>{from(kModule, {8, d[1], d[2], 0, 0x92})};
    });
    EXPECT_EQ(bus.write(0x50, 3, data.data()), qErrTimeout);
    EXPECT_EQ(requestData()[0], Bytes({8, 1, 0x50, 3, 0, 9, 8, 7}));
    respond([](const Bytes& d) {
        return std::vector<WirePacket>{from(kModule, {8, d[1], d[2], 0})};
    });
    EXPECT_EQ(bus.write(0x50, 3, data.data()), qErrPacket);
    respond([](const Bytes& d) {
        return std::vector<WirePacket>{from(kModule, {8, d[1], d[2], 0, 0x00})};
    });
    EXPECT_EQ(bus.write(0x50, 3, data.data()), qErrNone);
    Bytes tooLong(24);
    EXPECT_EQ(bus.write(0x50, 24, tooLong.data()), qErrSize);
}

TEST_F(I2CBus, SpeedIsCheckedAndKept) {
    ASSERT_EQ(bus.setSpeed(3), qErrNone);
    EXPECT_EQ(bus.setSpeed(4), qErrParam);
    uint8_t speed = 0;
    ASSERT_EQ(bus.getSpeed(&speed), qErrNone);
    EXPECT_EQ(speed, 3);
    EXPECT_TRUE(requestData().empty());
}

TEST_F(I2CBus, PullupRequest) {
    respond([](const Bytes& d) {
        return std::vector<WirePacket>{from(kModule, {8, d[1], 1, 1, 0})};
    });
    EXPECT_EQ(bus.setPullup(true), qErrNone);
    EXPECT_EQ(requestData()[0], Bytes({8, 1, 1, 1}));
}

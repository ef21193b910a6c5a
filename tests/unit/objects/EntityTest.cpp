// Entity exchanges: gets, sets and their acknowledgements, multi-packet gets and the store entity.
#include <gtest/gtest.h>

#include "ObjectsFixture.h"
#include "autoGen_SystemClass_CPP.h"

using namespace Pelmorax::Zendrival;
using namespace zvtest;

namespace {

// Replies to a get of option with a run of packets carrying value, 24 bytes each.
std::vector<WirePacket> bytesRun(uint8_t command, uint8_t option, uint8_t index,
                                 const Bytes& value) {
    std::vector<WirePacket> run;
    size_t at = 0;
    uint8_t sequence = 0;
    do {
        const size_t chunk = std::min<size_t>(24, value.size() - at);
        Bytes data{command, option, index};
        data.insert(data.end(), value.begin() + at, value.begin() + at + chunk);
        at += chunk;
        data.push_back(static_cast<uint8_t>((at < value.size() ? 0x80 : 0) | (sequence & 0x7F)));
        run.push_back(from(kModule, data));
        ++sequence;
    } while (at < value.size());
    return run;
}

Bytes counting(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) {
        b[i] = static_cast<uint8_t>(i * 7);
    }
    return b;
}

}  // namespace

class Entities : public ConnectedModule {
  protected:
    void SetUp() override {
        ConnectedModule::SetUp();
        system.init(&module, 0);
    }
    SystemClass system;
};

TEST(EntityUnbound, MissingModuleIsAResourceError) {
    EntityClass entity;
    uint32_t value = 0;
    EXPECT_EQ(entity.getUEI32(1, &value), qErrResource);
    EXPECT_EQ(entity.setUEI8(1, 2), qErrResource);
    EXPECT_EQ(entity.saveEntityToStore(), qErrResource);
}

TEST_F(Entities, NullOutputIsRefusedWithoutSending) {
    EXPECT_EQ(system.getUEI8(1, nullptr), qErrParam);
    EXPECT_TRUE(requestData().empty());
}

TEST_F(Entities, GetAsksWithGetAndRequestFlags) {
    respond([](const Bytes&) {
        return std::vector<WirePacket>{from(kModule, {3, 7, 0, 0x2F, 0x02, 0x0C, 0x02})};
    });
    uint32_t version = 0;
    ASSERT_EQ(system.getVersion(&version), qErrNone);
    EXPECT_EQ(version, 0x2F020C02u);
    EXPECT_EQ(requestData()[0], Bytes({3, 0x47, 0x20}));
}

TEST_F(Entities, SubIndexedGetCarriesTheSubIndex) {
    respond([](const Bytes&) { return std::vector<WirePacket>{from(kModule, {3, 5, 0, 0x33})}; });
    uint8_t value = 0;
    ASSERT_EQ(system.getUEI8(5, 4, &value), qErrNone);
    EXPECT_EQ(value, 0x33);
    EXPECT_EQ(requestData()[0], Bytes({3, 0x45, 0x20, 4}));
}

TEST_F(Entities, ErrorReplyReturnsItsCodeAndLeavesTheOutput) {
    respond([](const Bytes&) {
        return std::vector<WirePacket>{from(kModule, {3, 9, 0x80, qErrInvalidOption})};
    });
    uint32_t serial = 0x11223344;
    EXPECT_EQ(system.getSerialNumber(&serial), qErrInvalidOption);
    EXPECT_EQ(serial, 0x11223344u);
}

TEST_F(Entities, SetNeedsTheAcknowledgementOption) {
    respond([](const Bytes& d) {
        return std::vector<WirePacket>{from(kModule, {3, static_cast<uint8_t>(d[1] | 0x40), 0})};
    });
    EXPECT_EQ(system.routeToMe(1), qErrNone);
    EXPECT_EQ(requestData()[0], Bytes({3, 0x94, 0x20, 1}));
    respond([](const Bytes& d) {
        return std::vector<WirePacket>{from(kModule, {3, static_cast<uint8_t>(d[1] & 0x3F), 0})};
    });
    EXPECT_EQ(system.setRouter(4), qErrTimeout);
}

TEST_F(Entities, SetWithSubIndexAndErrorAcknowledgement) {
    respond([](const Bytes& d) {
        return std::vector<WirePacket>{
            from(kModule, {3, static_cast<uint8_t>(d[1] | 0x40), 0x80, qErrRange})};
    });
    EXPECT_EQ(system.setUEI32(34, 2, 0x0A0B0C0D), qErrRange);
    EXPECT_EQ(requestData()[0], Bytes({3, 0xA2, 0x20, 2, 0x0A, 0x0B, 0x0C, 0x0D}));
}

TEST_F(Entities, NameOfSixtyBytesArrivesInThreePackets) {
    const Bytes name = counting(60);
    respond([&](const Bytes&) { return bytesRun(3, 32, 0, name); });
    uint8_t buffer[64] = {};
    size_t length = 0;
    ASSERT_EQ(system.getName(buffer, sizeof(buffer), &length), qErrNone);
    EXPECT_EQ(length, 60u);
    EXPECT_EQ(Bytes(buffer, buffer + 60), name);
    EXPECT_EQ(requestData()[0], Bytes({3, 0x60, 0x20}));

    uint8_t small[50];
    EXPECT_EQ(system.getUEIBytes(32, small, sizeof(small), &length), qErrMemory);
    EXPECT_EQ(length, 48u);
    EXPECT_EQ(Bytes(small, small + 48), Bytes(name.begin(), name.begin() + 48));
}

TEST_F(Entities, BytesRunBeyondOneHundredTwentyEightPacketsWraps) {
    const Bytes value = counting(130 * 24);
    respond([&](const Bytes&) { return bytesRun(3, 32, 0, value); });
    Bytes buffer(value.size());
    size_t length = 0;
    ASSERT_EQ(system.getUEIBytes(32, buffer.data(), buffer.size(), &length), qErrNone);
    EXPECT_EQ(length, value.size());
    EXPECT_EQ(buffer, value);
}

TEST_F(Entities, OutOfOrderPacketIsNotTaken) {
    const Bytes value = counting(30);
    respond([&](const Bytes&) {
        auto run = bytesRun(3, 32, 0, value);
        std::swap(run[0], run[1]);
        run.pop_back();  // only the second packet of the run ever arrives
        return run;
    });
    uint8_t buffer[64];
    size_t length = 0;
    EXPECT_EQ(system.getUEIBytes(32, buffer, sizeof(buffer), &length), qErrTimeout);
}

TEST(EntityBytes, CheckConvertsCountsOfElements) {
    size_t count = 10;
    EXPECT_EQ(EntityClass::getUEIBytesCheck(&count, 4), qErrMemory);
    count = 12;
    ASSERT_EQ(EntityClass::getUEIBytesCheck(&count, 4), qErrNone);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(EntityClass::getUEIBytesCheck(nullptr, 4), qErrParam);
}

TEST_F(Entities, SaveToStoreAddressesTheStoreEntity) {
    respond([](const Bytes& d) {
        return std::vector<WirePacket>{from(kModule, {92, static_cast<uint8_t>(d[1] | 0x40), 0})};
    });
    EntityClass entity;
    entity.init(&module, 18, 2);
    ASSERT_EQ(entity.saveEntityToStore(), qErrNone);
    ASSERT_EQ(entity.loadEntityFromStore(), qErrNone);
    EXPECT_EQ(requestData(), std::vector<Bytes>({{92, 0x80, 0x20, 0x00, 0x00, 0x12, 0x02},
                                                 {92, 0x82, 0x20, 0x00, 0x00, 0x12, 0x02}}));
}

TEST_F(Entities, SignedReadingsAndPowerConfigWords) {
    respond([](const Bytes& d) {
        if ((d[1] & 0x3F) == 27) {
            return std::vector<WirePacket>{from(kModule, {3, 27, 0, 0xFF, 0xFF, 0xFF, 0xF6})};
        }
        return bytesRun(3, 31, 0, {1, 0, 0, 0, 2, 0, 0, 0});
    });
    int32_t temperature = 0;
    ASSERT_EQ(system.getTemperature(&temperature), qErrNone);
    EXPECT_EQ(temperature, -10);
    uint32_t words[4] = {};
    size_t count = 0;
    ASSERT_EQ(system.getInputPowerBehaviorConfig(words, 4, &count), qErrNone);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(words[0], 1u);
    EXPECT_EQ(words[1], 2u);
}

#include <gtest/gtest.h>

#include <cstring>

#include "DiscoveryTestSupport.h"
#include "discover.h"

namespace {

TEST(LinkSpecTest, CreateGivesZeroedRecordOfTheType) {
    linkSpec* spec = qLinkSpec_Create(linkTypeTCPIP);
    ASSERT_NE(spec, nullptr);
    EXPECT_EQ(spec->type, static_cast<uint32_t>(linkTypeTCPIP));
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(spec);
    for (size_t i = 4; i < sizeof(linkSpec); ++i) {
        ASSERT_EQ(bytes[i], 0) << "byte " << i;
    }
    EXPECT_EQ(qLinkSpec_Destroy(&spec), qErrNone);
    EXPECT_EQ(spec, nullptr);
    EXPECT_EQ(qLinkSpec_Destroy(&spec), qErrParam);
    EXPECT_EQ(qLinkSpec_Destroy(nullptr), qErrParam);
}

TEST(LinkSpecTest, CopyTakesAllBytesIncludingTheDevicePath) {
    linkSpec* spec = qLinkSpec_Create(linkTypeSerial);
    ASSERT_NE(spec, nullptr);
    spec->serialNumber = 0xCAFEF00D;
    spec->baudRate = 115200;
    memset(spec->devicePath, 'x', sizeof(spec->devicePath) - 1);
    linkSpec* copy = qLinkSpec_Copy(spec);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, spec);
    EXPECT_EQ(memcmp(copy, spec, sizeof(linkSpec)), 0);
    qLinkSpec_Destroy(&spec);
    qLinkSpec_Destroy(&copy);
    EXPECT_EQ(qLinkSpec_Copy(nullptr), nullptr);
}

// The record travels as beacon payload and loopback reply: fields at fixed little-endian offsets.
TEST(LinkSpecTest, WireLayout) {
    uint8_t wire[128] = {};
    const uint8_t head[] = {0x05, 0,    0,   0, 0x78, 0x56, 0x34, 0x12, 0x06, 0,    0,
                            0,    0x02, 0,   0, 0,    0xEF, 0xBE, 0xAD, 0xDE, 0x13, 0,
                            0,    0,    127, 0, 0,    1,    0xA0, 0x0F, 0,    0};
    memcpy(wire, head, sizeof(head));
    linkSpec spec;
    memcpy(&spec, wire, sizeof(spec));
    EXPECT_EQ(spec.type, 5u);
    EXPECT_EQ(spec.serialNumber, 0x12345678u);
    EXPECT_EQ(spec.module, 6u);
    EXPECT_EQ(spec.router, 2u);
    EXPECT_EQ(spec.routerSerialNumber, 0xDEADBEEFu);
    EXPECT_EQ(spec.model, 19u);
    EXPECT_EQ(spec.ipAddress, qDISCOVERY_LOCALHOST);
    EXPECT_EQ(spec.port, 4000u);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(spec.devicePath) - reinterpret_cast<uint8_t*>(&spec), 28);
}

TEST(LinkSpecTest, SamenessLooksAtTypeSerialAddressAndPortOnly) {
    linkSpec a = discoverytest::sharedLinkSpec(0x100, "10.77.0.2", 5000);
    linkSpec b = a;
    b.model = 99;
    b.module = 8;
    b.reserved[10] = 1;
    EXPECT_TRUE(_isNewSpec(&a, &b));

    linkSpec other = a;
    other.port = 5001;
    EXPECT_FALSE(_isNewSpec(&a, &other));
    other = a;
    other.ipAddress = discoverytest::ipv4("10.77.0.1");
    EXPECT_FALSE(_isNewSpec(&a, &other));
    other = a;
    other.serialNumber = 0x101;
    EXPECT_FALSE(_isNewSpec(&a, &other));
    other = a;
    other.type = linkTypeNetworkClient;
    EXPECT_FALSE(_isNewSpec(&a, &other));
    EXPECT_FALSE(_isNewSpec(&a, nullptr));
}

}  // namespace

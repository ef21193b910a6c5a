#include <gtest/gtest.h>

#include <cstring>

#include "DiscoveryTestSupport.h"
#include "discover.h"
#include "unix_discovery.h"

namespace {

using discoverytest::Collector;
using discoverytest::ipv4;

const uint8_t* const kModuleReply =
    reinterpret_cast<const uint8_t*>(discoverytest::kModuleReply.data());

TEST(TcpipReplyTest, ReplyBecomesSpecOfTheSender) {
    linkSpec* spec = qDiscovery_CreateTCPIPSpec(kModuleReply, 16, ipv4("192.168.1.20"));
    ASSERT_NE(spec, nullptr);
    discoverytest::expectModuleReplySpec(*spec, ipv4("192.168.1.20"));
    uint8_t reserved[96] = {};
    EXPECT_EQ(memcmp(spec->reserved, reserved, sizeof(reserved)), 0);
    qLinkSpec_Destroy(&spec);
}

TEST(TcpipReplyTest, RepliesOfAnotherSizeAreNotSpecs) {
    uint8_t longer[17] = {};
    memcpy(longer, kModuleReply, 16);
    EXPECT_EQ(qDiscovery_CreateTCPIPSpec(kModuleReply, 15, ipv4("10.0.0.1")), nullptr);
    // Deliberate: a longer datagram is no module reply, so stray traffic is never listed.
    EXPECT_EQ(qDiscovery_CreateTCPIPSpec(longer, sizeof(longer), ipv4("10.0.0.1")), nullptr);
    EXPECT_EQ(qDiscovery_CreateTCPIPSpec(nullptr, 16, ipv4("10.0.0.1")), nullptr);
}

TEST(UsbSpecTest, EightHexDigitsAndTheProductIdsLowByte) {
    linkSpec* spec = qDiscovery_CreateUSBSpec("00c0FFEE", 8, 0x0013);
    ASSERT_NE(spec, nullptr);
    EXPECT_EQ(spec->type, static_cast<uint32_t>(linkTypeUSB));
    EXPECT_EQ(spec->serialNumber, 0x00C0FFEEu);
    EXPECT_EQ(spec->usbId, 0x00C0FFEEu);
    EXPECT_EQ(spec->model, 19u);
    EXPECT_EQ(spec->module, 0u);
    EXPECT_EQ(spec->router, 0u);
    EXPECT_EQ(spec->routerSerialNumber, 0u);
    qLinkSpec_Destroy(&spec);

    spec = qDiscovery_CreateUSBSpec("12345678", 8, 0x7F42);
    ASSERT_NE(spec, nullptr);
    EXPECT_EQ(spec->model, 0x42u);
    qLinkSpec_Destroy(&spec);
}

TEST(UsbSpecTest, SerialTextsOtherThanEightHexDigitsAreNotReported) {
    EXPECT_EQ(qDiscovery_CreateUSBSpec("1234567", 7, 0x13), nullptr);
    EXPECT_EQ(qDiscovery_CreateUSBSpec("123456789", 9, 0x13), nullptr);
    EXPECT_EQ(qDiscovery_CreateUSBSpec("", 0, 0x13), nullptr);
    // Deliberate: a USB serial must be all hex digits; no partial number is taken for a module.
    EXPECT_EQ(qDiscovery_CreateUSBSpec("1234567G", 8, 0x13), nullptr);
    EXPECT_EQ(qDiscovery_CreateUSBSpec(" 1234567", 8, 0x13), nullptr);
    EXPECT_EQ(qDiscovery_CreateUSBSpec("+1234567", 8, 0x13), nullptr);
    EXPECT_EQ(qDiscovery_CreateUSBSpec(nullptr, 8, 0x13), nullptr);
}

TEST(ConvertInterfaceTest, DottedTextNeedsSixteenBytes) {
    char buffer[16];
    memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(qDiscovery_ConvertIPv4Interface(ipv4("255.255.255.255"), buffer, 15), 0u);
    EXPECT_EQ(buffer[0], '#') << "nothing is written into a buffer that is too small";
    EXPECT_EQ(qDiscovery_ConvertIPv4Interface(ipv4("255.255.255.255"), buffer, 16), 15u);
    EXPECT_STREQ(buffer, "255.255.255.255");
    EXPECT_EQ(qDiscovery_ConvertIPv4Interface(ipv4("10.77.0.1"), buffer, 16), 9u);
    EXPECT_STREQ(buffer, "10.77.0.1");
    EXPECT_EQ(qDiscovery_ConvertIPv4Interface(qDISCOVERY_LOCALHOST, nullptr, 16), 0u);
}

TEST(EnumerateTest, TypesWithoutDiscoveryFindNothing) {
    Collector seen;
    for (uint32_t type : {0u, 3u, 8u, 0xFFFFFFFFu}) {
        EXPECT_EQ(qDiscovery_EnumerateModules(type, Collector::callback, &seen, 0), 0);
        EXPECT_EQ(qDiscovery_FindFirstModule(type, 0), nullptr);
    }
    EXPECT_TRUE(seen.offered.empty());
    EXPECT_EQ(qDiscovery_EnumerateModules(linkTypeUSB, nullptr, nullptr, 0), 0);
}

// This machine has no modules on its USB bus (or no USB bus at all); enumeration must still
// walk the bus, or fail to start, without crashing and report nothing.
TEST(UsbEnumerationTest, NoModulesGivesZero) {
    Collector seen;
    EXPECT_EQ(qDiscovery_EnumerateModules(linkTypeUSB, Collector::callback, &seen, 0), 0);
    EXPECT_TRUE(seen.offered.empty());
    EXPECT_EQ(qDiscovery_FindModule(linkTypeUSB, 0x12345678, 0), nullptr);
    EXPECT_EQ(qDiscovery_FindFirstModule(linkTypeUSB, 0), nullptr);
}

}  // namespace

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include "CLI_Display.h"
#include "CaptureOutput.h"
#include "OutputFormats.h"
#include "UpdateServerRequest.h"

namespace {

DeviceInfo device(linkType type, uint32_t serial) {
    DeviceInfo info;
    info.specifier.type = type;
    info.specifier.serialNumber = serial;
    info.specifier.module = 0x12;
    info.specifier.router = 0x04;
    info.specifier.model = 250;  // not a known model
    info.major = 2;
    info.minor = 10;
    info.patch = 4;
    info.build = 123456;
    info.deviceName = "Left arm";
    return info;
}

std::string printList(std::vector<DeviceInfo> devices, linkType type) {
    CLI_Display display;
    CaptureOutput out(stdout);
    _display_device_list(display, devices, type);
    return out.text();
}

TEST(DeviceList, EmptyListNamesTheType) {
    EXPECT_EQ(printList({}, linkTypeUSB), "Discovered Devices: (USB)\n    No devices found.\n");
    EXPECT_EQ(printList({}, linkTypeNone),
              "Discovered Devices: (Unknown)\n    No devices found.\n");
}

TEST(DeviceList, UsbLinesAndErrorLine) {
    DeviceInfo failed = device(linkTypeUSB, 0xABCD);
    failed.error = 5;
    std::string text = printList({device(linkTypeUSB, 0x40F5849A), failed}, linkTypeUSB);
    EXPECT_EQ(
        text,
        "Discovered Devices: (USB)\n"
        "    Device    Module   Router  Model          Firmware Version (Build)    Device Name\n"
        "    40F5849A  12       04      Unknown        2.10.4 (    123456)         Left arm\n"
        "    0000ABCD  [Error (5): Is someone else connected to this device?]\n");
}

TEST(DeviceList, TcpLineShowsAddressEvenWithError) {
    DeviceInfo info = device(linkTypeTCPIP, 0x1);
    info.specifier.ipAddress = inet_addr("192.168.7.21");
    info.error = 18;
    std::string text = printList({info}, linkTypeTCPIP);
    EXPECT_EQ(
        text,
        "Discovered Devices: (TCPIP)\n"
        "    Device    Module   Router  Model          Firmware Version (Build)   [IP address]"
        "       Device Name\n"
        "    00000001  12       04      Unknown        2.10.4 (    123456)        "
        "[192.168.7.21]     Left arm\n");
}

TEST(BuildList, EmptyAndSortedByVersion) {
    CLI_Display display;
    CaptureOutput out(stdout);
    BuildList none;
    _display_builds(display, none, 0x1A2B);
    BuildList builds{{"100", "1.2.3"},
                     {"200", "1.10.0"},
                     {"300", "beta"},
                     {"50", "2.0.0"},
                     {"1234567890123456789", "0.0.1"}};
    _display_builds(display, builds, 0x1A2B);
    // Deliberate: a version that cannot be read (beta) is listed after every readable one.
    EXPECT_EQ(out.text(),
              "No builds found for device [00001A2B]\n"
              "Build List for device [00001A2B]:\n\n"
              "Build          \tVersion        \n"
              "50             \t2.0.0          \n"
              "200            \t1.10.0         \n"
              "100            \t1.2.3          \n"
              "123456789012345\t0.0.1          \n"
              "300            \tbeta           \n");
}

TEST(BuildOrder, UnreadableVersionsNeverBreakTheSort) {
    // Deliberate: unreadable versions sort after readable ones, so the order stays well defined.
    // Many unreadable versions mixed with readable ones: the order must stay consistent.
    std::map<std::string, std::string> builds;
    for (int i = 0; i < 200; ++i) {
        builds[std::to_string(i)] =
            (i % 3 == 0) ? "x" : std::to_string(i % 7) + ".0." + std::to_string(i);
    }
    auto sorted = UpdateServerRequest::SortBuildsByVersion(builds);
    ASSERT_EQ(sorted.size(), builds.size());
    bool seenUnreadable = false;
    for (const auto& [build, version] : sorted) {
        bool unreadable = version == "x";
        EXPECT_FALSE(seenUnreadable && !unreadable) << "readable version after an unreadable one";
        seenUnreadable = seenUnreadable || unreadable;
    }
}

TEST(BuildOrder, VersionPartsAreComparedAsEightBits) {
    auto sorted = UpdateServerRequest::SortBuildsByVersion({{"1", "1.0.300"}, {"2", "1.0.200"}});
    // 300 reduced to 8 bits is 44, so 1.0.200 is the higher version.
    EXPECT_EQ(sorted[0].first, "2");
    EXPECT_TRUE(UpdateServerRequest::SplitZendrivalVersion("1.2").empty());
    EXPECT_TRUE(UpdateServerRequest::SplitZendrivalVersion("1.2.3.4").empty());
    EXPECT_EQ(UpdateServerRequest::SplitZendrivalVersion("1..3"),
              (std::vector<std::string>{"1", "", "3"}));
}

TEST(Fingerprint, FourWordsInOrder) {
    CLI_Display display;
    CaptureOutput out(stdout);
    Fingerprint fp;
    fp.word[0] = 0x1;
    fp.word[1] = 0xABCDEF01;
    fp.word[3] = 0xFFFFFFFF;
    _display_fingerprint(display, fp);
    EXPECT_EQ(out.text(), "[ 00000001 ABCDEF01 00000000 FFFFFFFF ]\n");
}

}  // namespace

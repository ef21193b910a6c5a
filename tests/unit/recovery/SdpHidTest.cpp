// The HID transport without a ROM attached: it must refuse to work rather than touch a device
// it never opened.
#include <gtest/gtest.h>

#include <vector>

#include "HID_SDPLoader.h"
#include "SDPLoader.h"

namespace {

// No USB device carries this vendor and product id pair.
constexpr uint16_t ABSENT_VENDOR = 0xFFFE;
constexpr uint16_t ABSENT_PRODUCT = 0xFFFD;

TEST(SdpHidTransport, InitFailsWhenNoDeviceMatches) {
    HID_SDPLoader hid(ABSENT_VENDOR, ABSENT_PRODUCT);
    EXPECT_FALSE(hid.init());
}

TEST(SdpHidTransport, UnopenedTransportNeitherWritesNorReads) {
    HID_SDPLoader hid(0x1FC9, 0x0130);
    std::vector<uint8_t> command(17, 0);
    command[0] = 1;
    EXPECT_LT(hid.writeData(command), 0);
    std::vector<uint8_t> answer;
    EXPECT_LT(hid.readData(answer, 0), 0);
    EXPECT_TRUE(answer.empty());
}

TEST(SdpHidTransport, LoaderOverAnAbsentDeviceReportsInitFailure) {
    SDPLoader loader;
    ASSERT_TRUE(loader.setLoader(new HID_SDPLoader(ABSENT_VENDOR, ABSENT_PRODUCT)));
    EXPECT_EQ(loader.init(), 6);
    EXPECT_EQ(loader.writeLoader(std::vector<uint8_t>(10, 0), 0x20000000), 2);
}

}  // namespace

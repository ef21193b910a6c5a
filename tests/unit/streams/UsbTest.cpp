#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

#include "PseudoTerminal.h"
#include "SettingGuards.h"
#include "TestSupport.h"
#include "unix_streamusb.h"
#include "zvusb_driver.h"

namespace {

TEST(UsbKernelModeTest, StreamReachesTheNodeBothWays) {
    PseudoTerminal pty;
    ASSERT_TRUE(pty.ready());
    pty.makeRaw();
    zvtest::KernelNodeDirectory nodes;
    ASSERT_EQ(symlink(pty.slavePath().c_str(), nodes.node("00C0FFEE").c_str()), 0);
    EXPECT_TRUE(zvusb_is_kernel_driver_installed(0x00C0FFEE));
    EXPECT_FALSE(zvusb_is_kernel_driver_installed(0x00C0FFEF));

    qStream* stream = nullptr;
    ASSERT_EQ(qStream_CreateUSB(0x00C0FFEE, &stream), qErrNone);
    const std::string packet("\x02\x03\x49\x40\x20", 5);
    ASSERT_EQ(qStream_Write(stream, reinterpret_cast<const uint8_t*>(packet.data()), packet.size()),
              qErrNone);
    ASSERT_EQ(qStream_Write(stream, reinterpret_cast<const uint8_t*>("\xAD"), 1), qErrNone);
    EXPECT_EQ(pty.receive(6), packet + "\xAD");

    const std::string reply("\x02\x00\x0d\x0a", 4);
    pty.send(reply);
    uint8_t buffer[4];
    ASSERT_EQ(qStream_Read(stream, buffer, 4), qErrNone);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), reply);
    EXPECT_EQ(qStream_Destroy(&stream), qErrNone);
}

TEST(UsbKernelModeTest, DeviceLayerOpenAndClose) {
    zvtest::KernelNodeDirectory nodes;
    zvusb* device = zvusb_create_usb(false);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->mode, static_cast<uint32_t>(ZVUSB_MODE_KERNEL));
    EXPECT_EQ(device->state.load(), static_cast<uint32_t>(ZVUSB_STATE_CREATED));
    EXPECT_EQ(zvusb_open_zendrival_device(device, "12345678"), qErrIO);
    EXPECT_EQ(zvusb_open_zendrival_USBlib_device(device, "12345678"), qErrMode);
    uint8_t byte = 0;
    EXPECT_EQ(zvusb_get_from_USBlib_device(device, &byte), qErrMode);

    PseudoTerminal pty;
    ASSERT_TRUE(pty.ready());
    ASSERT_EQ(symlink(pty.slavePath().c_str(), nodes.node("12345678").c_str()), 0);
    EXPECT_EQ(zvusb_open_zendrival_device(device, "12345678"), qErrNone);
    EXPECT_STREQ(device->serialText, "12345678");
    EXPECT_EQ(zvusb_close_zendrival_device(device), qErrNone);
    EXPECT_EQ(device->state.load(), static_cast<uint32_t>(ZVUSB_STATE_CLOSED));
    EXPECT_EQ(zvusb_destroy(&device), qErrNone);
    EXPECT_EQ(device, nullptr);
}

TEST(UsbLibusbModeTest, UnknownSerialIsNotFound) {
    zvtest::KernelNodeDirectory nodes;
    qStream* stream = nullptr;
    EXPECT_EQ(qStream_CreateUSB(0x0BADF00D, &stream), qErrNotFound);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(qStream_CreateUSB(0, &stream), qErrParam);
    EXPECT_EQ(qStream_CreateUSB(0x0BADF00D, nullptr), qErrParam);
}

TEST(UsbLibusbModeTest, TransfersRefusedUntilReady) {
    zvusb* device = zvusb_create_usb(true);
    ASSERT_NE(device, nullptr);
    uint8_t byte = 0;
    const uint8_t bytes[2] = {1, 2};
    EXPECT_EQ(zvusb_write_to_device(device, bytes, 2), qErrNotReady);
    EXPECT_EQ(zvusb_get_from_device(device, &byte), qErrNotReady);
    EXPECT_EQ(zvusb_write_to_kernel_device(device, bytes, 2), qErrMode);
    device->state = ZVUSB_STATE_CLOSED;
    EXPECT_EQ(zvusb_write_to_device(device, bytes, 2), qErrConnection);
    EXPECT_EQ(zvusb_get_from_device(device, &byte), qErrConnection);
    device->state = ZVUSB_STATE_FAILED;
    EXPECT_EQ(zvusb_get_from_device(device, &byte), qErrIO);
    EXPECT_EQ(zvusb_write_to_device(device, bytes, 2), qErrIO);
    EXPECT_EQ(zvusb_destroy(&device), qErrNone);
}

TEST(UsbRulesTest, OutPiecesAvoidExactly512) {
    EXPECT_EQ(zvusb_out_piece_size(512, 512), 511u);
    EXPECT_EQ(zvusb_out_piece_size(1, 512), 1u);
    EXPECT_EQ(zvusb_out_piece_size(1000, 512), 511u);
    EXPECT_EQ(zvusb_out_piece_size(489, 512), 489u);
    EXPECT_EQ(zvusb_out_piece_size(200, 64), 64u);
    EXPECT_EQ(zvusb_out_piece_size(8, 64), 8u);
    EXPECT_EQ(zvusb_out_piece_size(512, 1024), 511u);
    // A zero packet size from a broken descriptor must still make progress.
    EXPECT_GT(zvusb_out_piece_size(100, 0), 0u);
}

TEST(UsbRulesTest, FourIoErrorsToleratedFifthFails) {
    zvusb* device = zvusb_create_usb(false);
    ASSERT_NE(device, nullptr);
    device->state = ZVUSB_STATE_READY;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(zvusb_tolerate_error(device, qErrIO), qErrNone);
    }
    // Any other result breaks the run.
    EXPECT_EQ(zvusb_tolerate_error(device, qErrNotReady), qErrNotReady);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(zvusb_tolerate_error(device, qErrIO), qErrNone);
    }
    EXPECT_EQ(device->state.load(), static_cast<uint32_t>(ZVUSB_STATE_READY));
    EXPECT_EQ(zvusb_tolerate_error(device, qErrIO), qErrIO);
    EXPECT_EQ(device->state.load(), static_cast<uint32_t>(ZVUSB_STATE_FAILED));
    // Deliberate: the error count saturates, so 256 more errors never wrap it back to success.
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(zvusb_tolerate_error(device, qErrIO), qErrIO) << "call " << i;
    }
    zvusb_destroy(&device);
}

TEST(UsbRulesTest, ToleratedReadErrorsAreNoByteYet) {
    // Deliberate: a tolerated read error reads as no byte yet, never as a byte that never came.
    zvusb* device = zvusb_create_usb(false);
    ASSERT_NE(device, nullptr);
    // A tolerated read error must not look like a byte.
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(zvusb_tolerate_read_error(device, qErrIO), qErrNotReady);
    }
    EXPECT_EQ(zvusb_tolerate_read_error(device, qErrIO), qErrIO);
    EXPECT_EQ(device->state.load(), static_cast<uint32_t>(ZVUSB_STATE_FAILED));
    EXPECT_EQ(zvusb_tolerate_read_error(device, qErrNone), qErrNone);
    zvusb_destroy(&device);
}

TEST(UsbRulesTest, VendorAndProductIdentifyModules) {
    EXPECT_TRUE(zvusb_is_zendrival_id(ZENDRIVAL_USB_VENDOR_ID, 0x0013));
    EXPECT_TRUE(zvusb_is_zendrival_id(ZENDRIVAL_USB_VENDOR_ID, 0x7FFF));
    EXPECT_FALSE(zvusb_is_zendrival_id(ZENDRIVAL_USB_VENDOR_ID, 0x8013));
    EXPECT_FALSE(zvusb_is_zendrival_id(0x1FC9, 0x0013));
    EXPECT_FALSE(is_zendrival_device(nullptr));
}

}  // namespace

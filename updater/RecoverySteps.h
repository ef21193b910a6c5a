// The steps of recovering a module through its processor's ROM bootloader: reading the chip's
// identifier, starting an i.MX recovery loader, and writing the firmware (into LPC flash, or
// through the i.MX recovery loader's upgrade protocol).
#pragma once

#include <cstdint>
#include <string>

#include "BirdFile.h"
#include "Fingerprint.h"
#include "UpdaterDisplayInterface.h"
#include "qError.h"

class Updater;

// The system entity option through which an i.MX recovery loader reports the chip's identifier,
// one word per sub-index 0..3.
constexpr uint8_t systemUniqueIdentifier = 39;
// The i.MX boot ROM on USB.
constexpr uint16_t IMX_ROM_VENDOR_ID = 0x1FC9;
constexpr uint16_t IMX_ROM_PRODUCT_ID = 0x0130;
// Where the recovery loader starts when the file does not say.
constexpr uint32_t DEFAULT_RECOVERY_START = 0x20000400;
// The port text that selects the i.MX ROM on USB instead of a serial device.
constexpr const char* RECOVERY_PORT_USB = "USB";

// The error line for a recovery image that loads but holds no blocks: nothing to start or write.
constexpr const char* RECOVERY_IMAGE_WITHOUT_BLOCKS = "Recovery image has no blocks";

bool _get_fingerprint_lpc(std::string port, unsigned baud, Fingerprint& out);
bool _get_fingerprint_imx(UpdaterDisplayInterface& display, Updater& updater, std::string port,
                          unsigned serial, std::string birdFile, Fingerprint& out, bool resetAfter);
qErr _transfer_recovery_loader(UpdaterDisplayInterface& display, BirdFile& file, std::string port);
// keepEcho leaves the bootloader's echo on for the transfer ("-e"), which makes every line
// written come back and go to the diagnostic log at DEBUG_NXPSerial_E. Every copy to flash is
// compared with its RAM; only a benchmark measuring what that costs turns compareAfterCopy off.
bool _recover_firmware_lpc(UpdaterDisplayInterface& display, BirdFile& file, std::string& port,
                           unsigned baud, Fingerprint& fingerprint, bool keepEcho = false,
                           bool compareAfterCopy = true);
bool _recover_firmware_imx(UpdaterDisplayInterface& display, BirdFile& file, unsigned serial,
                           bool useUEIBytes);

// The recovery loader's start address: the first four bytes of a type-5 block of at least four
// bytes (most significant first), else DEFAULT_RECOVERY_START.
uint32_t _recovery_start_address(const BirdFile& file);

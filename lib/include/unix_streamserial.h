// Byte stream over a raw serial port (a module's serial link or a ROM bootloader's UART).
#pragma once

#include "ZendrivalExport.h"

#include "qStream.h"

#define qSERIALSTREAM_CHECK 0xBEEF
#define qSERIAL_PATH_SIZE 4096

// Baud codes: 0 = 2400, 1 = 4800, 2 = 9600, 3 = 19200, 4 = 38400, 5 = 57600, 6 = 115200,
// 7 = 230400; any other code sets speed 0, which hangs the line up.
// parity: non-zero enables even parity. dataBits: 0 = 8 bits, 1 = 7 bits. stopBits: 0 = one,
// 1 = two. Other codes, a null or over-long path or a null result pointer give qErrResource; an
// open that fails gives qErrNotFound (no such path), qErrPermission or qErrIO.
ZENDRIVAL_EXPORT qErr qStream_CreateSerial(const char* path, int baudCode, int parity, int dataBits,
                                           int stopBits, qStream** stream);
// The same port carrying COBS frames with a CRC-8, for packetised serial links; fails as
// qStream_CreateSerial does.
ZENDRIVAL_EXPORT qErr qStream_CreateSerial_Packetized(const char* path, int baudCode, int parity,
                                                      int dataBits, int stopBits, qStream** stream);

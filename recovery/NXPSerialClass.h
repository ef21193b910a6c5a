// Host side of the ROM in-system-programming (ISP) bootloader of NXP LPC17xx chips over a serial
// port: ASCII commands ending in "\r\n", a decimal return-code line after each, and uuencoded
// data lines with decimal checksums for memory transfers. Strictly half-duplex; one caller owns
// the object and the port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "qError.h"
#include "qStream.h"

// Milliseconds a reply of byteCount bytes needs on the line: nine bit times per byte plus two
// bytes of slack.
constexpr uint32_t WAIT_TIME_MS(uint32_t byteCount, uint32_t baud) {
    return baud == 0 ? 0 : (byteCount * 9000 + 18000) / baud + 1;
}

// One flash sector of the chip: its first address, its size and its number.
struct NXPSector {
    uint32_t start;
    uint32_t size;
    uint32_t number;
};

// Sectors 0-15 are 4 KB from 0x0, sectors 16-29 are 32 KB from 0x10000; a last entry starting
// at 0xFFFFFFFF carries the number 30, which stands for "no sector".
constexpr size_t NXP_LPC17XX_SECTOR_COUNT = 30;
extern const NXPSector NXP_LPC17XX_sectors[NXP_LPC17XX_SECTOR_COUNT + 1];

class NXPSerialClass {
  public:
    static constexpr int MAX_ERROR = 20;
    static constexpr float CRYSTAL_DEFAULT = 14.7456f;  // MHz, announced in kHz
    static constexpr uint32_t MAX_BYTES_PER_LINE = 45;
    static constexpr uint32_t LINES_PER_CHECKSUM = 20;
    static constexpr int MAX_READ_RETRY = 3;
    static constexpr uint32_t WRITE_ADDRESS = 0x10001000;
    static constexpr size_t TERMINATION_SIZE = 2;
    static constexpr size_t CONNECT_RATE_COUNT = 8;
    // Used when the requested rate is above every rate of the table.
    static constexpr int DEFAULT_RATE_INDEX = 2;
    // Return code meaning "no number could be read from the reply".
    static constexpr int NO_RETURN_CODE = -1;
    // What Compare returns when the memories differ.
    static constexpr qErr COMPARE_MISMATCH = qErrMedia;
    // Flash bytes the boot ROM's vector table hides while it runs.
    static constexpr uint32_t REMAPPED_BOOT_BYTES = 64;

    static const char* const ERROR_TEXT[MAX_ERROR + 1];
    static const uint32_t CONNECT_RATES[CONNECT_RATE_COUNT];

    NXPSerialClass() = default;
    ~NXPSerialClass();
    NXPSerialClass(const NXPSerialClass&) = delete;
    NXPSerialClass& operator=(const NXPSerialClass&) = delete;

    qErr Connect(const std::string& port, uint32_t baud);
    qErr Disconnect();
    // Autobaud handshake; a chip still synchronised from an earlier session is accepted as is.
    qErr Sync();

    qErr GetBootLoaderVersion(uint8_t* major, uint8_t* minor);
    qErr GetPartNumber(int64_t* partNumber);
    // Reads the four device serial-number words (see DeviceIDWord).
    qErr GetDeviceID();
    qErr SetEcho(bool on);
    // Changes the bootloader's rate only; the caller reconnects at the new rate.
    qErr SetBaudRate(uint32_t baud);
    qErr Unlock();
    qErr Prepare(uint32_t firstSector, uint32_t lastSector);
    qErr Erase(uint32_t firstSector, uint32_t lastSector);
    qErr CopyToFlash(uint32_t flashAddress, uint32_t ramAddress, uint32_t count);
    // Compares count bytes of flash with RAM ("M"): qErrNone when equal; COMPARE_MISMATCH with
    // the offset of the first difference in *differenceOffset (0 when the chip gave none).
    // While the ROM runs, flash 0-63 shows the boot ROM's vectors: a compare that covers them
    // is not meaningful there.
    qErr Compare(uint32_t flashAddress, uint32_t ramAddress, uint32_t count,
                 uint32_t* differenceOffset = nullptr);
    // Starts the code in Thumb mode; no reply is read.
    qErr ExecuteFrom(uint32_t address);

    qErr Read(uint32_t address, uint32_t count, uint8_t* buffer);
    qErr Write(uint32_t ramAddress, uint32_t count, const uint8_t* data);
    // Writes count bytes of data followed by 0xFF up to paddedCount bytes (a multiple of 4), so
    // that a later copy of CopyLength(count) bytes puts no stale RAM into flash and an image whose
    // length is not a multiple of 4 can still be staged.
    qErr Write(uint32_t ramAddress, uint32_t count, const uint8_t* data, uint32_t paddedCount);

    static uint32_t CopyLength(uint32_t n);
    static uint32_t SectorFromAddress(uint32_t address);
    static uint32_t sum(const uint8_t* data, size_t n);
    static char uuchar(uint32_t x);
    // Encodes at most MAX_BYTES_PER_LINE bytes into out (room for 62 characters), NUL-terminated
    // and without "\r\n"; returns the number of bytes consumed.
    static size_t uuencode(char* out, const uint8_t* data, size_t n);
    // Decodes one NUL-terminated line into at most capacity bytes; returns the line's byte count,
    // or 0 when the line claims more than capacity.
    static size_t uudecode(uint8_t* buffer, size_t capacity, const char* line);
    static const char* GetErrorText(const char* line);
    // Position in a return-code line where the code's number starts, past any echo left in the
    // line and leading line ends; lineLength when the line holds no number there.
    static size_t GetErrorIndex(const char* line, size_t lineLength);
    // The return code in the first lineLength characters of a reply line, codes above MAX_ERROR
    // counted as MAX_ERROR; NO_RETURN_CODE when the line holds none.
    static int ReturnCodeOf(const char* line, size_t lineLength);
    // One line of the device ID answer: an unsigned number in any C base ("0x", leading 0).
    static uint32_t DeviceIDWordOf(const char* line);
    // Index into CONNECT_RATES for a requested rate.
    static int ConnectRateIndex(uint32_t baud);

    bool IsConnected() const { return stream_ != nullptr; }
    bool Echo() const { return echo_; }
    uint32_t BaudRate() const { return baudRate_; }
    const std::string& PortName() const { return portName_; }
    uint32_t DeviceIDWord(unsigned index) const { return index < 4 ? deviceID_[index] : 0; }

  private:
    qErr Send(const char* text, bool readEcho);
    qErr SendCommand(const char* command, uint32_t waitMs);
    qErr GetEcho(const char* expected, size_t count, size_t* received);
    qErr GetLine(char* buffer, size_t size, size_t* length, int retries);
    qErr Response(char* buffer, size_t size, size_t* length, const char* expected,
                  size_t expectedLength);

    // One byte, retried for waitMs after the first attempt finds none (0: one attempt).
    qErr ReadByte(uint8_t* byte, uint32_t waitMs);
    // Logs the bytes under the label and writes them; a write error is logged and returned.
    qErr WriteText(const char* label, const char* text, size_t length);
    // Sends "R" or "W" with the address and count and checks the return code: qErrParam, logged
    // after logPrefix with its text, when the chip refuses. A count that is 0 or not a multiple
    // of 4, or no bytes, is qErrParam before anything is sent.
    qErr StartTransfer(char command, uint32_t address, uint32_t count, const void* bytes,
                       const char* logPrefix);
    // Sends a command and reads its return code, waiting up to waitMs for it (one line read
    // when 0). A send error is logged and returned; *code is then NO_RETURN_CODE.
    qErr Command(const char* command, int* code, uint32_t waitMs, const char* errorPrefix = "");
    int ReadReturnCode(uint32_t waitMs);
    // Prepare, erase and copy: code 0 is success, anything else qErrParam with its text logged.
    qErr SectorCommand(const char* command, uint32_t sectorCount);
    bool ProbeSynchronized();
    qErr SyncHandshake();
    qErr ReadIntegerLine(char* line, size_t size);
    // A line read that skips a few lines holding only line ends (left by the echo).
    qErr ReadContentLine(char* line, size_t size, size_t* length, int retries);
    static const char* ReturnCodeText(int code);

    qErr WriteLines(const uint8_t* data, uint32_t from, uint32_t count, uint32_t* position);
    qErr WriteChecksum(const uint8_t* data, uint32_t from, uint32_t to, char* reply, size_t size);
    qErr ReadLines(uint8_t* buffer, uint32_t count, uint32_t* received);
    qErr AcknowledgeRead(bool complete);

    qStream* stream_ = nullptr;
    bool echo_ = true;
    uint32_t baudRate_ = 0;
    std::string portName_;
    uint32_t deviceID_[4] = {0, 0, 0, 0};
};

// Host side of the i.MX boot ROM's Serial Download Protocol: writes a loader into the chip's RAM
// and jumps to it, over whatever carries the ROM's commands and answers (USB HID or a UART).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// One way of reaching the ROM. Commands and data reports are handed over with their HID report id
// first; a transport without report ids drops it.
class SDPLoader_Interface {
  public:
    virtual ~SDPLoader_Interface() {}
    // Opens the device; false when there is none.
    virtual bool init() = 0;
    // Sends one command or data report; the bytes written, negative on failure.
    virtual long writeData(const std::vector<uint8_t>& command) = 0;
    // Appends what arrives within about timeoutMs to answer; the number of bytes appended.
    virtual long readData(std::vector<uint8_t>& answer, unsigned timeoutMs) = 0;
    // ORs the answer value at offset into value; false when answer does not have the shape this
    // transport delivers or offset is past 15.
    virtual bool getDataFromBuffer(const std::vector<uint8_t>& answer, unsigned offset,
                                   uint32_t& value) = 0;

  protected:
    // The answer word that starts at first, sent least significant byte first.
    static uint32_t littleEndianAt(const std::vector<uint8_t>& answer, size_t first);
};

class SDPLoader {
  public:
    // Results of init().
    static constexpr int INIT_OK = 0;
    static constexpr int INIT_NO_LOADER = 1;
    static constexpr int INIT_FAILED = 6;
    // Results of writeLoader().
    static constexpr int WRITE_OK = 0;
    static constexpr int WRITE_NO_ROM = 2;
    static constexpr int WRITE_ROM_INTERRUPTED = 3;
    static constexpr int WRITE_NOT_COMPLETED = 4;

    SDPLoader() = default;
    ~SDPLoader();
    SDPLoader(const SDPLoader&) = delete;
    SDPLoader& operator=(const SDPLoader&) = delete;

    // Takes ownership of loader; false when it is null or a transport is already set.
    bool setLoader(SDPLoader_Interface* loader);
    int init();
    // Writes bytes to RAM at address and waits for the ROM to confirm the whole file.
    int writeLoader(std::vector<uint8_t> bytes, unsigned address);
    // Hands control to the code at address; the ROM's answer carries nothing of use.
    void startLoader(unsigned address);
    // One command's 16 bytes as the UART carries them (HID puts report id 1 in front); the data
    // field is always 0.
    static std::vector<uint8_t> commandBytes(uint16_t type, uint32_t address, uint8_t format,
                                             uint32_t count);

  private:
    bool _isConnectionAlive();
    long sendCommand(const std::vector<uint8_t>& command);
    int sendFileData(const std::vector<uint8_t>& bytes);
    int awaitFileComplete();

    std::unique_ptr<SDPLoader_Interface> loader_;
};

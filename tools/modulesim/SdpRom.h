// The i.MX boot ROM's Serial Download Protocol, apart from how its bytes travel: 16-byte
// commands (all fields big-endian), the data phase of a file write, and the answers: the HAB
// security mode, then a status or completion word. Over a UART the answer words travel as four
// little-endian bytes each; over HID the mode comes in report 3 and the value in report 4.
//
// Commands it knows: ERROR_STATUS (0x0505) answers the mode and the last error status;
// WRITE_F (0x0404) takes `count` data bytes for `address` and answers the mode and 0x88888888
// once they are all there; JUMP_ADDRESS (0x0B0B) answers the mode and hands the chip over to the
// code at `address`. Other commands are not answered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "SimConfig.h"

namespace modulesim {

constexpr size_t kSdpCommandSize = 16;
constexpr uint32_t kHabOpen = 0x56787856;
constexpr uint32_t kWriteComplete = 0x88888888;
constexpr uint32_t kNoErrorStatus = 0xF0F0F0F0;
// What this ROM reports when it refuses the data of a write (the imx-data-error knob).
constexpr uint32_t kDataRefusedStatus = 0x33333333;
// What it sends instead of the completion word with the imx-bad-complete knob.
constexpr uint32_t kBadCompletion = 0x88888800;

enum class SdpCommand : uint16_t {
    WriteFile = 0x0404,
    ErrorStatus = 0x0505,
    JumpAddress = 0x0B0B,
};

// A write the ROM took in full.
struct RamWrite {
    uint32_t address = 0;
    std::vector<uint8_t> bytes;
};

class SdpRom {
  public:
    // One word of an answer: the mode each answer starts with, or the value after it.
    struct Word {
        bool hab;
        uint32_t value;
    };
    struct Result {
        std::vector<Word> answer;  // in the order the words go out
        bool jump = false;
        uint32_t jumpAddress = 0;
        bool wrote = false;  // writes().back() is new
        std::vector<std::string> notes;
    };

    explicit SdpRom(const ImxKnobs& knobs) : knobs_(knobs) {}

    // Command and data bytes in the order the host sent them.
    void feed(const uint8_t* bytes, size_t count, Result& result);
    // The host went quiet in the middle of a command or a write: what it sent is forgotten.
    void abandon();
    // A command or a write has started and is not finished.
    bool midway() const { return !command_.empty() || dataLeft_ > 0; }
    // Power-on: the ROM starts afresh and RAM holds nothing it knows of.
    void restart();

    const std::vector<RamWrite>& writes() const { return writes_; }
    // Some write put code at this address.
    bool holdsCode(uint32_t address) const;

  private:
    void execute(Result& result);
    void startWrite(uint32_t address, uint32_t count, Result& result);
    void takeData(const uint8_t* bytes, size_t count, Result& result);
    static void answer(Result& result, bool withValue, uint32_t value);

    const ImxKnobs& knobs_;
    std::vector<uint8_t> command_;  // bytes of the command being received
    uint32_t lastStatus_ = kNoErrorStatus;
    uint64_t dataLeft_ = 0;  // data bytes of the current write still to come
    bool keepData_ = false;  // the current write's bytes go into RAM
    RamWrite current_;
    std::vector<RamWrite> writes_;
    uint64_t ramHeld_ = 0;
};

}  // namespace modulesim

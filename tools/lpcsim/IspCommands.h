// The ISP command set: one command line in, its return code (and result lines) out, with the
// lock, echo and flash state the commands share.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "DeviceMemory.h"
#include "ReturnCodes.h"
#include "SimOptions.h"

namespace lpcsim {

struct CommandOutcome {
    // What the ROM does once the reply is out: more commands, a W or R data phase, or running
    // the user's code.
    enum class Next { Command, ReceiveData, SendData, Run };

    std::string reply;
    unsigned busyMs = 0;  // the chip works this long before the reply
    Next next = Next::Command;
    uint32_t address = 0;
    uint32_t count = 0;
    bool flashChanged = false;
    std::string note;  // for the trace: what the chip did beyond the reply
};

class IspCommands {
  public:
    IspCommands(const SimOptions& options, DeviceMemory& memory);

    CommandOutcome execute(const std::string& line);
    bool echo() const { return echo_; }
    // Copies to flash that succeeded so far.
    unsigned copies() const { return copies_; }

  private:
    using Words = std::vector<std::string>;
    using Handler = CommandOutcome (IspCommands::*)(const Words&);

    CommandOutcome unlock(const Words& args);
    CommandOutcome setBaudRate(const Words& args);
    CommandOutcome setEcho(const Words& args);
    CommandOutcome memoryTransfer(const Words& args, bool ramOnly, CommandOutcome::Next next);
    CommandOutcome writeToRam(const Words& args);
    CommandOutcome readMemory(const Words& args);
    CommandOutcome prepareSectors(const Words& args);
    CommandOutcome copyToFlash(const Words& args);
    CommandOutcome go(const Words& args);
    CommandOutcome eraseSectors(const Words& args);
    CommandOutcome blankCheck(const Words& args);
    CommandOutcome partId(const Words& args);
    CommandOutcome bootCodeVersion(const Words& args);
    CommandOutcome compare(const Words& args);
    CommandOutcome serialNumber(const Words& args);
    // Memory as the compare command sees it in ISP mode: the boot ROM's vectors over the first
    // 64 bytes of flash.
    std::vector<uint8_t> compareView(uint32_t address, uint32_t count) const;
    // Leaves the unprogrammable byte, if the copy reaches it, at its erased value; a trace note.
    std::string dropUnprogrammedByte(uint32_t flashAddress, std::vector<uint8_t>& data) const;

    static const std::map<char, Handler>& handlers();

    const SimOptions& options_;
    DeviceMemory& memory_;
    bool unlocked_ = false;
    bool echo_ = true;
    bool busyAnswered_ = false;
    unsigned copies_ = 0;
};

}  // namespace lpcsim

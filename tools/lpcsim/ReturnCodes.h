// The ISP return codes, sent as decimal text lines after every command.
#pragma once

#include <string>

namespace lpcsim {

enum class IspCode : int {
    Success = 0,
    InvalidCommand = 1,
    SrcAddrError = 2,
    DstAddrError = 3,
    SrcAddrNotMapped = 4,
    DstAddrNotMapped = 5,
    CountError = 6,
    InvalidSector = 7,
    SectorNotBlank = 8,
    SectorNotPrepared = 9,
    CompareError = 10,
    Busy = 11,
    ParamError = 12,
    AddrError = 13,
    AddrNotMapped = 14,
    CmdLocked = 15,
    InvalidCode = 16,
    InvalidBaudRate = 17,
    InvalidStopBit = 18,
    CodeReadProtectionEnabled = 19,
};

// The line the ROM sends for a return code: "N\r\n".
inline std::string codeLine(IspCode code) {
    return std::to_string(static_cast<int>(code)) + "\r\n";
}

}  // namespace lpcsim

// The commands requested on the command line, as a bit set.
#pragma once

#include <cstdint>

typedef uint32_t COMMANDS;

enum : COMMANDS {
    CMD_DISCOVER = 0x00000001,
    CMD_UPDATE = 0x00000002,
    CMD_LIST_BUILDS = 0x00000004,
    CMD_GET_BUILD = 0x00000008,
    CMD_STORED_INFO = 0x00000010,
    CMD_CHECK_BIRD = 0x00000020,
    CMD_FINGERPRINT = 0x00000040,
    CMD_Z = 0x00000080,
    CMD_LIST_LOCAL_BUILDS = 0x00000200,
    CMD_HELP = 0x80000000,
};

// Bits that count as "a command was requested" (bits 0 to 10, 16 and 17).
constexpr COMMANDS CMD_ANY_COMMAND = 0x000307FF;

class CommandsClass {
  public:
    // ORs the bits in; true when any bit is set afterwards.
    bool Set(COMMANDS bits) {
        mask |= bits;
        return mask != 0;
    }
    // True when any of the given bits is set.
    bool IsSet(COMMANDS bits) const { return (mask & bits) != 0; }

  private:
    COMMANDS mask = 0;
};

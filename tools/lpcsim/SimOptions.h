// What the simulated chip is and how it misbehaves on purpose, from the command line.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace lpcsim {

struct SimOptions {
    double durationSeconds = 600;
    bool log = false;
    std::string flashPath;     // image written after every flash change and at exit
    std::string flashInitial;  // image the flash starts with ("" = erased)
    // The four serial-number words the N command reports.
    std::array<uint32_t, 4> deviceId = {0x0A01C005u, 0x4E3A2B17u, 0x5217E0F5u, 0xF5000003u};
    uint32_t partId = 0x26013F37u;  // LPC1768
    unsigned bootMajor = 4;
    unsigned bootMinor = 1;
    bool echoOff = false;
    bool baudLimit = false;
    bool lfBeforeCode = false;
    unsigned eraseMsPerSector = 100;
    unsigned writeMsPer256 = 1;

    // Fault knobs.
    bool silent = false;
    bool noSync = false;
    bool badChecksumAlways = false;
    unsigned badChecksumAt = 0;  // 0 = never
    unsigned stopAfter = 0;      // 0 = never
    char busyCommand = 0;        // 0 = none
    // A flash byte whose cells do not take a program: it keeps its erased value.
    bool hasUnprogrammedByte = false;
    uint32_t unprogrammedByte = 0;
    unsigned silentAfterCopies = 0;  // 0 = never
};

// Reads the command line into options. Returns -1 when the simulator is to run; otherwise it
// has printed the help or a one-line reason and returns the exit code (0 or 2).
int readCommandLine(int argc, char** argv, SimOptions& options);

}  // namespace lpcsim

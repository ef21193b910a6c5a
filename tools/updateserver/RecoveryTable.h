// Which module a chip belongs to, for recovery requests (op=fix): the file DIR/recovery.txt of
// the builds directory, read at every request, one chip per line:
//   W0 W1 W2 W3 SERIAL BUILD
// the chip's four identifier words and the module's serial number in hexadecimal, and the build
// to recover it with in decimal. Blank lines and text after "#" are ignored.
#pragma once

#include <array>
#include <cstdint>
#include <string>

struct RecoveryEntry {
    uint32_t serial = 0;
    unsigned long build = 0;
};

// Parses the "fp" value: four hexadecimal words separated by blanks.
bool ParseFingerprint(const std::string& text, std::array<uint32_t, 4>* words);
// Looks the chip up in the table file; false when the file or the chip is not there.
bool FindRecovery(const std::string& tablePath, const std::array<uint32_t, 4>& words,
                  RecoveryEntry* entry);

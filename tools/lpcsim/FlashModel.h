// The on-chip NOR flash: erased bytes read 0xFF, programming can only clear bits, and a sector
// must be prepared before each erase or write (one prepare covers one operation).
#pragma once

#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

#include "Sectors.h"

namespace lpcsim {

class FlashModel {
  public:
    FlashModel();

    // Loads an image (at most the flash size; the rest stays erased). False with a reason.
    bool load(const std::string& path, std::string* why);
    // Writes the whole image to path through a temporary file and a rename.
    bool save(const std::string& path, std::string* why) const;

    void prepare(int first, int last);
    bool allPrepared(int first, int last) const;
    // Erasing or writing re-protects every sector, as the ROM does after each operation.
    void erase(int first, int last);
    void program(uint32_t address, const uint8_t* data, size_t count);
    // Offset of the first byte that is not 0xFF in the sectors, or -1 when they are blank.
    long firstNonBlank(int first, int last) const;

    const std::vector<uint8_t>& bytes() const { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
    std::bitset<kSectorCount> prepared_;
};

}  // namespace lpcsim

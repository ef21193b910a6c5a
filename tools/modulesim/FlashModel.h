// The module's program flash as its upgrade loader writes it: erased (0xFF) until written, and
// kept in pages so that an image costs about its own size wherever in the 32-bit address space
// it is loaded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace modulesim {

class FlashModel {
  public:
    static constexpr size_t kPageSize = 4096;
    static constexpr uint8_t kErased = 0xFF;

    // False, with nothing written, when the bytes would run past the end of the address space.
    bool write(uint32_t address, const uint8_t* bytes, size_t count);
    uint8_t byteAt(uint32_t address) const;

    bool everWritten() const { return written_; }
    uint32_t lowestWritten() const { return lowest_; }
    uint64_t endOfWritten() const { return end_; }  // one past the highest written address

    // The build an image announces: the first "ZVBUILD=" in flash followed by a big-endian
    // 32-bit number. False when the flash holds no such marker.
    bool findBuildStamp(uint32_t& build) const;
    // The firmware version an image announces: the first "ZVVERSION=" in flash followed by the
    // major, minor and patch bytes. False when the flash holds no such marker.
    bool findVersionStamp(uint8_t& major, uint8_t& minor, uint8_t& patch) const;

    // Writes the flash from the lowest to the highest written address (gaps erased) to path, by
    // way of a temporary file beside it and a rename, so a reader never sees half an image.
    bool saveImage(const std::string& path, std::string& error) const;

  private:
    using Page = std::unique_ptr<uint8_t[]>;

    uint8_t* pageFor(uint32_t pageNumber);
    // The big-endian number of valueBytes bytes (at most 4) after the first marker in flash.
    bool findStamp(const char* marker, size_t valueBytes, uint32_t& value) const;

    std::map<uint32_t, Page> pages_;  // by address / kPageSize
    bool written_ = false;
    uint32_t lowest_ = 0;
    uint64_t end_ = 0;
};

}  // namespace modulesim
